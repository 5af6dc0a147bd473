// Opening emulated devices and carrying out commands on them.
#include "target.h"

#include "hostile.h"

#include <algorithm>

#include "qxscsi/commands.h"
#include "qxscsi/devices.h"

namespace qxscsi::backends::emulated {

using namespace QXScsiPlatform;

EmulatedTarget::EmulatedTarget(std::weak_ptr<DeviceStore> store) : store_(std::move(store)) {}

EmulatedTarget::~EmulatedTarget() { release(); }

bool EmulatedTarget::access(const char* name, int) { return open(name, false); }

bool EmulatedTarget::accessExclusive(const char* name, int) { return open(name, true); }

bool EmulatedTarget::open(const char* name, bool exclusive) {
  release();
  succeed();
  Options options;
  std::string error;
  if (!Options::parse(name ? name : "", options, error)) return fail(invalidRequest_c, error);
  std::shared_ptr<DeviceStore> store = store_.lock();
  if (!store) return fail(deviceNotFound_c, "the emulated devices are gone: the back-ends were torn down");
  OpenFailure failure;
  std::shared_ptr<SharedDevice> shared = store->device(options, failure);
  if (!shared) return fail(failure.code, failure.text);
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
  hostility_ = Hostility::none;
  hostilityFrom(options_.text("hostile"), hostility_);
  initiator_ = options_.text("initiator");
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
  if (std::shared_ptr<DeviceStore> store = store_.lock()) store->closed(options_);
  return true;
}

bool EmulatedTarget::getScsiAddress(QXScsiAddress& address, bool& flag) {
  flag = false;
  if (!shared_) return fail(notOpen_c, "no emulated device is open");
  address = QXScsiLunAddress(static_cast<unsigned char>(options_.number("bus")),
                             static_cast<unsigned char>(options_.number("target")),
                             static_cast<unsigned char>(lun_));
  flag = true;
  succeed();
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
  succeed();
  return true;
}

bool EmulatedTarget::accessScsiTarget(const QXScsiDevice&) {
  if (!shared_) return fail(notOpen_c, "no emulated device is open");
  succeed();
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
  if (!shared_) return fail(cmd, notOpen_c, "no emulated device is open");
  Command command;
  if (!view(cmd, command)) return false;
  commandStarted(command);
  // result_ keeps its storage from command to command: a GOOD answer allocates nothing.
  CommandResult& result = result_;
  Mistreatment how;
  if (hostility_ == Hostility::none)
    shared_->device->execute(targetLun(cmd), command, initiator_, result);
  else
    result = executeHostile(*shared_->device, targetLun(cmd), command, hostility_, how, initiator_);
  if (how.timedOut) return fail(cmd, commandTimeout_c, "the command timed out (hostile device)");
  if (!result.executed) return fail(cmd, invalidRequest_c, result.refusal);
  const unsigned long requested = command.direction == QXScsi::noData_c ? 0 : command.length;
  // More data than the buffer held is an overflow with the bytes beyond it as residual; data
  // that did not fill the buffer an underflow.
  const unsigned long sent = std::min(result.transferred, requested);
  if (result.beyond > 0 && sent == requested)
    commandFinished(result.beyond, true);
  else
    commandFinished(requested - sent, false);
  succeed();
  setCmdScsiStatus(cmd, result.status);
  if (!result.sense.empty() || how.deliverEmptySense)
    setCmdSenseData(cmd, result.sense.data(), result.sense.size());
  return true;
}

int EmulatedTarget::adapter() const { return shared_ ? static_cast<int>(options_.number("adapter")) : -1; }

}  // namespace qxscsi::backends::emulated
