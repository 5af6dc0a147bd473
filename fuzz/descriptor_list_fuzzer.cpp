// Descriptor-list walks and both page iterators over arbitrary buffers, with the designation
// descriptor format and with a format whose header may be longer than the data. Every page given
// out must lie in the buffer with an honest limit; iterators must visit what the walk visits.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz_input.h"
#include "long_header_format.h"
#include "qxscsi/designation.h"
#include "qxscsi/iterators.h"
#include "qxscsi/pages.h"
#include "wire/bytes.h"

using qxscsi::fuzz::Input;
using qxscsi::fuzz::LongHeaderList;
using qxscsi::fuzz::LongHeaderPage;
namespace it = QXScsiPageIterators;

namespace {

// The buffer under test: exactly `length` heap bytes, so any read past them is caught.
struct Buffer {
  std::unique_ptr<unsigned char[]> bytes;
  unsigned long length;
  explicit Buffer(const std::vector<uint8_t>& from)
      : bytes(new unsigned char[from.size()]), length(from.size()) {
    std::copy(from.begin(), from.end(), bytes.get());
  }
};

// What the format under test makes: a list over given bytes and a page to walk it with.
struct Format {
  bool designation = true;
  unsigned short header = 4;
  bool emptyWhenUnreadable = true;
  qxscsi::fuzz::Answer answer = qxscsi::fuzz::Answer::kept;
  long* live = nullptr;

