// Descriptor formats and lists used only by the page tests.
#pragma once

#include <memory>

#include "qxscsi/pages.h"

namespace pagetest {

// 2-byte header: byte 0 a tag (0xFF: the list holds nothing), byte 1 the length of the body.
class TinyPage : public QXScsiIterativePage {
 public:
  explicit TinyPage(unsigned long limit = 0) : QXScsiIterativePage(limit) {}
  TinyPage(const unsigned char* b, unsigned long size, unsigned long limit)
      : QXScsiIterativePage(b, size, limit) {}
  bool checkNoPages() const override { return pageBeginning()[0] == 0xFF; }
  unsigned short minPageLength() const override { return 2; }
  unsigned short nextPageLength(const unsigned char* b) const override { return b[1]; }
  unsigned short pageLength() const override { return pageBeginning()[1]; }
};

// 4-byte header, bytes 2-3 the big-endian length of the body (lengths may wrap at 16 bits).
class WidePage : public QXScsiIterativePage {
 public:
  explicit WidePage(unsigned long limit = 0) : QXScsiIterativePage(limit) {}
  WidePage(const unsigned char* b, unsigned long size, unsigned long limit)
      : QXScsiIterativePage(b, size, limit) {}
  unsigned short minPageLength() const override { return 4; }
  unsigned short nextPageLength(const unsigned char* b) const override { return read(b); }
  unsigned short pageLength() const override { return read(pageBeginning()); }

 private:
  static unsigned short read(const unsigned char* b) { return static_cast<unsigned short>(b[2] << 8 | b[3]); }
};

// How a FakeList answers actualPagePtr.
enum class Answers { kept, created, none };

// A page of class Page that counts the live objects of its kind.
template <class Page>
class CountedPage : public Page {
 public:
  CountedPage(const QXScsiIterativePage& at, int* live)
      : Page(at.pageBeginning(), at.pageSize(), at.limit()), live_(live) {
    ++*live_;
  }
  ~CountedPage() override { --*live_; }

 private:
  int* live_;
};

// A list of Page descriptors. `answers` picks kept pages, new pages (counted in *live, owned
// by the caller) or null; with nullAtCall > 0 only that call of actualPagePtr answers null.
template <class Page>
class FakeList : public QXScsiListOfIterativePages {
 public:
  FakeList(const unsigned char* b, unsigned long size, unsigned long limit, Answers answers = Answers::kept,
           int* live = nullptr)
      : QXScsiListOfIterativePages(b, size, limit), answers_(answers), live_(live) {}

  QXScsiIterativePage* actualPagePtr(QXScsiIterativePage& page, bool& borrowed) const override {
    ++calls;
    if (answers_ == Answers::none || calls == nullAtCall) return nullptr;
    if (answers_ == Answers::created) {
      borrowed = false;
      return new CountedPage<Page>(page, live_);
    }
    kept_.offsetPageBeginning(page.pageBeginning(), page.pageSize(), page.limit());
    borrowed = true;
    return &kept_;
  }
  QXScsiListOfIterativePages* duplicate() const override {
    return copy(listBeginning(), listSize(), limit());
  }
  QXScsiListOfIterativePages* copy(const unsigned char* b, unsigned long size,
                                   unsigned long limit) const override {
    return new FakeList(b, size, limit, answers_, live_);
  }
  QXScsiIterativePage& actualPage(QXScsiIterativePage& page) const override {
    cursor_.offsetPageBeginning(page.pageBeginning(), page.pageSize(), page.limit());
    return cursor_;
  }

  mutable int calls = 0;
  int nullAtCall = 0;

 private:
  Answers answers_;
  int* live_;
  mutable Page kept_;
  mutable Page cursor_;
};

// The abstract list made concrete with the base classes alone.
class BaseList : public QXScsiListOfIterativePages {
 public:
  using QXScsiListOfIterativePages::QXScsiListOfIterativePages;
  QXScsiListOfIterativePages* duplicate() const override {
    return new BaseList(listBeginning(), listSize(), limit());
  }
  QXScsiListOfIterativePages* copy(const unsigned char* b, unsigned long size,
                                   unsigned long limit) const override {
    return new BaseList(b, size, limit);
  }
};

}  // namespace pagetest
