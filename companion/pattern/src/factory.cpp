// QXFactory: key lookup with an optional fallback key.
#include "qxpattern/factory.h"

QXFactory::QXFactory() : hasFallback_(false) {}

QXFactory::QXFactory(const std::string& fallbackKey) : fallbackKey_(fallbackKey), hasFallback_(true) {}

QXFactory::~QXFactory() = default;

bool QXFactory::registerClass(const std::string& key, Creator create, Destroyer destroy) {
  if (create == nullptr) return false;
  classes_[key] = Registration{create, destroy};
  return true;
}

bool QXFactory::unregisterClass(const std::string& key) { return classes_.erase(key) != 0; }

bool QXFactory::isRegistered(const std::string& key) const { return classes_.count(key) != 0; }

const QXFactory::Registration* QXFactory::find(const std::string& name) const {
  auto it = classes_.find(name);
  if (it == classes_.end() && hasFallback_) it = classes_.find(fallbackKey_);
  return it == classes_.end() ? nullptr : &it->second;
}

QXAbstractProduct* QXFactory::createProduct(const std::string& name) const {
  const Registration* registration = find(name);
  return registration == nullptr ? nullptr : registration->create();
}

void QXFactory::destroyProduct(const std::string& name, QXAbstractProduct* product) const {
  if (product == nullptr) return;
  const Registration* registration = find(name);
  if (registration != nullptr && registration->destroy != nullptr) {
    registration->destroy(product);
  } else {
    delete product;
  }
}
