// Page iterators: read descriptor lists with input iterators, fill buffers with output iterators.
#pragma once

#include <cstddef>
#include <iterator>
#include <memory>

#include "qxscsi/export.h"
#include "qxscsi/pages.h"

namespace QXScsiPageIterators {

// State shared by both iterators: the cursor is the owned list's actual page.
// Copying hands the list over to the copy (the source keeps a cursor into it and must not be
// advanced or read after the copy is gone); a source left without a list steps to last.
class QXSCSI_EXPORT iterator_base {
 public:
  // The two marks.
  bool first() const { return first_; }
  bool last() const { return last_; }

 protected:
  // Takes the list over; on the first descriptor, or last when there is none.
  explicit iterator_base(std::unique_ptr<QXScsiListOfIterativePages> list);
  // Takes the list over; 0 before the first descriptor, n on the n-th, -1 past the last.
  iterator_base(std::unique_ptr<QXScsiListOfIterativePages> list, int position);
  // Hands other's list over to this iterator.
  iterator_base(const iterator_base& other);
  iterator_base& operator=(const iterator_base& other);
  ~iterator_base();
  // A new iterator state over a duplicate of the list, standing where this one stands.
  iterator_base(const iterator_base& other, bool duplicateList);

  // Steps the input walk once; marks last at the end. A list handed over leaves nothing to walk.
  void stepInput() {
    first_ = false;
    if (last_) return;
    if (list_ == nullptr || list_->empty() || list_->next(*cursor_) == nullptr) last_ = true;
  }
  // Moves the cursor past the descriptor it stands on, within the room left in the buffer.
  void stepOutput();

  QXScsiIterativePage* cursor_;
  mutable std::unique_ptr<QXScsiListOfIterativePages> list_;
  bool first_;
  bool last_;

  // The cursor's beginning (null without a cursor).
  const unsigned char* beginning() const { return cursor_ != nullptr ? cursor_->pageBeginning() : nullptr; }

 private:
  void setUp();
};

// Reads the descriptors of a list one after another.
class QXSCSI_EXPORT input_iterator : public iterator_base {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = QXScsiIterativePage;
  using difference_type = std::ptrdiff_t;
  using pointer = const QXScsiIterativePage*;
  using reference = QXScsiIterativePage;

  // Takes the list over; on the first descriptor (last when there is none).
  explicit input_iterator(std::unique_ptr<QXScsiListOfIterativePages> list)
      : iterator_base(std::move(list)) {}
  // Takes the list over; 0 before the first descriptor, n on the n-th, -1 past the last.
  input_iterator(std::unique_ptr<QXScsiListOfIterativePages> list, int position)
      : iterator_base(std::move(list), position) {}
  // Hands other's list over to the new iterator.
  input_iterator(const input_iterator& other) = default;
  input_iterator& operator=(const input_iterator& other) = default;

  // Both first, or both last, or cursors at the same address.
  bool operator==(const input_iterator& other) const {
    return (first_ && other.first_) || (last_ && other.last_) || beginning() == other.beginning();
  }
  bool operator!=(const input_iterator& other) const { return !(*this == other); }
  // A copy of the cursor page (the bytes stay the caller's).
  QXScsiIterativePage operator*() const { return cursor_ != nullptr ? *cursor_ : QXScsiIterativePage(0ul); }
  // One step of the walk; marks last at the end.
  input_iterator& operator++() {
    stepInput();
    return *this;
  }
  // Answers an iterator (owning a duplicate of the list) where this one stood; this one steps.
  input_iterator operator++(int);

 private:
  input_iterator(const input_iterator& other, bool duplicateList) : iterator_base(other, duplicateList) {}
};

// Moves a cursor across a buffer that the caller fills with descriptors.
class QXSCSI_EXPORT output_iterator : public iterator_base {
 public:
  using iterator_category = std::output_iterator_tag;
  using value_type = void;
  using difference_type = std::ptrdiff_t;
  using pointer = void;
  using reference = void;

  // Takes the list over; on the first descriptor (last when there is none).
  explicit output_iterator(std::unique_ptr<QXScsiListOfIterativePages> list)
      : iterator_base(std::move(list)) {}
  // Takes the list over; 0 before the first descriptor, n on the n-th, -1 past the last.
  output_iterator(std::unique_ptr<QXScsiListOfIterativePages> list, int position)
      : iterator_base(std::move(list), position) {}
  // Hands other's list over to the new iterator.
  output_iterator(const output_iterator& other) = default;
  output_iterator& operator=(const output_iterator& other) = default;

  // The cursor page itself (owned by the iterator's list), for filling its descriptor.
  QXScsiIterativePage& operator*() const { return *cursor_; }
  // Moves past the descriptor just written. When it does not fit in the room left (the
  // cursor's limit), the cursor stays on it and the iterator is marked last.
  output_iterator& operator++() {
    stepOutput();
    return *this;
  }
  // Answers an iterator (owning a duplicate of the list) where this one stood; this one steps.
  output_iterator operator++(int);

 private:
  output_iterator(const output_iterator& other, bool duplicateList) : iterator_base(other, duplicateList) {}
};

// Iterators over new lists made from list (list.duplicate() or list.copy(nullptr, 0, 0)),
// each owned by the iterator returned; list itself may go away, its bytes must stay.
QXSCSI_EXPORT input_iterator begin(const QXScsiListOfIterativePages& list);
QXSCSI_EXPORT input_iterator end(const QXScsiListOfIterativePages& list);
QXSCSI_EXPORT output_iterator begin_output_iterator(const QXScsiListOfIterativePages& list);
QXSCSI_EXPORT output_iterator end_output_iterator(const QXScsiListOfIterativePages& list);

}  // namespace QXScsiPageIterators
