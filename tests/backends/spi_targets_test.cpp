// The standard commands and cmdCall through real SPI targets on every emulated device type.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_helpers.h"
#include "qxscsi/backends/install.h"
#include "qxscsi/designation.h"
#include "qxscsi/iterators.h"
#include "qxscsi/target.h"

namespace qxscsi::backends {
namespace {

using emulated::testing::blockSegment;
using emulated::testing::copyParameterList;
using emulated::testing::identificationDescriptor;
using Bytes = std::vector<unsigned char>;

struct Released {
  void operator()(QXScsiCmd* c) const { QXScsiFreeCmd(c); }
};
using Record = std::unique_ptr<QXScsiCmd, Released>;

Bytes senseOf(QXScsiCmd& cmd, unsigned n = 18) {
  QXScsiSenseData view = cmd.senseData();
  unsigned char* bytes = nullptr;
  unsigned char length = 0;
  view.getBuffer(bytes, length);
  return Bytes(bytes, bytes + n);
}

Bytes fixedSense(unsigned char key, unsigned char asc, unsigned char ascq) {
  return emulated::testing::sense(key, asc, ascq);
}

Bytes inquiryData(unsigned char type, bool removable, bool copies, const std::string& product) {
  Bytes d = {type, static_cast<unsigned char>(removable ? 0x80 : 0), 0x05, 0x12,
             31,   static_cast<unsigned char>(copies ? 0x18 : 0),    0,    0};  // disk: TPGS 01b, 3PC
  std::string text = "QXSCSI  " + product + std::string(16 - product.size(), ' ') + "0100";
  d.insert(d.end(), text.begin(), text.end());
  return d;
}

class SpiTargetsTest : public ::testing::Test {
 protected:
  std::unique_ptr<Installation> installation = install();

  // cmdCall with a raw CDB and a buffer; direction from the buffer's use.
  static Record call(QXScsiTarget& t, const Bytes& cdb, Bytes* data = nullptr, int direction = 2) {
    QXScsiAnyArgs args(cdb.data(), static_cast<unsigned char>(cdb.size()), data ? data->data() : nullptr,
                       data ? data->size() : 0, data ? direction : 2);
    return Record(t.cmdCall(args, 0));
  }

  // The NAA designation descriptor (header and designator) of the target's unit, found by walking
  // VPD page 83h with the designation-descriptor iterators.
  static Bytes naaDescriptor(QXScsiTarget& t) {
    Bytes page(255, 0);
    Record r = call(t, {0x12, 1, 0x83, 0, 255, 0}, &page, 0);
    EXPECT_TRUE(r && r->scsiStatus() == 0);
    DesignationDescriptorList list = DesignationDescriptorList::fromVpdPage(page.data(), page.size());
    for (auto it = QXScsiPageIterators::begin(list), end = QXScsiPageIterators::end(list); it != end; ++it) {
      DesignationDescriptorPage d(*it);
      if (d.designatorType() == 3) return Bytes(d.designator() - 4, d.designator() + d.designatorLength());
    }
    ADD_FAILURE() << "no NAA designator";
    return {};
  }

  static Record rw(QXScsiTarget& t, bool write, unsigned lba, unsigned blocks, Bytes& data) {
    Bytes cdb = {static_cast<unsigned char>(write ? 0x2A : 0x28),
                 0,
                 0,
                 0,
                 0,
                 static_cast<unsigned char>(lba),
                 0,
                 0,
                 static_cast<unsigned char>(blocks),
                 0};
    return call(t, cdb, &data, write ? 1 : 0);
  }
};

TEST_F(SpiTargetsTest, StandardCommandsOnEveryType) {
  struct Type {
    const char* name;
    Bytes inquiry;
  };
  const Type types[] = {
      {"emulated:disk?luns=3", inquiryData(0x00, false, true, "EMULATED DISK")},
      {"emulated:tape?luns=3", inquiryData(0x01, true, false, "EMULATED TAPE")},
      {"emulated:changer?luns=3", inquiryData(0x08, true, false, "EMULATED CHANGER")},
  };
  for (const Type& type : types) {
    SCOPED_TRACE(type.name);
    QXScsiSPITarget t(type.name);
    ASSERT_TRUE(t.valid());
    EXPECT_EQ(t.handle(), -1);
    EXPECT_EQ(t.adapter(), 0);

    Bytes buffer(36, 0xEE);
    Record r(t.cmdInquiry(buffer.data(), 36));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->scsiStatus(), 0);
    EXPECT_EQ(buffer, type.inquiry);
    EXPECT_EQ(senseOf(*r, 255), Bytes(255, 0));

    r.reset(t.cmdTestUnitReady());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->scsiStatus(), 0);

