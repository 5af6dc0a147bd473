// QXReferencedItem: a plain reference count with saturation at both ends.
#include "qxpattern/referenced.h"

#include <limits>

QXReferencedItem::~QXReferencedItem() { destructorInvoked_ = true; }

void QXReferencedItem::setReferenced() {
  if (count_ < std::numeric_limits<std::int32_t>::max()) ++count_;
}

void QXReferencedItem::setDereferenced() {
  if (count_ > 0) --count_;
}
