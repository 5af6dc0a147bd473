// QXSingletonController: named singletons owned by one process-wide controller.
#include "qxpattern/singleton.h"

#include <algorithm>

QXSingletonController& QXSingletonController::instance() {
  static QXSingletonController controller;
  return controller;
}

QXSingletonController::QXSingletonController() = default;

QXSingletonController::~QXSingletonController() { clear(); }

void QXSingletonController::destroyEntry(const Entry& entry) {
  if (entry.destroy != nullptr) {
    entry.destroy(entry.object);
  } else {
    delete entry.object;
  }
}

std::vector<QXSingletonController::Entry>::const_iterator QXSingletonController::find(
    const std::string& name) const {
  return std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.name == name; });
}

bool QXSingletonController::registerSingleton(const std::string& name,
                                              std::unique_ptr<QXAbstractProduct> object) {
  if (!object || find(name) != entries_.end()) return false;
  entries_.reserve(entries_.size() + 1);  // may throw; object is still ours then
  entries_.push_back(Entry{name, object.release(), nullptr});
  return true;
}

bool QXSingletonController::registerSingleton(const std::string& name, Creator create, Destroyer destroy) {
  if (create == nullptr || find(name) != entries_.end()) return false;
  Entry entry{name, create(), destroy};
  if (entry.object == nullptr) return false;
  // The creator may have registered singletons itself, even under this name.
  if (find(name) != entries_.end()) {
    destroyEntry(entry);
    return false;
  }
  try {
    entries_.push_back(entry);
  } catch (...) {
    destroyEntry(entry);
    throw;
  }
  return true;
}

QXAbstractProduct* QXSingletonController::singleton(const std::string& name) const {
  auto it = find(name);
  return it == entries_.end() ? nullptr : it->object;
}

bool QXSingletonController::unregisterSingleton(const std::string& name) {
  auto it = find(name);
  if (it == entries_.end()) return false;
  Entry entry = *it;
  entries_.erase(it);  // gone before its destructor runs
  destroyEntry(entry);
  return true;
}

void QXSingletonController::clear() {
  while (!entries_.empty()) {
    Entry entry = std::move(entries_.back());
    entries_.pop_back();
    destroyEntry(entry);
  }
}