    // An unknown command through cmdCall, then its sense through REQUEST SENSE.
    r = call(t, {0xFF, 0, 0, 0, 0, 0});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->scsiStatus(), 2);
    EXPECT_EQ(senseOf(*r), fixedSense(0x05, 0x20, 0x00));
    EXPECT_EQ(r->senseData().senseKey(), 0x05);
    EXPECT_EQ(r->senseData().additionalSenseCode(), 0x20);
    Bytes sense(18, 0xEE);
    r.reset(t.cmdRequestSense(sense.data(), 18));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->scsiStatus(), 0);
    EXPECT_EQ(sense, fixedSense(0x05, 0x20, 0x00));
    r.reset(t.cmdRequestSense(sense.data(), 18));
    EXPECT_EQ(sense, fixedSense(0x00, 0x00, 0x00));

    unsigned char luns[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    unsigned long count = 4;
    r.reset(t.cmdReportLuns(luns, &count));
    ASSERT_TRUE(r);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(Bytes(luns, luns + 4), (Bytes{0, 1, 2, 0xEE}));
    count = 0;
    r.reset(t.cmdReportLuns(luns, &count));
    EXPECT_EQ(count, 3u);
  }
}

TEST_F(SpiTargetsTest, CopyCommandsOnTapeAndChangerAreUnknownCommands) {
  for (const char* name : {"emulated:tape", "emulated:changer"}) {
    QXScsiSPITarget t(name);
    Bytes list(16, 0);
    Record r(t.cmdExtendedCopy(0, false, false, 0, list.data(), list.size()));
    ASSERT_TRUE(r) << name;
    EXPECT_EQ(senseOf(*r), fixedSense(0x05, 0x20, 0x00)) << name;
    Bytes results(12, 0);
    r.reset(t.cmdReceiveCopyResults(0, 0, results.data(), results.size()));
    ASSERT_TRUE(r) << name;
    EXPECT_EQ(senseOf(*r), fixedSense(0x05, 0x20, 0x00)) << name;
  }
}

TEST_F(SpiTargetsTest, VpdDesignatorsWalkedWithTheIterators) {
  QXScsiSPITarget t("emulated:disk?luns=2&lun=1&serial=S1");
  ASSERT_TRUE(t.valid());
  Bytes page(255, 0);
  Record r = call(t, {0x12, 1, 0x83, 0, 255, 0}, &page, 0);
  ASSERT_TRUE(r);
  DesignationDescriptorList list = DesignationDescriptorList::fromVpdPage(page.data(), page.size());
  std::vector<DesignationDescriptorPage> seen;
  for (auto it = QXScsiPageIterators::begin(list), end = QXScsiPageIterators::end(list); it != end; ++it)
    seen.emplace_back(*it);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].codeSet(), 1);
  EXPECT_EQ(seen[0].association(), 0);
  EXPECT_EQ(seen[0].designatorType(), 3);
  ASSERT_EQ(seen[0].designatorLength(), 8);
  EXPECT_EQ(seen[0].designator()[0] >> 4, 3);  // NAA locally assigned
  EXPECT_EQ(seen[0].designator()[7], 1);       // the LUN
  EXPECT_EQ(seen[1].codeSet(), 2);
  EXPECT_EQ(seen[1].designatorType(), 1);
  EXPECT_TRUE(seen[1].complete());
  EXPECT_EQ(std::string(seen[1].designator(), seen[1].designator() + seen[1].designatorLength()),
            "QXSCSI  S1-1");
}

