// Opening and closing an iSCSI LUN through a scripted session: login outcomes, retries,
// parameters, the LUN probe, release and the reported address.
#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "fake_session.h"
#include "iscsi_target_impl.h"
#include "qxscsi/commands.h"
#include "qxscsi/parameters.h"
#include "qxscsiplatform/errors.h"

namespace qxscsi::backends::iscsi {
namespace {

using namespace QXScsiPlatform;
using test::checkCondition;
using test::FakeScript;

const char* kUrl = "iscsi://127.0.0.1:3260/iqn.2026-12.org.example:disk/1";

class IscsiAccessTest : public ::testing::Test {
 protected:
  IscsiAccessTest() : impl(test::fakeFactory(script)) { impl.retryDelayMilliseconds(0); }

  std::string hint() {
    std::string h = "untouched";
    impl.implementationErrorHint(h);
    return h;
  }
  void params(std::initializer_list<std::pair<const char*, const char*>> list) {
    std::vector<QXScsi::ParameterData> p;
    for (auto& [n, v] : list) QXScsi::setParameter(n, v, p);
    impl.overrideDefaultBehavior(p);
  }

  FakeScript script;
  IscsiTargetImpl impl;
};

TEST_F(IscsiAccessTest, NamesOtherThanIscsiUrlsAreNotOurs) {
  EXPECT_FALSE(impl.access("emulated:disk", -1));
  EXPECT_EQ(impl.implementationError(), unknownDeviceName_c);
  EXPECT_FALSE(impl.access(nullptr, -1));
  EXPECT_EQ(impl.implementationError(), unknownDeviceName_c);
  EXPECT_FALSE(impl.access("", -1));
  EXPECT_EQ(script.sessionsMade, 0);
}

TEST_F(IscsiAccessTest, MalformedUrlIsAnInvalidRequestWithTheReason) {
  EXPECT_FALSE(impl.access("iscsi://127.0.0.1/iqn.x:y/99999", -1));
  EXPECT_EQ(impl.implementationError(), invalidRequest_c);
  EXPECT_NE(hint().find("bad LUN"), std::string::npos);
  EXPECT_EQ(script.sessionsMade, 0);
}

TEST_F(IscsiAccessTest, LoginGetsTheWholeUrlEvenBeyond64Bytes) {
  std::string iqn = "iqn.2026-12.org.example.storage:" + std::string(90, 'q');
  std::string url = "iscsi://u%p@127.0.0.1:3999/" + iqn + "/4";
  ASSERT_TRUE(impl.access(url.c_str(), -1));
  ASSERT_EQ(script.loginRequests.size(), 1u);
  const LoginRequest& r = script.loginRequests[0];
  EXPECT_EQ(r.url.target, iqn);
  EXPECT_EQ(r.url.lun, 4);
  EXPECT_EQ(r.url.port, 3999);
  EXPECT_EQ(r.url.user, "u");
  EXPECT_EQ(r.url.password, "p");
  EXPECT_EQ(r.initiatorName, "iqn.2026-12.org.qxscsi:initiator");
  EXPECT_EQ(r.timeoutSeconds, IscsiTargetImpl::kDefaultLoginTimeout);
  EXPECT_FALSE(r.iser);
  EXPECT_TRUE(impl.isOpen());
  EXPECT_EQ(impl.implementationError(), 0);
}

TEST_F(IscsiAccessTest, EachRefusalHasItsOwnErrorAndTheInitiatorsText) {
  const std::pair<SessionResult, long> cases[] = {
      {SessionResult::connectFailed, connectionFailed_c}, {SessionResult::loginDenied, accessDenied_c},
      {SessionResult::notFound, deviceNotFound_c},        {SessionResult::loginFailed, connectionFailed_c},
      {SessionResult::noResources, outOfResources_c},     {SessionResult::transportError, ioError_c}};
  for (auto [result, error] : cases) {
    script.logins = {result};
    script.message = "reason " + std::to_string(error);
    EXPECT_FALSE(impl.access(kUrl, -1));
    EXPECT_EQ(impl.implementationError(), error);
    EXPECT_EQ(hint(), script.message);
    std::string msg;
    impl.implementationErrorMsg(msg);
    EXPECT_EQ(msg, script.message);
    EXPECT_FALSE(impl.isOpen());
    EXPECT_EQ(script.sessionsAlive, 0);
  }
}

TEST_F(IscsiAccessTest, RetryAccessRetriesOnlyUnreachablePortals) {
  params({{"retry_access", "2"}});
  script.logins = {SessionResult::connectFailed, SessionResult::connectFailed};
  EXPECT_TRUE(impl.access(kUrl, -1));
  EXPECT_EQ(script.loginCalls, 3);
  EXPECT_EQ(script.sessionsAlive, 1);  // the failed attempts' sessions are gone

  impl.release();
  script.loginCalls = 0;
  script.logins = {SessionResult::connectFailed, SessionResult::connectFailed, SessionResult::connectFailed};
  EXPECT_FALSE(impl.access(kUrl, -1));
  EXPECT_EQ(script.loginCalls, 3);
  EXPECT_EQ(impl.implementationError(), connectionFailed_c);

  script.loginCalls = 0;
  script.logins = {SessionResult::loginDenied};
  EXPECT_FALSE(impl.access(kUrl, -1));
  EXPECT_EQ(script.loginCalls, 1);
  EXPECT_EQ(impl.implementationError(), accessDenied_c);
}

TEST_F(IscsiAccessTest, WithoutRetryAccessOneAttempt) {
  script.logins = {SessionResult::connectFailed, SessionResult::ok};
  EXPECT_FALSE(impl.access(kUrl, -1));
  EXPECT_EQ(script.loginCalls, 1);
}

TEST_F(IscsiAccessTest, OwnParametersReachTheLogin) {
  params({{"iscsi_initiator_name", "iqn.2026-12.org.example:host7"},
          {"iscsi_login_timeout", "3"},
          {"scsi_transport_type", "2"},
          {"some_other_back_end_option", "whatever"}});
  ASSERT_TRUE(impl.access(kUrl, -1));
  const LoginRequest& r = script.loginRequests.back();
  EXPECT_EQ(r.initiatorName, "iqn.2026-12.org.example:host7");
  EXPECT_EQ(r.timeoutSeconds, 3u);
  EXPECT_TRUE(r.iser);
  EXPECT_EQ(impl.scsi_transport(), IscsiTargetImpl::kTransportIser);
}

TEST_F(IscsiAccessTest, ChapReachesTheLoginFromParametersUrlAndEnvironment) {
  impl.environment([](const char* name) -> const char* {
    return std::string(name) == "LIBISCSI_CHAP_TARGET_USERNAME"   ? "tgt"
           : std::string(name) == "LIBISCSI_CHAP_TARGET_PASSWORD" ? "tgt-secret"
           : std::string(name) == "LIBISCSI_CHAP_PASSWORD"        ? "env-secret"
                                                                  : nullptr;
  });
  params({{"iscsi_password", "param-secret"}});
  ASSERT_TRUE(impl.access("iscsi://alice%url-secret@127.0.0.1/iqn.2026-12.org.example:disk/1", -1));
  Chap c = script.loginRequests.back().chap;
  EXPECT_EQ(c.user, "alice");
  EXPECT_EQ(c.password, "param-secret");
  EXPECT_EQ(c.targetUser, "tgt");
  EXPECT_EQ(c.targetPassword, "tgt-secret");
  // A masked password copied from a listing gives none: the environment's applies.
  params({});
  ASSERT_TRUE(impl.access("iscsi://alice%***@127.0.0.1/iqn.2026-12.org.example:disk/1", -1));
  EXPECT_EQ(script.loginRequests.back().chap.password, "env-secret");
  // Unusable credentials fail before any login, and the hint keeps the secret.
  impl.environment(Environment());
  params({{"iscsi_target_password", "lonely-secret"}});
  int logins = script.loginCalls;
  EXPECT_FALSE(impl.access("iscsi://alice%url-secret@127.0.0.1/iqn.2026-12.org.example:disk/1", -1));
  EXPECT_EQ(impl.implementationError(), invalidRequest_c);
  EXPECT_EQ(script.loginCalls, logins);
  EXPECT_EQ(hint().find("secret"), std::string::npos) << hint();
}

TEST_F(IscsiAccessTest, HeaderDigestChoiceReachesTheLogin) {
  const std::pair<const char*, HeaderDigest> cases[] = {{"", HeaderDigest::preferNone},
                                                        {"none", HeaderDigest::none},
                                                        {"crc32c", HeaderDigest::crc32c},
                                                        {"prefer-crc32c", HeaderDigest::preferCrc32c},
                                                        {"prefer-none", HeaderDigest::preferNone}};
  for (auto [value, digest] : cases) {
    params({{"iscsi_header_digest", value}, {"iscsi_data_digest", "none"}});
    ASSERT_TRUE(impl.access(kUrl, -1)) << value;
    EXPECT_EQ(script.loginRequests.back().headerDigest, digest) << value;
  }
}

TEST_F(IscsiAccessTest, BadParameterValuesFailTheNextAccessWithoutLogin) {
  const std::pair<const char*, const char*> bad[] = {
      {"iscsi_header_digest", "CRC32C"}, {"iscsi_header_digest", "crc32"},
      {"iscsi_data_digest", "crc32c"},   {"iscsi_data_digest", "prefer-none"},
      {"retry_access", "-1"},       {"retry_access", "101"},         {"retry_access", "two"},
      {"iscsi_login_timeout", "0"}, {"iscsi_login_timeout", "3601"}, {"scsi_transport_type", "3"}};
  for (auto [name, value] : bad) {
    params({{name, value}});
    EXPECT_FALSE(impl.access(kUrl, -1)) << name << "=" << value;
    EXPECT_EQ(impl.implementationError(), invalidRequest_c);
    EXPECT_NE(hint().find(name), std::string::npos);
  }
  EXPECT_EQ(script.loginCalls, 0);
  params({{"retry_access", "0"}});
  EXPECT_TRUE(impl.access(kUrl, -1));
}

TEST_F(IscsiAccessTest, ProbeIsOneStandardInquiry) {
  ASSERT_TRUE(impl.access(kUrl, -1));
  ASSERT_EQ(script.commands.size(), 2u);  // then one TEST UNIT READY, answered GOOD
  const auto& c = script.commands[0];
  EXPECT_EQ(c.cdb, (std::vector<unsigned char>{0x12, 0, 0, 0, 36, 0}));
  EXPECT_EQ(c.direction, 0);
  EXPECT_EQ(c.length, 36u);
  EXPECT_EQ(c.timeout, IscsiTargetImpl::kDefaultLoginTimeout);
}

TEST_F(IscsiAccessTest, MissingLunIsDeviceNotFoundAndLogsOut) {
  // Peripheral qualifier 011b: the target has no LUN there.
  script.onExecute = [](const Command& c, Completion* done) {
    *done = Completion();
    if (c.cdb[0] == 0x12) c.data[0] = 0x7F;
    return SessionResult::ok;
  };
  EXPECT_FALSE(impl.access(kUrl, -1));
  EXPECT_EQ(impl.implementationError(), deviceNotFound_c);
  EXPECT_NE(hint().find("LUN 1"), std::string::npos);
  EXPECT_EQ(script.logoutCalls, 1);
  EXPECT_EQ(script.sessionsAlive, 0);
  EXPECT_FALSE(impl.isOpen());
}

TEST_F(IscsiAccessTest, LunNotSupportedSenseIsDeviceNotFoundInBothSenseFormats) {
  script.onExecute = [](const Command&, Completion* done) { return checkCondition(done, 0x05, 0x25, 0x00); };
  EXPECT_FALSE(impl.access(kUrl, -1));
  EXPECT_EQ(impl.implementationError(), deviceNotFound_c);

  script.onExecute = [](const Command&, Completion* done) {
    *done = Completion();
    done->status = 2;
    const unsigned char d[8] = {0x72, 0x05, 0x25, 0x00, 0, 0, 0, 0};
    std::memcpy(done->sense, d, sizeof d);
    done->senseStored = done->senseReported = sizeof d;
    return SessionResult::ok;
  };
  EXPECT_FALSE(impl.access(kUrl, -1));
  EXPECT_EQ(impl.implementationError(), deviceNotFound_c);
}

TEST_F(IscsiAccessTest, OtherProbeAnswersLeaveTheLunOpen) {
  // A unit attention, or a qualifier of 001b (not connected now), still means the LUN exists.
  script.onExecute = [](const Command&, Completion* done) { return checkCondition(done, 0x06, 0x29, 0x00); };
  EXPECT_TRUE(impl.access(kUrl, -1));
  script.onExecute = [](const Command& c, Completion* done) {
    *done = Completion();
    if (c.length) c.data[0] = 0x21;  // the TEST UNIT READY after login carries no data
    return SessionResult::ok;
  };
  EXPECT_TRUE(impl.access(kUrl, -1));
}

TEST_F(IscsiAccessTest, ProbeThatTimesOutFailsTheAccess) {
  script.onExecute = [](const Command&, Completion*) { return SessionResult::timeout; };
  EXPECT_FALSE(impl.access(kUrl, -1));
  EXPECT_EQ(impl.implementationError(), commandTimeout_c);
  EXPECT_EQ(script.sessionsAlive, 0);
}

TEST_F(IscsiAccessTest, ReleaseLogsOutOnceAndIsHarmlessTwice) {
  ASSERT_TRUE(impl.access(kUrl, -1));
  EXPECT_TRUE(impl.release());
  EXPECT_EQ(script.logoutCalls, 1);
  EXPECT_EQ(script.sessionsAlive, 0);
  EXPECT_TRUE(impl.release());
  EXPECT_EQ(script.logoutCalls, 1);
  EXPECT_FALSE(impl.isOpen());
}

TEST_F(IscsiAccessTest, ReopeningUsesAFreshSessionAndDropsTheOldOne) {
  ASSERT_TRUE(impl.accessExclusive(kUrl, -1));
  ASSERT_TRUE(impl.access(kUrl, -1));
  EXPECT_EQ(script.sessionsMade, 2);
  EXPECT_EQ(script.sessionsAlive, 1);
  EXPECT_EQ(script.logoutCalls, 1);
}

TEST_F(IscsiAccessTest, DestructionLogsOut) {
  FakeScript s;
  {
    IscsiTargetImpl local(test::fakeFactory(s));
    ASSERT_TRUE(local.access(kUrl, -1));
  }
  EXPECT_EQ(s.logoutCalls, 1);
  EXPECT_EQ(s.sessionsAlive, 0);
}

TEST_F(IscsiAccessTest, AddressIsBusZeroTargetZeroAndTheUrlsLun) {
  QXScsiAddress a;
  bool flag = false;
  EXPECT_FALSE(impl.getScsiAddress(a, flag));
  EXPECT_EQ(impl.implementationError(), notOpen_c);
  EXPECT_FALSE(a.defined());

  ASSERT_TRUE(impl.access("iscsi://h/iqn.x:y/5", -1));
  ASSERT_TRUE(impl.getScsiAddress(a, flag));
  QXScsiLunAddress lun;
  ASSERT_TRUE(a.toLunAddress(lun));
  EXPECT_TRUE(a.defined());
  EXPECT_EQ(a.addressMethod(), QXScsiAddress::lunMethod);
  EXPECT_EQ(lun.bus(), 0);
  EXPECT_EQ(lun.target(), 0);
  EXPECT_EQ(lun.lun(), 5);
  EXPECT_TRUE(impl.accessScsiTarget(a));
  EXPECT_TRUE(impl.accessScsiTarget(QXScsiDevice(std::string("iscsi://h/iqn.x:y/5"))));
}

// libiscsi sends the int it is given as bytes 0-1 of the LUN field: 0-255 go as peripheral
// addressing, 256-16383 with flat space addressing; above that the URL is refused unsent.
TEST_F(IscsiAccessTest, EachLunReachesTheSessionInItsAddressingMethod) {
  const std::pair<const char*, int> cases[] = {{"0", 0x0000},      {"1", 0x0001},       {"255", 0x00FF},
                                               {"256", 0x4100},    {"300", 0x412C},     {"16383", 0x7FFF},
                                               {"16384", -1},      {"65535", -1},       {"-1", -1}};
  for (auto [lun, field] : cases) {
    script.loginRequests.clear();
    std::string url = std::string("iscsi://h/iqn.x:y/") + lun;
    bool opened = impl.access(url.c_str(), -1);
    if (field < 0) {
      EXPECT_FALSE(opened) << lun;
      EXPECT_EQ(impl.implementationError(), invalidRequest_c) << lun;
      EXPECT_TRUE(script.loginRequests.empty()) << lun;
      continue;
    }
    ASSERT_TRUE(opened) << lun;
    ASSERT_EQ(script.loginRequests.size(), 1u);
    EXPECT_EQ(script.loginRequests[0].wireLun, field) << lun;
    EXPECT_EQ(script.loginRequests[0].url.lun, std::stoi(lun)) << lun;
  }
}

TEST_F(IscsiAccessTest, LunsBeyondOneByteHaveNoAddress) {
  ASSERT_TRUE(impl.access("iscsi://h/iqn.x:y/300", -1));
  QXScsiAddress a;
  bool flag = false;
  EXPECT_FALSE(impl.getScsiAddress(a, flag));
  EXPECT_EQ(impl.implementationError(), noScsiAddress_c);
}

// A fresh I_T nexus answers its first command with a unit attention: the opening clears them
// with TEST UNIT READY, so that the caller's first command is answered about itself.
class IscsiUnitAttentionTest : public IscsiAccessTest {
 protected:
  // Answers INQUIRY with a present disk, and each TEST UNIT READY with the next scripted answer
  // (GOOD once the script is used up); the first command after the opening is answered by the
  // script too.
  void answers(std::vector<std::function<SessionResult(Completion*)>> turAnswers) {
    script.onExecute = [this, a = std::move(turAnswers)](const Command& c, Completion* done) mutable {
      if (c.cdb[0] == 0x12) {
        *done = Completion();
        std::memset(c.data, 0, c.length);
        return SessionResult::ok;
      }
      ++turs;
      if (next < a.size()) return a[next++](done);
      *done = Completion();
      return SessionResult::ok;
    };
  }
  static SessionResult ua(Completion* done) { return checkCondition(done, 0x06, 0x29, 0x00); }
  std::size_t turCount() const {
    std::size_t n = 0;
    for (const auto& c : script.commands)
      if (c.cdb == std::vector<unsigned char>{0, 0, 0, 0, 0, 0} && c.direction == QXScsi::noData_c &&
          c.length == 0)
        ++n;
    return n;
  }
  // Sends TEST UNIT READY as the caller; its status and sense key.
  std::pair<int, int> callersTur() {
    unsigned char cdb[6] = {};
    QXScsiCmd cmd(cdb, 6, nullptr, 0, QXScsi::noData_c);
    EXPECT_TRUE(impl.executeCommand(cmd, QXScsiDevice()));
    return {cmd.scsiStatus(), cmd.scsiStatus() == 2 ? int(cmd.senseData().senseKey()) : -1};
  }

