// Opening emulated devices and carrying out commands on them.
#include "target.h"

#include "hostile.h"

#include "qxscsi/commands.h"
#include "qxscsi/devices.h"

namespace qxscsi::backends::emulated {

using namespace QXScsiPlatform;

EmulatedTarget::EmulatedTarget(std::weak_ptr<DeviceStore> store) : store_(std::move(store)) {}

EmulatedTarget::~EmulatedTarget() { release(); }

bool EmulatedTarget::fail(long error, const std::string& message) {
  error_ = error;
  message_ = message;
  return false;
}

bool EmulatedTarget::access(const char* name, int) { return open(name, false); }

bool EmulatedTarget::accessExclusive(const char* name, int) { return open(name, true); }

bool EmulatedTarget::open(const char* name, bool exclusive) {
  release();
  error_ = 0;
  message_.clear();
  Options options;
  std::string error;
  if (!Options::parse(name ? name : "", options, error)) return fail(invalidRequest_c, error);
  std::shared_ptr<DeviceStore> store = store_.lock();
  if (!store) return fail(deviceNotFound_c, "the emulated devices are gone: the back-ends were torn down");
  std::shared_ptr<SharedDevice> shared = store->device(options);
  unsigned lun = static_cast<unsigned>(options.number("lun"));
  if (shared->exclusive[lun] || (exclusive && shared->openings[lun] > 0))
    return fail(deviceBusy_c, std::string("logical unit ") + std::to_string(lun) + " of \"" + name +
                                  "\" is open elsewhere" + (exclusive ? "" : " for exclusive use"));
  if (exclusive)
    shared->exclusive[lun] = true;
  else
    shared->openings[lun]++;
  shared_ = std::move(shared);
  options_ = options;
  lun_ = lun;
  exclusive_ = exclusive;
  return true;
}

void EmulatedTarget::access(void* handle) {
  // Emulated devices have no operating-system handle; an adopted one is only remembered.
  if (handle) handle_ = *static_cast<int*>(handle);
}

bool EmulatedTarget::release() {
  if (!shared_) return false;
  if (exclusive_)
    shared_->exclusive[lun_] = false;
  else
    shared_->openings[lun_]--;
  shared_.reset();
  return true;
}

bool EmulatedTarget::getScsiAddress(QXScsiAddress& address, bool& flag) {
  flag = false;
  if (!shared_) return fail(notOpen_c, "no emulated device is open");
  address = QXScsiLunAddress(static_cast<unsigned char>(options_.number("bus")),
                             static_cast<unsigned char>(options_.number("target")),
                             static_cast<unsigned char>(lun_));
  flag = true;
  error_ = 0;
  return true;
}

bool EmulatedTarget::accessScsiTarget(const QXScsiAddress& address) {
  if (!shared_) return fail(notOpen_c, "no emulated device is open");
  QXScsiLunAddress lunAddress;
  if (!address.toLunAddress(lunAddress))
    return fail(targetAccessNotApplicable_c, "not a bus/target/LUN address");
  if (lunAddress.lun() >= shared_->device->lunCount())
    return fail(deviceNotFound_c, "logical unit " + std::to_string(lunAddress.lun()) +
                                      " does not exist: the device has " +
                                      std::to_string(shared_->device->lunCount()));
  error_ = 0;
  return true;
}

bool EmulatedTarget::accessScsiTarget(const QXScsiDevice&) {
  if (!shared_) return fail(notOpen_c, "no emulated device is open");
  error_ = 0;
  return true;
}

unsigned EmulatedTarget::targetLun(QXScsiCmd& cmd) {
  QXScsiAddress address;
  cmd.getScsiAddress(address);
  QXScsiLunAddress lunAddress;
  if (address.defined() && address.toLunAddress(lunAddress)) return lunAddress.lun();
  return lun_;
}

bool EmulatedTarget::executeCommand(QXScsiCmd& cmd, const QXScsiDevice&) {
  if (!shared_) {
    setCmdErrorCode(cmd, notOpen_c, "no emulated device is open");
    return fail(notOpen_c, "no emulated device is open");
  }
  const unsigned char* cdb = nullptr;
  unsigned char cdbLength = 0;
  cmd.getCDB(cdb, cdbLength);
  const unsigned char* data = nullptr;
  unsigned long length = 0;
  int direction = 2;
  cmd.getCmdData(data, length, direction);
  // The record refers to the caller's writable buffer; data-in commands write into it.
  Command command{cdb, cdbLength, direction, const_cast<unsigned char*>(data), length};
  Hostility hostility = Hostility::none;
  hostilityFrom(options_.text("hostile"), hostility);
  Mistreatment how;
  Outcome outcome = executeHostile(*shared_->device, targetLun(cmd), command, hostility, how);
  if (how.timedOut) {
    setCmdErrorCode(cmd, commandTimeout_c, "the command timed out (hostile device)");
    return fail(commandTimeout_c, "the command timed out (hostile device)");
  }
  if (!outcome.executed) {
    setCmdErrorCode(cmd, invalidRequest_c, outcome.refusal.c_str());
    return fail(invalidRequest_c, outcome.refusal);
  }
  error_ = 0;
  message_.clear();
  setCmdScsiStatus(cmd, outcome.status);
  if (!outcome.sense.empty() || how.deliverEmptySense)
    setCmdSenseData(cmd, outcome.sense.data(), outcome.sense.size());
  return true;
}

void EmulatedTarget::implementationErrorHint(std::string& hint) {
  if (error_ != 0) hint = message_;
}

int EmulatedTarget::adapter() const { return shared_ ? static_cast<int>(options_.number("adapter")) : -1; }

}  // namespace qxscsi::backends::emulated
