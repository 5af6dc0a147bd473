// Emulated sequential-access device in variable-block mode.
#pragma once

#include <vector>

#include "device.h"

namespace qxscsi::backends::emulated {

// Answers REWIND, READ(6), WRITE(6), WRITE FILEMARKS(6), SPACE(6) (blocks, filemarks,
// end of data) and READ POSITION (short form), besides the common commands. Each logical
// unit holds one partition of logical objects (records and filemarks) up to `capacity`
// bytes of record data; writing anywhere ends the data after what was written.
class Tape : public Device {
 public:
  explicit Tape(const Options& options);

 protected:
  bool shapeOf(const unsigned char* cdb, Shape& shape) const override;
  void run(Exchange& x) override;
  bool removable() const override { return true; }

 private:
  struct Object {
    bool fileMark = false;
    std::vector<unsigned char> bytes;
  };
  struct Unit {
    std::vector<Object> objects;  // logical objects up to end of data
    size_t position = 0;          // index of the next object
    unsigned long used = 0;       // record bytes stored
  };

  void read(Exchange& x);
  void write(Exchange& x);
  void writeFileMarks(Exchange& x);
  void space(Exchange& x);
  void readPosition(Exchange& x);
  // Drops every object from the position on, as writing there does.
  void truncate(Unit& u);

  unsigned long capacity_;
  std::vector<Unit> units_;
};

}  // namespace qxscsi::backends::emulated
