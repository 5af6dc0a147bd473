// QXSingletonController: the process-wide registry of named singleton objects.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "qxpattern/export.h"
#include "qxpattern/product.h"

// Owns the process's singletons and hands them out by name. A singleton lives from its
// registration until unregisterSingleton(name), clear(), or the end of the process (the
// controller destroys what is left, newest first, when it is destroyed at exit).
//
// Names are free text; the SCSI library looks its factory up under the type name of
// QXScsiFactory, "13QXScsiFactory". A name is registered at most once: a second
// registration is refused and never replaces the object others may be using.
//
// Threads: no locks. Set singletons up before other threads start and tear them down
// after they end; concurrent singleton() lookups are safe while nobody registers.
class QXPATTERN_EXPORT QXSingletonController {
 public:
  using Creator = QXAbstractProduct* (*)();
  using Destroyer = void (*)(QXAbstractProduct*);

  // The process-wide controller, created on first use and destroyed at exit.
  static QXSingletonController& instance();

  // An empty controller (the process-wide one is instance(); others suit tests).
  QXSingletonController();
  QXSingletonController(const QXSingletonController&) = delete;
  QXSingletonController& operator=(const QXSingletonController&) = delete;
  // Destroys every remaining singleton, newest first.
  ~QXSingletonController();

  // Takes ownership of `object` under `name`; it is destroyed with delete. False when
  // `object` is null or `name` is taken: `object` is then destroyed at once.
  bool registerSingleton(const std::string& name, std::unique_ptr<QXAbstractProduct> object);

  // Creates the singleton with `create` and owns it; it is destroyed with `destroy` (null:
  // delete). False, without calling `create`, when `create` is null or `name` is taken;
  // false too when `create` answers null.
  bool registerSingleton(const std::string& name, Creator create, Destroyer destroy);

  // The singleton registered under `name`, or null. The controller keeps ownership; the
  // pointer stays valid until that singleton is unregistered or cleared.
  QXAbstractProduct* singleton(const std::string& name) const;

  // Destroys the singleton under `name`; false when there is none. It is no longer found
  // by singleton() while its destructor runs.
  bool unregisterSingleton(const std::string& name);

  // Destroys every singleton, newest first. Singletons registered by their destructors
  // are destroyed too.
  void clear();

  // Number of registered singletons.
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::string name;
    QXAbstractProduct* object;
    Destroyer destroy;
  };
  static void destroyEntry(const Entry& entry);
  std::vector<Entry>::const_iterator find(const std::string& name) const;

  std::vector<Entry> entries_;  // in order of registration
};
