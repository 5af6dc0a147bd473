// QXSingletonController: registration, lookup, ownership and tear-down of named singletons.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "qxpattern/factory.h"
#include "qxpattern/singleton.h"

namespace {

std::vector<std::string> destructionOrder;
std::vector<QXAbstractProduct*> destroyerCalls;
int creations = 0;

class Named : public QXAbstractProduct {
 public:
  explicit Named(std::string name) : name_(std::move(name)) {}
  ~Named() override { destructionOrder.push_back(name_); }

 private:
  std::string name_;
};

QXAbstractProduct* createNamed() {
  ++creations;
  return new Named("created");
}
QXAbstractProduct* createNothing() {
  ++creations;
  return nullptr;
}
void destroyRecorded(QXAbstractProduct* p) {
  destroyerCalls.push_back(p);
  delete p;
}

// Looks itself up while being destroyed; remembers what it found.
class SelfLookup : public QXAbstractProduct {
 public:
  SelfLookup(QXSingletonController* controller, QXAbstractProduct** found)
      : controller_(controller), found_(found) {}
  ~SelfLookup() override { *found_ = controller_->singleton("self"); }

 private:
  QXSingletonController* controller_;
  QXAbstractProduct** found_;
};

// Registers another singleton from its destructor.
class Spawner : public QXAbstractProduct {
 public:
  explicit Spawner(QXSingletonController* controller) : controller_(controller) {}
  ~Spawner() override {
    controller_->registerSingleton("late", std::unique_ptr<QXAbstractProduct>(new Named("late")));
  }

 private:
  QXSingletonController* controller_;
};

QXSingletonController* reentrantTarget = nullptr;
// A creator that registers a singleton under the same name before it returns.
QXAbstractProduct* createAfterRegisteringTheSameName() {
  reentrantTarget->registerSingleton("x", std::unique_ptr<QXAbstractProduct>(new Named("inner")));
  return new Named("outer");
}

// Says on stderr that it was destroyed.
class ExitWitness : public QXAbstractProduct {
 public:
  ~ExitWitness() override { std::fputs("witness destroyed\n", stderr); }
};

class QXSingletonControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    destructionOrder.clear();
    destroyerCalls.clear();
    creations = 0;
  }
  QXSingletonController controller;
};

TEST_F(QXSingletonControllerTest, RegisteredObjectIsFoundByNameAndUnknownNamesAreNull) {
  auto* object = new Named("a");
  EXPECT_TRUE(controller.registerSingleton("13QXScsiFactory", std::unique_ptr<QXAbstractProduct>(object)));
  EXPECT_EQ(controller.singleton("13QXScsiFactory"), object);
  EXPECT_EQ(controller.singleton("13QXScsiFactor"), nullptr);
  EXPECT_EQ(controller.singleton(""), nullptr);
  EXPECT_EQ(controller.size(), 1u);
  EXPECT_TRUE(destructionOrder.empty());
}

TEST_F(QXSingletonControllerTest, SecondRegistrationOfANameIsRefusedAndTheOfferIsDestroyed) {
  auto* first = new Named("first");
  controller.registerSingleton("x", std::unique_ptr<QXAbstractProduct>(first));
  EXPECT_FALSE(controller.registerSingleton("x", std::unique_ptr<QXAbstractProduct>(new Named("second"))));
  EXPECT_EQ(destructionOrder, std::vector<std::string>{"second"});
  EXPECT_EQ(controller.singleton("x"), first);

  EXPECT_FALSE(controller.registerSingleton("x", createNamed, destroyRecorded));
  EXPECT_EQ(creations, 0) << "a taken name must not create anything";
  EXPECT_EQ(controller.singleton("x"), first);
}

TEST_F(QXSingletonControllerTest, CreatorThatTakesItsOwnNameLosesToTheInnerRegistration) {
  reentrantTarget = &controller;
  EXPECT_FALSE(controller.registerSingleton("x", createAfterRegisteringTheSameName, destroyRecorded));
  EXPECT_EQ(destructionOrder, std::vector<std::string>{"outer"});
  EXPECT_EQ(destroyerCalls.size(), 1u) << "the refused object goes to its own destroyer";
  EXPECT_EQ(controller.size(), 1u);
  controller.clear();
  EXPECT_EQ(destructionOrder, (std::vector<std::string>{"outer", "inner"}));
}

