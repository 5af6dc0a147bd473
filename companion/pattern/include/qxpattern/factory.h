// QXFactory: creates products by name from registered creator/destroyer pairs.
#pragma once

#include <map>
#include <string>

#include "qxpattern/export.h"
#include "qxpattern/product.h"

// A registry of product classes, each a creator/destroyer pair under a key.
//
// Matching: createProduct(name) uses the class registered under exactly `name`. When no key
// equals `name`, a factory constructed with a fallback key uses the class registered under
// that key instead; a factory without one answers null. (The SCSI factory passes its
// registration key "QXScsiTargetImpl" as fallback, so that requests by any target type name
// reach the registered implementation.)
//
// Registering a key twice: the later registration replaces the earlier one, so the most
// recent registration is the one that serves requests.
//
// Threads: no locks. Register before other threads start; concurrent createProduct calls
// are safe as long as nobody registers or unregisters meanwhile.
class QXPATTERN_EXPORT QXFactory : public QXAbstractProduct {
 public:
  using Creator = QXAbstractProduct* (*)();
  using Destroyer = void (*)(QXAbstractProduct*);

  // A factory without fallback: unknown names yield null.
  QXFactory();
  // A factory that serves unknown names with the class registered under `fallbackKey`.
  explicit QXFactory(const std::string& fallbackKey);
  QXFactory(const QXFactory&) = delete;
  QXFactory& operator=(const QXFactory&) = delete;
  ~QXFactory() override;

  // Registers `create` (required) and `destroy` (null: products are deleted with delete)
  // under `key`, replacing an earlier registration of that key. Stores only the two
  // function pointers. False, and nothing changes, when `create` is null.
  bool registerClass(const std::string& key, Creator create, Destroyer destroy);

  // Removes the registration under `key`; false when there is none. Products made
  // earlier are not affected.
  bool unregisterClass(const std::string& key);

  // True when a class is registered under exactly `key`.
  bool isRegistered(const std::string& key) const;

  // A new product for `name` (see Matching) that the caller owns, or null when no class
  // matches or its creator answers null. Every call creates a new product.
  QXAbstractProduct* createProduct(const std::string& name) const;

  // Destroys `product`, which the caller owns and which was made for `name`, with the
  // destroyer of the class that matches `name` now, or with delete when that class has
  // no destroyer or nothing matches any more. Null is ignored.
  void destroyProduct(const std::string& name, QXAbstractProduct* product) const;

  // The fallback key given at construction (empty when there is none).
  const std::string& fallbackKey() const { return fallbackKey_; }

 private:
  struct Registration {
    Creator create;
    Destroyer destroy;
  };
  const Registration* find(const std::string& name) const;

  std::map<std::string, Registration> classes_;
  std::string fallbackKey_;
  bool hasFallback_;
};
