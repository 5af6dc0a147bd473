// Designation descriptors: header fields, hostile lengths, VPD page framing, trace and output filling.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qxscsi/designation.h"
#include "qxscsi/iterators.h"

namespace {

using qxscsi::DesignationDescriptorList;
using qxscsi::DesignationDescriptorPage;
using QXScsiPageIterators::begin;
using QXScsiPageIterators::begin_output_iterator;
using QXScsiPageIterators::end;
using QXScsiPageIterators::input_iterator;
using QXScsiPageIterators::output_iterator;

// Descriptors are built in vectors of exactly the size under test, so that the sanitizer build
// reports any read past the buffer.
class DesignationTest : public ::testing::Test {
 protected:
  ~DesignationTest() override { os.freeze(false); }
  std::string text() { return std::string(os.str(), static_cast<size_t>(os.pcount())); }

  // Appends an NAA descriptor (binary, logical unit) with an 8-byte designator.
  static void addNaa(std::vector<unsigned char>& b, unsigned char last = 0) {
    const unsigned char naa[] = {0x01, 0x03, 0x00, 0x08, 0x60, 0x01, 0x40, 0x5f, 0x12, 0x34, 0x56, last};
    b.insert(b.end(), naa, naa + sizeof naa);
  }
  // (offset, size, limit) of every descriptor that begin/end iteration gives out.
  static std::vector<std::vector<unsigned long>> walk(const DesignationDescriptorList& list) {
    std::vector<std::vector<unsigned long>> seen;
    for (input_iterator it = begin(list), e = end(list); it != e; ++it) {
      const QXScsiIterativePage page = *it;
      seen.push_back({static_cast<unsigned long>(page.pageBeginning() - list.listBeginning()),
                      page.pageSize(), page.limit()});
    }
    return seen;
  }

