// Emulated direct-access device: in-memory blocks per logical unit and a copy manager.
#pragma once

#include <map>
#include <vector>

#include "device.h"

namespace qxscsi::backends::emulated {

// Answers READ CAPACITY(10), READ(10), WRITE(10), EXTENDED COPY (LID1: identification
// CSCD descriptors and block-to-block segments between the device's logical units) and
// RECEIVE COPY RESULTS (COPY STATUS, OPERATING PARAMETERS), besides the common commands.
class Disk : public Device {
 public:
  static constexpr unsigned maxCscdDescriptors_c = 8;
  static constexpr unsigned maxSegmentDescriptors_c = 16;

  explicit Disk(const Options& options);

  unsigned long capacity() const { return capacity_; }
  // The bytes of logical unit `lun` (capacity() blocks of the block length).
  std::vector<unsigned char>& medium(unsigned lun) { return units_.at(lun).blocks; }

 protected:
  bool shapeOf(const unsigned char* cdb, Shape& shape) const override;
  void run(Exchange& x) override;
  unsigned char inquiryByte5() const override { return 0x08; }  // 3PC

 private:
  struct CopyStatus {
    unsigned char state = 0x01;  // 01h completed without errors, 02h with errors
    unsigned segments = 0;
    uint32_t bytes = 0;
  };
  struct Unit {
    std::vector<unsigned char> blocks;
    std::map<unsigned char, CopyStatus> copies;  // held results by list identifier
  };

  void readCapacity(Exchange& x);
  void readWrite(Exchange& x, bool write);
  void extendedCopy(Exchange& x);
  void receiveCopyResults(Exchange& x);
  // The logical unit whose designator the identification descriptor `d` (32 bytes)
  // names, or -1.
  int findUnit(const unsigned char* d) const;

  unsigned long capacity_;
  unsigned long block_;
  std::vector<Unit> units_;
};

}  // namespace qxscsi::backends::emulated