TEST_F(SpiTargetsTest, ExtendedCopyVerifiedByReadingTheDestination) {
  QXScsiSPITarget source("emulated:disk?luns=2&capacity=100");
  QXScsiSPITarget destination("emulated:disk?luns=2&capacity=100&lun=1");
  ASSERT_TRUE(source.valid());
  ASSERT_TRUE(destination.valid());
  Bytes data(4 * 512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 13 + 1);
  Record r = rw(source, true, 10, 4, data);
  ASSERT_TRUE(r && r->scsiStatus() == 0);

  Bytes from = naaDescriptor(source), to = naaDescriptor(destination);
  Bytes list = copyParameterList(
      0x2C, 0, {identificationDescriptor(from.data(), 512), identificationDescriptor(to.data(), 512)},
      {blockSegment(0, 1, 4, 10, 90)});
  r.reset(source.cmdExtendedCopy(0x2C, false, false, 0, list.data(), list.size()));
  ASSERT_TRUE(r);
  ASSERT_EQ(r->scsiStatus(), 0) << int(senseOf(*r)[12]);

  Bytes back(4 * 512, 0);
  r = rw(destination, false, 90, 4, back);
  ASSERT_TRUE(r && r->scsiStatus() == 0);
  EXPECT_EQ(back, data);

  Bytes status(12, 0xEE);
  r.reset(source.cmdReceiveCopyResults(0, 0x2C, status.data(), status.size()));
  ASSERT_TRUE(r);
  EXPECT_EQ(status, (Bytes{0, 0, 0, 8, 0x01, 0, 1, 0, 0, 0, 0x08, 0x00}));
  Bytes parameters(46, 0);
  r.reset(source.cmdReceiveCopyResults(3, 0, parameters.data(), parameters.size()));
  EXPECT_EQ(Bytes(parameters.begin() + 43, parameters.end()), (Bytes{2, 0x02, 0xE4}));
  // A list identifier without held results.
  r.reset(source.cmdReceiveCopyResults(0, 0x2D, status.data(), status.size()));
  EXPECT_EQ(r->senseData().additionalSenseCode(), 0x24);
}

TEST_F(SpiTargetsTest, FailedCopyReportsCopyAbortedThroughTheRecord) {
  QXScsiSPITarget t("emulated:disk?capacity=16");
  Bytes naa = naaDescriptor(t);
  Bytes list =
      copyParameterList(1, 0, {identificationDescriptor(naa.data(), 512)}, {blockSegment(0, 0, 2, 15, 0)});
  Record r(t.cmdExtendedCopy(1, false, false, 0, list.data(), list.size()));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->scsiStatus(), 2);
  EXPECT_EQ(senseOf(*r), fixedSense(0x0A, 0x21, 0x00));
}

TEST_F(SpiTargetsTest, TapeThroughCmdCall) {
  QXScsiSPITarget t("emulated:tape");
  ASSERT_TRUE(t.valid());
  Bytes record = {'r', 'e', 'c', 'o', 'r', 'd'};
  Record r = call(t, {0x0A, 0, 0, 0, 6, 0}, &record, 1);
  ASSERT_TRUE(r && r->scsiStatus() == 0);
  r = call(t, {0x10, 0, 0, 0, 1, 0});
  ASSERT_TRUE(r && r->scsiStatus() == 0);
  r = call(t, {0x01, 0, 0, 0, 0, 0});
  Bytes buffer(10, 0);
  r = call(t, {0x08, 0, 0, 0, 10, 0}, &buffer, 0);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->scsiStatus(), 2);
  QXScsiSenseData s = r->senseData();
  EXPECT_TRUE(s.illegalLength());
  EXPECT_TRUE(s.infoValid());
  EXPECT_EQ(s.information(), 4u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 6), record);
  r = call(t, {0x08, 0, 0, 0, 10, 0}, &buffer, 0);
  EXPECT_TRUE(r->senseData().fileMark());
  r = call(t, {0x08, 0, 0, 0, 10, 0}, &buffer, 0);
  EXPECT_EQ(r->senseData().senseKey(), 0x08);
  Bytes position(20, 0);
  r = call(t, {0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0}, &position, 0);
  EXPECT_EQ(position[7], 2);
}