  std::ostrstream os;
};

using Pages = std::vector<std::vector<unsigned long>>;

TEST_F(DesignationTest, HeaderFieldsDecode) {
  const unsigned char d[] = {0x61, 0x93, 0x00, 0x08, 0x50, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
  DesignationDescriptorPage page(d, sizeof d, sizeof d);
  EXPECT_EQ(page.protocolIdentifier(), 6);
  EXPECT_EQ(page.codeSet(), 1);
  EXPECT_TRUE(page.protocolIdentifierValid());
  EXPECT_EQ(page.association(), 1);
  EXPECT_EQ(page.designatorType(), 3);
  EXPECT_EQ(page.designatorLength(), 8);
  EXPECT_EQ(page.designator(), d + 4);
  EXPECT_EQ(page.availableDesignatorLength(), 8);
  EXPECT_TRUE(page.complete());
  EXPECT_EQ(page.actualPageLength(), 12);
  EXPECT_EQ(page.nextPageBeginning(), d + 12);
  EXPECT_STREQ(qxscsi::designatorTypeName(page.designatorType()), "NAA");
}

TEST_F(DesignationTest, HeaderOutsideTheLimitIsNeverRead) {
  const std::vector<unsigned char> three = {0x61, 0x93, 0x00};
  DesignationDescriptorPage page(three.data(), 12, three.size());
  EXPECT_FALSE(page.headerReadable());
  EXPECT_TRUE(page.checkNoPages());
  EXPECT_EQ(page.pageLength(), 0);
  EXPECT_TRUE(page.lastPage());
  EXPECT_EQ(page.codeSet() | page.association() | page.designatorType() | page.protocolIdentifier(), 0);
  EXPECT_EQ(page.designator(), nullptr);
  EXPECT_EQ(page.availableDesignatorLength(), 0);
  EXPECT_FALSE(page.complete());
  EXPECT_EQ(page.nextPageLength(three.data()), 0);
}

TEST_F(DesignationTest, LengthFieldRunningPastTheBufferIsCutToTheLimit) {
  const std::vector<unsigned char> six = {0x02, 0x01, 0x00, 0x08, 'A', 'B'};
  DesignationDescriptorPage page(six.data(), 12, six.size());
  EXPECT_EQ(page.designatorLength(), 8);
  EXPECT_EQ(page.availableDesignatorLength(), 2);
  EXPECT_FALSE(page.complete());
  page.traceTo(os, 0, nullptr, false);
  EXPECT_EQ(text(),
            "DESIGNATION DESCRIPTOR\npage length: 8\nactual page length: 12\ncode set: 2\n"
            "association: 0\ndesignator type: 1\ndesignator: 41 42\n");
}

TEST_F(DesignationTest, PagesCutShortCompareWithoutReadingPastTheLimit) {
  const std::vector<unsigned char> six = {0x02, 0x01, 0x00, 0x08, 'A', 'B'};
  const DesignationDescriptorPage cut(six.data(), 12, six.size());
  EXPECT_FALSE(cut == DesignationDescriptorPage(six.data(), 12, six.size()));
  std::vector<unsigned char> a, b;
  addNaa(a);
  addNaa(b);
  EXPECT_TRUE(DesignationDescriptorPage(a.data(), 12, 12) == DesignationDescriptorPage(b.data(), 12, 12));
  b[11] = 1;
  EXPECT_TRUE(DesignationDescriptorPage(a.data(), 12, 12) != DesignationDescriptorPage(b.data(), 12, 12));
}

TEST_F(DesignationTest, DescriptorRunningPastTheListIsGivenOutWithTheBytesPresent) {
  std::vector<unsigned char> b;
  addNaa(b);
  const unsigned char longOne[] = {0x02, 0x01, 0x00, 20, 'a', 'b', 'c', 'd', 'e', 'f'};
  b.insert(b.end(), longOne, longOne + sizeof longOne);
  DesignationDescriptorList list(b.data(), b.size(), b.size());
  EXPECT_EQ(walk(list), (Pages{{0, 12, 22}, {12, 24, 10}}));
  input_iterator second(std::unique_ptr<QXScsiListOfIterativePages>(list.duplicate()), 2);
  DesignationDescriptorPage page(*second);
  EXPECT_EQ(page.availableDesignatorLength(), 6);
  EXPECT_FALSE(page.complete());
}

TEST_F(DesignationTest, PartialHeaderAtTheEndIsNotGivenOut) {
  std::vector<unsigned char> b;
  addNaa(b);
  b.push_back(0x01);
  b.push_back(0x03);
  DesignationDescriptorList list(b.data(), b.size(), b.size());
  EXPECT_EQ(walk(list), (Pages{{0, 12, 14}}));
  input_iterator past(std::unique_ptr<QXScsiListOfIterativePages>(list.duplicate()), -1);
  EXPECT_EQ((*past).pageBeginning(), b.data() + 12);  // stands on the partial header, not handed out
  EXPECT_EQ((*past).limit(), 2u);
}

TEST_F(DesignationTest, ZeroLengthDescriptorsEndTheList) {
  std::vector<unsigned char> b;
  addNaa(b);
  const unsigned char empty[] = {0x01, 0x03, 0x00, 0x00};
  b.insert(b.end(), empty, empty + 4);
  addNaa(b);
  EXPECT_EQ(walk(DesignationDescriptorList(b.data(), b.size(), b.size())), (Pages{{0, 12, 28}}));
  // An empty first descriptor is still the first one; the walk stops behind it.
  EXPECT_EQ(walk(DesignationDescriptorList(b.data() + 12, 16, 16)), (Pages{{0, 4, 16}}));
}

TEST_F(DesignationTest, ListsOfSizeOrLimitZero) {
  std::vector<unsigned char> b;
  addNaa(b);
  addNaa(b);
  EXPECT_TRUE(walk(DesignationDescriptorList(b.data(), 0, 0)).empty());
  EXPECT_TRUE(walk(DesignationDescriptorList(b.data(), 24, 0)).empty());
  EXPECT_TRUE(walk(DesignationDescriptorList(b.data(), 24, 3)).empty());
  EXPECT_EQ(walk(DesignationDescriptorList(b.data(), 0, 24)), (Pages{{0, 12, 24}}));
  EXPECT_TRUE(walk(DesignationDescriptorList()).empty());
}

TEST_F(DesignationTest, ListsBeyondSixteenBitsEndAtTheLowBitsOfTheirBound) {
  std::vector<unsigned char> b;
  while (b.size() < 65536 + 120) addNaa(b);  // 65664 bytes: the end bound is 128
  const Pages seen = walk(DesignationDescriptorList(b.data(), b.size(), b.size()));
  ASSERT_EQ(seen.size(), 11u);  // the descriptor at 120 reaches byte 131
  EXPECT_EQ(seen.back(), (std::vector<unsigned long>{120, 12, b.size() - 120}));
}

TEST_F(DesignationTest, VpdPageFramesItsDescriptors) {
  std::vector<unsigned char> vpd = {0x00, 0x83, 0x00, 24};
  addNaa(vpd, 1);
  addNaa(vpd, 2);
  EXPECT_EQ(walk(DesignationDescriptorList::fromVpdPage(vpd.data(), vpd.size())),
            (Pages{{0, 12, 24}, {12, 12, 12}}));
  // Fewer bytes returned than the page announces: the second is there in part.
  const std::vector<unsigned char> cut(vpd.begin(), vpd.begin() + 20);
  const DesignationDescriptorList partial = DesignationDescriptorList::fromVpdPage(cut.data(), cut.size());
  EXPECT_EQ(partial.listSize(), 24u);
  EXPECT_EQ(walk(partial), (Pages{{0, 12, 16}, {12, 12, 4}}));
  EXPECT_TRUE(DesignationDescriptorList::fromVpdPage(vpd.data(), 3).empty());
  EXPECT_TRUE(DesignationDescriptorList::fromVpdPage(nullptr, 64).empty());
  // A page length of 0 hides whatever follows the header.
  std::vector<unsigned char> none = vpd;
  none[3] = 0;
  EXPECT_TRUE(walk(DesignationDescriptorList::fromVpdPage(none.data(), none.size())).empty());
}

TEST_F(DesignationTest, ListTraceDecodesEachDescriptorAndKeepsTheStreamFormat) {
  const std::vector<unsigned char> b = {0x02, 0x01, 0x00, 0x04, 'A', 'B', 'C', 0x0a};
  DesignationDescriptorList(b.data(), b.size(), b.size()).traceTo(os, 0, nullptr, false);
  os << 10 << std::ends;
  EXPECT_EQ(text(), std::string("LIST OF BUFFER PAGES\n"
                                "buffer length: 8\n"
                                "    DESIGNATION DESCRIPTOR\n"
                                "    page length: 4\n"
                                "    actual page length: 8\n"
                                "    code set: 2\n"
                                "    association: 0\n"
                                "    designator type: 1\n"
                                "    designator: 41 42 43 0a\n"
                                "    *** END ***\n"
                                "10") +
                        '\0');
}

TEST_F(DesignationTest, OutputIteratorStepsOverEachDescriptorWritten) {
  std::vector<unsigned char> b(20, 0);
  DesignationDescriptorList list(b.data(), b.size(), b.size());
  output_iterator out = begin_output_iterator(list);
  ASSERT_FALSE(out.last());
  std::vector<unsigned char> naa;
  addNaa(naa, 7);
  std::memcpy(const_cast<unsigned char*>((*out).pageBeginning()), naa.data(), 12);
  ++out;
  EXPECT_EQ((*out).pageBeginning(), b.data() + 12);
  EXPECT_EQ((*out).pageSize(), 0u);
  EXPECT_EQ((*out).limit(), 8u);
  const unsigned char t10[] = {0x02, 0x01, 0x00, 0x04, 'Q', 'X', 'S', 'I'};
  std::memcpy(const_cast<unsigned char*>((*out).pageBeginning()), t10, 8);
  ++out;
  EXPECT_EQ((*out).pageBeginning(), b.data() + 20);  // exactly full: room 0, not refused
  EXPECT_EQ((*out).limit(), 0u);
  EXPECT_FALSE(out.last());
  ++out;  // no room for even a header: refused
  EXPECT_TRUE(out.last());
  EXPECT_EQ((*out).pageBeginning(), b.data() + 20);
  EXPECT_EQ(walk(list), (Pages{{0, 12, 20}, {12, 8, 8}}));
}

TEST_F(DesignationTest, OutputIteratorRefusesADescriptorLargerThanTheRoomLeft) {
  std::vector<unsigned char> b(20, 0);
  DesignationDescriptorList list(b.data(), b.size(), b.size());
  output_iterator out = begin_output_iterator(list);
  ++out;          // an empty descriptor of 4 bytes
  b[4 + 3] = 13;  // 17 bytes announced, 16 left
  ++out;
  EXPECT_TRUE(out.last());
  EXPECT_EQ((*out).pageBeginning(), b.data() + 4);
  EXPECT_EQ((*out).limit(), 16u);
  ++out;
  EXPECT_EQ((*out).pageBeginning(), b.data() + 4);
}

TEST_F(DesignationTest, OutputPostIncrementAnswersTheFormerPlace) {
  std::vector<unsigned char> b(24, 0);
  addNaa(b);
  DesignationDescriptorList list(b.data() + 24, 12, 12);
  output_iterator out = begin_output_iterator(list);
  output_iterator before = out++;
  EXPECT_EQ((*before).pageBeginning(), b.data() + 24);
  EXPECT_TRUE(before.first());
  EXPECT_EQ((*out).pageBeginning(), b.data() + 36);
  EXPECT_EQ((*out).limit(), 0u);
  EXPECT_FALSE(out.first());
}

TEST_F(DesignationTest, FieldNamesCoverTheirTablesOnly) {
  EXPECT_STREQ(qxscsi::designatorTypeName(0x0A), "UUID");
  EXPECT_STREQ(qxscsi::designatorTypeName(0x0B), "reserved");
  EXPECT_STREQ(qxscsi::codeSetName(0), "reserved");
  EXPECT_STREQ(qxscsi::codeSetName(3), "UTF-8");
  EXPECT_STREQ(qxscsi::associationName(3), "reserved");
}

}  // namespace
