// Every standard command, and commands of the caller's own, against hostile emulated devices
// through real targets: clear results, nothing written outside the caller's buffers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "guarded.h"
#include "qxscsi/backends/install.h"
#include "qxscsi/designation.h"
#include "qxscsi/iterators.h"
#include "qxscsi/target.h"

namespace qxscsi::hostile {
namespace {

using QXScsiPlatform::commandTimeout_c;
using Record = std::unique_ptr<QXScsiCmd, void (*)(QXScsiCmd*)>;

Record own(QXScsiCmd* cmd) { return Record(cmd, &QXScsiFreeCmd); }

const char* const modes_c[] = {"lengths",  "descriptors", "sense0", "sense1",   "sense17",  "sense18",
                               "sense255", "nosense",     "busy",   "conflict", "taskfull", "timeout"};

// One run of every standard command plus a READ(10) of the caller's own, each with guarded buffers.
struct Sweep {
  Guarded inquiryData{36};
  Guarded senseData{252};
  Guarded lunList{4};
  unsigned long lunCount = 4;
  Guarded copyList{16, 0};
  Guarded copyResults{64};
  Guarded block{512};
  Record inquiry{nullptr, &QXScsiFreeCmd};
  Record testUnitReady{nullptr, &QXScsiFreeCmd};
  Record requestSense{nullptr, &QXScsiFreeCmd};
  Record reportLuns{nullptr, &QXScsiFreeCmd};
  Record extendedCopy{nullptr, &QXScsiFreeCmd};
  Record receiveCopyResults{nullptr, &QXScsiFreeCmd};
  Record read{nullptr, &QXScsiFreeCmd};

  explicit Sweep(QXScsiTarget& t) {
    inquiry = own(t.cmdInquiry(inquiryData.data(), 36));
    testUnitReady = own(t.cmdTestUnitReady());
    requestSense = own(t.cmdRequestSense(senseData.data(), 252));
    reportLuns = own(t.cmdReportLuns(lunList.data(), &lunCount));
    extendedCopy = own(t.cmdExtendedCopy(0, true, false, 0, copyList.data(), 16));
    receiveCopyResults = own(t.cmdReceiveCopyResults(3, 0, copyResults.data(), 64));
    const unsigned char read10[10] = {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0};
    QXScsiAnyArgs args(read10, 10, block.data(), 512, QXScsi::dataIn_c);
    read = own(t.cmdCall(args, 0));
  }
  std::vector<const QXScsiCmd*> records() const {
    return {inquiry.get(),      testUnitReady.get(),      requestSense.get(), reportLuns.get(),
            extendedCopy.get(), receiveCopyResults.get(), read.get()};
  }
  bool intact() const {
    return inquiryData.intact() && senseData.intact() && lunList.intact() && copyList.intact() &&
           copyResults.intact() && block.intact();
  }
};

std::vector<unsigned char> senseBytes(const QXScsiCmd& cmd) {
  unsigned char* bytes = nullptr;
  unsigned char length = 0;
  cmd.senseData().getBuffer(bytes, length);
  return std::vector<unsigned char>(bytes, bytes + length);
}

class HostileTargetTest : public ::testing::Test {
 protected:
  std::unique_ptr<QXScsiSPITarget> open(const std::string& name) {
    auto t = std::make_unique<QXScsiSPITarget>(name.c_str());
    std::string hint;
    t->implementationErrorHint(hint);
    EXPECT_TRUE(t->valid()) << name << ": " << hint;
    return t;
  }

