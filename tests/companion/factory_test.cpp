// QXFactory: one new product per request, key matching, fallback key, destroyers.
#include <gtest/gtest.h>

#include <vector>

#include "qxpattern/factory.h"

namespace {

int liveWidgets = 0;
std::vector<QXAbstractProduct*> destroyed;  // products handed to a destroyer

class Widget : public QXAbstractProduct {
 public:
  Widget() { ++liveWidgets; }
  ~Widget() override { --liveWidgets; }
};

class Gadget : public Widget {};

QXAbstractProduct* createWidget() { return new Widget; }
QXAbstractProduct* createGadget() { return new Gadget; }
QXAbstractProduct* createNothing() { return nullptr; }
void destroyRecorded(QXAbstractProduct* p) {
  destroyed.push_back(p);
  delete p;
}

class QXFactoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    liveWidgets = 0;
    destroyed.clear();
  }
  void TearDown() override { EXPECT_EQ(liveWidgets, 0) << "a product leaked or was deleted twice"; }
};

TEST_F(QXFactoryTest, EveryRequestCreatesANewProductOwnedByTheCaller) {
  QXFactory factory;
  ASSERT_TRUE(factory.registerClass("Widget", createWidget, destroyRecorded));
  QXAbstractProduct* first = factory.createProduct("Widget");
  QXAbstractProduct* second = factory.createProduct("Widget");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(liveWidgets, 2);
  delete first;  // the caller owns its products: no factory bookkeeping in the way
  EXPECT_EQ(liveWidgets, 1);
  delete second;
  EXPECT_TRUE(destroyed.empty()) << "creating must not call the destroyer";
}

TEST_F(QXFactoryTest, UnknownNamesAndEmptyFactoriesAnswerNull) {
  QXFactory factory;
  EXPECT_EQ(factory.createProduct("Widget"), nullptr);
  factory.registerClass("Widget", createWidget, nullptr);
  EXPECT_EQ(factory.createProduct("Gadget"), nullptr);
  EXPECT_EQ(factory.createProduct(""), nullptr);
  EXPECT_EQ(factory.createProduct("widget"), nullptr) << "keys are case-sensitive";
  EXPECT_EQ(factory.createProduct("Widget "), nullptr);
  EXPECT_EQ(liveWidgets, 0);
}

TEST_F(QXFactoryTest, CreatorAnsweringNullGivesNull) {
  QXFactory factory;
  factory.registerClass("Nothing", createNothing, destroyRecorded);
  EXPECT_EQ(factory.createProduct("Nothing"), nullptr);
}

TEST_F(QXFactoryTest, NullCreatorIsRefusedAndKeepsTheEarlierRegistration) {
  QXFactory factory;
  factory.registerClass("Widget", createGadget, nullptr);
  EXPECT_FALSE(factory.registerClass("Widget", nullptr, destroyRecorded));
  EXPECT_FALSE(factory.registerClass("Other", nullptr, nullptr));
  EXPECT_FALSE(factory.isRegistered("Other"));
  QXAbstractProduct* product = factory.createProduct("Widget");
  EXPECT_NE(dynamic_cast<Gadget*>(product), nullptr);
  delete product;
}

TEST_F(QXFactoryTest, LaterRegistrationOfAKeyReplacesTheEarlierOne) {
  QXFactory factory;
  EXPECT_TRUE(factory.registerClass("QXScsiTargetImpl", createWidget, nullptr));
  EXPECT_TRUE(factory.registerClass("QXScsiTargetImpl", createGadget, destroyRecorded));
  QXAbstractProduct* product = factory.createProduct("QXScsiTargetImpl");
  ASSERT_NE(dynamic_cast<Gadget*>(product), nullptr);
  factory.destroyProduct("QXScsiTargetImpl", product);
  ASSERT_EQ(destroyed.size(), 1u) << "the newest destroyer goes with the newest creator";
  EXPECT_EQ(destroyed[0], product);
}

TEST_F(QXFactoryTest, FallbackKeyServesEveryNameWithoutAnExactKey) {
  QXFactory factory("QXScsiTargetImpl");
  EXPECT_EQ(factory.fallbackKey(), "QXScsiTargetImpl");
  EXPECT_EQ(factory.createProduct("15QXScsiSPITarget"), nullptr) << "fallback registered yet";
  factory.registerClass("QXScsiTargetImpl", createWidget, nullptr);
  factory.registerClass("12QXScsiTarget", createGadget, nullptr);
  for (const char* name : {"15QXScsiSPITarget", "", "18SomeOtherTarget"}) {
    QXAbstractProduct* product = factory.createProduct(name);
    ASSERT_NE(product, nullptr) << name;
    EXPECT_EQ(dynamic_cast<Gadget*>(product), nullptr) << name;
    delete product;
  }
  QXAbstractProduct* exact = factory.createProduct("12QXScsiTarget");
  EXPECT_NE(dynamic_cast<Gadget*>(exact), nullptr) << "an exact key wins over the fallback";
  delete exact;
}

TEST_F(QXFactoryTest, DestroyProductUsesTheRegisteredDestroyerOrDelete) {
  QXFactory factory;
  factory.registerClass("Recorded", createWidget, destroyRecorded);
  factory.registerClass("Plain", createWidget, nullptr);

  QXAbstractProduct* recorded = factory.createProduct("Recorded");
  factory.destroyProduct("Recorded", recorded);
  ASSERT_EQ(destroyed.size(), 1u);
  EXPECT_EQ(destroyed[0], recorded);

  factory.destroyProduct("Plain", factory.createProduct("Plain"));  // deleted, no destroyer
  factory.destroyProduct("Recorded", nullptr);                      // ignored
  EXPECT_EQ(destroyed.size(), 1u);

  QXAbstractProduct* orphan = factory.createProduct("Plain");
  factory.unregisterClass("Plain");
  factory.destroyProduct("Plain", orphan);  // class gone: plain delete, no leak
  EXPECT_EQ(destroyed.size(), 1u);
}

TEST_F(QXFactoryTest, UnregisteredClassesNoLongerMatchAndEarlierProductsSurvive) {
  QXFactory factory("Widget");
  factory.registerClass("Widget", createWidget, nullptr);
  QXAbstractProduct* earlier = factory.createProduct("Widget");
  EXPECT_TRUE(factory.unregisterClass("Widget"));
  EXPECT_FALSE(factory.unregisterClass("Widget"));
  EXPECT_FALSE(factory.isRegistered("Widget"));
  EXPECT_EQ(factory.createProduct("Widget"), nullptr);
  EXPECT_EQ(factory.createProduct("Other"), nullptr);
  EXPECT_EQ(liveWidgets, 1);
  delete earlier;
}

class CountedFactory : public QXFactory {
 public:
  explicit CountedFactory(int* destructions) : destructions_(destructions) {}
  ~CountedFactory() override { ++*destructions_; }

 private:
  int* destructions_;
};

TEST_F(QXFactoryTest, FactoryIsAProductDeletedThroughTheBase) {
  int destructions = 0;
  QXAbstractProduct* product = new CountedFactory(&destructions);
  static_cast<QXFactory*>(product)->registerClass("Widget", createWidget, nullptr);
  EXPECT_NE(dynamic_cast<QXFactory*>(product), nullptr);
  delete product;
  EXPECT_EQ(destructions, 1);
}

}  // namespace
