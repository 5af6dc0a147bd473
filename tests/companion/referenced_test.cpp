// QXReferencedItem: the answers counting smart pointers rely on to delete an item once.
#include <gtest/gtest.h>

#include <cstdint>
#include <type_traits>

#include "qxpattern/referenced.h"

namespace {

static_assert(
    std::is_same<decltype(std::declval<QXReferencedItem>().getReferenceCount()), std::int32_t>::value,
    "the reference count is a 32-bit int");

int deletions = 0;

// Drops a reference the way the library's counting pointer does: delete only when the
// item is unreferenced, not already under destruction, and auto-destructible.
void drop(QXReferencedItem* item) {
  item->setDereferenced();
  if (!item->isReferenced() && !item->isDestructorInvoked() && item->isAutoDestructionEnabled()) delete item;
}

class Item : public QXReferencedItem {
 public:
  ~Item() override { ++deletions; }
};

// Holds a reference to itself (a cycle) and drops it while being destroyed.
class SelfHolder : public QXReferencedItem {
 public:
  SelfHolder() { setReferenced(); }
  ~SelfHolder() override {
    setDestructorInvoked();
    sawDestruction = isDestructorInvoked();
    drop(this);  // must not delete again
    ++deletions;
  }
  static bool sawDestruction;
};
bool SelfHolder::sawDestruction = false;

class QXReferencedItemTest : public ::testing::Test {
 protected:
  void SetUp() override { deletions = 0; }
};

TEST_F(QXReferencedItemTest, NewItemHoldsNoReferenceAndMayBeDestroyedAutomatically) {
  Item item;
  EXPECT_EQ(item.getReferenceCount(), 0);
  EXPECT_FALSE(item.isReferenced());
  EXPECT_FALSE(item.isDestructorInvoked());
  EXPECT_TRUE(item.isAutoDestructionEnabled());
}

TEST_F(QXReferencedItemTest, IsReferencedIsFalseExactlyWhenTheCountIsZero) {
  Item item;
  for (int i = 1; i <= 3; ++i) {
    item.setReferenced();
    EXPECT_EQ(item.getReferenceCount(), i);
    EXPECT_TRUE(item.isReferenced());
  }
  item.setDereferenced();
  item.setDereferenced();
  EXPECT_EQ(item.getReferenceCount(), 1);
  EXPECT_TRUE(item.isReferenced());
  item.setDereferenced();
  EXPECT_EQ(item.getReferenceCount(), 0);
  EXPECT_FALSE(item.isReferenced());
}

TEST_F(QXReferencedItemTest, DereferencingAnUnreferencedItemNeverGoesNegative) {
  Item item;
  item.setDereferenced();
  EXPECT_EQ(item.getReferenceCount(), 0);
  EXPECT_FALSE(item.isReferenced());
  item.setReferenced();
  EXPECT_EQ(item.getReferenceCount(), 1) << "a stray release must not eat the next reference";
}

TEST_F(QXReferencedItemTest, CopiesStartUnreferencedAndAssignmentKeepsTheOwnCount) {
  Item original;
  original.setReferenced();
  original.setReferenced();
  Item copy(original);
  EXPECT_EQ(copy.getReferenceCount(), 0);

  Item target;
  target.setReferenced();
  target.enableAutoDestruction(false);
  target = original;
  EXPECT_EQ(target.getReferenceCount(), 1);
  EXPECT_FALSE(target.isAutoDestructionEnabled());
  EXPECT_EQ(original.getReferenceCount(), 2);
}

TEST_F(QXReferencedItemTest, LastDropDeletesOnceAndOnlyWhenAutoDestructible) {
  auto* item = new Item;
  item->setReferenced();
  item->setReferenced();
  drop(item);
  EXPECT_EQ(deletions, 0);
  drop(item);
  EXPECT_EQ(deletions, 1);

  auto* kept = new Item;
  kept->enableAutoDestruction(false);
  kept->setReferenced();
  drop(kept);
  EXPECT_EQ(deletions, 1) << "an item not auto-destructible survives its last reference";
  EXPECT_FALSE(kept->isReferenced());
  delete kept;
}

TEST_F(QXReferencedItemTest, ItemUnderDestructionIsNotDeletedAgainBySelfReferences) {
  auto* item = new SelfHolder;
  item->setReferenced();
  drop(item);  // the self-reference keeps it alive
  EXPECT_EQ(deletions, 0);
  delete item;
  EXPECT_TRUE(SelfHolder::sawDestruction);
  EXPECT_EQ(deletions, 1);
}

}  // namespace
