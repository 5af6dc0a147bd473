// Test fixture helpers: the factory singleton in the companion registry, with the fake registered.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "qxscsi/factory.h"
#include "support/fake_impl.h"

namespace qxscsi::test {

// For its lifetime, a QXScsiFactory is the process's singleton "13QXScsiFactory" (a leftover one is
// removed first; a later scope replaces this one) and, unless told otherwise, FakeImplSource's creator is
// registered with it. The destructor removes the singleton again; implementations made meanwhile stay with
// their targets.
class FactoryScope {
 public:
  explicit FactoryScope(bool registerFake = true);
  ~FactoryScope();
  FactoryScope(const FactoryScope&) = delete;
  FactoryScope& operator=(const FactoryScope&) = delete;

  // The registered factory, borrowed from the registry.
  QXScsiFactory& factory() const;

  std::shared_ptr<FakeJournal> journal;  // shared with every fake made in this scope
  FakeImplSource source;                 // script and counters of the registered creator
};

// Base fixture: a FactoryScope per test (set up before, removed after the test body).
class FactoryFixture : public ::testing::Test {
 protected:
  FactoryFixture() : scope(std::make_unique<FactoryScope>()) {}

  FakeJournal& journal() const { return *scope->journal; }
  FakeScript& script() const { return scope->source.script; }

  std::unique_ptr<FactoryScope> scope;
};

}  // namespace qxscsi::test
