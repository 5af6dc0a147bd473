// Shared pieces of the tests against tgtd: a started instance plus the installed back-ends.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "qxscsi/backends/install.h"
#include "qxscsi/backends/iscsi.h"
#include "qxscsi/commands.h"
#include "qxscsi/sense.h"
#include "qxscsi/target.h"
#include "tgtd_harness.h"

namespace qxscsi::test {

// One tgtd and the back-ends' installation, for the lifetime of a test suite.
struct TgtdWorld {
  std::unique_ptr<TgtdInstance> tgtd;
  std::unique_ptr<backends::Installation> installation;
  std::string whyNot;  // set when tgtd could not be started: the suite skips

  bool start() {
    tgtd = TgtdInstance::start(&whyNot);
    if (!tgtd) return false;
    installation = backends::install();
    if (!installation) whyNot = "another installation is alive";
    return installation != nullptr;
  }
  void stop() {
    installation.reset();
    tgtd.reset();
  }
};

// Sense key, ASC and ASCQ of a record holding fixed-format sense data.
inline unsigned senseKey(const QXScsiCmd& cmd) { return cmd.senseData().senseKey(); }
inline unsigned asc(const QXScsiCmd& cmd) { return cmd.senseData().additionalSenseCode(); }
inline unsigned ascq(const QXScsiCmd& cmd) { return cmd.senseData().additionalSenseQualifier(); }

// Owns a record for the scope of a test.
struct Record {
  QXScsiCmd* cmd = nullptr;
  explicit Record(QXScsiCmd* c) : cmd(c) {}
  ~Record() { QXScsiFreeCmd(cmd); }
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;
  QXScsiCmd* operator->() const { return cmd; }
  explicit operator bool() const { return cmd != nullptr; }
};

// Sends cdb with data through cmdCall (timeout 0: the device's default).
inline QXScsiCmd* call(QXScsiTarget& t, std::vector<unsigned char> cdb, unsigned char* data = nullptr,
                       unsigned long length = 0, int direction = 2,
                       const QXScsiDevice& device = QXScsiDevice(), unsigned long timeout = 0) {
  QXScsiAnyArgs args(cdb.data(), static_cast<unsigned char>(cdb.size()), data, length, direction);
  return t.cmdCall(args, device, timeout);
}

inline double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace qxscsi::test
