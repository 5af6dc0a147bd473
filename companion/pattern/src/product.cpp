// QXAbstractProduct: out-of-line destructor anchors the type information in this library.
#include "qxpattern/product.h"

QXAbstractProduct::~QXAbstractProduct() = default;
