// Page iterators: marks, positions, comparison, list ownership, post-increment and output steps.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "fake_pages.h"
#include "qxscsi/designation.h"
#include "qxscsi/iterators.h"

namespace {

using pagetest::Answers;
using pagetest::BaseList;
using pagetest::FakeList;
using pagetest::TinyPage;
using QXScsiPageIterators::begin;
using QXScsiPageIterators::begin_output_iterator;
using QXScsiPageIterators::end;
using QXScsiPageIterators::end_output_iterator;
using QXScsiPageIterators::input_iterator;
using QXScsiPageIterators::output_iterator;

class IteratorsTest : public ::testing::Test {
 protected:
  // Three tiny descriptors: bodies of 3, 1 and 2 bytes at offsets 0, 5 and 8.
  static std::vector<unsigned char> threeDescriptors() {
    std::vector<unsigned char> b;
    for (unsigned char length : {3, 1, 2}) {
      b.push_back(1);
      b.push_back(length);
      b.insert(b.end(), length, 0x5A);
    }
    return b;
  }
  std::unique_ptr<QXScsiListOfIterativePages> owned() const {
    return std::unique_ptr<QXScsiListOfIterativePages>(list.duplicate());
  }
  const unsigned char* at(size_t offset) const { return bytes.data() + offset; }