TEST_F(SpiTargetsTest, ChangerThroughCmdCall) {
  QXScsiSPITarget t("emulated:changer?slots=2");
  Record r = call(t, {0xA5, 0, 0, 0, 0x10, 0x01, 0x01, 0x00, 0, 0, 0, 0});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->scsiStatus(), 0);
  Bytes status(64, 0);
  r = call(t, {0xB8, 0x14, 0, 0, 0, 1, 0, 0, 0, 64, 0, 0}, &status, 0);
  ASSERT_TRUE(r && r->scsiStatus() == 0);
  EXPECT_EQ(status[16 + 2], 0x09);
  EXPECT_EQ(std::string(&status[16 + 12], &status[16 + 20]), "QX000002");
  r = call(t, {0x07, 0, 0, 0, 0, 0});
  EXPECT_EQ(r->scsiStatus(), 0);
}

TEST_F(SpiTargetsTest, AddressConstructorSendsToTheGivenLun) {
  QXScsiSPITarget t("emulated:disk?luns=2&serial=A", 0, 0, 1);
  ASSERT_TRUE(t.valid());
  Bytes page(32, 0);
  Record r = call(t, {0x12, 1, 0x80, 0, 32, 0}, &page, 0);
  ASSERT_TRUE(r);
  EXPECT_EQ(Bytes(page.begin(), page.begin() + 7), (Bytes{0, 0x80, 0, 3, 'A', '-', '1'}));
  QXScsiSPITarget missing("emulated:disk?luns=2", 0, 0, 7);
  r = call(missing, {0, 0, 0, 0, 0, 0});
  ASSERT_TRUE(r);
  EXPECT_EQ(senseOf(*r), fixedSense(0x05, 0x25, 0x00));
}

TEST_F(SpiTargetsTest, AdapterAndAccessByAddress) {
  QXScsiTarget::Parameters params;
  QXScsiSPITarget t("emulated:tape?adapter=7&bus=1&target=2", &params);
  ASSERT_TRUE(t.valid());
  EXPECT_EQ(t.adapter(), 7);
  ASSERT_EQ(params.size(), 1u);  // access_target added by the constructor
  QXScsiLunAddress missing(1, 2, 3);
  EXPECT_FALSE(t.accessScsiTarget(missing));
  EXPECT_EQ(t.implementationError(), QXScsiPlatform::deviceNotFound_c);
  QXScsiLunAddress present(1, 2, 0);
  EXPECT_TRUE(t.accessScsiTarget(present));
}

TEST_F(SpiTargetsTest, UnknownNameAndHandleWithoutBackEnd) {
  QXScsiSPITarget t("/nowhere/sg9");
  EXPECT_FALSE(t.valid());
  EXPECT_EQ(t.implementationError(), QXScsiPlatform::unknownDeviceName_c);
  std::string hint;
  t.implementationErrorHint(hint);
  EXPECT_NE(hint.find("/nowhere/sg9"), std::string::npos);
  QXScsiSPITarget adopted(5);
  EXPECT_FALSE(adopted.valid());
  EXPECT_EQ(adopted.handle(), -1);
}

TEST_F(SpiTargetsTest, CallersHandleIsAdoptedAsTheInterfaceDescribes) {
  QXScsiSPITarget t("emulated:disk");
  int five = 5, six = 6, none = QXScsi::invalidHandleValue_c;
  EXPECT_TRUE(t.access(&five));
  EXPECT_EQ(t.handle(), 5);
  EXPECT_TRUE(t.getScsiTargetImpl()->implicitReleaseDisabled());
  EXPECT_FALSE(t.access(&six));  // the implementation holds one already
  EXPECT_EQ(t.handle(), 5);
  EXPECT_TRUE(t.access(&none));
  EXPECT_EQ(t.handle(), -1);
  Record r(t.cmdTestUnitReady());  // the device stays open
  ASSERT_TRUE(r);
  EXPECT_EQ(r->scsiStatus(), 0);
}

