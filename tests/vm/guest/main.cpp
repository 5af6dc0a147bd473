// Entry of the in-VM test program: makes the SG back-end reachable through the factory, then runs the tests.
#include <gtest/gtest.h>

#include "qxpattern/singleton.h"
#include "qxscsi/backends/sg_target.h"
#include "qxscsi/factory.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QXSingletonController& registry = QXSingletonController::instance();
  registry.registerSingleton(typeid(QXScsiFactory).name(), &QXScsiFactory::createInstance,
                             &QXScsiFactory::deleteInstance);
  auto* factory = static_cast<QXScsiFactory*>(registry.singleton(typeid(QXScsiFactory).name()));
  factory->registerScsiTargetImpl(&qxscsi::sg::SgTargetImpl::create, &qxscsi::sg::SgTargetImpl::destroy);
  int result = RUN_ALL_TESTS();
  registry.clear();
  return result;
}
