// The whole road of one command: set up the factory singleton, register an implementation, open a
// target by device name, send INQUIRY through cmdCall, read status and sense data, free the record,
// close the target, and tear the singleton down again.
//
// A real program registers a back-end library's implementation; here a tiny in-process one stands in
// for a disk that answers INQUIRY and refuses everything else with CHECK CONDITION / ILLEGAL REQUEST.
// Exit status 0 when every step behaved as described.
#include <cstdio>
#include <cstring>
#include <string>
#include <typeinfo>
#include <vector>

#include "qxpattern/singleton.h"
#include "qxscsi/qxscsi.h"

namespace {

class DemoDisk : public QXScsiTargetImpl {
 public:
  bool access(const char* name, int) override {
    open_ = std::strcmp(name, "demo-disk") == 0;
    return open_;
  }
  bool release() override {
    open_ = false;
    return true;
  }
  long implementationError() const override { return open_ ? 0L : long{QXScsiPlatform::notOpen_c}; }

  bool executeCommand(QXScsiCmd& cmd, const QXScsiDevice&) override {
    if (!open_) return false;
    const unsigned char* cdb = nullptr;
    unsigned char cdbLength = 0;
    cmd.getCDB(cdb, cdbLength);
    const unsigned char* data = nullptr;
    unsigned long length = 0;
    int direction = 0;
    cmd.getCmdData(data, length, direction);
    if (cdbLength == 6 && cdb[0] == 0x12 && direction == QXScsi::dataIn_c && data != nullptr) {
      unsigned char inquiry[36] = {0x00, 0x00, 0x05, 0x02, 31};  // direct access, SPC-3, 31 more bytes
      std::memcpy(inquiry + 8, "DEMO    DISK            0001", 28);
      // The data buffer is the caller's own writable buffer.
      std::memcpy(const_cast<unsigned char*>(data), inquiry, length < 36 ? length : 36);
      setCmdScsiStatus(cmd, 0x00);  // GOOD
      return true;
    }
    unsigned char sense[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00};  // INVALID OPCODE
    setCmdSenseData(cmd, sense, sizeof sense);
    setCmdScsiStatus(cmd, 0x02);  // CHECK CONDITION
    return true;
  }

 private:
  bool open_ = false;
};

// Creator and destroyer in the form the factory registers.
QXAbstractProduct* createDemoDisk() { return new DemoDisk(); }
void destroyDemoDisk(QXAbstractProduct* product) { delete product; }

int fail(const char* what) {
  std::fprintf(stderr, "open_by_name: %s\n", what);
  return 1;
}

int run() {
  // 1. Whoever owns the process makes the factory known under its type name and registers back-ends.
  QXSingletonController& registry = QXSingletonController::instance();
  const char* factoryName = typeid(QXScsiFactory).name();  // "13QXScsiFactory"
  if (!registry.registerSingleton(factoryName, &QXScsiFactory::createInstance,
                                  &QXScsiFactory::deleteInstance))
    return fail("factory singleton already registered");
  static_cast<QXScsiFactory*>(registry.singleton(factoryName))
      ->registerScsiTargetImpl(&createDemoDisk, &destroyDemoDisk);

  {
    // 2. Open a target by device name. The target asks the factory for its implementation.
    QXScsiTarget target;
    if (!target.initScsiTarget("demo-disk", QXScsiDevice("demo-disk"), -1, nullptr))
      return fail("open failed");

    // 3. INQUIRY through cmdCall; timeout 0 takes the device's default (30 s).
    unsigned char inquiry[36] = {};
    const unsigned char cdb[6] = {0x12, 0, 0, 0, sizeof inquiry, 0};
    QXScsiAnyArgs args(cdb, sizeof cdb, inquiry, sizeof inquiry, QXScsi::dataIn_c);
    QXScsiCmd* cmd = target.cmdCall(args, 0);
    if (cmd == nullptr) return fail("INQUIRY was not carried out");

    // 4. Status and sense data are in the record, the returned data in our own buffer.
    const unsigned char status = cmd->scsiStatus();
    unsigned char* sense = nullptr;
    unsigned char senseLength = 0;
    cmd->senseData().getBuffer(sense, senseLength);
    const bool noSense = sense[0] == 0;
    QXScsiFreeCmd(cmd);  // the record is ours; its sense buffer goes with it
    std::printf("INQUIRY status %02x, vendor '%.8s', product '%.16s'\n", status, inquiry + 8, inquiry + 16);
    if (status != 0x00 || !noSense || std::memcmp(inquiry + 8, "DEMO    ", 8) != 0)
      return fail("unexpected INQUIRY result");

    // A command the disk does not know comes back with CHECK CONDITION and fixed-format sense data.
    const unsigned char unknown[6] = {0xC0, 0, 0, 0, 0, 0};
    QXScsiAnyArgs other(unknown, sizeof unknown);
    cmd = target.cmdCall(other, 0);
    if (cmd == nullptr) return fail("second command was not carried out");
    cmd->senseData().getBuffer(sense, senseLength);
    std::printf("opcode c0 status %02x, sense key %x, ASC %02x\n", cmd->scsiStatus(), sense[2] & 0x0F,
                sense[12]);
    const bool checkCondition = cmd->scsiStatus() == 0x02 && (sense[2] & 0x0F) == 0x05 && sense[12] == 0x20;
    QXScsiFreeCmd(cmd);
    if (!checkCondition) return fail("unexpected sense data");

    // 5. Close; the implementation is deleted when the last target sharing it goes.
    if (!target.close(false)) return fail("close failed");
  }

  registry.unregisterSingleton(factoryName);
  return 0;
}

}  // namespace

int main() { return run(); }
