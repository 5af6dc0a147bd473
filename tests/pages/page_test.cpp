// Buffer pages and iterative pages: validity, copies, lengths, end test, equality and trace text.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "qxscsi/pages.h"

namespace {

// A page whose length field must never be read (it fails the test when asked).
class NeverAskedPage : public QXScsiIterativePage {
 public:
  using QXScsiIterativePage::QXScsiIterativePage;
  unsigned short pageLength() const override {
    ADD_FAILURE() << "pageLength asked";
    return 1;
  }
};

// A page with fixed lengths, to see which answers the trace and the base operations use.
class FixedPage : public QXScsiIterativePage {
 public:
  FixedPage(const unsigned char* b, unsigned short length, unsigned short header)
      : QXScsiIterativePage(b, 0, 0), length_(length), header_(header) {}
  unsigned short pageLength() const override { return length_; }
  unsigned short minPageLength() const override { return header_; }

 private:
  unsigned short length_;
  unsigned short header_;
};

// Position of a virtual operation in its class's table (Itanium C++ ABI: a pointer to a virtual
// member holds 1 + its byte offset in the table; a destructor takes two entries).
template <class Member>
std::ptrdiff_t slot(Member member) {
  std::ptrdiff_t raw[2];
  static_assert(sizeof(member) == sizeof(raw), "Itanium member pointer");
  std::memcpy(raw, &member, sizeof(raw));
  return (raw[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

class PageTest : public ::testing::Test {
 protected:
  ~PageTest() override { os.freeze(false); }
  std::string text() { return std::string(os.str(), static_cast<size_t>(os.pcount())); }

  std::ostrstream os;
  unsigned char bytes[32] = {};
};

TEST_F(PageTest, VirtualOperationsKeepTheirSlots) {
  EXPECT_EQ(slot(&QXScsiBufferPage::traceTo), 2);  // behind the destructor
  EXPECT_EQ(slot(&QXScsiIterativePage::traceTo), 2);
  EXPECT_EQ(slot(&QXScsiIterativePage::checkNoPages), 3);
  EXPECT_EQ(slot(&QXScsiIterativePage::minPageLength), 4);
  EXPECT_EQ(slot(&QXScsiIterativePage::checkTerminate), 5);
  EXPECT_EQ(slot(&QXScsiIterativePage::nextPageLength), 6);
  EXPECT_EQ(slot(&QXScsiIterativePage::actualPageLength), 7);
  EXPECT_EQ(slot(&QXScsiIterativePage::nextPageBeginning), 8);
  EXPECT_EQ(slot(&QXScsiIterativePage::lastPage), 9);
  EXPECT_EQ(slot(&QXScsiIterativePage::pageLength), 10);
  EXPECT_EQ(slot(&QXScsiListOfIterativePages::actualPagePtr), 0);
  EXPECT_EQ(slot(&QXScsiListOfIterativePages::duplicate), 3);  // behind the destructor
  EXPECT_EQ(slot(&QXScsiListOfIterativePages::copy), 4);
  EXPECT_EQ(slot(&QXScsiListOfIterativePages::actualPage), 5);
  EXPECT_EQ(slot(&QXScsiListOfIterativePages::traceTo), 6);
}

TEST_F(PageTest, DefaultBufferPageIsInvalidAndTracesZeros) {
  QXScsiBufferPage page;
  EXPECT_FALSE(page.isValid());
  EXPECT_EQ(page.pageBeginning(), nullptr);
  EXPECT_EQ(page.pageSize(), 0u);
  EXPECT_EQ(page.limit(), 0u);
  page.traceTo(os, 0, nullptr, false);
  EXPECT_EQ(text(), "BUFFER PAGE:\nbuffer length: 0\nbuffer limit: 0\n");
}

TEST_F(PageTest, NullBeginningStaysInvalidWhateverItsSize) {
  QXScsiBufferPage page(bytes, 4, 4);
  page.setBufferPage(nullptr, 10, 10);
  EXPECT_FALSE(page.isValid());
  EXPECT_EQ(page.pageSize(), 10u);
  page.setBufferPage(bytes, 0, 0);
  EXPECT_TRUE(page.isValid());
}

TEST_F(PageTest, CopiesAreIndependentViewsOfTheSameBytes) {
  QXScsiBufferPage a(bytes, 8, 32);
  QXScsiBufferPage b;
  b = a;
  QXScsiBufferPage c(a);
  a.setBufferPage(bytes + 8, 2, 24);
  for (const QXScsiBufferPage* p : {&b, &c}) {
    EXPECT_EQ(p->pageBeginning(), bytes);
    EXPECT_EQ(p->pageSize(), 8u);
    EXPECT_EQ(p->limit(), 32u);
  }
  EXPECT_EQ(a.pageBeginning(), bytes + 8);
}

TEST_F(PageTest, BufferPageTraceIndentsTitlesAndTerminates) {
  QXScsiBufferPage page(bytes, 16, 32);
  page.traceTo(os, 1, nullptr, false);
  page.traceTo(os, 0, "MINE", true);
  EXPECT_EQ(text(), std::string("    BUFFER PAGE:\n    buffer length: 16\n    buffer limit: 32\n"
                                "MINE\nbuffer length: 16\nbuffer limit: 32\n") +
                        '\0');
}

TEST_F(PageTest, BufferPageTraceKeepsTheStreamsNumberBase) {
  QXScsiBufferPage page(bytes, 255, 16);
  os << std::hex;
  page.traceTo(os, 0, "", false);
  EXPECT_EQ(text(), "\nbuffer length: ff\nbuffer limit: 10\n");
}

TEST_F(PageTest, BaseIterativePageMeasuresNothing) {
  QXScsiIterativePage page(bytes, 5, 32);
  EXPECT_EQ(page.pageLength(), 0);
  EXPECT_EQ(page.minPageLength(), 0);
  EXPECT_EQ(page.actualPageLength(), 0);
  EXPECT_EQ(page.nextPageLength(bytes), 0);
  EXPECT_EQ(page.nextPageBeginning(), bytes);
  EXPECT_TRUE(page.lastPage());
  EXPECT_FALSE(page.checkNoPages());

  QXScsiIterativePage start(77);
  EXPECT_FALSE(start.isValid());
  EXPECT_EQ(start.pageSize(), 0u);
  EXPECT_EQ(start.limit(), 77u);
}

TEST_F(PageTest, InvalidPageIsLastWithoutReadingItsLength) {
  NeverAskedPage page(nullptr, 4, 4);
  EXPECT_TRUE(page.lastPage());
  EXPECT_EQ(page.nextPageBeginning(), nullptr);
}

TEST_F(PageTest, CheckTerminateComparesLastBytes) {
  FixedPage atTwelve(bytes + 12, 2, 2);
  EXPECT_TRUE(atTwelve.checkTerminate(bytes, 16));  // 15 against 15
  FixedPage atEight(bytes + 8, 2, 2);
  EXPECT_FALSE(atEight.checkTerminate(bytes, 16));  // 11 against 15
  FixedPage pastEnd(bytes + 20, 2, 2);
  EXPECT_TRUE(pastEnd.checkTerminate(bytes, 16));
  // A list length of 0 stands for the byte before the list: every page at or after it ends it.
  EXPECT_TRUE(atEight.checkTerminate(bytes, 0));
  EXPECT_TRUE(FixedPage(bytes, 0, 0).checkTerminate(bytes, 0));
  // An actual length of 0 stands for the byte before the page.
  EXPECT_FALSE(FixedPage(bytes + 15, 0, 0).checkTerminate(bytes, 16));
  EXPECT_TRUE(FixedPage(bytes + 16, 0, 0).checkTerminate(bytes, 16));
}

TEST_F(PageTest, ActualLengthWrapsAtSixteenBits) {
  FixedPage page(bytes, 65535, 4);
  EXPECT_EQ(page.actualPageLength(), 3);
  EXPECT_EQ(page.nextPageBeginning(), bytes + 3);
  EXPECT_FALSE(page.lastPage());
}

TEST_F(PageTest, EqualityComparesSizeThenBytes) {
  unsigned char other[32] = {};
  bytes[0] = other[0] = 7;
  EXPECT_TRUE(QXScsiIterativePage(bytes, 4, 4) == QXScsiIterativePage(other, 4, 99));
  other[3] = 1;
  EXPECT_TRUE(QXScsiIterativePage(bytes, 4, 4) != QXScsiIterativePage(other, 4, 4));
  EXPECT_TRUE(QXScsiIterativePage(bytes, 3, 4) == QXScsiIterativePage(other, 3, 4));
  // Same leading bytes, different sizes.
  EXPECT_FALSE(QXScsiIterativePage(bytes, 2, 4) == QXScsiIterativePage(bytes, 3, 4));
  // Size 0 is equal anywhere, null included.
  EXPECT_TRUE(QXScsiIterativePage(nullptr, 0, 0) == QXScsiIterativePage(bytes, 0, 5));
}

TEST_F(PageTest, AssignmentKeepsTheTargetsClass) {
  FixedPage fixed(bytes, 6, 2);
  static_cast<QXScsiIterativePage&>(fixed) = QXScsiIterativePage(bytes + 4, 3, 9);
  EXPECT_EQ(fixed.pageBeginning(), bytes + 4);
  EXPECT_EQ(fixed.limit(), 9u);
  EXPECT_EQ(fixed.actualPageLength(), 8);
}

TEST_F(PageTest, IterativePageTraceShowsTheSubclassLengths) {
  FixedPage page(bytes, 6, 2);
  page.traceTo(os, 1, nullptr, false);
  QXScsiIterativePage(bytes, 3, 4).traceTo(os, 0, "T", true);
  EXPECT_EQ(text(), std::string("    BUFFER PAGE\n    page length: 6\n    actual page length: 8\n"
                                "T\npage length: 0\nactual page length: 0\n") +
                        '\0');
}

}  // namespace