  std::unique_ptr<backends::Installation> installation = backends::install();
};

TEST_F(HostileTargetTest, EveryCommandOnEveryDeviceTypeInEveryModeStaysInsideItsBuffers) {
  ASSERT_NE(installation, nullptr);
  for (const char* type : {"disk", "tape", "changer"}) {
    for (const char* mode : modes_c) {
      const std::string name = std::string("emulated:") + type + "?luns=2&hostile=" + mode;
      auto t = open(name);
      const Sweep sweep(*t);
      EXPECT_TRUE(sweep.intact()) << name;
      for (const QXScsiCmd* cmd : sweep.records()) {
        // Either a record with a status, or no record and a reason.
        if (cmd == nullptr) {
          EXPECT_NE(t->implementationError(), 0) << name;
        }
      }
      if (std::string(mode) == "timeout") {
        for (const QXScsiCmd* cmd : sweep.records()) EXPECT_EQ(cmd, nullptr) << name;
      } else {
        EXPECT_NE(sweep.testUnitReady, nullptr) << name;
        EXPECT_NE(sweep.reportLuns, nullptr) << name;
      }
    }
  }
}

TEST_F(HostileTargetTest, RefusingStatusesArriveWithNeitherDataNorSense) {
  const std::pair<const char*, unsigned char> statuses[] = {
      {"busy", 0x08}, {"conflict", 0x18}, {"taskfull", 0x28}};
  for (const auto& [mode, status] : statuses) {
    auto t = open(std::string("emulated:disk?hostile=") + mode);
    const Sweep sweep(*t);
    for (const QXScsiCmd* cmd : sweep.records()) {
      ASSERT_NE(cmd, nullptr) << mode;
      EXPECT_EQ(cmd->scsiStatus(), status) << mode;
      EXPECT_EQ(senseBytes(*cmd), std::vector<unsigned char>(255, 0)) << mode;
    }
    EXPECT_EQ(sweep.lunCount, 0u) << mode;
    EXPECT_TRUE(sweep.lunList.untouched(0, 4)) << mode;
    EXPECT_TRUE(sweep.inquiryData.untouched(0, 36)) << mode;
    EXPECT_TRUE(sweep.senseData.untouched(0, 252)) << mode;
    EXPECT_TRUE(sweep.block.untouched(0, 512)) << mode;
    EXPECT_TRUE(sweep.intact()) << mode;
  }
}

TEST_F(HostileTargetTest, SenseOfEveryLengthIsKeptWithinTheRecordAndDecodes) {
  const std::pair<const char*, size_t> lengths[] = {{"sense0", 0},   {"sense1", 1},     {"sense17", 17},
                                                    {"sense18", 18}, {"sense255", 255}, {"nosense", 0}};
  for (const auto& [mode, length] : lengths) {
    auto t = open(std::string("emulated:tape?hostile=") + mode);
    const Sweep sweep(*t);
    for (const QXScsiCmd* cmd : sweep.records()) {
      ASSERT_NE(cmd, nullptr) << mode;
      EXPECT_EQ(cmd->scsiStatus(), 0x02) << mode;
      const std::vector<unsigned char> sense = senseBytes(*cmd);
      ASSERT_EQ(sense.size(), 255u);
      // What did not arrive reads as zero.
      for (size_t i = length; i < sense.size(); ++i) ASSERT_EQ(sense[i], 0) << mode << " byte " << i;
      const QXScsiSenseData view = cmd->senseData();
      EXPECT_EQ(view.responseCode(), length > 0 ? 0x70 : 0x00) << mode;
      EXPECT_EQ(view.infoValid(), length > 0) << mode;
      EXPECT_EQ(view.senseKey(), length > 2 ? 0x0B : 0x00) << mode;
      EXPECT_EQ(view.additionalSenseCode(), length > 12 ? 0x08 : 0x00) << mode;
      // The claimed additional length is read only as far as the record's 255 bytes go.
      char extra[300];
      const unsigned long expected = length == 18 ? 10 : length >= 8 ? 237 : 0;
      EXPECT_EQ(view.additionalSense(extra, sizeof extra), expected) << mode;
    }
    EXPECT_EQ(sweep.lunCount, 0u) << mode;
    EXPECT_TRUE(sweep.lunList.untouched(0, 4)) << mode;
    EXPECT_TRUE(sweep.senseData.untouched(0, 252)) << mode;
    EXPECT_TRUE(sweep.intact()) << mode;
  }
}

TEST_F(HostileTargetTest, TimedOutCommandsReturnNoRecordAndTheTimeoutError) {
  auto t = open("emulated:changer?hostile=timeout");
  for (int round = 0; round < 2; ++round) {
    const Sweep sweep(*t);
    EXPECT_EQ(t->implementationError(), commandTimeout_c);
    EXPECT_EQ(t->localError(), 0);
    EXPECT_EQ(sweep.lunCount, 4u);  // unchanged when no record comes back
    EXPECT_TRUE(sweep.lunList.untouched(0, 4));
    EXPECT_TRUE(sweep.inquiryData.untouched(0, 36));
    EXPECT_TRUE(sweep.intact());
  }
  std::string hint;
  t->implementationErrorHint(hint);
  EXPECT_NE(hint.find("timed out"), std::string::npos) << hint;
  EXPECT_FALSE(QXScsi::failureInEstablishedScsiTcpConnection(*t));
  // A well-behaved device of the same shape answers as usual.
  auto plain = open("emulated:changer");
  const Record tur = own(plain->cmdTestUnitReady());
  ASSERT_NE(tur, nullptr);
  EXPECT_EQ(tur->scsiStatus(), 0x00);
}

TEST_F(HostileTargetTest, OverstatedLengthsReachTheCallerOnlyAsFarAsItsBuffers) {
  auto t = open("emulated:disk?luns=3&hostile=lengths");
  const Sweep sweep(*t);
  EXPECT_TRUE(sweep.intact());
  // LUN LIST LENGTH FFFFFFFCh: whole entries only, and only the four that fit are stored; of the
  // 32 bytes the device had, 20 arrived, so the third unit's entry reads as zero.
  ASSERT_NE(sweep.reportLuns, nullptr);
  EXPECT_EQ(sweep.lunCount, 0xFFFFFFFCul >> 3);
  EXPECT_EQ(std::vector<unsigned char>(sweep.lunList.data(), sweep.lunList.data() + 4),
            (std::vector<unsigned char>{0, 1, 0, 0}));
  unsigned long count = 0;
  const Record sizing = own(t->cmdReportLuns(nullptr, &count));
  ASSERT_NE(sizing, nullptr);
  EXPECT_EQ(count, 0xFFFFFFFCul >> 3);

  EXPECT_EQ(sweep.inquiryData[4], 0xFF);
  EXPECT_TRUE(sweep.inquiryData.untouched(22, 36));

  // REQUEST SENSE data claiming 255 additional bytes, read through a view over the buffer.
  EXPECT_EQ(sweep.senseData[7], 0xFF);
  const QXScsiSenseData view(sweep.senseData.data(), 252);
  std::vector<char> extra(255);
  EXPECT_EQ(view.additionalSense(extra.data(), extra.size()), 252u - 18u);
}

TEST_F(HostileTargetTest, DesignatorRunningPastThePageStopsTheWalkAtTheBuffer) {
  auto t = open("emulated:disk?hostile=descriptors");
  Guarded page(64, 0);
  const unsigned char vpd83[6] = {0x12, 0x01, 0x83, 0x00, 64, 0x00};
  QXScsiAnyArgs args(vpd83, 6, page.data(), 64, QXScsi::dataIn_c);
  const Record cmd = own(t->cmdCall(args, 0));
  ASSERT_NE(cmd, nullptr);
  ASSERT_EQ(cmd->scsiStatus(), 0x00);
  EXPECT_EQ(page[7], 0xFF);

  const DesignationDescriptorList list = DesignationDescriptorList::fromVpdPage(page.data(), 64);
  EXPECT_EQ(list.limit(), 60u);  // the page length claims more than the 64 bytes hold
  int pages = 0;
  for (auto it = QXScsiPageIterators::begin(list), end = QXScsiPageIterators::end(list); it != end; ++it) {
    const DesignationDescriptorPage d(*it);
    EXPECT_FALSE(d.complete());
    EXPECT_EQ(d.designatorLength(), 0xFF);
    EXPECT_EQ(d.availableDesignatorLength(), 56);
    ++pages;
  }
  EXPECT_EQ(pages, 1);
  std::ostrstream trace;
  list.traceTo(trace, 0, nullptr, true);
  EXPECT_GT(trace.pcount(), 0);
  EXPECT_TRUE(page.intact());
}

}  // namespace
}  // namespace qxscsi::hostile
