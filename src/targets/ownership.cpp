// Holders of implementations and the counted references that targets keep to them.
#include "qxscsi/ownership.h"

#include <utility>

template class SafeReferencedAutoPtr_T<QXScsiTargetImplItem, unsigned short>;

QXScsiTargetImplItem::QXScsiTargetImplItem() : QXReferencedItem(), targetImpl(nullptr) {}

QXScsiTargetImplItem::QXScsiTargetImplItem(std::unique_ptr<QXScsiTargetImpl> impl)
    : QXReferencedItem(), targetImpl(impl.release()) {}

QXScsiTargetImplItem::~QXScsiTargetImplItem() {
  if (targetImpl != nullptr) {
    targetImpl->release();
    delete targetImpl;
  }
  targetImpl = nullptr;
}

namespace {

// A full or empty holder for a reference to take; if the allocation fails, impl deletes the
// implementation on the way out.
std::unique_ptr<QXScsiTargetImplItem> makeItem(std::unique_ptr<QXScsiTargetImpl> impl) {
  return std::make_unique<QXScsiTargetImplItem>(std::move(impl));
}

}  // namespace

QXScsiTargetImplReference::QXScsiTargetImplReference() : Base() {}

QXScsiTargetImplReference::QXScsiTargetImplReference(const QXScsiTargetImplReference& other) : Base(other) {}

QXScsiTargetImplReference::QXScsiTargetImplReference(std::unique_ptr<QXScsiTargetImpl> impl)
    : Base(makeItem(std::move(impl))) {}

QXScsiTargetImplReference::~QXScsiTargetImplReference() {}

QXScsiTargetImplReference& QXScsiTargetImplReference::operator=(const QXScsiTargetImplReference& other) {
  Base::operator=(*other);
  return *this;
}
