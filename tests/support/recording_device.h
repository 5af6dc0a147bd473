// Test support: a scripted device behind a recording target implementation, for the standard
// commands, the SPI target and the device-name search.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "qxscsi/target.h"

namespace qxscsi::test {

// One executeCommand call as the implementation saw it.
struct SentCommand {
  std::vector<unsigned char> cdb;       // cdbLength bytes of the record's CDB
  const unsigned char* data = nullptr;  // the record's data reference
  unsigned long dataLength = 0;
  int direction = -1;
  unsigned long timeout = 0;
  QXScsiAddress address;  // the record's address
  int deviceType = 0;     // the descriptor passed with the record
  std::string deviceName;
  std::vector<unsigned char> dataAtSend;  // the buffer's first bytes (at most 64 KiB) on arrival
};

// What one device answers (the script) and what it was asked (the log). Owned by the test;
// every implementation made for it refers to it, so it must outlive them.
struct RecordingDevice {
  // Script.
  bool accessResult = true;   // access / accessExclusive
  int openedHandle = 7;       // handle() after a successful access by name
  bool addressResult = true;  // getScsiAddress
  QXScsiAddress address = QXScsiLunAddress(1, 2, 3);
  int adapterNumber = 4;                // adapter()
  bool executeResult = true;            // executeCommand
  unsigned char status = 0;             // SCSI status written into executed records
  std::vector<unsigned char> sense;     // sense data written when not empty
  std::vector<unsigned char> response;  // data-in bytes (at most the record's length are written)
  long recordError = 0;                 // written into executed records when not 0
  long error = 0;                       // implementationError()
  // Per-name overrides of openedHandle, address and adapter, for name probes.
  struct Named {
    int handle;
    QXScsiAddress address;
    int adapter;
  };
  std::map<std::string, Named> names;

  // Log.
  std::vector<std::string> calls;        // operation names, in order
  std::vector<std::string> openedNames;  // names given to access / accessExclusive
  std::vector<int> adoptedHandles;       // values given to access(void*)
  std::vector<SentCommand> commands;
  std::vector<std::vector<QXScsi::ParameterData>> parameterLists;  // overrideDefaultBehavior
  int created = 0;
  int destroyed = 0;

  // A new implementation for this device, owned by the caller.
  QXScsiTargetImpl* newImplementation();
  // Number of calls named call.
  int count(const std::string& call) const;
};

// A plain target whose subclass hook supplies implementations for one device.
class DeviceTarget : public QXScsiTarget {
 public:
  explicit DeviceTarget(RecordingDevice& device) : device_(device) {}
  QXScsiTargetImpl* getClientScsiTargetImpl() const override { return device_.newImplementation(); }

 private:
  RecordingDevice& device_;
};

// Makes device the product of the factory singleton for as long as the object lives: registers
// the singleton "13QXScsiFactory" if there is none and removes it again at the end.
class FactoryRegistration {
 public:
  explicit FactoryRegistration(RecordingDevice& device);
  ~FactoryRegistration();
  FactoryRegistration(const FactoryRegistration&) = delete;
  FactoryRegistration& operator=(const FactoryRegistration&) = delete;

 private:
  bool registeredSingleton_ = false;
};

// A record handed out by the library, released with QXScsiFreeCmd when the holder goes.
using Record = std::unique_ptr<QXScsiCmd, void (*)(QXScsiCmd*)>;
inline Record own(QXScsiCmd* cmd) { return Record(cmd, &QXScsiFreeCmd); }

// The CDB bytes held by a record.
std::vector<unsigned char> cdbOf(const QXScsiCmd& cmd);
// The eight bytes of an address.
std::vector<unsigned char> bytesOf(const QXScsiAddress& address);

}  // namespace qxscsi::test
