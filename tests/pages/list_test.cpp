// The walk of a list of iterative pages: start, steps, end bounds, page release and trace text.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "fake_pages.h"
#include "qxscsi/pages.h"

namespace {

using pagetest::Answers;
using pagetest::BaseList;
using pagetest::FakeList;
using pagetest::TinyPage;
using pagetest::WidePage;

class ListTest : public ::testing::Test {
 protected:
  ~ListTest() override { os.freeze(false); }
  std::string text() { return std::string(os.str(), static_cast<size_t>(os.pcount())); }

  // Appends one tiny descriptor: tag, body length, body bytes.
  void add(unsigned char length, unsigned char tag = 1) {
    buffer.push_back(tag);
    buffer.push_back(length);
    buffer.insert(buffer.end(), length, 0xA5);
  }
  // Walks with a fresh tiny cursor and answers (offset, size, limit) of every page given out.
  template <class List>
  std::vector<std::vector<unsigned long>> walk(const List& list, TinyPage& page) {
    std::vector<std::vector<unsigned long>> seen;
    for (int guard = 0; guard < 100000 && list.next(page) != nullptr; ++guard) {
      seen.push_back({static_cast<unsigned long>(page.pageBeginning() - list.listBeginning()),
                      page.pageSize(), page.limit()});
    }
    return seen;
  }

