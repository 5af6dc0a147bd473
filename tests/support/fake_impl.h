// Recording fake target implementation, its creator for the factory, and a target that supplies fakes.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qxscsi/implementation.h"
#include "qxscsi/target.h"

namespace qxscsi::test {

// Everything the fakes of one test did, in order. It outlives the fakes (they share it), so a test can
// still read what a fake did after its holder deleted it.
//
// Calls are recorded as text, one entry per call of a virtual operation:
//   "hintFrom:<hint>", "access:<name>:<mode>", "accessExclusive:<name>:<mode>", "access(handle):<h>",
//   "release", "getScsiAddress", "executeCommand", "accessScsiTarget(address)",
//   "accessScsiTarget(device):<name>", "overrideDefaultBehavior:<number of records>",
//   "disableImplicitRelease", "destroyed" (the destructor), "destroyer" (the factory's destroyer).
// Queries (implementationError, handle, adapter, ...) are not recorded.
class FakeJournal {
 public:
  struct Call {
    int fake;  // id of the fake (1, 2, ... in order of construction)
    std::string what;
  };
  // What a fake saw of one executeCommand call (the record itself belongs to the caller).
  struct Command {
    int fake;
    std::vector<unsigned char> cdb;
    const unsigned char* data;
    unsigned long dataLength;
    int direction;
    unsigned long timeout;
    QXScsiAddress address;
    int deviceType;
    std::string deviceName;
  };

  std::vector<Call> calls;
  std::vector<Command> commands;
  int created = 0;    // fakes constructed
  int destroyed = 0;  // fakes destroyed

  // Calls of one fake, in order.
  std::vector<std::string> callsOf(int fake) const;
  // How often fake (0: any fake) received exactly what.
  int count(int fake, const std::string& what) const;
  // Whether fake is constructed and not yet destroyed.
  bool alive(int fake) const;
};

// Scripted answers of a fake; the defaults open, execute and release successfully.
struct FakeScript {
  bool hintAccepted = true;
  bool accessResult = true;
  bool accessExclusiveResult = true;
  bool releaseResult = true;
  bool executeResult = true;
  bool accessTargetResult = true;  // both accessScsiTarget forms
  bool addressResult = true;
  QXScsiAddress address = QXScsiLunAddress(0, 1, 0);  // reported by getScsiAddress
  long error = 0;                                     // implementationError()
  std::string errorHint;                              // written by implementationErrorHint
  int handle = 0;                                     // handle(); access(void*) stores the offered one
  int adapter = -1;
  int osPlatform = -1;
  int transport = -1;
  long version = 0;
  bool state = false;  // isTargetState answer for every state
  // What a successful executeCommand writes into the record.
  unsigned char status = 0;
  std::vector<unsigned char> sense;
  bool senseIncomplete = false;
  long cmdError = 0;
  const char* cmdErrorMessage = nullptr;
  std::vector<unsigned char> dataIn;  // copied into the caller's buffer for direction 0
};

// A target implementation that records every call in a shared journal and answers from its script.
class FakeImpl : public QXScsiTargetImpl {
 public:
  FakeImpl(std::shared_ptr<FakeJournal> journal, const FakeScript& script);
  ~FakeImpl() override;

  bool hintFrom(std::string& hint) override;
  bool access(const char* name, int accessMode) override;
  bool accessExclusive(const char* name, int accessMode) override;
  void access(void* handle) override;
  bool release() override;
  bool getScsiAddress(QXScsiAddress& address, bool& flag) override;
  bool executeCommand(QXScsiCmd& cmd, const QXScsiDevice& device) override;
  bool accessScsiTarget(const QXScsiAddress& address) override;
  bool accessScsiTarget(const QXScsiDevice& device) override;
  long implementationVersion() const override { return script.version; }
  long implementationError() const override { return script.error; }
  void implementationErrorHint(std::string& hint) override { hint = script.errorHint; }
  int handle() const override { return script.handle; }
  int adapter() const override { return script.adapter; }
  int os_platform() const override { return script.osPlatform; }
  int scsi_transport() const override { return script.transport; }
  void overrideDefaultBehavior(const std::vector<QXScsi::ParameterData>& params) override;
  void disableImplicitRelease() override;
  bool isTargetState(unsigned long) const override { return script.state; }

  int id() const { return id_; }
  FakeScript script;  // change freely between calls
  // Replaces the scripted executeCommand when set (the call is still recorded).
  std::function<bool(FakeImpl&, QXScsiCmd&, const QXScsiDevice&)> onExecute;

 private:
  friend class FakeImplSource;
  void record(const std::string& what);
  std::shared_ptr<FakeJournal> journal_;
  int id_;
};

// The fake as a factory product. The registered creator is a plain function, so it reaches the one
// bound FakeImplSource of the process (at most one at a time; binding is the source's lifetime).
class FakeImplSource {
 public:
  explicit FakeImplSource(std::shared_ptr<FakeJournal> journal);
  ~FakeImplSource();
  FakeImplSource(const FakeImplSource&) = delete;
  FakeImplSource& operator=(const FakeImplSource&) = delete;

  FakeScript script;           // copied into every fake the creator makes
  bool createNothing = false;  // the creator answers null
  int requests = 0;            // calls of the creator

  // The creator and destroyer to register with the factory.
  static QXAbstractProduct* create();
  static void destroy(QXAbstractProduct* product);

 private:
  std::shared_ptr<FakeJournal> journal_;
};

// A target whose subclass hook supplies fakes: nothing, one fake on the first call only, or a new fake
// on every call (the target must keep the first and delete the others).
class FakeClientTarget : public QXScsiTarget {
 public:
  enum class Supply { nothing, once, everyCall };
  FakeClientTarget(std::shared_ptr<FakeJournal> journal, Supply supply, const FakeScript& script = {});
  QXScsiTargetImpl* getClientScsiTargetImpl() const override;
  void implementationHint(std::string& hint) const override { hint = hintText; }

  std::string hintText;      // handed to the factory when the hook supplies nothing
  mutable int supplied = 0;  // fakes handed out by the hook

 private:
  std::shared_ptr<FakeJournal> journal_;
  Supply supply_;
  FakeScript script_;
};

// The fake held by target (creating it if needed), or null when the target has none or another kind.
FakeImpl* fakeOf(const QXScsiTarget& target);

}  // namespace qxscsi::test
