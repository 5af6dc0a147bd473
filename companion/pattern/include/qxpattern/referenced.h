// QXReferencedItem: base of objects whose references are counted by their users.
#pragma once

#include <cstdint>

#include "qxpattern/export.h"

// Keeps a reference count for the smart pointers that share an item; the item never
// deletes itself. The users decide on deletion from isReferenced(), isDestructorInvoked()
// and isAutoDestructionEnabled(). Not thread-safe: an item and its users stay on one
// thread at a time.
class QXPATTERN_EXPORT QXReferencedItem {
 public:
  // A new item: count 0, destruction not begun, auto-destruction enabled.
  QXReferencedItem() = default;
  // Copies start unreferenced: references belong to one object, never to its copy.
  QXReferencedItem(const QXReferencedItem&) {}
  // Assignment keeps this item's own count and flags.
  QXReferencedItem& operator=(const QXReferencedItem&) { return *this; }
  // Marks destruction as begun.
  virtual ~QXReferencedItem();

  // Adds one reference. The count stops at INT32_MAX.
  void setReferenced();
  // Removes one reference. The count never drops below 0.
  void setDereferenced();

  // The number of references now held.
  std::int32_t getReferenceCount() const { return count_; }
  // False exactly when the count is 0.
  bool isReferenced() const { return count_ != 0; }
  // False until the item's destruction has begun.
  bool isDestructorInvoked() const { return destructorInvoked_; }
  // True unless enableAutoDestruction(false) was called.
  bool isAutoDestructionEnabled() const { return autoDestruction_; }
  // Allows or forbids the last user to delete the item.
  void enableAutoDestruction(bool enabled) { autoDestruction_ = enabled; }

 protected:
  // For destructors of derived classes that drop references to the item itself: call
  // first, so that users see the destruction under way and do not delete again.
  void setDestructorInvoked() { destructorInvoked_ = true; }

 private:
  std::int32_t count_ = 0;
  bool destructorInvoked_ = false;
  bool autoDestruction_ = true;
};
