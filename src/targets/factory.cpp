// The implementation factory.
#include "qxscsi/factory.h"

#include <memory>
#include <string>

namespace {
const char kImplementationKey[] = "QXScsiTargetImpl";
const char kDefaultProduct[] = "15QXScsiSPITarget";
}  // namespace

// Every request that names no registered class is served by the registered implementation.
QXScsiFactory::QXScsiFactory() : QXFactory(kImplementationKey) {}

QXScsiFactory::~QXScsiFactory() {}

void QXScsiFactory::registerScsiTargetImpl(QXAbstractProduct* (*create)(),
                                           void (*destroy)(QXAbstractProduct*)) {
  registerClass(kImplementationKey, create, destroy);
}

QXScsiTargetImpl* QXScsiFactory::createScsiTargetImpl(const char* name, const char* hint) {
  if (name == nullptr || hint == nullptr) return nullptr;
  const std::string productName = *name == '\0' ? std::string(kDefaultProduct) : std::string(name);
  std::unique_ptr<QXAbstractProduct> product(createProduct(productName));
  if (!product) return nullptr;
  // A product that is not an implementation is treated like one that refuses its hint.
  auto* impl = dynamic_cast<QXScsiTargetImpl*>(product.get());
  if (impl == nullptr) return nullptr;
  std::string copy(hint);
  if (!impl->hintFrom(copy)) return nullptr;
  product.release();
  return impl;
}

QXAbstractProduct* QXScsiFactory::createInstance() { return new QXScsiFactory(); }

void QXScsiFactory::deleteInstance(QXAbstractProduct* product) { delete product; }

QXScsiArgs* QXScsiFactory::createArgs(unsigned char, unsigned char*, unsigned long) { return nullptr; }
