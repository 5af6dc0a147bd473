// Test fixture helpers: the factory singleton in the companion registry.
#include "support/factory_fixture.h"

#include <stdexcept>
#include <typeinfo>

#include "qxpattern/singleton.h"

namespace qxscsi::test {

namespace {
const char* factoryName() { return typeid(QXScsiFactory).name(); }
const FactoryScope* activeScope = nullptr;  // the scope whose factory is registered
}  // namespace

FactoryScope::FactoryScope(bool registerFake) : journal(std::make_shared<FakeJournal>()), source(journal) {
  QXSingletonController& registry = QXSingletonController::instance();
  registry.unregisterSingleton(factoryName());
  if (!registry.registerSingleton(factoryName(), &QXScsiFactory::createInstance,
                                  &QXScsiFactory::deleteInstance))
    throw std::runtime_error("cannot register the factory singleton");
  activeScope = this;
  if (registerFake) factory().registerScsiTargetImpl(&FakeImplSource::create, &FakeImplSource::destroy);
}

FactoryScope::~FactoryScope() {
  // A scope that replaced this one keeps its own singleton.
  if (activeScope != this) return;
  activeScope = nullptr;
  QXSingletonController::instance().unregisterSingleton(factoryName());
}

QXScsiFactory& FactoryScope::factory() const {
  return dynamic_cast<QXScsiFactory&>(*QXSingletonController::instance().singleton(factoryName()));
}

}  // namespace qxscsi::test
