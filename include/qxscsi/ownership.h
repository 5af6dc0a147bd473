// Shared implementation ownership: the counted holder of one implementation and the references to it.
#pragma once

#include <memory>

#include "qxpattern/referenced.h"
#include "qxscsi/export.h"
#include "qxscsi/implementation.h"

// Holder of one implementation (or none), counted through its QXReferencedItem base. Its destructor
// calls the implementation's release() once and then deletes it.
class QXSCSI_EXPORT QXScsiTargetImplItem : public QXReferencedItem {
 public:
  // An empty holder.
  QXScsiTargetImplItem();
  // Takes the implementation out of impl; the holder owns it from now on.
  explicit QXScsiTargetImplItem(std::unique_ptr<QXScsiTargetImpl> impl);
  // Calls the implementation's release(), then deletes it.
  virtual ~QXScsiTargetImplItem();

  // Two holders must never own one implementation: holders are neither copied nor assigned.
  QXScsiTargetImplItem(const QXScsiTargetImplItem&) = delete;
  QXScsiTargetImplItem& operator=(const QXScsiTargetImplItem&) = delete;

  // The owned implementation, borrowed; null for an empty holder.
  QXScsiTargetImpl* scsiTargetImpl() const { return targetImpl; }
  // Does nothing.
  void init() {}

 private:
  QXScsiTargetImpl* targetImpl;
};

// Counting smart pointer to a referenced item T. Each pointer holds one reference; the pointer that
// drops the last one deletes the item (when the item allows it). The second argument plays no part.
template <class T, class U>
class QXSCSI_EXPORT SafeReferencedAutoPtr_T {
 public:
  // Owns a new, empty T (count 1).
  SafeReferencedAutoPtr_T();
  // Shares other's item; throws const char* when other points at nothing.
  SafeReferencedAutoPtr_T(const SafeReferencedAutoPtr_T& other);
  // Takes the item out of item (which may be empty).
  explicit SafeReferencedAutoPtr_T(std::unique_ptr<T> item);
  // Drops the reference (unsetReferencedItem).
  virtual ~SafeReferencedAutoPtr_T();

  // The item, borrowed; throws const char* "ReferencedAutoPtr: attempt to dereference NULL pointer"
  // when this points at nothing.
  T& operator*() const;
  // The item, borrowed, without a check.
  T* operator->() const { return referencedItem; }
  // Takes a reference to item (borrowed; the references own it jointly) and drops the previous one.
  SafeReferencedAutoPtr_T& operator=(T& item);
  // Shares other's item; throws as operator* does.
  SafeReferencedAutoPtr_T& operator=(const SafeReferencedAutoPtr_T& other);

  // Takes a reference to item (may be null) first, then drops the previous item.
  void setReferencedItem(T* item);
  void setReferencedItem(T& item) { setReferencedItem(&item); }
  // Drops the item; deletes it when that was its last reference.
  void unsetReferencedItem();

 private:
  T* referencedItem;
};

// The reference that every target holds: a counted pointer to a holder of its implementation.
class QXSCSI_EXPORT QXScsiTargetImplReference
    : public SafeReferencedAutoPtr_T<QXScsiTargetImplItem, unsigned short> {
 public:
  using Base = SafeReferencedAutoPtr_T<QXScsiTargetImplItem, unsigned short>;

  // Owns a new, empty holder.
  QXScsiTargetImplReference();
  // Shares other's holder.
  QXScsiTargetImplReference(const QXScsiTargetImplReference& other);
  // Takes impl (may be empty) into a new holder; nothing leaks if allocating the holder fails.
  explicit QXScsiTargetImplReference(std::unique_ptr<QXScsiTargetImpl> impl);
  // Drops the share; the last one deletes the holder and with it the implementation.
  virtual ~QXScsiTargetImplReference();

  // Shares other's holder and drops the own one.
  QXScsiTargetImplReference& operator=(const QXScsiTargetImplReference& other);

  // The shared implementation, borrowed; null for an empty holder.
  QXScsiTargetImpl* scsiTargetImpl() const { return (*this)->scsiTargetImpl(); }
};

template <class T, class U>
SafeReferencedAutoPtr_T<T, U>::SafeReferencedAutoPtr_T() : referencedItem(nullptr) {
  setReferencedItem(new T());
}

template <class T, class U>
SafeReferencedAutoPtr_T<T, U>::SafeReferencedAutoPtr_T(const SafeReferencedAutoPtr_T& other)
    : referencedItem(nullptr) {
  setReferencedItem(*other);
}

template <class T, class U>
SafeReferencedAutoPtr_T<T, U>::SafeReferencedAutoPtr_T(std::unique_ptr<T> item) : referencedItem(nullptr) {
  setReferencedItem(item.release());
}

template <class T, class U>
SafeReferencedAutoPtr_T<T, U>::~SafeReferencedAutoPtr_T() {
  unsetReferencedItem();
}

template <class T, class U>
T& SafeReferencedAutoPtr_T<T, U>::operator*() const {
  if (referencedItem == nullptr) throw "ReferencedAutoPtr: attempt to dereference NULL pointer";
  return *referencedItem;
}

template <class T, class U>
SafeReferencedAutoPtr_T<T, U>& SafeReferencedAutoPtr_T<T, U>::operator=(T& item) {
  setReferencedItem(item);
  return *this;
}

template <class T, class U>
SafeReferencedAutoPtr_T<T, U>& SafeReferencedAutoPtr_T<T, U>::operator=(
    const SafeReferencedAutoPtr_T& other) {
  setReferencedItem(*other);
  return *this;
}

template <class T, class U>
void SafeReferencedAutoPtr_T<T, U>::setReferencedItem(T* item) {
  if (item != nullptr) item->setReferenced();
  unsetReferencedItem();
  referencedItem = item;
}

template <class T, class U>
void SafeReferencedAutoPtr_T<T, U>::unsetReferencedItem() {
  if (referencedItem == nullptr) return;
  T* item = referencedItem;
  referencedItem = nullptr;
  item->setDereferenced();
  if (!item->isReferenced() && !item->isDestructorInvoked() && item->isAutoDestructionEnabled()) delete item;
}

extern template class SafeReferencedAutoPtr_T<QXScsiTargetImplItem, unsigned short>;
