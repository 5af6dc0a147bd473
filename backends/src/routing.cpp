// Routing of device names to back-ends, and forwarding to the routed implementation.
#include "routing.h"

#include "qxscsi/backends/install.h"

namespace qxscsi::backends {

using namespace QXScsiPlatform;

RoutingTarget::RoutingTarget() = default;

RoutingTarget::~RoutingTarget() = default;

QXAbstractProduct* RoutingTarget::create() { return new RoutingTarget(); }

void RoutingTarget::destroy(QXAbstractProduct* product) { delete product; }

void RoutingTarget::drop() {
  if (inner_) inner_->release();
  inner_.reset();
  innerName_.clear();
  backendName_.clear();
}

bool RoutingTarget::adopt(std::unique_ptr<QXScsiTargetImpl> impl) {
  std::string hintCopy = hint();
  if (!impl->hintFrom(hintCopy)) return fail(invalidRequest_c, "the back-end refused the target's hint");
  if (!params_.empty()) impl->overrideDefaultBehavior(params_);
  if (implicitReleaseDisabled()) impl->disableImplicitRelease();
  inner_ = std::move(impl);
  return true;
}

bool RoutingTarget::route(const char* name, bool exclusive, int accessMode) {
  std::string deviceName = name ? name : "";
  succeed();
  if (!inner_ || innerName_ != deviceName) {
    drop();
    Installation* installation = Installation::current();
    if (!installation)
      return fail(unknownDeviceName_c, "no back-ends are installed: call qxscsi::backends::install()");
    Backend* backend = installation->backendFor(deviceName);
    if (!backend) {
      std::string forms;
      for (const auto& b : installation->backends())
        for (const std::string& form : b->nameSyntax()) forms += (forms.empty() ? "" : ", ") + form;
      return fail(unknownDeviceName_c,
                  "no back-end takes the device name \"" + deviceName + "\" (device names: " + forms + ")");
    }
    std::unique_ptr<QXScsiTargetImpl> impl = backend->create(deviceName);
    if (!impl)
      return fail(outOfResources_c,
                  std::string("the ") + backend->name() + " back-end made no implementation");
    if (!adopt(std::move(impl))) return false;
    innerName_ = deviceName;
    backendName_ = backend->name();
  }
  return exclusive ? inner_->accessExclusive(name, accessMode) : inner_->access(name, accessMode);
}

bool RoutingTarget::access(const char* name, int accessMode) { return route(name, false, accessMode); }

bool RoutingTarget::accessExclusive(const char* name, int accessMode) {
  return route(name, true, accessMode);
}

void RoutingTarget::access(void* handle) {
  if (inner_) return inner_->access(handle);
  int h = handle ? *static_cast<int*>(handle) : -1;
  handle_ = h;
  if (h == -1) return;
  Installation* installation = Installation::current();
  if (installation) {
    for (const auto& backend : installation->backends()) {
      std::unique_ptr<QXScsiTargetImpl> impl = backend->adopt(h);
      if (impl && adopt(std::move(impl))) {
        backendName_ = backend->name();
        handle_ = -1;
        return inner_->access(handle);
      }
    }
  }
  fail(notOpen_c, "no back-end adopts the handle " + std::to_string(h));
}

bool RoutingTarget::release() { return inner_ ? inner_->release() : false; }

bool RoutingTarget::getScsiAddress(QXScsiAddress& address, bool& flag) {
  if (inner_) return inner_->getScsiAddress(address, flag);
  flag = false;
  return fail(notOpen_c, "no device is open");
}

bool RoutingTarget::executeCommand(QXScsiCmd& cmd, const QXScsiDevice& device) {
  if (inner_) return inner_->executeCommand(cmd, device);
  return fail(cmd, notOpen_c, "no device is open");
}

bool RoutingTarget::accessScsiTarget(const QXScsiAddress& address) {
  return inner_ ? inner_->accessScsiTarget(address) : fail(notOpen_c, "no device is open");
}

bool RoutingTarget::accessScsiTarget(const QXScsiDevice& device) {
  return inner_ ? inner_->accessScsiTarget(device) : fail(notOpen_c, "no device is open");
}

long RoutingTarget::implementationVersion() const { return inner_ ? inner_->implementationVersion() : 1; }

long RoutingTarget::implementationError() const {
  return inner_ ? inner_->implementationError() : ImplementationBase::implementationError();
}

void RoutingTarget::implementationErrorMsg(std::string& message) const {
  if (inner_) return inner_->implementationErrorMsg(message);
  ImplementationBase::implementationErrorMsg(message);
}

void RoutingTarget::implementationErrorHint(std::string& hint) {
  if (inner_) return inner_->implementationErrorHint(hint);
  ImplementationBase::implementationErrorHint(hint);
}

bool RoutingTarget::lastCommandFacts(CommandFacts& facts) const {
  Installation* installation = Installation::current();
  if (!inner_ || !installation) return false;
  for (const auto& backend : installation->backends())
    if (backendName_ == backend->name()) return backend->lastCommand(*inner_, facts);
  return false;
}

int RoutingTarget::handle() const { return inner_ ? inner_->handle() : handle_; }

int RoutingTarget::adapter() const { return inner_ ? inner_->adapter() : -1; }

int RoutingTarget::os_platform() const { return inner_ ? inner_->os_platform() : -1; }

int RoutingTarget::scsi_transport() const { return inner_ ? inner_->scsi_transport() : -1; }

void RoutingTarget::overrideDefaultBehavior(const std::vector<QXScsi::ParameterData>& params) {
  params_ = params;
  if (inner_) inner_->overrideDefaultBehavior(params);
}

void RoutingTarget::disableImplicitRelease() {
  QXScsiTargetImpl::disableImplicitRelease();
  if (inner_) inner_->disableImplicitRelease();
}

bool RoutingTarget::isTargetState(unsigned long state) const {
  return inner_ ? inner_->isTargetState(state) : false;
}

bool lastCommand(const QXScsiTarget& target, CommandFacts& facts) {
  auto* routing = dynamic_cast<const RoutingTarget*>(target.getScsiTargetImpl());
  return routing != nullptr && routing->lastCommandFacts(facts);
}

QXScsiTargetImpl* routedImplementation(QXScsiTargetImpl* impl) {
  auto* routing = dynamic_cast<RoutingTarget*>(impl);
  return routing ? routing->routed() : impl;
}

}  // namespace qxscsi::backends
