// Opening by address or device, target access, re-opening, closing, handle adoption, current address.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "qxscsi/target.h"
#include "support/factory_fixture.h"

namespace {

using qxscsi::test::FactoryFixture;
using qxscsi::test::fakeOf;
using Calls = std::vector<std::string>;
using Params = std::vector<QXScsi::ParameterData>;

Params accessTargetY() {
  Params p;
  QXScsi::setParameter("access_target", "y", p);
  return p;
}

QXScsiLunAddress lun(unsigned char bus, unsigned char target, unsigned char l) { return {bus, target, l}; }

bool sameLun(const QXScsiAddress& a, unsigned char bus, unsigned char target, unsigned char l) {
  QXScsiLunAddress out;
  return a.defined() && a.toLunAddress(out) && out.bus() == bus && out.target() == target && out.lun() == l;
}

class OpeningTest : public FactoryFixture {
 protected:
  Calls calls() const { return journal().callsOf(1); }
  QXScsiAddress current() const {
    QXScsiAddress a;
    target.getScsiAddress(a);
    return a;
  }
  QXScsiTarget target;
  const Params withAccess = accessTargetY();
};

TEST_F(OpeningTest, DeviceFormWithoutParametersOpensOnly) {
  EXPECT_TRUE(target.initScsiTarget("disk0", QXScsiDevice("disk0"), -1, nullptr));
  EXPECT_TRUE(target.valid());
  EXPECT_EQ(calls(), (Calls{"hintFrom:", "access:disk0:-1"}));
  EXPECT_FALSE(current().defined());
}

TEST_F(OpeningTest, ParametersReachTargetThenImplementationBeforeTheDeviceOpens) {
  EXPECT_TRUE(target.initScsiTarget("disk0", QXScsiDevice("disk0"), -1, &withAccess));
  EXPECT_TRUE(target.override(1));
  EXPECT_TRUE(target.override(2));
  EXPECT_EQ(calls(), (Calls{"hintFrom:", "overrideDefaultBehavior:1", "access:disk0:-1",
                            "accessScsiTarget(device):disk0", "getScsiAddress"}));
  EXPECT_TRUE(sameLun(current(), 0, 1, 0));
}

TEST_F(OpeningTest, EmptyParameterListAppliesNothing) {
  const Params none;
  EXPECT_TRUE(target.initScsiTarget("disk0", QXScsiDevice("disk0"), -1, &none));
  EXPECT_EQ(journal().count(1, "overrideDefaultBehavior:0"), 0);
}

TEST_F(OpeningTest, ExclusiveAccessParameterOpensExclusively) {
  Params p;
  QXScsi::setParameter("exclusive_access", "y", p);
  EXPECT_TRUE(target.initScsiTarget("disk0", lun(0, 2, 0), 3, &p));
  EXPECT_EQ(calls(), (Calls{"hintFrom:", "overrideDefaultBehavior:1", "accessExclusive:disk0:3"}));
}

TEST_F(OpeningTest, RefusedDeviceAccessFailsWithoutTargetAccess) {
  script().accessResult = false;
  EXPECT_FALSE(target.initScsiTarget("disk0", lun(0, 2, 0), -1, &withAccess));
  EXPECT_FALSE(target.valid());
  EXPECT_EQ(journal().count(1, "accessScsiTarget(address)"), 0);
}

TEST_F(OpeningTest, FailedTargetAccessFailsOnlyWithFlag2) {
  script().accessTargetResult = false;
  script().error = -5;
  EXPECT_FALSE(target.initScsiTarget("disk0", lun(0, 2, 0), -1, &withAccess));
  EXPECT_FALSE(target.initScsiTarget("disk0", QXScsiDevice("disk0"), -1, &withAccess));
  EXPECT_FALSE(target.valid());
  QXScsiTarget lenient;
  lenient.override(1, true);
  EXPECT_TRUE(lenient.initScsiTarget("disk0", lun(0, 2, 0), -1, nullptr));
  EXPECT_TRUE(lenient.initScsiTarget("disk0", QXScsiDevice("disk0"), -1, nullptr));
  EXPECT_TRUE(lenient.valid());
}

TEST_F(OpeningTest, AddressFormSetsTheAddressOrResetsItOnFailure) {
  EXPECT_TRUE(target.initScsiTarget("disk0", lun(0, 5, 1), -1, &withAccess));
  EXPECT_TRUE(sameLun(current(), 0, 5, 1));
  fakeOf(target)->script.accessTargetResult = false;
  fakeOf(target)->script.error = -5;
  EXPECT_FALSE(target.initScsiTarget("disk0", lun(0, 6, 0), -1, nullptr));
  EXPECT_FALSE(current().defined());
}

TEST_F(OpeningTest, TargetAccessThatDoesNotApplyCountsAsSuccess) {
  QXScsiTarget addressed{lun(1, 1, 1)};
  script().accessTargetResult = false;
  script().error = QXScsiPlatform::targetAccessNotApplicable_c;
  EXPECT_TRUE(addressed.initScsiTarget("disk0", lun(2, 2, 2), -1, &withAccess));
  QXScsiAddress a;
  ASSERT_TRUE(addressed.getScsiAddress(a));
  EXPECT_TRUE(sameLun(a, 1, 1, 1));
  EXPECT_TRUE(target.initScsiTarget("disk0", QXScsiDevice("disk0"), -1, &withAccess));
  EXPECT_EQ(journal().count(2, "getScsiAddress"), 1);  // the address is still asked for
}

TEST_F(OpeningTest, UndefinedAddressAccessesThroughTheName) {
  EXPECT_TRUE(target.initScsiTarget("disk7", QXScsiAddress(), -1, &withAccess));
  EXPECT_EQ(journal().count(1, "accessScsiTarget(device):disk7"), 1);
  QXScsiTarget unnamed;
  EXPECT_FALSE(unnamed.initScsiTarget("", QXScsiAddress(), -1, &withAccess));
  QXScsiTarget lenient;
  lenient.override(1, true);
  EXPECT_TRUE(lenient.initScsiTarget("", QXScsiAddress(), -1, nullptr));
}

TEST_F(OpeningTest, DeviceWithoutNameSkipsTargetAccess) {
  EXPECT_TRUE(target.initScsiTarget("disk0", QXScsiDevice(), -1, &withAccess));
  EXPECT_EQ(journal().count(1, "getScsiAddress"), 0);
  EXPECT_EQ(calls().size(), 3u);
}

TEST_F(OpeningTest, GenericDeviceNamesAreNeverAskedForAnAddress) {
  for (const char* name : {"scsidev@1", "/x/SCSIDEV", "ScSiDeV0"}) {
    QXScsiTarget t;
    EXPECT_TRUE(t.initScsiTarget(name, QXScsiDevice(name), -1, &withAccess)) << name;
  }
  EXPECT_EQ(journal().count(0, "getScsiAddress"), 0);
}

TEST_F(OpeningTest, NoAddressForTheDeviceIsIgnoredLater) {
  script().addressResult = false;
  script().error = QXScsiPlatform::noScsiAddress_c;
  EXPECT_TRUE(target.initScsiTarget("disk0", QXScsiDevice("disk0"), -1, &withAccess));
  EXPECT_FALSE(current().defined());
  EXPECT_TRUE(target.ignoreUndefinedAddress());
}

TEST_F(OpeningTest, OtherAddressErrorFailsAndResetsTheAddress) {
  QXScsiTarget addressed{lun(0, 3, 0)};
  script().addressResult = false;
  script().error = -11;
  EXPECT_FALSE(addressed.initScsiTarget("disk0", QXScsiDevice("disk0"), -1, &withAccess));
  QXScsiAddress a;
  EXPECT_FALSE(addressed.getScsiAddress(a));
  EXPECT_FALSE(addressed.ignoreUndefinedAddress());
}

TEST_F(OpeningTest, ResetGoesByAddressOnceAnAddressWasGiven) {
  EXPECT_TRUE(target.initScsiTarget("first", lun(0, 1, 0), 4, &withAccess));
  EXPECT_TRUE(target.initScsiTarget("second", QXScsiDevice("second"), 5, nullptr));
  journal().calls.clear();
  EXPECT_TRUE(target.reset(nullptr));
  EXPECT_EQ(calls(), (Calls{"release", "access:second:5", "accessScsiTarget(address)"}));
}

TEST_F(OpeningTest, OpenOfNeverInitialisedTargetUsesTheDefaultDescriptor) {
  bool wasOpen = true;
  EXPECT_TRUE(target.open(wasOpen, nullptr));
  EXPECT_FALSE(wasOpen);
  EXPECT_EQ(calls(), (Calls{"hintFrom:", "release", "access::-1"}));
}

TEST_F(OpeningTest, OpenOfOpenTargetReleasesAndAccessesAgain) {
  ASSERT_TRUE(target.initScsiTarget("disk0", QXScsiDevice("disk0"), -1, &withAccess));
  bool wasOpen = false;
  fakeOf(target)->script.accessResult = false;
  EXPECT_FALSE(target.open(wasOpen, nullptr));
  EXPECT_TRUE(wasOpen);
  EXPECT_TRUE(target.valid());
  EXPECT_TRUE(target.override(1));  // flags from earlier parameters stay on
  EXPECT_EQ(journal().count(1, "release"), 1);
  EXPECT_EQ(journal().count(1, "access:disk0:-1"), 2);
}

TEST_F(OpeningTest, SingleTargetCloseReturnsTheReleaseResult) {
  ASSERT_TRUE(target.initScsiTarget("disk0", QXScsiDevice("disk0"), -1, nullptr));
  EXPECT_TRUE(target.close(false));
  fakeOf(target)->script.releaseResult = false;
  EXPECT_FALSE(target.close(false));
  EXPECT_EQ(target.localError(), 0);
  EXPECT_TRUE(target.valid());  // close keeps the open mark
}

TEST_F(OpeningTest, SharedTargetCloseNeedsForce) {
  ASSERT_TRUE(target.initScsiTarget("disk0", QXScsiDevice("disk0"), -1, nullptr));
  QXScsiTarget copy;
  copy = target;
  EXPECT_EQ(copy.getReferenceCount(), 2);
  EXPECT_FALSE(copy.close(false));
  EXPECT_EQ(copy.localError(), -9);
  EXPECT_FALSE(target.close(false));
  EXPECT_EQ(target.localError(), -9);
  EXPECT_EQ(journal().count(1, "release"), 0);
  EXPECT_TRUE(copy.close(true));
  EXPECT_EQ(journal().count(1, "release"), 1);
  EXPECT_TRUE(target.valid());
  EXPECT_TRUE(copy.valid());
}

TEST_F(OpeningTest, HandleIsAdoptedOnlyWhenTheImplementationHasNone) {
  int five = 5, six = 6, none = QXScsi::invalidHandleValue_c;
  EXPECT_TRUE(target.access(&five));
  EXPECT_TRUE(fakeOf(target)->implicitReleaseDisabled());
  EXPECT_EQ(fakeOf(target)->handle(), 5);
  EXPECT_FALSE(target.access(&six));
  EXPECT_EQ(journal().count(1, "access(handle):6"), 0);
  EXPECT_TRUE(target.access(&none));
  EXPECT_EQ(calls(), (Calls{"hintFrom:", "access(handle):5", "disableImplicitRelease", "access(handle):-1"}));
  EXPECT_TRUE(target.access(&six));  // -1 again means no handle
  EXPECT_FALSE(target.access(nullptr));
  EXPECT_FALSE(target.valid());  // adoption does not mark the target open
}

TEST_F(OpeningTest, UndefinedAddressMarksTheTargetForReopen) {
  ASSERT_TRUE(target.initScsiTarget("disk0", lun(0, 1, 0), -1, nullptr));
  target.setScsiAddress(lun(0, 2, 0));
  EXPECT_TRUE(target.valid());
  EXPECT_TRUE(sameLun(current(), 0, 2, 0));
  target.setScsiAddress(QXScsiAddress());
  EXPECT_FALSE(target.valid());
  QXScsiLunAddress untouched(9, 9, 9);
  EXPECT_FALSE(target.getScsiAddress(untouched));
  EXPECT_EQ(untouched.bus(), 9);
  const unsigned char tur[6] = {};
  QXScsiAnyArgs args(tur, 6);
  QXScsiFreeCmd(target.cmdCall(args, 0));
  EXPECT_EQ(journal().count(1, "access:disk0:-1"), 2);
  EXPECT_EQ(journal().count(1, "executeCommand"), 1);
}

TEST_F(OpeningTest, NullNameCountsAsEmpty) {
  EXPECT_TRUE(target.initScsiTarget(nullptr, QXScsiDevice(), -1, nullptr));
  EXPECT_EQ(calls().back(), "access::-1");
}

TEST_F(OpeningTest, MissingImplementationFailsEveryAccessWithMinus4) {
  scope->source.createNothing = true;
  int handle = 5;
  EXPECT_FALSE(target.initScsiTarget("disk0", lun(0, 1, 0), -1, &withAccess));
  EXPECT_TRUE(target.override(1));  // parameters were applied all the same
  EXPECT_FALSE(target.close(false));
  EXPECT_EQ(target.localError(), -4);
  target.localError(0);
  EXPECT_FALSE(target.close(true));
  EXPECT_EQ(target.localError(), -4);
  target.localError(0);
  EXPECT_FALSE(target.access(&handle));
  EXPECT_EQ(target.localError(), -4);
  target.localError(0);
  EXPECT_FALSE(target.accessScsiTarget(lun(0, 1, 0)));
  EXPECT_EQ(target.localError(), -4);
  target.localError(0);
  EXPECT_FALSE(target.accessScsiTarget(QXScsiDevice("disk0")));
  EXPECT_EQ(target.localError(), -4);
  target.localError(0);
  EXPECT_EQ(target.implementationVersion(), -1);
  EXPECT_EQ(target.localError(), -4);
  target.cleanupScsiTarget();
  bool wasOpen = true;
  EXPECT_FALSE(target.open(wasOpen, nullptr));
  EXPECT_EQ(journal().created, 0);
}

}  // namespace
