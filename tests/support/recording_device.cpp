// Test support: the recording implementation behind RecordingDevice, and the factory hook-up.
#include "support/recording_device.h"

#include <algorithm>

#include "qxpattern/singleton.h"
#include "qxscsi/factory.h"

namespace qxscsi::test {
namespace {

class RecordingImpl : public QXScsiTargetImpl {
 public:
  explicit RecordingImpl(RecordingDevice& device) : device_(device) { ++device_.created; }
  ~RecordingImpl() override { ++device_.destroyed; }

  bool access(const char* name, int) override { return open("access", name); }
  bool accessExclusive(const char* name, int) override { return open("accessExclusive", name); }
  void access(void* handle) override {
    device_.calls.push_back("access(handle)");
    handle_ = *static_cast<int*>(handle);
    device_.adoptedHandles.push_back(handle_);
  }
  bool release() override {
    device_.calls.push_back("release");
    return true;
  }
  bool getScsiAddress(QXScsiAddress& address, bool& flag) override {
    device_.calls.push_back("getScsiAddress");
    flag = false;
    if (!device_.addressResult) return false;
    address = named_ ? named_->address : device_.address;
    return true;
  }
  bool executeCommand(QXScsiCmd& cmd, const QXScsiDevice& device) override {
    device_.calls.push_back("executeCommand");
    SentCommand sent;
    const unsigned char* cdb = nullptr;
    unsigned char cdbLength = 0;
    cmd.getCDB(cdb, cdbLength);
    sent.cdb.assign(cdb, cdb + cdbLength);
    cmd.getCmdData(sent.data, sent.dataLength, sent.direction);
    sent.timeout = cmd.timeout();
    cmd.getScsiAddress(sent.address);
    sent.deviceType = device.deviceType();
    sent.deviceName = device.name();
    // At most the first 64 KiB: tests of huge lengths pass a buffer of that size.
    const unsigned long captured = std::min<unsigned long>(sent.dataLength, 65536);
    if (sent.data != nullptr) sent.dataAtSend.assign(sent.data, sent.data + captured);
    device_.commands.push_back(sent);
    if (!device_.executeResult) return false;
    if (sent.direction == QXScsi::dataIn_c && sent.data != nullptr) {
      const unsigned long n = std::min<unsigned long>(sent.dataLength, device_.response.size());
      std::copy(device_.response.begin(), device_.response.begin() + n,
                const_cast<unsigned char*>(sent.data));
    }
    setCmdScsiStatus(cmd, device_.status);
    if (!device_.sense.empty()) setCmdSenseData(cmd, device_.sense.data(), device_.sense.size());
    if (device_.recordError != 0) setCmdErrorCode(cmd, device_.recordError, "recorded error");
    return true;
  }
  long implementationError() const override { return device_.error; }
  int handle() const override { return handle_; }
  int adapter() const override { return named_ ? named_->adapter : device_.adapterNumber; }
  void overrideDefaultBehavior(const std::vector<QXScsi::ParameterData>& params) override {
    device_.calls.push_back("overrideDefaultBehavior");
    device_.parameterLists.push_back(params);
  }

 private:
  bool open(const char* call, const char* name) {
    device_.calls.push_back(call);
    device_.openedNames.push_back(name);
    auto it = device_.names.find(name);
    named_ = it == device_.names.end() ? nullptr : &it->second;
    if (named_ != nullptr) {
      handle_ = named_->handle;
      return handle_ != QXScsi::invalidHandleValue_c;
    }
    if (!device_.accessResult) return false;
    handle_ = device_.openedHandle;
    return true;
  }

  RecordingDevice& device_;
  const RecordingDevice::Named* named_ = nullptr;
  int handle_ = 0;
};

RecordingDevice* factoryDevice = nullptr;  // the device that factory products serve

QXAbstractProduct* createForFactory() {
  return factoryDevice != nullptr ? factoryDevice->newImplementation() : nullptr;
}
void destroyForFactory(QXAbstractProduct* product) { delete product; }

const char* const factoryName = "13QXScsiFactory";

}  // namespace

QXScsiTargetImpl* RecordingDevice::newImplementation() { return new RecordingImpl(*this); }

std::vector<unsigned char> cdbOf(const QXScsiCmd& cmd) {
  const unsigned char* cdb = nullptr;
  unsigned char length = 0;
  cmd.getCDB(cdb, length);
  return std::vector<unsigned char>(cdb, cdb + length);
}

std::vector<unsigned char> bytesOf(const QXScsiAddress& address) {
  std::vector<unsigned char> bytes;
  for (unsigned char i = 0; i < 8; ++i) bytes.push_back(address.addressByte(i));
  return bytes;
}

int RecordingDevice::count(const std::string& call) const {
  return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

FactoryRegistration::FactoryRegistration(RecordingDevice& device) {
  factoryDevice = &device;
  QXSingletonController& registry = QXSingletonController::instance();
  if (registry.singleton(factoryName) == nullptr) {
    registeredSingleton_ = registry.registerSingleton(factoryName, &QXScsiFactory::createInstance,
                                                      &QXScsiFactory::deleteInstance);
  }
  auto* factory = static_cast<QXScsiFactory*>(registry.singleton(factoryName));
  factory->registerScsiTargetImpl(&createForFactory, &destroyForFactory);
}

FactoryRegistration::~FactoryRegistration() {
  if (registeredSingleton_) QXSingletonController::instance().unregisterSingleton(factoryName);
  factoryDevice = nullptr;
}

}  // namespace qxscsi::test
