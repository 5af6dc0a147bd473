// QXAbstractProduct: the base class of every object a QXFactory makes.
#pragma once

#include "qxpattern/export.h"

// Base of factory products and registered singletons. Products are deleted through the
// virtual destructor (or through the destroyer they were registered with).
class QXPATTERN_EXPORT QXAbstractProduct {
 public:
  QXAbstractProduct() = default;
  QXAbstractProduct(const QXAbstractProduct&) = default;
  QXAbstractProduct& operator=(const QXAbstractProduct&) = default;
  virtual ~QXAbstractProduct();
};
