// The iSCSI implementation behind a real target object (scripted session): device timeouts reach
// the session, failures reach the caller, and recovery goes through open(), never by itself.
#include <gtest/gtest.h>

#include "fake_session.h"
#include "iscsi_target_impl.h"
#include "qxscsi/commands.h"
#include "qxscsi/devices.h"
#include "qxscsi/target.h"
#include "qxscsiplatform/errors.h"

namespace qxscsi::backends::iscsi {
namespace {

using namespace QXScsiPlatform;
using test::FakeScript;

const std::string kUrl = "iscsi://127.0.0.1:3260/iqn.2026-12.org.example.a-rather-long-name:changer-0001/1";

// A target that supplies its own iSCSI implementation over the scripted session.
class ScriptedIscsiTarget : public QXScsiTarget {
 public:
  explicit ScriptedIscsiTarget(FakeScript& s) : script_(s) {}
  QXScsiTargetImpl* getClientScsiTargetImpl() const override {
    return new IscsiTargetImpl(test::fakeFactory(script_));
  }

 private:
  FakeScript& script_;
};

class IscsiTargetPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QXScsi::setParameter("access_target", "y", params);
    ASSERT_TRUE(target.initScsiTarget(kUrl.c_str(), QXScsiDevice(kUrl), -1, &params));
    script.commands.clear();
  }
  QXScsiCmd* send(const std::vector<unsigned char>& cdb, const QXScsiDevice& device) {
    QXScsiAnyArgs args(cdb.data(), static_cast<unsigned char>(cdb.size()));
    return target.cmdCall(args, device, 0);
  }

  FakeScript script;
  ScriptedIscsiTarget target{script};
  std::vector<QXScsi::ParameterData> params;
};

TEST_F(IscsiTargetPathTest, OpeningByLongUrlGivesTheLunAddress) {
  // The descriptor cut the name at 64 bytes; the login still saw all of it.
  EXPECT_EQ(script.loginRequests.at(0).url.target, "iqn.2026-12.org.example.a-rather-long-name:changer-0001");
  QXScsiAddress a;
  ASSERT_TRUE(target.getScsiAddress(a));
  QXScsiLunAddress lun;
  ASSERT_TRUE(a.toLunAddress(lun));
  EXPECT_EQ(lun.bus(), 0);
  EXPECT_EQ(lun.target(), 0);
  EXPECT_EQ(lun.lun(), 1);
}

TEST_F(IscsiTargetPathTest, MediumChangerTimeoutsReachTheSession) {
  QXScsiMediumChanger changer(kUrl);
  const std::pair<unsigned char, unsigned long> cases[] = {
      {0x07, 3600}, {0xA5, 60}, {0xA7, 60}, {0xB8, 30}, {0x00, 30}};
  for (auto [opcode, seconds] : cases) {
    std::vector<unsigned char> cdb(opcode >= 0xA0 ? 12 : 6, 0);
    cdb[0] = opcode;
    QXScsiCmd* cmd = send(cdb, changer);
    ASSERT_NE(cmd, nullptr);
    EXPECT_EQ(cmd->timeout(), seconds);
    EXPECT_EQ(script.commands.back().timeout, seconds) << std::hex << int(opcode);
    QXScsiFreeCmd(cmd);
  }
  QXScsiCmd* tape = send({0x01, 0, 0, 0, 0, 0}, QXScsiStreamDevice(kUrl));
  ASSERT_NE(tape, nullptr);
  EXPECT_EQ(script.commands.back().timeout, 30u);
  QXScsiFreeCmd(tape);
}

TEST_F(IscsiTargetPathTest, DroppedConnectionReachesTheCallerAndOpenRecovers) {
  script.message = "connection to 127.0.0.1:3260 failed";
  script.onExecute = [](const Command&, Completion*) { return SessionResult::dropped; };
  EXPECT_EQ(send({0x00, 0, 0, 0, 0, 0}, QXScsiDevice()), nullptr);
  EXPECT_EQ(target.localError(), 0);
  EXPECT_EQ(target.implementationError(), establishedConnectionFailed_c);
  EXPECT_TRUE(QXScsi::failureInEstablishedScsiTcpConnection(target));
  std::string hint;
  target.implementationErrorHint(hint);
  EXPECT_EQ(hint, script.message);
  EXPECT_TRUE(target.valid());  // still marked open: cmdCall will not re-open by itself

  EXPECT_EQ(send({0x00, 0, 0, 0, 0, 0}, QXScsiDevice()), nullptr);
  EXPECT_EQ(script.loginCalls, 1);
  EXPECT_EQ(script.commands.size(), 2u);  // each command went out once; none was replayed

  script.onExecute = nullptr;
  bool wasOpen = false;
  ASSERT_TRUE(target.open(wasOpen, nullptr));
  EXPECT_TRUE(wasOpen);
  EXPECT_EQ(script.loginCalls, 2);
  EXPECT_EQ(script.sessionsAlive, 1);  // the broken session is gone, a fresh one took over
  QXScsiCmd* cmd = send({0x00, 0, 0, 0, 0, 0}, QXScsiDevice());
  ASSERT_NE(cmd, nullptr);
  EXPECT_EQ(target.implementationError(), 0);
  QXScsiFreeCmd(cmd);
}

TEST_F(IscsiTargetPathTest, CloseReleasesAndCommandsThenFailAsNotOpen) {
  EXPECT_TRUE(target.close(false));
  EXPECT_EQ(script.logoutCalls, 1);
  EXPECT_TRUE(target.close(false));  // harmless twice
  EXPECT_EQ(script.logoutCalls, 1);
  EXPECT_EQ(send({0x00, 0, 0, 0, 0, 0}, QXScsiDevice()), nullptr);
  EXPECT_EQ(target.implementationError(), notOpen_c);
}

}  // namespace
}  // namespace qxscsi::backends::iscsi
