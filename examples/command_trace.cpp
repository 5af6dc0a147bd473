// Builds an INQUIRY command, traces it, turns it into a command record and decodes sense data.
#include <cstdio>
#include <string>

#include "qxscsi/qxscsi.h"

int main() {
  // INQUIRY for 36 bytes of standard inquiry data.
  const unsigned char inquiry[6] = {0x12, 0x00, 0x00, 0x00, 0x24, 0x00};
  unsigned char data[36] = {};
  QXScsiAnyArgs args(inquiry, sizeof inquiry, data, sizeof data, QXScsi::dataIn_c);

  std::ostrstream os;
  args.traceTo(os, 1, nullptr, true);
  std::printf("Command trace:\n%s", os.str());
  os.freeze(false);

  QXScsiCmd* cmd = new QXScsiCmd(args);
  cmd->setTimeout(QXScsiDevice().timeout(args));
  cmd->setScsiAddress(QXScsiLunAddress(0, 1, 0));
  const unsigned char* cdb = nullptr;
  unsigned char cdbLength = 0;
  cmd->getCDB(cdb, cdbLength);
  std::printf("\nCommand record: CDB");
  for (unsigned i = 0; i < cdbLength; ++i) std::printf(" %02X", cdb[i]);
  QXScsiAddress address;
  QXScsiLunAddress lun;
  cmd->getScsiAddress(address);
  address.toLunAddress(lun);
  std::printf(", bus %u target %u LUN %u, timeout %lu s\n", lun.bus(), lun.target(), lun.lun(),
              cmd->timeout());

  // What a device answers to a bad field in the CDB: ILLEGAL REQUEST, INVALID FIELD IN CDB,
  // sense-key-specific pointer to CDB byte 2.
  unsigned char fixed[18] = {0x70, 0x00, 0x05, 0x00, 0x00, 0x01, 0x02, 0x0A, 0x00,
                             0x00, 0x00, 0x00, 0x24, 0x00, 0x00, 0xC0, 0x00, 0x02};
  cmd->scsiStatus(0x02);  // CHECK CONDITION
  cmd->setSenseData(fixed, sizeof fixed);
  QXScsiSenseData sense = cmd->senseData();
  std::printf("\nStatus %02Xh, sense data:\n", cmd->scsiStatus());
  std::printf("  response code      %02Xh\n", sense.responseCode());
  std::printf("  information valid  %s\n", sense.infoValid() ? "yes" : "no");
  std::printf("  sense key          %Xh\n", sense.senseKey());
  std::printf("  information        %lu\n", sense.information());
  std::printf("  additional length  %u\n", sense.additionalLength());
  std::printf("  ASC/ASCQ           %02Xh/%02Xh\n", sense.additionalSenseCode(),
              sense.additionalSenseQualifier());
  std::printf("  sense-key specific %s, %06lXh\n", sense.isSenseKeySpecificValid() ? "valid" : "not valid",
              sense.senseKeySpecific());

  QXScsiFreeCmd(cmd);
  return 0;
}
