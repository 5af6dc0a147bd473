// Targets sharing implementations: assignment, copies, self-assignment, destruction order, refusals.
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

class TargetOwnershipTest : public FactoryFixture {
 protected:
  std::unique_ptr<QXScsiTarget> openTarget(const char* name) {
    auto t = std::make_unique<QXScsiTarget>();
    EXPECT_TRUE(t->initScsiTarget(name, QXScsiDevice(name), -1, nullptr));
    return t;
  }
  // Every fake made so far ended with one release() right before its one deletion.
  void expectEachReleasedOnceThenDeleted() {
    EXPECT_EQ(journal().destroyed, journal().created);
    for (int id = 1; id <= journal().created; ++id) {
      Calls calls = journal().callsOf(id);
      ASSERT_GE(calls.size(), 2u) << id;
      EXPECT_EQ(calls[calls.size() - 2], "release") << id;
      EXPECT_EQ(calls.back(), "destroyed") << id;
      EXPECT_EQ(journal().count(id, "destroyed"), 1) << id;
    }
  }
};

TEST_F(TargetOwnershipTest, AssignmentSharesTheImplementation) {
  auto a = openTarget("disk0");
  QXScsiTarget b;
  b = *a;
  EXPECT_EQ(b.getScsiTargetImpl(), a->getScsiTargetImpl());
  EXPECT_EQ(a->getReferenceCount(), 2);
  EXPECT_TRUE(b.valid());
  a.reset();
  EXPECT_EQ(b.getReferenceCount(), 1);
  EXPECT_TRUE(journal().alive(1));
  EXPECT_EQ(journal().count(1, "release"), 0);
  b = QXScsiTarget();
  expectEachReleasedOnceThenDeleted();
}

TEST_F(TargetOwnershipTest, CopyConstructionSharesTheImplementation) {
  auto a = openTarget("disk0");
  {
    QXScsiTarget copy(*a);
    EXPECT_EQ(copy.getScsiTargetImpl(), a->getScsiTargetImpl());
    EXPECT_EQ(a->getReferenceCount(), 2);
  }
  EXPECT_EQ(a->getReferenceCount(), 1);
  a.reset();
  expectEachReleasedOnceThenDeleted();
}

TEST_F(TargetOwnershipTest, AssigningOverTheLastShareReleasesAndDeletesIt) {
  auto a = openTarget("disk0");
  auto b = openTarget("disk1");
  *b = *a;
  EXPECT_EQ(journal().callsOf(2).back(), "destroyed");
  EXPECT_EQ(journal().count(2, "release"), 1);
  EXPECT_TRUE(journal().alive(1));
  EXPECT_EQ(b->getReferenceCount(), 2);
  a.reset();
  b.reset();
  expectEachReleasedOnceThenDeleted();
  EXPECT_EQ(journal().created, 2);
}

TEST_F(TargetOwnershipTest, SelfAssignmentChangesNothing) {
  auto a = openTarget("disk0");
  QXScsiTarget& alias = *a;
  *a = alias;
  EXPECT_EQ(a->getReferenceCount(), 1);
  EXPECT_TRUE(a->valid());
  EXPECT_EQ(journal().count(1, "release"), 0);
  a.reset();
  expectEachReleasedOnceThenDeleted();
}

TEST_F(TargetOwnershipTest, SharingTargetsDestroyedInEitherOrder) {
  for (bool originalFirst : {true, false}) {
    auto original = openTarget("disk0");
    auto copy = std::make_unique<QXScsiTarget>();
    *copy = *original;
    const int id = journal().created;
    (originalFirst ? original : copy).reset();
    EXPECT_TRUE(journal().alive(id));
    (originalFirst ? copy : original).reset();
    EXPECT_FALSE(journal().alive(id));
  }
  expectEachReleasedOnceThenDeleted();
}

TEST_F(TargetOwnershipTest, CopiesMadeBeforeTheImplementationGetTheirOwn) {
  QXScsiTarget a;
  QXScsiTarget b;
  b = a;
  EXPECT_NE(a.getScsiTargetImpl(), nullptr);
  EXPECT_NE(b.getScsiTargetImpl(), nullptr);
  EXPECT_NE(a.getScsiTargetImpl(), b.getScsiTargetImpl());
  EXPECT_EQ(a.getReferenceCount(), 1);
  EXPECT_EQ(b.getReferenceCount(), 1);
}

TEST_F(TargetOwnershipTest, AssignmentFromClosedTargetCopiesItsState) {
  auto a = openTarget("disk0");
  QXScsiTarget idle;
  idle.override(3, true);
  *a = idle;
  EXPECT_FALSE(a->valid());
  EXPECT_TRUE(a->override(3));
  EXPECT_FALSE(journal().alive(1));
}

TEST_F(TargetOwnershipTest, RefusedProductIsDeletedWithoutReleaseAndAskedForAgain) {
  script().hintAccepted = false;
  QXScsiTarget t;
  EXPECT_EQ(t.getScsiTargetImpl(), nullptr);
  EXPECT_EQ(journal().callsOf(1), (Calls{"hintFrom:", "destroyed"}));
  script().hintAccepted = true;
  EXPECT_NE(t.getScsiTargetImpl(), nullptr);
  EXPECT_EQ(journal().created, 2);
  EXPECT_EQ(scope->source.requests, 2);
}

TEST_F(TargetOwnershipTest, ClosedAndReopenedTargetsStillReleaseOnceAtTheEnd) {
  auto a = openTarget("disk0");
  a->close(false);
  bool wasOpen = false;
  a->open(wasOpen, nullptr);
  const int releasesBefore = journal().count(1, "release");
  a.reset();
  EXPECT_EQ(journal().count(1, "release"), releasesBefore + 1);
  expectEachReleasedOnceThenDeleted();
}

}  // namespace
