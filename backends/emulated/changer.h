// Emulated medium changer: one transport, data transfer elements, import/export elements and storage slots.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "device.h"
#include "side_file.h"

namespace qxscsi::backends::emulated {

// Answers READ ELEMENT STATUS (element status pages, descriptors of 16 bytes or 52 with
// primary volume tags), MOVE MEDIUM and INITIALIZE ELEMENT STATUS, besides the common
// commands. Element addresses: transport 0000h, drives 0100h on, import/export elements
// (ports) 0200h on, slots 1000h on. Every slot starts full, with volume tag "QX" and the slot
// number in six digits; drives and ports start empty. A port moves media in and out both ways.
// A changer kept in a file (PATH) stores the element contents there after each move, as a state
// file (side_file.h) with magic "QXCHNGR"; PATH + ".lock" is held locked (flock) while open.
class Changer : public Device {
 public:
  static constexpr const char* fileMagic_c = "QXCHNGR";

  static constexpr unsigned transportAddress_c = 0x0000;
  static constexpr unsigned firstDriveAddress_c = 0x0100;
  static constexpr unsigned firstPortAddress_c = 0x0200;
  static constexpr unsigned firstSlotAddress_c = 0x1000;

  explicit Changer(const Options& options);
  // A changer whose element contents are kept at `path`: null with `failure` filled when the
  // file cannot be used or does not describe the elements the options ask. `fs` outlives it.
  static std::unique_ptr<Changer> open(const Options& options, FileSystem& fs, const std::string& path,
                                       OpenFailure& failure);
  ~Changer() override;

 protected:
  bool shapeOf(const unsigned char* cdb, Shape& shape) const override;
  void run(Exchange& x) override;
  bool removable() const override { return true; }

 private:
  struct Element {
    unsigned address = 0;
    unsigned char type = 0;  // 1 transport, 2 storage, 4 data transfer
    bool full = false;
    std::string tag;
    bool sourceValid = false;
    unsigned source = 0;
  };

  void readElementStatus(Exchange& x);
  void moveMedium(Exchange& x);
  Element* find(std::vector<Element>& elements, unsigned address);
  std::vector<unsigned char> encode() const;
  // Takes the element contents of `payload`; false with `error` when they do not fit.
  bool decode(const std::vector<unsigned char>& payload, std::string& error);

  std::unique_ptr<SideFile> file_;
  FileSystem* fs_ = nullptr;
  int lock_ = -1;  // descriptor holding the lock

  std::vector<std::vector<Element>> units_;  // per logical unit, in address order
};

}  // namespace qxscsi::backends::emulated
