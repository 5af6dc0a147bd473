// Emulated sequential-access device in variable-block mode.
#pragma once

#include <memory>
#include <vector>

#include "device.h"
#include "tape_file.h"

namespace qxscsi::backends::emulated {

// Answers REWIND, READ(6), WRITE(6), WRITE FILEMARKS(6), SPACE(6) (blocks, filemarks,
// end of data), READ POSITION (short form), READ BLOCK LIMITS, MODE SENSE(6) and MODE
// SELECT(6) (header and block descriptor: a block length other than 0 sets fixed-block mode,
// for the whole device), LOAD UNLOAD and ERASE, besides the common commands. Each logical
// unit holds one partition of logical objects (records and filemarks) up to `capacity`
// bytes of record data; writing anywhere ends the data after what was written. An unloaded
// unit answers media commands with NOT READY, MEDIUM NOT PRESENT (3Ah/00h) until loaded. A
// tape kept in a file writes each change to it and syncs at WRITE FILEMARKS, REWIND, LOAD
// UNLOAD and ERASE; a failing file answers MEDIUM ERROR, WRITE ERROR (03h/0Ch/00h).
class Tape : public Device {
 public:
  explicit Tape(const Options& options);
  // One unit holding `objects`, kept in `file` (taken over).
  Tape(const Options& options, std::unique_ptr<TapeFile> file, std::vector<TapeObject> objects);

 protected:
  bool shapeOf(const unsigned char* cdb, Shape& shape) const override;
  void run(Exchange& x) override;
  bool removable() const override { return true; }

 private:
  using Object = TapeObject;
  struct Unit {
    std::vector<Object> objects;  // logical objects up to end of data
    size_t position = 0;          // index of the next object
    unsigned long used = 0;       // record bytes stored
    bool unloaded = false;        // by LOAD UNLOAD
  };

  void read(Exchange& x);
  void write(Exchange& x);
  void writeFileMarks(Exchange& x);
  void space(Exchange& x);
  void readPosition(Exchange& x);
  // Fixed-block READ and WRITE: the count is blocks of blockLength_ bytes, one record each.
  void readFixed(Exchange& x);
  void writeFixed(Exchange& x);
  void readBlockLimits(Exchange& x);
  void modeSense(Exchange& x);
  void modeSelect(Exchange& x);
  void loadUnload(Exchange& x);
  void erase(Exchange& x);
  // The largest record: READ BLOCK LIMITS' maximum.
  uint32_t maxBlock() const;
  // Drops every object from the position on, as writing there does.
  void truncate(Unit& u);
  // Writes the objects from index `from` on to the file (when there is one, then synced when
  // `sync`); false, with MEDIUM ERROR answered, when that failed.
  bool persist(Exchange& x, size_t from, bool sync);

  unsigned long capacity_;
  uint32_t blockLength_ = 0;  // 0: variable-block mode
  std::vector<Unit> units_;
  std::unique_ptr<TapeFile> file_;  // of unit 0, when the tape is kept in a file
};

}  // namespace qxscsi::backends::emulated
