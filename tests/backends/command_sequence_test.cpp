// One opened emulated target serving a stream of unlike commands: nothing an answer leaves behind
// (sense bytes, a refusal, a residual, an overflow) shows in the answer to the next command.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "qxscsi/backends/install.h"
#include "qxscsi/target.h"

namespace qxscsi::backends {
namespace {

using Bytes = std::vector<unsigned char>;

struct Step {
  const char* what;
  Bytes cdb;
  unsigned long buffer;  // bytes of the data-in buffer (0: no data)
  bool refused;          // no record: the back-end did not send it
  unsigned char status;
  unsigned char key, asc;  // of the fixed-format sense when status is CHECK CONDITION
  unsigned long transferred, residual;
  bool overflow;
};

Bytes senseBytes(QXScsiCmd& cmd) {
  unsigned char* bytes = nullptr;
  unsigned char length = 0;
  cmd.senseData().getBuffer(bytes, length);
  return Bytes(bytes, bytes + length);
}

TEST(CommandSequenceTest, NoAnswerLeaksIntoTheNext) {
  std::unique_ptr<Installation> installation = install();
  ASSERT_TRUE(installation);
  QXScsiSPITarget t("emulated:disk?capacity=64");
  ASSERT_TRUE(t.valid());
  // Failures and successes alternate, each unlike its neighbours.
  const Step steps[] = {
      {"READ(10) past the end", {0x28, 0, 0, 0, 0, 64, 0, 0, 1, 0}, 512, false, 2, 0x05, 0x21, 0, 512, false},
      {"READ(10) of 2 blocks", {0x28, 0, 0, 0, 0, 0, 0, 0, 2, 0}, 1024, false, 0, 0, 0, 1024, 0, false},
      {"INQUIRY of 36 into 8", {0x12, 0, 0, 0, 36, 0}, 8, false, 0, 0, 0, 8, 28, true},
      {"TEST UNIT READY", {0x00, 0, 0, 0, 0, 0}, 0, false, 0, 0, 0, 0, 0, false},
      {"unknown operation code", {0xC5, 0, 0, 0, 0, 0}, 0, false, 2, 0x05, 0x20, 0, 0, false},
      {"READ(10) into a buffer of 300", {0x28, 0, 0, 0, 0, 1, 0, 0, 1, 0}, 300, false, 0, 0, 0, 300, 212, true},
      {"READ(10) with a 4-byte CDB", {0x28, 0, 0, 0}, 512, true, 0, 0, 0, 0, 0, false},
      {"READ(10) of 1 block", {0x28, 0, 0, 0, 0, 3, 0, 0, 1, 0}, 512, false, 0, 0, 0, 512, 0, false},
      {"REQUEST SENSE", {0x03, 0, 0, 0, 18, 0}, 18, false, 0, 0, 0, 18, 0, false},
      {"READ(10) past the end again", {0x28, 0, 0, 0, 0, 63, 0, 0, 2, 0}, 1024, false, 2, 0x05, 0x21, 0, 1024, false},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    Bytes buffer(s.buffer + 8, 0xEE);
    QXScsiAnyArgs args(s.cdb.data(), static_cast<unsigned char>(s.cdb.size()), s.buffer ? buffer.data() : nullptr,
                       s.buffer, s.buffer ? QXScsi::dataIn_c : QXScsi::noData_c);
    std::unique_ptr<QXScsiCmd, void (*)(QXScsiCmd*)> r(t.cmdCall(args, 0), &QXScsiFreeCmd);
    std::string hint;
    t.implementationErrorHint(hint);
    if (s.refused) {
      EXPECT_FALSE(r);
      EXPECT_NE(t.implementationError(), 0);
      EXPECT_FALSE(hint.empty());
      continue;
    }
    ASSERT_TRUE(r);
    EXPECT_EQ(t.implementationError(), 0);
    EXPECT_EQ(hint, "");
    EXPECT_EQ(r->scsiStatus(), s.status);
    Bytes sense = senseBytes(*r);
    if (s.status == 2) {
      EXPECT_EQ(sense[0], 0x70);
      EXPECT_EQ(sense[2] & 0x0F, s.key);
      EXPECT_EQ(sense[12], s.asc);
    } else {
      EXPECT_EQ(sense, Bytes(sense.size(), 0));
    }
    CommandFacts facts;
    ASSERT_TRUE(lastCommand(t, facts));
    EXPECT_EQ(facts.transferred, s.transferred);
    EXPECT_EQ(facts.residual, s.residual);
    EXPECT_EQ(facts.overflow, s.overflow);
    EXPECT_EQ(Bytes(buffer.begin() + static_cast<long>(s.transferred), buffer.end()),
              Bytes(buffer.size() - s.transferred, 0xEE));
  }
}

}  // namespace
}  // namespace qxscsi::backends