  std::vector<unsigned char> buffer;
  std::ostrstream os;
};

using Pages = std::vector<std::vector<unsigned long>>;

TEST_F(ListTest, BaseClassesYieldOneEmptyPage) {
  buffer.assign(16, 0);
  BaseList list(buffer.data(), 16, 16);
  QXScsiIterativePage page(16);
  ASSERT_EQ(list.next(page), &page);
  EXPECT_EQ(page.pageBeginning(), buffer.data());
  EXPECT_EQ(page.pageSize(), 0u);
  EXPECT_EQ(page.limit(), 16u);
  EXPECT_EQ(list.next(page), nullptr);
  EXPECT_EQ(page.pageBeginning(), buffer.data());
}

TEST_F(ListTest, WalkGivesWholeDescriptorsWithTheRoomLeft) {
  add(3);
  add(1);
  add(2);
  FakeList<TinyPage> list(buffer.data(), 12, 20);
  TinyPage page(20);
  EXPECT_EQ(walk(list, page), (Pages{{0, 5, 20}, {5, 3, 15}, {8, 4, 12}}));
  EXPECT_EQ(page.pageBeginning(), buffer.data() + 8);  // the end leaves the page on the last one
}

TEST_F(ListTest, StartIgnoresBoundsOfZero) {
  add(3);
  add(3);
  TinyPage page;
  EXPECT_EQ(walk(FakeList<TinyPage>(buffer.data(), 0, 10), page), (Pages{{0, 5, 10}}));
  TinyPage other;
  EXPECT_EQ(walk(FakeList<TinyPage>(buffer.data(), 10, 0), other), (Pages{{0, 5, 0}}));
}

TEST_F(ListTest, SmallerLimitIsTheEndBound) {
  for (int i = 0; i < 10; ++i) add(8);
  TinyPage page;
  const Pages seen = walk(FakeList<TinyPage>(buffer.data(), 100, 40), page);
  ASSERT_EQ(seen.size(), 4u);  // the descriptor at 30 reaches byte 39
  EXPECT_EQ(seen.back(), (std::vector<unsigned long>{30, 10, 10}));
}

TEST_F(ListTest, EndBoundKeepsTheLowSixteenBits) {
  const unsigned long size = 65536 + 100;
  while (buffer.size() < size) add(8);
  TinyPage page;
  const Pages seen = walk(FakeList<TinyPage>(buffer.data(), size, size), page);
  ASSERT_EQ(seen.size(), 10u);  // the descriptor at 90 reaches byte 99
  EXPECT_EQ(seen.back(), (std::vector<unsigned long>{90, 10, size - 90}));
}

TEST_F(ListTest, DescriptorRunningPastTheEndIsGivenOutWithItsRoom) {
  add(3);
  add(20);
  TinyPage page;
  EXPECT_EQ(walk(FakeList<TinyPage>(buffer.data(), 12, 12), page), (Pages{{0, 5, 12}, {5, 22, 7}}));
}

TEST_F(ListTest, ZeroLengthDescriptorEndsTheWalkAndHoldsThePage) {
  add(3);
  add(0);
  add(3);
  FakeList<TinyPage> list(buffer.data(), buffer.size(), buffer.size());
  TinyPage page;
  ASSERT_EQ(list.next(page), &page);
  EXPECT_EQ(list.next(page), nullptr);
  EXPECT_EQ(page.pageBeginning(), buffer.data() + 5);
  EXPECT_EQ(page.pageSize(), 2u);
}

TEST_F(ListTest, RefusedOrUninterpretableStartLeavesThePage) {
  add(3, 0xFF);
  TinyPage page(9);
  EXPECT_EQ(FakeList<TinyPage>(buffer.data(), 5, 5).next(page), nullptr);
  EXPECT_FALSE(page.isValid());
  EXPECT_EQ(page.limit(), 9u);

  buffer[0] = 1;
  EXPECT_EQ(FakeList<TinyPage>(buffer.data(), 5, 5, Answers::none).next(page), nullptr);
  EXPECT_FALSE(page.isValid());
  page.offsetPageBeginning(buffer.data(), 5, 5);
  EXPECT_EQ(FakeList<TinyPage>(buffer.data(), 5, 5, Answers::none).next(page), nullptr);
  EXPECT_EQ(page.pageBeginning(), buffer.data());
}

TEST_F(ListTest, LengthWrappingToZeroEndsTheWalk) {
  // Body length 65532 plus the 4-byte header is 0 in 16 bits: the walk would stand still.
  buffer = {0, 0, 0xFF, 0xFC, 0, 0, 0, 0};
  FakeList<WidePage> list(buffer.data(), buffer.size(), buffer.size());
  WidePage page;
  ASSERT_EQ(list.next(page), &page);
  EXPECT_EQ(list.next(page), nullptr);
  EXPECT_EQ(page.pageBeginning(), buffer.data());
}

TEST_F(ListTest, CreatedPagesAreDeletedWhateverTheOutcome) {
  add(3);
  add(1);
  add(0);
  int live = 0;
  FakeList<TinyPage> list(buffer.data(), buffer.size(), buffer.size(), Answers::created, &live);
  TinyPage page;
  while (list.next(page) != nullptr) EXPECT_EQ(live, 0);
  EXPECT_EQ(live, 0);
  list.traceTo(os, 0, nullptr, false);
  EXPECT_EQ(live, 0);
  EXPECT_GT(list.calls, 6);
}

TEST_F(ListTest, TraceOfAnEmptyListIsItsTitle) {
  BaseList().traceTo(os, 1, nullptr, true);
  EXPECT_EQ(text(), std::string("    LIST OF BUFFER PAGES\n") + '\0');
}

TEST_F(ListTest, TraceWritesEveryPageOneLevelDeeper) {
  add(3);
  add(1);
  FakeList<TinyPage>(buffer.data(), 8, 8).traceTo(os, 0, nullptr, true);
  EXPECT_EQ(text(), std::string("LIST OF BUFFER PAGES\n"
                                "buffer length: 8\n"
                                "    BUFFER PAGE\n"
                                "    page length: 3\n"
                                "    actual page length: 5\n"
                                "    *** END ***\n"
                                "    BUFFER PAGE\n"
                                "    page length: 1\n"
                                "    actual page length: 3\n"
                                "    *** END ***\n") +
                        '\0');
}

TEST_F(ListTest, TraceShowsAPageTheListCannotInterpret) {
  add(3);
  FakeList<TinyPage> list(buffer.data(), 5, 5);
  list.nullAtCall = 2;  // the start succeeds, the page to trace is refused
  list.traceTo(os, 0, "L", false);
  EXPECT_EQ(text(),
            "L\nbuffer length: 5\n    BUFFER PAGE\n    page length: 0\n    actual page length: 0\n"
            "    *** END ***\n");
}

}  // namespace