TEST_F(QXSingletonControllerTest, NullObjectsAndCreatorsAreRefused) {
  EXPECT_FALSE(controller.registerSingleton("x", std::unique_ptr<QXAbstractProduct>()));
  EXPECT_FALSE(controller.registerSingleton("x", nullptr, destroyRecorded));
  EXPECT_FALSE(controller.registerSingleton("x", createNothing, destroyRecorded));
  EXPECT_EQ(controller.singleton("x"), nullptr);
  EXPECT_EQ(controller.size(), 0u);
  EXPECT_TRUE(destroyerCalls.empty());
}

TEST_F(QXSingletonControllerTest, CreatorFormIsDestroyedWithItsDestroyerExactlyOnce) {
  ASSERT_TRUE(controller.registerSingleton("made", createNamed, destroyRecorded));
  EXPECT_EQ(creations, 1);
  QXAbstractProduct* made = controller.singleton("made");
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(controller.unregisterSingleton("made"));
  EXPECT_EQ(destroyerCalls, std::vector<QXAbstractProduct*>{made});
  EXPECT_EQ(destructionOrder, std::vector<std::string>{"created"});
  EXPECT_EQ(controller.singleton("made"), nullptr);
  EXPECT_FALSE(controller.unregisterSingleton("made"));
  EXPECT_EQ(destroyerCalls.size(), 1u);
}

TEST_F(QXSingletonControllerTest, ClearDestroysNewestFirstAndEmptiesTheRegistry) {
  controller.registerSingleton("a", std::unique_ptr<QXAbstractProduct>(new Named("a")));
  controller.registerSingleton("b", std::unique_ptr<QXAbstractProduct>(new Named("b")));
  controller.registerSingleton("c", std::unique_ptr<QXAbstractProduct>(new Named("c")));
  controller.unregisterSingleton("b");
  controller.clear();
  EXPECT_EQ(destructionOrder, (std::vector<std::string>{"b", "c", "a"}));
  EXPECT_EQ(controller.size(), 0u);
  EXPECT_EQ(controller.singleton("a"), nullptr);
  controller.clear();  // harmless when empty
}

TEST_F(QXSingletonControllerTest, SingletonIsGoneFromTheRegistryWhileItsDestructorRuns) {
  Named marker("marker");
  QXAbstractProduct* found = &marker;  // anything not null
  controller.registerSingleton("self",
                               std::unique_ptr<QXAbstractProduct>(new SelfLookup(&controller, &found)));
  controller.unregisterSingleton("self");
  EXPECT_EQ(found, nullptr);

  found = &marker;
  controller.registerSingleton("self",
                               std::unique_ptr<QXAbstractProduct>(new SelfLookup(&controller, &found)));
  controller.clear();
  EXPECT_EQ(found, nullptr);
}

TEST_F(QXSingletonControllerTest, ClearAlsoDestroysSingletonsRegisteredDuringTearDown) {
  controller.registerSingleton("spawner", std::unique_ptr<QXAbstractProduct>(new Spawner(&controller)));
  controller.clear();
  EXPECT_EQ(destructionOrder, std::vector<std::string>{"late"});
  EXPECT_EQ(controller.size(), 0u);
}

TEST_F(QXSingletonControllerTest, DestroyingAControllerDestroysWhatIsLeft) {
  {
    QXSingletonController local;
    local.registerSingleton("a", std::unique_ptr<QXAbstractProduct>(new Named("a")));
    local.registerSingleton("made", createNamed, destroyRecorded);
  }
  EXPECT_EQ(destructionOrder, (std::vector<std::string>{"created", "a"}));
  EXPECT_EQ(destroyerCalls.size(), 1u);
}

TEST_F(QXSingletonControllerTest, ProcessWideControllerHoldsTheFactoryUntilTornDown) {
  QXSingletonController& global = QXSingletonController::instance();
  EXPECT_EQ(&global, &QXSingletonController::instance());
  ASSERT_EQ(global.singleton("13QXScsiFactory"), nullptr);
  auto* factory = new QXFactory("QXScsiTargetImpl");
  ASSERT_TRUE(global.registerSingleton("13QXScsiFactory", std::unique_ptr<QXAbstractProduct>(factory)));
  EXPECT_EQ(dynamic_cast<QXFactory*>(global.singleton("13QXScsiFactory")), factory);
  EXPECT_TRUE(global.unregisterSingleton("13QXScsiFactory"));
  EXPECT_EQ(global.singleton("13QXScsiFactory"), nullptr);
}

TEST_F(QXSingletonControllerTest, ProcessWideSingletonsAreDestroyedAtExit) {
  EXPECT_EXIT(
      {
        QXSingletonController::instance().registerSingleton(
            "witness", std::unique_ptr<QXAbstractProduct>(new ExitWitness));
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "witness destroyed");
}

}  // namespace
