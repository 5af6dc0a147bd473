// A target implementation whose every answer comes from a fuzzer's input: the data returned,
// its length, the status, the sense data (any length) and the error values.
#pragma once

#include <vector>

#include "fuzz_input.h"
#include "qxscsi/implementation.h"
#include "qxscsi/target.h"

namespace qxscsi::fuzz {

// What the device did with the last command it carried out.
struct LastCommand {
  bool executed = false;
  std::vector<unsigned char> cdb;
  unsigned long dataLength = 0;  // the record's buffer length
  int direction = -1;
  unsigned long timeout = 0;
  std::vector<unsigned char> written;  // data-in bytes written from the buffer's start
  unsigned char status = 0;
};

// Reads its answers off `input` (borrowed; must outlive the device). Never writes past the
// record's data buffer: a device cannot return more than the host asked for.
class FuzzedDevice : public QXScsiTargetImpl {
 public:
  FuzzedDevice(Input& input, LastCommand& last) : input_(input), last_(last) {}

  bool access(const char*, int) override { return true; }
  bool accessExclusive(const char*, int) override { return true; }
  bool release() override { return true; }
  bool executeCommand(QXScsiCmd& cmd, const QXScsiDevice& device) override;
  long implementationError() const override { return error_; }

 private:
  Input& input_;
  LastCommand& last_;
  long error_ = 0;
};

// A plain target whose implementation is a FuzzedDevice over `input` (borrowed).
class FuzzedTarget : public QXScsiTarget {
 public:
  FuzzedTarget(Input& input, LastCommand& last) : input_(input), last_(last) {}
  QXScsiTargetImpl* getClientScsiTargetImpl() const override { return new FuzzedDevice(input_, last_); }

 private:
  Input& input_;
  LastCommand& last_;
};

}  // namespace qxscsi::fuzz
