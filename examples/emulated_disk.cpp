// Opens an emulated disk with two logical units, writes a block, copies it to the other
// unit with EXTENDED COPY and reads it back there. Needs no hardware and no privileges.
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "qxscsi/backends/install.h"
#include "qxscsi/designation.h"
#include "qxscsi/iterators.h"
#include "qxscsi/qxscsi.h"

namespace {

struct Free {
  void operator()(QXScsiCmd* cmd) const { QXScsiFreeCmd(cmd); }
};
using Record = std::unique_ptr<QXScsiCmd, Free>;

// Sends cdb with buffer through cmdCall; prints and returns false unless the status is GOOD.
bool send(QXScsiTarget& target, std::vector<unsigned char> cdb, unsigned char* data, unsigned long length,
          int direction, const char* what) {
  QXScsiAnyArgs args(cdb.data(), static_cast<unsigned char>(cdb.size()), data, length, data ? direction : 2);
  Record cmd(target.cmdCall(args, 0));
  if (!cmd) {
    std::string hint;
    target.implementationErrorHint(hint);
    std::printf("%s: not carried out (%ld): %s\n", what, target.implementationError(), hint.c_str());
    return false;
  }
  if (cmd->scsiStatus() != 0) {
    QXScsiSenseData sense = cmd->senseData();
    std::printf("%s: status %02Xh, sense key %Xh, ASC/ASCQ %02Xh/%02Xh\n", what, cmd->scsiStatus(),
                sense.senseKey(), sense.additionalSenseCode(), sense.additionalSenseQualifier());
    return false;
  }
  return true;
}

// The first NAA designation descriptor (header included) of the unit behind target.
std::vector<unsigned char> naa(QXScsiTarget& target) {
  unsigned char page[255] = {};
  if (!send(target, {0x12, 0x01, 0x83, 0x00, 0xFF, 0x00}, page, sizeof page, 0, "INQUIRY VPD 83h")) return {};
  qxscsi::DesignationDescriptorList list = qxscsi::DesignationDescriptorList::fromVpdPage(page, sizeof page);
  for (auto it = QXScsiPageIterators::begin(list), end = QXScsiPageIterators::end(list); it != end; ++it) {
    qxscsi::DesignationDescriptorPage d(*it);
    if (d.designatorType() == 3) return {d.designator() - 4, d.designator() + d.designatorLength()};
  }
  return {};
}

}  // namespace

int main() {
  std::unique_ptr<qxscsi::backends::Installation> installation = qxscsi::backends::install();
  QXScsiSPITarget source("emulated:disk?luns=2");
  QXScsiSPITarget destination("emulated:disk?luns=2&lun=1");
  if (!source.valid() || !destination.valid()) return 1;

  unsigned char inquiry[36] = {};
  Record cmd(source.cmdInquiry(inquiry, sizeof inquiry));
  std::printf("INQUIRY: %.8s %.16s %.4s\n", inquiry + 8, inquiry + 16, inquiry + 32);

  std::vector<unsigned char> block(512);
  std::snprintf(reinterpret_cast<char*>(block.data()), block.size(), "copied by the copy manager");
  if (!send(source, {0x2A, 0, 0, 0, 0, 5, 0, 0, 1, 0}, block.data(), block.size(), 1, "WRITE(10)")) return 1;

  // LID1 parameter list: two identification descriptors and one block-to-block segment.
  std::vector<unsigned char> list(16 + 2 * 32 + 28, 0);
  list[3] = 64;   // CSCD descriptor list length
  list[11] = 28;  // segment descriptor list length
  std::vector<unsigned char> ids[2] = {naa(source), naa(destination)};
  for (int i = 0; i < 2; ++i) {
    unsigned char* d = &list[16 + 32 * i];
    d[0] = 0xE4;
    std::memcpy(d + 4, ids[i].data(), ids[i].size());
    d[30] = 0x02;  // block length 512
  }
  unsigned char* segment = &list[80];
  segment[0] = 0x02;  // block to block
  segment[3] = 0x18;
  segment[7] = 1;   // destination: descriptor 1
  segment[11] = 1;  // one block
  segment[19] = 5;  // from LBA 5
  segment[27] = 9;  // to LBA 9
  cmd.reset(source.cmdExtendedCopy(0, false, false, 0, list.data(), list.size()));
  if (!cmd || cmd->scsiStatus() != 0) return 1;

  std::vector<unsigned char> back(512, 0);
  if (!send(destination, {0x28, 0, 0, 0, 0, 9, 0, 0, 1, 0}, back.data(), back.size(), 0, "READ(10)"))
    return 1;
  std::printf("LUN 1, LBA 9: %s\n", reinterpret_cast<const char*>(back.data()));
  return back == block ? 0 : 1;
}