  std::vector<unsigned char> bytes = threeDescriptors();
  FakeList<TinyPage> list{bytes.data(), 12, 12};
};

TEST_F(IteratorsTest, BeginToEndVisitsEachDescriptorWhole) {
  std::vector<std::pair<const unsigned char*, unsigned long>> seen;
  for (input_iterator it = begin(list), e = end(list); it != e; ++it) {
    seen.emplace_back((*it).pageBeginning(), (*it).pageSize());
  }
  EXPECT_EQ(seen, (std::vector<std::pair<const unsigned char*, unsigned long>>{
                      {at(0), 5}, {at(5), 3}, {at(8), 4}}));
}

TEST_F(IteratorsTest, ListsWithoutDescriptorsBeginAtTheirEnd) {
  bytes[0] = 0xFF;  // the format's "no descriptors" mark
  input_iterator none = begin(list);
  EXPECT_TRUE(none.last());
  EXPECT_FALSE(none.first());
  EXPECT_TRUE(none == end(list));
  FakeList<TinyPage> empty(nullptr, 0, 0);
  EXPECT_TRUE(begin(empty) == end(empty));
  EXPECT_TRUE(begin(empty).last());
}

TEST_F(IteratorsTest, PositionZeroStandsBeforeTheFirstDescriptor) {
  input_iterator it(owned(), 0);
  EXPECT_TRUE(it.first());
  EXPECT_FALSE(it.last());
  EXPECT_TRUE(it == begin(list));  // both marked first
  EXPECT_TRUE(it == end(list));    // both cursors at null
  ++it;
  EXPECT_FALSE(it.first());
  EXPECT_EQ((*it).pageBeginning(), at(0));
  EXPECT_TRUE(it != end(list));
}

TEST_F(IteratorsTest, PositionsCountStepsOfTheWalk) {
  input_iterator second(owned(), 2);
  EXPECT_FALSE(second.first());
  EXPECT_FALSE(second.last());
  EXPECT_EQ((*second).pageBeginning(), at(5));
  input_iterator beyond(owned(), 5);
  EXPECT_TRUE(beyond.last());
  EXPECT_EQ((*beyond).pageBeginning(), at(8));
  input_iterator past(owned(), -1);
  EXPECT_TRUE(past.last());
  EXPECT_EQ((*past).pageBeginning(), at(8));
  input_iterator fromEmpty(std::unique_ptr<QXScsiListOfIterativePages>(list.copy(nullptr, 0, 0)), 0);
  EXPECT_TRUE(fromEmpty.last());
  EXPECT_FALSE(fromEmpty.first());
}

TEST_F(IteratorsTest, IteratorsOverDifferentDuplicatesCompareByAddress) {
  input_iterator a = begin(list);
  input_iterator b(owned(), 2);
  EXPECT_TRUE(a != b);
  ++a;
  EXPECT_TRUE(a == b);
}

TEST_F(IteratorsTest, SingleDescriptorFillingTheListEndsAfterOneStep) {
  FakeList<TinyPage> one(bytes.data(), 5, 5);
  input_iterator it = begin(one);
  EXPECT_TRUE(it.first());
  ++it;
  EXPECT_FALSE(it.first());
  EXPECT_TRUE(it.last());
  ++it;
  EXPECT_TRUE(it.last());
  EXPECT_TRUE(it == end(one));
}

TEST_F(IteratorsTest, IteratorsOutliveTheCallersList) {
  auto caller = std::make_unique<FakeList<TinyPage>>(bytes.data(), 12, 12);
  input_iterator it = begin(*caller), e = end(*caller);
  caller.reset();
  int count = 0;
  for (; it != e; ++it) ++count;
  EXPECT_EQ(count, 3);
}

TEST_F(IteratorsTest, CopyTakesTheListOverAndTheSourceStopsSafely) {
  input_iterator source = begin(list);
  input_iterator copy(source);
  EXPECT_TRUE(copy == source);
  ++copy;
  EXPECT_EQ((*copy).pageBeginning(), at(5));
  ++source;  // has no list left: it ends instead of stepping someone else's list
  EXPECT_TRUE(source.last());
  EXPECT_EQ((*copy).pageBeginning(), at(5));
  input_iterator assigned = end(list);
  assigned = copy;
  ++assigned;
  EXPECT_EQ((*assigned).pageBeginning(), at(8));
}

TEST_F(IteratorsTest, PostIncrementAnswersAnIndependentIteratorWhereThisStood) {
  input_iterator it = begin(list);
  input_iterator before = it++;
  EXPECT_EQ((*before).pageBeginning(), at(0));
  EXPECT_TRUE(before.first());
  EXPECT_EQ((*it).pageBeginning(), at(5));
  EXPECT_FALSE(it.first());
  // Each walks its own list on.
  ++before;
  ++before;
  EXPECT_EQ((*before).pageBeginning(), at(8));
  EXPECT_EQ((*it).pageBeginning(), at(5));
  std::vector<const unsigned char*> rest;
  for (input_iterator e = end(list); it != e;) rest.push_back((*it++).pageBeginning());
  EXPECT_EQ(rest, (std::vector<const unsigned char*>{at(5), at(8)}));
}

TEST_F(IteratorsTest, PostIncrementOfAnEndOrHandedOverIteratorIsAtTheEnd) {
  input_iterator done = end(list);
  input_iterator after = done++;
  EXPECT_TRUE(after.last());
  input_iterator source = begin(list);
  input_iterator taker(source);
  input_iterator fromSource = source++;
  EXPECT_TRUE(fromSource.last());
  EXPECT_TRUE(source.last());
}

TEST_F(IteratorsTest, CreatedPagesAndOwnedListsAreReleased) {
  int live = 0;
  {
    FakeList<TinyPage> counting(bytes.data(), 12, 12, Answers::created, &live);
    int count = 0;
    for (input_iterator it = begin(counting), e = end(counting); it != e; it++) ++count;
    EXPECT_EQ(count, 3);
  }
  EXPECT_EQ(live, 0);  // list leaks and page leaks show up under the sanitizer build too
}

TEST_F(IteratorsTest, IteratorWithoutAListIsAtTheEnd) {
  input_iterator none{std::unique_ptr<QXScsiListOfIterativePages>()};
  EXPECT_TRUE(none.last());
  EXPECT_FALSE((*none).isValid());
  ++none;
  EXPECT_TRUE(none.last());
  EXPECT_TRUE(none == end(list));
  output_iterator out(std::unique_ptr<QXScsiListOfIterativePages>(), 3);
  EXPECT_TRUE(out.last());
  ++out;
  EXPECT_TRUE(out.last());
}

TEST_F(IteratorsTest, OutputIteratorOfBaseClassesStaysPut) {
  BaseList base(bytes.data(), 12, 12);
  output_iterator out = begin_output_iterator(base);
  EXPECT_TRUE(out.first());
  EXPECT_EQ((*out).pageBeginning(), at(0));
  ++out;
  EXPECT_FALSE(out.first());
  EXPECT_FALSE(out.last());
  EXPECT_EQ((*out).pageBeginning(), at(0));
  EXPECT_TRUE(end_output_iterator(base).last());
  output_iterator before(std::unique_ptr<QXScsiListOfIterativePages>(base.duplicate()), 0);
  ++before;  // before the first descriptor there is nothing to skip
  EXPECT_FALSE(before.first());
  EXPECT_FALSE((*before).isValid());
}

}  // namespace
