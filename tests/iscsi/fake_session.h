// A scripted stand-in for an iSCSI session: records every call, answers as the test says.
#pragma once

#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "session.h"

namespace qxscsi::test {

using namespace backends::iscsi;

// One command as the session saw it.
struct SeenCommand {
  std::vector<unsigned char> cdb;
  int direction;
  unsigned char* data;
  std::size_t length;
  unsigned long timeout;
};

// The script and the log, shared by all sessions a factory makes; outlives them.
struct FakeScript {
  std::deque<SessionResult> logins;  // next login outcomes; ok once empty
  std::string message = "fake initiator says no";
  // Answers a command; the default answers INQUIRY with a present disk and everything else GOOD.
  std::function<SessionResult(const Command&, Completion*)> onExecute;
  int sessionsMade = 0, sessionsAlive = 0, loginCalls = 0, logoutCalls = 0;
  std::vector<LoginRequest> loginRequests;
  std::vector<SeenCommand> commands;
  std::vector<std::size_t> pairs;  // for each executePair, the index in commands of its first
};

class FakeSession : public Session {
 public:
  explicit FakeSession(FakeScript& s) : s_(s) { ++s_.sessionsMade, ++s_.sessionsAlive; }
  ~FakeSession() override { --s_.sessionsAlive; }

  SessionResult login(const LoginRequest& r) override {
    ++s_.loginCalls;
    s_.loginRequests.push_back(r);
    SessionResult o = SessionResult::ok;
    if (!s_.logins.empty()) o = s_.logins.front(), s_.logins.pop_front();
    return o;
  }
  SessionResult execute(const Command& c, Completion* done) override {
    s_.commands.push_back({std::vector<unsigned char>(c.cdb, c.cdb + c.cdbLength), c.direction, c.data,
                           c.length, c.timeoutSeconds});
    if (s_.onExecute) return s_.onExecute(c, done);
    *done = Completion();
    if (c.cdb[0] == 0x12 && c.length) std::memset(c.data, 0, c.length);
    return SessionResult::ok;
  }
  SessionResult executePair(const Command& a, Completion* aDone, const Command& b, Completion* bDone) override {
    s_.pairs.push_back(s_.commands.size());
    return Session::executePair(a, aDone, b, bDone);
  }
  void logout(unsigned long) override { ++s_.logoutCalls; }
  std::string message() const override { return s_.message; }

 private:
  FakeScript& s_;
};

inline SessionFactory fakeFactory(FakeScript& s) {
  return [&s]() -> std::unique_ptr<Session> { return std::make_unique<FakeSession>(s); };
}

// Fills a CHECK CONDITION completion with fixed-format sense key/ASC/ASCQ.
inline SessionResult checkCondition(Completion* done, unsigned char key, unsigned char asc, unsigned char ascq) {
  *done = Completion();
  done->status = 2;
  unsigned char sense[18] = {0x70, 0, key, 0, 0, 0, 0, 10, 0, 0, 0, 0, asc, ascq, 0, 0, 0, 0};
  std::memcpy(done->sense, sense, sizeof sense);
  done->senseStored = done->senseReported = sizeof sense;
  return SessionResult::ok;
}

}  // namespace qxscsi::test