  std::unique_ptr<QXScsiListOfIterativePages> list(const unsigned char* b, unsigned long size,
                                                   unsigned long limit) const {
    if (designation) return std::make_unique<qxscsi::DesignationDescriptorList>(b, size, limit);
    return std::make_unique<LongHeaderList>(b, size, limit, header, emptyWhenUnreadable, answer, live);
  }
  std::unique_ptr<QXScsiIterativePage> page() const {
    if (designation) return std::make_unique<qxscsi::DesignationDescriptorPage>();
    return std::make_unique<LongHeaderPage>(header, emptyWhenUnreadable);
  }
};

unsigned long offsetOf(const QXScsiListOfIterativePages& list, const QXScsiBufferPage& page) {
  return static_cast<unsigned long>(page.pageBeginning() - list.listBeginning());
}

// A page given out for list: inside the buffer, limit = room left, its bytes readable. Only an
// output cursor may stand at the very end of the buffer (on the room for nothing).
unsigned long checkPage(const QXScsiListOfIterativePages& list, const QXScsiBufferPage& page, bool first,
                        bool output = false) {
  QXSCSI_FUZZ_CHECK(page.isValid());
  QXSCSI_FUZZ_CHECK(page.pageBeginning() >= list.listBeginning());
  const unsigned long offset = offsetOf(list, page);
  QXSCSI_FUZZ_CHECK(first ? offset == 0 : output ? offset <= list.limit() : offset < list.limit());
  QXSCSI_FUZZ_CHECK(page.limit() == list.limit() - offset);
  unsigned long sum = 0;
  const unsigned long readable = std::min(page.pageSize(), page.limit());
  for (unsigned long i = 0; i < readable; ++i) sum += page.pageBeginning()[i];
  return sum;
}

// The designation view of a page: every field, the designator bytes present and the trace.
void readDesignation(const QXScsiBufferPage& at) {
  const qxscsi::DesignationDescriptorPage page(at);
  unsigned long sum = page.protocolIdentifier() + page.codeSet() + page.protocolIdentifierValid() +
                      page.association() + page.designatorType() + page.designatorLength() + page.complete();
  const unsigned short available = page.availableDesignatorLength();
  QXSCSI_FUZZ_CHECK(available <= page.designatorLength());
  QXSCSI_FUZZ_CHECK(available == 0 || available <= page.limit() - 4);
  for (unsigned short i = 0; i < available; ++i) sum += page.designator()[i];
  sum += qxscsi::codeSetName(page.codeSet())[0] + qxscsi::associationName(page.association())[0] +
         qxscsi::designatorTypeName(page.designatorType())[0];
  std::ostrstream out;
  page.traceTo(out, static_cast<short>(sum % 3), nullptr, true);
}

// Beginnings of the pages that next() gives out, each checked.
std::vector<const unsigned char*> walk(const Format& format, const QXScsiListOfIterativePages& list) {
  std::vector<const unsigned char*> seen;
  if (list.empty()) return seen;
  std::unique_ptr<QXScsiIterativePage> cursor = format.page();
  cursor->offsetPageBeginning(nullptr, 0, list.limit());
  while (list.next(*cursor) != nullptr) {
    checkPage(list, *cursor, seen.empty());
    if (format.designation) readDesignation(*cursor);
    seen.push_back(cursor->pageBeginning());
    // Every step moves forward by at least one byte: more pages than bytes is a loop.
    QXSCSI_FUZZ_CHECK(seen.size() <= list.limit() + 1);
  }
  return seen;
}

void iterate(const QXScsiListOfIterativePages& list, const std::vector<const unsigned char*>& walked,
             Input& in) {
  std::vector<const unsigned char*> seen;
  const it::input_iterator end = it::end(list);
  for (it::input_iterator at = it::begin(list); at != end; ++at) {
    const QXScsiIterativePage page = *at;
    checkPage(list, page, seen.empty());
    seen.push_back(page.pageBeginning());
    QXSCSI_FUZZ_CHECK(seen.size() <= walked.size());
  }
  QXSCSI_FUZZ_CHECK(seen == walked);

  // A positional iterator stands where that many steps of the walk lead.
  const int count = static_cast<int>(walked.size());
  const int position = static_cast<int>(in.byte() % (count + 4)) - 1;
  it::input_iterator placed(std::unique_ptr<QXScsiListOfIterativePages>(list.duplicate()), position);
  if (list.empty()) {
    QXSCSI_FUZZ_CHECK(placed.last());
  } else if (position == 0) {
    QXSCSI_FUZZ_CHECK(placed.first() && !placed.last() && !(*placed).isValid());
  } else if (position > 0 && position <= count) {
    QXSCSI_FUZZ_CHECK(!placed.last() && (*placed).pageBeginning() == walked[position - 1]);
  } else {
    QXSCSI_FUZZ_CHECK(placed.last());
  }

  // Post-increment answers the old position and steps; a copy takes the list over.
  it::input_iterator from = it::begin(list);
  for (int i = 0; i < count; ++i) {
    it::input_iterator before = from++;
    QXSCSI_FUZZ_CHECK((*before).pageBeginning() == walked[i]);
    if (in.flag()) {
      it::input_iterator taken(from);
      from = taken;
    }
  }
  QXSCSI_FUZZ_CHECK(from.last() && from == end);
  ++from;
  QXSCSI_FUZZ_CHECK(from.last());
}

// Fills a writable copy of the buffer through an output iterator; the cursor never leaves it.
void fill(const Format& format, const QXScsiListOfIterativePages& list, Input& in) {
  if (list.empty()) return;
  Buffer copy(std::vector<uint8_t>(list.listBeginning(), list.listBeginning() + list.limit()));
  const std::unique_ptr<QXScsiListOfIterativePages> writable =
      format.list(copy.bytes.get(), list.listSize(), copy.length);
  it::output_iterator out = it::begin_output_iterator(*writable);
  const it::output_iterator end = it::end_output_iterator(*writable);
  QXSCSI_FUZZ_CHECK(end.last());
  for (unsigned long steps = 0; !out.last() && steps <= copy.length + 1; ++steps) {
    QXScsiIterativePage& cursor = *out;
    if (!cursor.isValid()) break;
    checkPage(*writable, cursor, steps == 0, true);
    const unsigned short header = cursor.minPageLength();
    unsigned char* at = const_cast<unsigned char*>(cursor.pageBeginning());
    if (cursor.limit() >= header) {
      const uint16_t body = format.designation ? in.byte() : in.u16() % 64;
      qxscsi::wire::putBe16(at + header - 2, body);
    }
    const unsigned char* was = cursor.pageBeginning();
    if (in.flag()) {
      it::output_iterator before = out++;
      QXSCSI_FUZZ_CHECK((*before).pageBeginning() == was);
    } else {
      ++out;
    }
    if (!out.last() && (*out).pageBeginning() == was) break;  // a format that measures nothing
    QXSCSI_FUZZ_CHECK(steps < copy.length + 1);
  }
}

void trace(const QXScsiListOfIterativePages& list, Input& in) {
  std::ostrstream out;
  list.traceTo(out, static_cast<short>(in.byte() % 4), in.flag() ? "FUZZ" : nullptr, in.flag());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  long live = 0;
  Format format;
  const uint8_t shape = in.byte();
  format.designation = (shape & 1) == 0;
  if (!format.designation) {
    format.header = static_cast<unsigned short>(2 + in.byte() % 63);
    format.emptyWhenUnreadable = (shape & 2) != 0;
    format.answer = static_cast<qxscsi::fuzz::Answer>((shape >> 2) % 3);
    format.live = &live;
  }
  const uint8_t sizeMode = in.byte();
  const uint32_t claimed = in.u32();
  const uint8_t operations = in.byte();
  Buffer buffer(in.bytes(std::min<size_t>(in.u16(), 4096)));
  unsigned long listSize = buffer.length;
  switch (sizeMode % 4) {
    case 1:
      listSize = claimed & 0xFFFF;
      break;
    case 2:
      listSize = claimed;
      break;
    case 3:
      listSize = 0;
      break;
  }
  {
    std::unique_ptr<QXScsiListOfIterativePages> list =
        format.list(buffer.bytes.get(), listSize, buffer.length);
    if (format.designation && (shape & 2) != 0) {
      // The buffer as a whole Device Identification VPD page.
      list.reset(new qxscsi::DesignationDescriptorList(
          qxscsi::DesignationDescriptorList::fromVpdPage(buffer.bytes.get(), buffer.length)));
    }
    const std::vector<const unsigned char*> walked = walk(format, *list);
    if (operations & 1) iterate(*list, walked, in);
    if (operations & 2) fill(format, *list, in);
    if (operations & 4) trace(*list, in);
  }
  QXSCSI_FUZZ_CHECK(live == 0);
  return 0;
}
