// The long-header descriptor format of the fuzz targets.
#include "long_header_format.h"

#include <cstdint>

#include "wire/bytes.h"

namespace qxscsi::fuzz {
namespace {

// A page that counts itself in *live while it exists.
class CountedPage : public LongHeaderPage {
 public:
  CountedPage(unsigned short header, bool emptyWhenUnreadable, long* live)
      : LongHeaderPage(header, emptyWhenUnreadable), live_(live) {
    ++*live_;
  }
  ~CountedPage() override { --*live_; }

 private:
  long* live_;
};

}  // namespace

bool LongHeaderPage::checkNoPages() const {
  return headerReadable() ? pageLength() == 0 : emptyWhenUnreadable_;
}

unsigned short LongHeaderPage::nextPageLength(const unsigned char* beginning) const {
  if (!isValid() || beginning == nullptr) return 0;
  const std::uintptr_t from = reinterpret_cast<std::uintptr_t>(pageBeginning());
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(beginning);
  if (at < from || limit() < header_ || at - from > limit() - header_) return 0;
  return static_cast<unsigned short>(wire::getBe16(beginning + header_ - 2));
}

unsigned short LongHeaderPage::pageLength() const {
  if (!headerReadable() || header_ < 2) return 0;
  const unsigned char* b = pageBeginning();
  return static_cast<unsigned short>(wire::getBe16(b + header_ - 2));
}

LongHeaderList::LongHeaderList(const unsigned char* beginning, unsigned long size, unsigned long limit,
                               unsigned short headerLength, bool emptyWhenUnreadable, Answer answer,
                               long* live)
    : QXScsiListOfIterativePages(beginning, size, limit),
      header_(headerLength),
      emptyWhenUnreadable_(emptyWhenUnreadable),
      answer_(answer),
      live_(live),
      reader_(headerLength, emptyWhenUnreadable),
      cursor_(headerLength, emptyWhenUnreadable) {}

LongHeaderList::~LongHeaderList() {}

QXScsiIterativePage* LongHeaderList::actualPagePtr(QXScsiIterativePage& page, bool& borrowed) const {
  if (answer_ == Answer::created) {
    LongHeaderPage* made = new CountedPage(header_, emptyWhenUnreadable_, live_);
    made->offsetPageBeginning(page.pageBeginning(), page.pageSize(), page.limit());
    borrowed = false;
    return made;
  }
  borrowed = true;
  reader_.offsetPageBeginning(page.pageBeginning(), page.pageSize(), page.limit());
  if (answer_ == Answer::noneWhenCut && page.isValid() && !reader_.headerReadable()) return nullptr;
  return &reader_;
}

QXScsiListOfIterativePages* LongHeaderList::duplicate() const {
  return new LongHeaderList(listBeginning(), listSize(), limit(), header_, emptyWhenUnreadable_, answer_,
                            live_);
}

QXScsiListOfIterativePages* LongHeaderList::copy(const unsigned char* beginning, unsigned long size,
                                                 unsigned long limit) const {
  return new LongHeaderList(beginning, size, limit, header_, emptyWhenUnreadable_, answer_, live_);
}

QXScsiIterativePage& LongHeaderList::actualPage(QXScsiIterativePage& page) const {
  cursor_.offsetPageBeginning(page.pageBeginning(), page.pageSize(), page.limit());
  return cursor_;
}

}  // namespace qxscsi::fuzz
