// Recording fake target implementation.
#include "support/fake_impl.h"

#include <algorithm>
#include <cstring>

namespace qxscsi::test {

std::vector<std::string> FakeJournal::callsOf(int fake) const {
  std::vector<std::string> out;
  for (const Call& c : calls)
    if (c.fake == fake) out.push_back(c.what);
  return out;
}

int FakeJournal::count(int fake, const std::string& what) const {
  return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const Call& c) {
    return (fake == 0 || c.fake == fake) && c.what == what;
  }));
}

bool FakeJournal::alive(int fake) const {
  return fake >= 1 && fake <= created && count(fake, "destroyed") == 0;
}

FakeImpl::FakeImpl(std::shared_ptr<FakeJournal> journal, const FakeScript& s)
    : script(s), journal_(std::move(journal)), id_(++journal_->created) {}

FakeImpl::~FakeImpl() {
  record("destroyed");
  ++journal_->destroyed;
}

void FakeImpl::record(const std::string& what) { journal_->calls.push_back({id_, what}); }

bool FakeImpl::hintFrom(std::string& hint) {
  record("hintFrom:" + hint);
  if (!script.hintAccepted) return false;
  return QXScsiTargetImpl::hintFrom(hint);
}

bool FakeImpl::access(const char* name, int accessMode) {
  record("access:" + std::string(name) + ":" + std::to_string(accessMode));
  return script.accessResult;
}

bool FakeImpl::accessExclusive(const char* name, int accessMode) {
  record("accessExclusive:" + std::string(name) + ":" + std::to_string(accessMode));
  return script.accessExclusiveResult;
}

void FakeImpl::access(void* handle) {
  const int h = *static_cast<int*>(handle);
  record("access(handle):" + std::to_string(h));
  script.handle = h;
}

bool FakeImpl::release() {
  record("release");
  return script.releaseResult;
}

bool FakeImpl::getScsiAddress(QXScsiAddress& address, bool& flag) {
  record("getScsiAddress");
  flag = false;
  if (!script.addressResult) return false;
  address = script.address;
  return true;
}

bool FakeImpl::executeCommand(QXScsiCmd& cmd, const QXScsiDevice& device) {
  record("executeCommand");
  FakeJournal::Command seen{id_, {}, nullptr, 0, 0, cmd.timeout(), {}, device.deviceType(), device.name()};
  const unsigned char* cdb = nullptr;
  unsigned char cdbLength = 0;
  cmd.getCDB(cdb, cdbLength);
  seen.cdb.assign(cdb, cdb + cdbLength);
  cmd.getCmdData(seen.data, seen.dataLength, seen.direction);
  cmd.getScsiAddress(seen.address);
  journal_->commands.push_back(seen);
  if (onExecute) return onExecute(*this, cmd, device);
  if (!script.executeResult) return false;
  setCmdScsiStatus(cmd, script.status);
  if (!script.sense.empty()) setCmdSenseData(cmd, script.sense.data(), script.sense.size());
  if (script.senseIncomplete) incompleteSense(cmd, true);
  if (script.cmdError != 0 || script.cmdErrorMessage != nullptr)
    setCmdErrorCode(cmd, script.cmdError, script.cmdErrorMessage);
  if (seen.direction == QXScsi::dataIn_c && seen.data != nullptr && !script.dataIn.empty()) {
    // The data buffer is the caller's writable buffer; the record only hands it out as const.
    std::memcpy(const_cast<unsigned char*>(seen.data), script.dataIn.data(),
                std::min<unsigned long>(seen.dataLength, script.dataIn.size()));
  }
  return true;
}

bool FakeImpl::accessScsiTarget(const QXScsiAddress&) {
  record("accessScsiTarget(address)");
  return script.accessTargetResult;
}

bool FakeImpl::accessScsiTarget(const QXScsiDevice& device) {
  record("accessScsiTarget(device):" + device.name());
  return script.accessTargetResult;
}

void FakeImpl::overrideDefaultBehavior(const std::vector<QXScsi::ParameterData>& params) {
  record("overrideDefaultBehavior:" + std::to_string(params.size()));
}

void FakeImpl::disableImplicitRelease() {
  record("disableImplicitRelease");
  QXScsiTargetImpl::disableImplicitRelease();
}

namespace {
FakeImplSource* boundSource = nullptr;
}  // namespace

FakeImplSource::FakeImplSource(std::shared_ptr<FakeJournal> journal) : journal_(std::move(journal)) {
  boundSource = this;
}

FakeImplSource::~FakeImplSource() {
  if (boundSource == this) boundSource = nullptr;
}

QXAbstractProduct* FakeImplSource::create() {
  if (boundSource == nullptr) return nullptr;
  ++boundSource->requests;
  if (boundSource->createNothing) return nullptr;
  return new FakeImpl(boundSource->journal_, boundSource->script);
}

void FakeImplSource::destroy(QXAbstractProduct* product) {
  auto* fake = dynamic_cast<FakeImpl*>(product);
  if (fake != nullptr) fake->journal_->calls.push_back({fake->id(), "destroyer"});
  delete product;
}

FakeClientTarget::FakeClientTarget(std::shared_ptr<FakeJournal> journal, Supply supply,
                                   const FakeScript& script)
    : QXScsiTarget(), journal_(std::move(journal)), supply_(supply), script_(script) {}

QXScsiTargetImpl* FakeClientTarget::getClientScsiTargetImpl() const {
  if (supply_ == Supply::nothing || (supply_ == Supply::once && supplied > 0)) return nullptr;
  ++supplied;
  return new FakeImpl(journal_, script_);
}

FakeImpl* fakeOf(const QXScsiTarget& target) { return dynamic_cast<FakeImpl*>(target.getScsiTargetImpl()); }

}  // namespace qxscsi::test