TEST_F(SpiTargetsTest, AssignedTargetsShareOneOpeningAndCloseTogether) {
  QXScsiSPITarget a("emulated:disk?id=share");
  QXScsiSPITarget b;
  b = a;
  EXPECT_EQ(a.getReferenceCount(), 2);
  EXPECT_FALSE(b.close(false));
  EXPECT_EQ(b.localError(), -9);
  EXPECT_TRUE(b.close(true));
  Record r(a.cmdTestUnitReady());  // released for both: the command is refused
  EXPECT_FALSE(r);
  EXPECT_EQ(a.implementationError(), QXScsiPlatform::notOpen_c);
  bool wasOpen = false;
  EXPECT_TRUE(a.open(wasOpen, nullptr));
  r.reset(b.cmdTestUnitReady());
  EXPECT_TRUE(r);
}

TEST_F(SpiTargetsTest, ResidualsOfShortAndLongBuffersOnTheDisk) {
  QXScsiSPITarget t("emulated:disk");
  ASSERT_TRUE(t.valid());
  Bytes pattern(1024);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<unsigned char>(i * 11 + 3);
  Record w = rw(t, true, 4, 2, pattern);
  ASSERT_TRUE(w && w->scsiStatus() == 0);
  struct Case {
    const char* what;
    Bytes cdb;
    unsigned long buffer;
    bool overflow;
    unsigned long residual, transferred;
  };
  const Case cases[] = {
      {"INQUIRY of 36 into 8", {0x12, 0, 0, 0, 36, 0}, 8, true, 28, 8},
      {"INQUIRY of 255 into 8: 36 bytes to send", {0x12, 0, 0, 0, 255, 0}, 8, true, 28, 8},
      {"INQUIRY of 36 into 64", {0x12, 0, 0, 0, 36, 0}, 64, false, 28, 36},
      {"READ(10) of 2 blocks into 1000", {0x28, 0, 0, 0, 0, 4, 0, 0, 2, 0}, 1000, true, 24, 1000},
      {"READ(10) of 2 blocks into 1024", {0x28, 0, 0, 0, 0, 4, 0, 0, 2, 0}, 1024, false, 0, 1024},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes buffer(c.buffer + 16, 0xEE);
    QXScsiAnyArgs args(c.cdb.data(), static_cast<unsigned char>(c.cdb.size()), buffer.data(), c.buffer, 0);
    Record r(t.cmdCall(args, 0));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->scsiStatus(), 0);
    CommandFacts facts;
    ASSERT_TRUE(lastCommand(t, facts));
    EXPECT_EQ(facts.overflow, c.overflow);
    EXPECT_EQ(facts.residual, c.residual);
    EXPECT_EQ(facts.transferred, c.transferred);
    EXPECT_EQ(Bytes(buffer.begin() + c.transferred, buffer.end()),
              Bytes(buffer.size() - c.transferred, 0xEE));
    if (c.cdb[0] == 0x28) {
      EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + c.transferred),
                Bytes(pattern.begin(), pattern.begin() + c.transferred));
    }
  }
  // A write whose data cannot all arrive is an answer, not a failure: INVALID FIELD IN CDB.
  Bytes half(512, 0x01);
  Record w2 = call(t, {0x2A, 0, 0, 0, 0, 4, 0, 0, 2, 0}, &half, 1);
  ASSERT_TRUE(w2);
  EXPECT_EQ(w2->scsiStatus(), 2);
  EXPECT_EQ(senseOf(*w2), fixedSense(0x05, 0x24, 0x00));
  Bytes back(1024, 0);
  Record r = rw(t, false, 4, 2, back);
  EXPECT_EQ(back, pattern);
}

}  // namespace
}  // namespace qxscsi::backends
