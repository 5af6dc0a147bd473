// The implementation factory: registration key, product names, hints, refused and foreign products.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "qxscsi/factory.h"
#include "qxscsi/target.h"
#include "support/fake_impl.h"

namespace {

using qxscsi::test::FakeImpl;
using qxscsi::test::FakeImplSource;
using qxscsi::test::FakeJournal;
using Calls = std::vector<std::string>;

// A product registered under the SPI target's exact name, to see which name the factory asked for.
class SpiMarker : public QXScsiTargetImpl {};
QXAbstractProduct* createSpiMarker() { return new SpiMarker(); }

// A product that is not an implementation at all.
int foreignDestroyed = 0;
class Foreign : public QXAbstractProduct {
 public:
  ~Foreign() override { ++foreignDestroyed; }
};
QXAbstractProduct* createForeign() { return new Foreign(); }

class FactoryTest : public ::testing::Test {
 protected:
  void registerFake() { factory.registerScsiTargetImpl(&FakeImplSource::create, &FakeImplSource::destroy); }
  std::unique_ptr<QXScsiTargetImpl> create(const char* name, const char* hint) {
    return std::unique_ptr<QXScsiTargetImpl>(factory.createScsiTargetImpl(name, hint));
  }

  std::shared_ptr<FakeJournal> journal = std::make_shared<FakeJournal>();
  FakeImplSource source{journal};
  QXScsiFactory factory;
};

TEST_F(FactoryTest, RuntimeTypeNamesAreTheRegistryKeys) {
  EXPECT_STREQ(typeid(QXScsiFactory).name(), "13QXScsiFactory");
  EXPECT_STREQ(typeid(QXScsiTarget).name(), "12QXScsiTarget");
  EXPECT_STREQ(typeid(QXScsiSPITarget).name(), "15QXScsiSPITarget");
  EXPECT_STREQ(typeid(QXScsiTargetImpl).name(), "16QXScsiTargetImpl");
}

TEST_F(FactoryTest, RegistersUnderTheImplementationKey) {
  EXPECT_FALSE(factory.isRegistered("QXScsiTargetImpl"));
  registerFake();
  EXPECT_TRUE(factory.isRegistered("QXScsiTargetImpl"));
}

TEST_F(FactoryTest, TargetTypeNamesReachTheRegisteredImplementation) {
  registerFake();
  for (const char* name : {"12QXScsiTarget", "15QXScsiSPITarget", "", "9SomeOther"}) {
    auto impl = create(name, "the hint");
    ASSERT_NE(dynamic_cast<FakeImpl*>(impl.get()), nullptr) << name;
    EXPECT_EQ(impl->hint(), "the hint");
  }
  EXPECT_EQ(source.requests, 4);
}

TEST_F(FactoryTest, EveryRequestMakesANewProduct) {
  registerFake();
  auto first = create("12QXScsiTarget", "");
  auto second = create("12QXScsiTarget", "");
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(journal->created, 2);
}

TEST_F(FactoryTest, EmptyNameAsksForTheSpiTargetProduct) {
  registerFake();
  factory.registerClass("15QXScsiSPITarget", &createSpiMarker, nullptr);
  EXPECT_NE(dynamic_cast<SpiMarker*>(create("", "").get()), nullptr);
  EXPECT_NE(dynamic_cast<FakeImpl*>(create("12QXScsiTarget", "").get()), nullptr);
}

TEST_F(FactoryTest, RefusedHintDeletesTheProductWithoutDestroyerOrRelease) {
  registerFake();
  source.script.hintAccepted = false;
  EXPECT_EQ(create("12QXScsiTarget", "no thanks"), nullptr);
  EXPECT_EQ(journal->callsOf(1), (Calls{"hintFrom:no thanks", "destroyed"}));
}

TEST_F(FactoryTest, NothingRegisteredOrNothingCreatedGivesNull) {
  EXPECT_EQ(create("12QXScsiTarget", ""), nullptr);
  registerFake();
  source.createNothing = true;
  EXPECT_EQ(create("12QXScsiTarget", ""), nullptr);
  EXPECT_EQ(source.requests, 1);
}

TEST_F(FactoryTest, NullNameOrHintIsRefusedWithoutCreating) {
  registerFake();
  EXPECT_EQ(create(nullptr, ""), nullptr);
  EXPECT_EQ(create("12QXScsiTarget", nullptr), nullptr);
  EXPECT_EQ(source.requests, 0);
}

TEST_F(FactoryTest, ProductThatIsNoImplementationIsDeletedNotReturned) {
  factory.registerClass("QXScsiTargetImpl", &createForeign, nullptr);
  foreignDestroyed = 0;
  EXPECT_EQ(create("12QXScsiTarget", ""), nullptr);
  EXPECT_EQ(foreignDestroyed, 1);
}

TEST_F(FactoryTest, InstanceCreatorAndDestroyer) {
  QXScsiFactory::deleteInstance(nullptr);
  QXAbstractProduct* made = QXScsiFactory::createInstance();
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(typeid(*made), typeid(QXScsiFactory));
  QXScsiFactory::deleteInstance(made);
}

TEST_F(FactoryTest, MakesNoArgumentObjects) {
  unsigned char data[4] = {};
  EXPECT_EQ(factory.createArgs(0x12, data, sizeof data), nullptr);
  EXPECT_EQ(factory.createArgs(0, nullptr, 0), nullptr);
}

}  // namespace
