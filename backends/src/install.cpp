// The back-ends' installation: registers the factory singleton and the routing implementation.
#include "qxscsi/backends/install.h"

#include <typeinfo>

#include "qxpattern/singleton.h"
#include "qxscsi/factory.h"
#include "routing.h"

namespace qxscsi::backends {

namespace {

// Registered with the companion registry while an installation lives, so that the routing
// implementation (made by a plain creator function) finds it. Owns nothing.
class InstallationLink : public QXAbstractProduct {
 public:
  explicit InstallationLink(Installation* installation) : installation(installation) {}
  Installation* const installation;
};

const char linkName_c[] = "qxscsi::backends::Installation";
const char implKey_c[] = "QXScsiTargetImpl";

std::string factoryName() { return typeid(QXScsiFactory).name(); }

}  // namespace

Installation::Installation(std::vector<std::unique_ptr<Backend>> backends) : backends_(std::move(backends)) {}

bool Installation::setUp() {
  QXSingletonController& registry = QXSingletonController::instance();
  if (current()) return false;
  linked_ = registry.registerSingleton(linkName_c, std::make_unique<InstallationLink>(this));
  if (!linked_) return false;
  if (!registry.singleton(factoryName()))
    ownsFactory_ = registry.registerSingleton(factoryName(), &QXScsiFactory::createInstance,
                                              &QXScsiFactory::deleteInstance);
  auto* factory = dynamic_cast<QXScsiFactory*>(registry.singleton(factoryName()));
  if (!factory) return false;
  factory->registerScsiTargetImpl(&RoutingTarget::create, &RoutingTarget::destroy);
  return true;
}

Installation::~Installation() {
  QXSingletonController& registry = QXSingletonController::instance();
  if (ownsFactory_) {
    registry.unregisterSingleton(factoryName());
  } else if (linked_) {
    if (auto* factory = dynamic_cast<QXScsiFactory*>(registry.singleton(factoryName())))
      factory->unregisterClass(implKey_c);
  }
  if (linked_) registry.unregisterSingleton(linkName_c);
}

Installation* Installation::current() {
  auto* link = dynamic_cast<InstallationLink*>(QXSingletonController::instance().singleton(linkName_c));
  return link ? link->installation : nullptr;
}

Backend* Installation::backendFor(const std::string& deviceName) const {
  for (const auto& backend : backends_)
    if (backend->takes(deviceName)) return backend.get();
  return nullptr;
}

bool Installation::list(const std::string& scope, unsigned long timeoutSeconds,
                        std::vector<DeviceGroup>& groups, std::string& error) const {
  for (const auto& backend : backends_) {
    if (scope.empty()) {
      if (!backend->list(scope, timeoutSeconds, groups, error)) return false;
    } else if (backend->takesScope(scope)) {
      return backend->list(scope, timeoutSeconds, groups, error);
    }
  }
  if (scope.empty()) return true;
  error = "no back-end lists the devices of \"" + scope + "\"";
  return false;
}

std::vector<std::string> Installation::nameSyntax() const {
  std::vector<std::string> forms;
  for (const auto& backend : backends_) {
    std::vector<std::string> more = backend->nameSyntax();
    forms.insert(forms.end(), more.begin(), more.end());
  }
  return forms;
}

std::unique_ptr<Installation> install() { return install(builtinBackends()); }

std::unique_ptr<Installation> install(std::vector<std::unique_ptr<Backend>> backends) {
  std::unique_ptr<Installation> installation(new Installation(std::move(backends)));
  // A failed set-up is undone by the destructor, which removes only what this one registered.
  if (!installation->setUp()) return nullptr;
  return installation;
}

}  // namespace qxscsi::backends
