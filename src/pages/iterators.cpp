// Page iterators: input and output iterators that own a list and use its actual page as cursor.
#include <cstdint>
#include <utility>

#include "qxscsi/iterators.h"

namespace QXScsiPageIterators {

iterator_base::iterator_base(std::unique_ptr<QXScsiListOfIterativePages> list)
    : cursor_(nullptr), list_(std::move(list)), first_(true), last_(false) {
  setUp();
  if (list_ == nullptr || list_->empty() || list_->next(*cursor_) == nullptr) {
    first_ = false;
    last_ = true;
  }
}

iterator_base::iterator_base(std::unique_ptr<QXScsiListOfIterativePages> list, int position)
    : cursor_(nullptr), list_(std::move(list)), first_(false), last_(false) {
  setUp();
  if (list_ == nullptr || list_->empty()) {
    last_ = true;
  } else if (position == 0) {
    first_ = true;
  } else if (position == -1) {
    while (list_->next(*cursor_) != nullptr) {
    }
    last_ = true;
  } else {
    for (int step = 0; step < position; ++step) {
      if (list_->next(*cursor_) == nullptr) last_ = true;
    }
  }
}

iterator_base::iterator_base(const iterator_base& other)
    : cursor_(other.cursor_), list_(std::move(other.list_)), first_(other.first_), last_(other.last_) {}

iterator_base& iterator_base::operator=(const iterator_base& other) {
  if (this != &other) {
    cursor_ = other.cursor_;
    list_ = std::move(other.list_);
    first_ = other.first_;
    last_ = other.last_;
  }
  return *this;
}

iterator_base::~iterator_base() {}

iterator_base::iterator_base(const iterator_base& other, bool duplicateList)
    : cursor_(nullptr), list_(), first_(other.first_), last_(other.last_) {
  if (duplicateList && other.list_ != nullptr) list_.reset(other.list_->duplicate());
  if (list_ == nullptr || other.cursor_ == nullptr) {
    // Nothing to stand on: an iterator at the end.
    first_ = false;
    last_ = true;
    setUp();
    return;
  }
  cursor_ = &list_->actualPage(*other.cursor_);
}

void iterator_base::setUp() {
  if (list_ == nullptr) return;
  QXScsiIterativePage start(list_->limit());
  cursor_ = &list_->actualPage(start);
}

void iterator_base::stepOutput() {
  first_ = false;
  if (cursor_ == nullptr || !cursor_->isValid()) return;
  const std::uintptr_t from = reinterpret_cast<std::uintptr_t>(cursor_->pageBeginning());
  const std::uintptr_t to = reinterpret_cast<std::uintptr_t>(cursor_->nextPageBeginning());
  const unsigned long room = cursor_->limit();
  if (to < from || to - from > room) {
    // The descriptor just written does not fit in the room left: stay on it, at the end.
    last_ = true;
    return;
  }
  const unsigned long length = static_cast<unsigned long>(to - from);
  cursor_->offsetPageBeginning(cursor_->pageBeginning() + length, 0, room - length);
}

input_iterator input_iterator::operator++(int) {
  input_iterator before(*this, true);
  stepInput();
  return before;
}

output_iterator output_iterator::operator++(int) {
  output_iterator before(*this, true);
  stepOutput();
  return before;
}

input_iterator begin(const QXScsiListOfIterativePages& list) {
  return input_iterator(std::unique_ptr<QXScsiListOfIterativePages>(list.duplicate()));
}

input_iterator end(const QXScsiListOfIterativePages& list) {
  return input_iterator(std::unique_ptr<QXScsiListOfIterativePages>(list.copy(nullptr, 0, 0)));
}

output_iterator begin_output_iterator(const QXScsiListOfIterativePages& list) {
  return output_iterator(std::unique_ptr<QXScsiListOfIterativePages>(list.duplicate()));
}

output_iterator end_output_iterator(const QXScsiListOfIterativePages& list) {
  return output_iterator(std::unique_ptr<QXScsiListOfIterativePages>(list.copy(nullptr, 0, 0)));
}

}  // namespace QXScsiPageIterators
