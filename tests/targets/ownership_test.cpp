// Holders, counted pointers and references: every implementation released once, then deleted once.
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "alloc_failure.h"
#include "qxscsi/ownership.h"
#include "support/fake_impl.h"

namespace {

using qxscsi::test::FakeImpl;
using qxscsi::test::FakeJournal;
using qxscsi::test::FakeScript;
using Pointer = SafeReferencedAutoPtr_T<QXScsiTargetImplItem, unsigned short>;
using Calls = std::vector<std::string>;

class OwnershipTest : public ::testing::Test {
 protected:
  std::unique_ptr<QXScsiTargetImpl> newFake() { return std::make_unique<FakeImpl>(journal, FakeScript()); }
  QXScsiTargetImplReference fullReference() { return QXScsiTargetImplReference(newFake()); }
  std::shared_ptr<FakeJournal> journal = std::make_shared<FakeJournal>();
};

TEST_F(OwnershipTest, DefaultReferenceOwnsAFreshEmptyHolder) {
  QXScsiTargetImplReference ref;
  EXPECT_EQ(ref->getReferenceCount(), 1);
  EXPECT_EQ(ref.scsiTargetImpl(), nullptr);
  QXScsiTargetImplReference other;
  EXPECT_NE(&*ref, &*other);
}

TEST_F(OwnershipTest, ReferenceFromEmptySolePointerHoldsEmptyHolder) {
  QXScsiTargetImplReference ref{std::unique_ptr<QXScsiTargetImpl>()};
  EXPECT_EQ(ref->getReferenceCount(), 1);
  EXPECT_EQ(ref.scsiTargetImpl(), nullptr);
}

TEST_F(OwnershipTest, CopySharesTheHolderAndTheLastOneReleasesThenDeletes) {
  auto ref = std::make_unique<QXScsiTargetImplReference>(newFake());
  QXScsiTargetImpl* impl = ref->scsiTargetImpl();
  {
    QXScsiTargetImplReference copy(*ref);
    EXPECT_EQ(copy.scsiTargetImpl(), impl);
    EXPECT_EQ(copy->getReferenceCount(), 2);
  }
  EXPECT_EQ((*ref)->getReferenceCount(), 1);
  EXPECT_TRUE(journal->alive(1));
  EXPECT_EQ(journal->callsOf(1), Calls{});
  ref.reset();
  EXPECT_EQ(journal->callsOf(1), (Calls{"release", "destroyed"}));
}

TEST_F(OwnershipTest, SelfAssignmentKeepsCountAndImplementation) {
  QXScsiTargetImplReference ref = fullReference();
  QXScsiTargetImplReference& alias = ref;
  QXScsiTargetImpl* impl = ref.scsiTargetImpl();
  ref = alias;
  EXPECT_EQ(ref->getReferenceCount(), 1);
  EXPECT_EQ(ref.scsiTargetImpl(), impl);
  EXPECT_EQ(journal->callsOf(1), Calls{});
}

TEST_F(OwnershipTest, AssignmentBetweenReferencesOfOneHolderKeepsTheCount) {
  QXScsiTargetImplReference a = fullReference();
  QXScsiTargetImplReference b(a);
  a = b;
  b = a;
  EXPECT_EQ(a->getReferenceCount(), 2);
  EXPECT_EQ(journal->callsOf(1), Calls{});
}

TEST_F(OwnershipTest, AssigningAwayTheOnlyReferenceReleasesAndDeletesTheOldImplementation) {
  QXScsiTargetImplReference a = fullReference();
  QXScsiTargetImplReference b = fullReference();
  a = b;
  EXPECT_EQ(journal->callsOf(1), (Calls{"release", "destroyed"}));
  EXPECT_EQ(a.scsiTargetImpl(), b.scsiTargetImpl());
  EXPECT_EQ(a->getReferenceCount(), 2);
  EXPECT_TRUE(journal->alive(2));
}

TEST_F(OwnershipTest, ReferencesDestroyedInEitherOrderDeleteOnce) {
  for (bool firstGoesFirst : {true, false}) {
    auto first = std::make_unique<QXScsiTargetImplReference>(newFake());
    auto second = std::make_unique<QXScsiTargetImplReference>(*first);
    const int id = journal->created;
    (firstGoesFirst ? first : second).reset();
    EXPECT_TRUE(journal->alive(id));
    (firstGoesFirst ? second : first).reset();
    EXPECT_EQ(journal->callsOf(id), (Calls{"release", "destroyed"}));
  }
  EXPECT_EQ(journal->created, 2);
  EXPECT_EQ(journal->destroyed, 2);
}

TEST_F(OwnershipTest, HolderWithoutImplementationDeletesNothing) {
  auto item = std::make_unique<QXScsiTargetImplItem>();
  EXPECT_EQ(item->scsiTargetImpl(), nullptr);
  item->init();
  item.reset();
  EXPECT_TRUE(journal->calls.empty());
}

TEST_F(OwnershipTest, PointerToNothingThrowsTheDocumentedText) {
  Pointer empty{std::unique_ptr<QXScsiTargetImplItem>()};
  EXPECT_EQ(empty.operator->(), nullptr);
  try {
    (void)*empty;
    FAIL() << "no exception";
  } catch (const char* text) {
    EXPECT_STREQ(text, "ReferencedAutoPtr: attempt to dereference NULL pointer");
  }
  EXPECT_THROW(Pointer copy(empty), const char*);
  Pointer full;
  EXPECT_THROW(full = empty, const char*);
  EXPECT_EQ(full->getReferenceCount(), 1);  // a failed assignment keeps the old item
}

TEST_F(OwnershipTest, SettingNullDropsTheItem) {
  auto ref = std::make_unique<QXScsiTargetImplReference>(newFake());
  ref->setReferencedItem(static_cast<QXScsiTargetImplItem*>(nullptr));
  EXPECT_EQ(journal->callsOf(1), (Calls{"release", "destroyed"}));
  EXPECT_EQ(ref->operator->(), nullptr);
  ref.reset();  // destroying a pointer to nothing is harmless
  EXPECT_EQ(journal->destroyed, 1);
}

TEST_F(OwnershipTest, HolderThatForbidsAutoDestructionOutlivesItsLastReference) {
  auto* item = new QXScsiTargetImplItem(newFake());
  item->enableAutoDestruction(false);
  {
    Pointer p;
    p = *item;
    EXPECT_EQ(item->getReferenceCount(), 1);
  }
  EXPECT_EQ(item->getReferenceCount(), 0);
  EXPECT_TRUE(journal->alive(1));
  delete item;
  EXPECT_EQ(journal->callsOf(1), (Calls{"release", "destroyed"}));
}

TEST_F(OwnershipTest, FailedHolderAllocationDeletesTheImplementationWithoutRelease) {
  qxscsi::test::failNextAllocationOf(sizeof(QXScsiTargetImplItem));
  EXPECT_THROW(QXScsiTargetImplReference ref(newFake()), std::bad_alloc);
  EXPECT_FALSE(qxscsi::test::cancelAllocationFailure());
  EXPECT_EQ(journal->callsOf(1), Calls{"destroyed"});
}

}  // namespace