  std::size_t next = 0;
  int turs = 0;
};

TEST_F(IscsiUnitAttentionTest, UnitAttentionsAfterLoginAreClearedBeforeTheCallersFirstCommand) {
  auto descriptorUa = [](Completion* done) {
    *done = Completion();
    done->status = 2;
    const unsigned char d[8] = {0x72, 0x06, 0x2A, 0x01, 0, 0, 0, 0};
    std::memcpy(done->sense, d, sizeof d);
    done->senseStored = done->senseReported = sizeof d;
    return SessionResult::ok;
  };
  answers({ua, descriptorUa});
  ASSERT_TRUE(impl.access(kUrl, -1));
  EXPECT_EQ(turCount(), 3u);  // two unit attentions, then GOOD
  EXPECT_EQ(script.commands[0].cdb[0], 0x12);
  for (const auto& c : script.commands) EXPECT_LE(c.timeout, IscsiTargetImpl::kDefaultLoginTimeout);
  EXPECT_EQ(callersTur(), std::make_pair(0, -1));
}

// The opening waits for one answer fewer: the first TEST UNIT READY goes out with the INQUIRY.
TEST_F(IscsiUnitAttentionTest, ProbeAndFirstTestUnitReadyGoOutTogetherAndOnlyThem) {
  answers({ua});
  ASSERT_TRUE(impl.access(kUrl, -1));
  EXPECT_EQ(script.pairs, std::vector<std::size_t>{0});
  ASSERT_EQ(script.commands.size(), 3u);
  EXPECT_EQ(script.commands[0].cdb[0], 0x12);
  EXPECT_EQ(turCount(), 2u);

  // Keeping the unit attentions sends the INQUIRY alone.
  script.commands.clear();
  script.pairs.clear();
  params({{"iscsi_unit_attention", "report"}});
  ASSERT_TRUE(impl.access(kUrl, -1));
  EXPECT_TRUE(script.pairs.empty());
  ASSERT_EQ(script.commands.size(), 1u);
  EXPECT_EQ(script.commands[0].cdb[0], 0x12);
}

TEST_F(IscsiUnitAttentionTest, AtMostTenTestUnitReadiesAndTheEleventhUnitAttentionIsTheCallers) {
  answers(std::vector<std::function<SessionResult(Completion*)>>(11, ua));
  ASSERT_TRUE(impl.access(kUrl, -1));
  EXPECT_EQ(turCount(), 10u);
  EXPECT_EQ(impl.implementationError(), 0);
  EXPECT_EQ(callersTur(), std::make_pair(2, 6));
  EXPECT_EQ(callersTur(), std::make_pair(0, -1));
}

TEST_F(IscsiUnitAttentionTest, OtherAnswersStopTheClearingAndAreLeftForTheCaller) {
  const std::pair<const char*, std::function<SessionResult(Completion*)>> cases[] = {
      {"not ready", [](Completion* d) { return checkCondition(d, 0x02, 0x04, 0x01); }},
      {"medium not present", [](Completion* d) { return checkCondition(d, 0x02, 0x3A, 0x00); }},
      {"reservation conflict",
       [](Completion* d) {
         *d = Completion();
         d->status = 0x18;
         return SessionResult::ok;
       }},
      {"busy",
       [](Completion* d) {
         *d = Completion();
         d->status = 0x08;
         return SessionResult::ok;
       }},
      {"check condition without sense",
       [](Completion* d) {
         *d = Completion();
         d->status = 2;
         return SessionResult::ok;
       }},
      {"truncated fixed sense with key 6",
       [](Completion* d) {
         checkCondition(d, 0x06, 0x29, 0);
         d->senseStored = d->senseReported = 2;
         return SessionResult::ok;
       }},
  };
  for (const auto& [what, answer] : cases) {
    script.commands.clear();
    next = 0;
    answers({ua, answer, answer});
    EXPECT_TRUE(impl.access(kUrl, -1)) << what;
    EXPECT_EQ(turCount(), 2u) << what;
    EXPECT_NE(callersTur().first, 0) << what;
  }
}

TEST_F(IscsiUnitAttentionTest, ReportKeepsThemForTheCaller) {
  params({{"iscsi_unit_attention", "report"}});
  answers({ua});
  ASSERT_TRUE(impl.access(kUrl, -1));
  EXPECT_EQ(turCount(), 0u);
  EXPECT_EQ(callersTur(), std::make_pair(2, 6));

  params({{"iscsi_unit_attention", "clear"}});
  next = 0;
  script.commands.clear();
  ASSERT_TRUE(impl.access(kUrl, -1));
  EXPECT_EQ(turCount(), 2u);
}

TEST_F(IscsiUnitAttentionTest, OtherValuesAreParameterErrors) {
  for (const char* v : {"Clear", "none", "1", " report"}) {
    params({{"iscsi_unit_attention", v}});
    EXPECT_FALSE(impl.access(kUrl, -1)) << v;
    EXPECT_EQ(impl.implementationError(), invalidRequest_c);
    EXPECT_NE(hint().find("iscsi_unit_attention"), std::string::npos) << hint();
  }
  EXPECT_EQ(script.loginCalls, 0);
}

TEST_F(IscsiUnitAttentionTest, FailureDuringTheClearingFailsTheOpening) {
  const std::pair<SessionResult, long> cases[] = {{SessionResult::timeout, commandTimeout_c},
                                                  {SessionResult::dropped, establishedConnectionFailed_c}};
  for (auto [result, error] : cases) {
    next = 0;
    script.message = "lost " + std::to_string(error);
    answers({ua, [o = result](Completion*) { return o; }});
    EXPECT_FALSE(impl.access(kUrl, -1));
    EXPECT_EQ(impl.implementationError(), error);
    EXPECT_EQ(hint(), script.message);
    EXPECT_FALSE(impl.isOpen());
    EXPECT_EQ(script.sessionsAlive, 0);
  }
}

}  // namespace
}  // namespace qxscsi::backends::iscsi
