// Medium-changer commands of the emulated library.
#include "changer.h"

#include <algorithm>
#include <cstdio>

#include "medium.h"
#include "qxscsiplatform/errors.h"
#include "wire/bytes.h"

namespace qxscsi::backends::emulated {

using namespace wire;

namespace {

constexpr unsigned char transport_c = 1, storage_c = 2, importExport_c = 3, dataTransfer_c = 4;

Sense invalidElement(unsigned index) { return Sense(illegalRequest_c, 0x21, 0x01).fieldPointer(true, index); }

}  // namespace

Changer::Changer(const Options& options) : Device(0x08, "EMULATED CHANGER", options), units_(lunCount()) {
  for (auto& elements : units_) {
    elements.push_back(Element{transportAddress_c, transport_c, false, {}, false, 0});
    for (unsigned i = 0; i < options.number("drives"); ++i)
      elements.push_back(Element{firstDriveAddress_c + i, dataTransfer_c, false, {}, false, 0});
    for (unsigned i = 0; i < options.number("ports"); ++i)
      elements.push_back(Element{firstPortAddress_c + i, importExport_c, false, {}, false, 0});
    for (unsigned i = 0; i < options.number("slots"); ++i) {
      char tag[16];
      std::snprintf(tag, sizeof tag, "QX%06u", i + 1);
      elements.push_back(Element{firstSlotAddress_c + i, storage_c, true, tag, false, 0});
    }
  }
}

Changer::~Changer() {
  if (lock_ >= 0) fs_->close(lock_);
}

std::unique_ptr<Changer> Changer::open(const Options& options, FileSystem& fs, const std::string& path,
                                       OpenFailure& failure) {
  auto changer = std::make_unique<Changer>(options);
  changer->fs_ = &fs;
  changer->lock_ = openLocked(fs, path + ".lock", failure);
  if (changer->lock_ < 0) return nullptr;
  changer->file_ = std::make_unique<SideFile>(path, fs, fileMagic_c);
  std::vector<unsigned char> payload;
  std::string error;
  if (!changer->file_->load(&payload, &error) || (!payload.empty() && !changer->decode(payload, error))) {
    failure.code = QXScsiPlatform::invalidRequest_c;
    failure.text = error;
    return nullptr;
  }
  if (payload.empty() && !changer->file_->store(changer->encode(), &error)) {
    failure.code = QXScsiPlatform::ioError_c;
    failure.text = error;
    return nullptr;
  }
  return changer;
}

// Per element: address (2 bytes), type, flags (01h full, 02h source valid), source (2 bytes),
// the tag's length and its bytes; after a 4-byte count of elements.
std::vector<unsigned char> Changer::encode() const {
  const std::vector<Element>& elements = units_.at(0);
  std::vector<unsigned char> p(4);
  putBe32(&p[0], static_cast<uint32_t>(elements.size()));
  for (const Element& e : elements) {
    unsigned char d[7];
    putBe16(d, e.address);
    d[2] = e.type;
    d[3] = static_cast<unsigned char>((e.full ? 0x01 : 0) | (e.sourceValid ? 0x02 : 0));
    putBe16(d + 4, e.source);
    d[6] = static_cast<unsigned char>(std::min<size_t>(e.tag.size(), 32));
    p.insert(p.end(), d, d + 7);
    p.insert(p.end(), e.tag.begin(), e.tag.begin() + d[6]);
  }
  return p;
}

bool Changer::decode(const std::vector<unsigned char>& p, std::string& error) {
  std::vector<Element> elements = units_.at(0);
  const std::string where = "\"" + file_->path() + "\": ";
  if (p.size() < 4 || getBe32(p.data()) != elements.size()) {
    error = where + "holds " + (p.size() < 4 ? std::string("no") : std::to_string(getBe32(p.data()))) +
            " elements, the name asks for " + std::to_string(elements.size()) + " (slots, drives, ports)";
    return false;
  }
  size_t at = 4;
  for (Element& e : elements) {
    if (p.size() - at < 7 || p.size() - at - 7 < p[at + 6] || p[at + 6] > 32) {
      error = where + "element contents cut short";
      return false;
    }
    if (getBe16(&p[at]) != e.address || p[at + 2] != e.type || (p[at + 3] & 0xFC)) {
      error = where + "element " + std::to_string(getBe16(&p[at])) + " does not match the name's element " +
              std::to_string(e.address);
      return false;
    }
    e.full = p[at + 3] & 0x01;
    e.sourceValid = p[at + 3] & 0x02;
    e.source = getBe16(&p[at + 4]);
    e.tag.assign(p.begin() + at + 7, p.begin() + at + 7 + p[at + 6]);
    at += 7 + p[at + 6];
  }
  if (at != p.size()) {
    error = where + "bytes after the last element";
    return false;
  }
  units_[0] = std::move(elements);
  return true;
}

bool Changer::shapeOf(const unsigned char* cdb, Shape& s) const {
  switch (cdb[0]) {
    case 0x07:  // INITIALIZE ELEMENT STATUS
      s = {6, QXScsi::noData_c, 0};
      return true;
    case 0xA5:  // MOVE MEDIUM
      s = {12, QXScsi::noData_c, 0};
      return true;
    case 0xB8:  // READ ELEMENT STATUS
      s = {12, QXScsi::dataIn_c, getBe24(cdb + 7)};
      return true;
    default:
      return Device::shapeOf(cdb, s);
  }
}

void Changer::run(Exchange& x) {
  switch (x.op()) {
    case 0x07:
      return;
    case 0xA5:
      return moveMedium(x);
    case 0xB8:
      return readElementStatus(x);
    default:
      return Device::run(x);
  }
}

Changer::Element* Changer::find(std::vector<Element>& elements, unsigned address) {
  for (Element& e : elements)
    if (e.address == address) return &e;
  return nullptr;
}

void Changer::readElementStatus(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  bool volTag = cdb[1] & 0x10;
  unsigned type = cdb[1] & 0x0F;
  if ((cdb[1] & 0xE0) || type > 4) return x.invalidField(1);
  unsigned start = getBe16(cdb + 2), count = getBe16(cdb + 4);

  std::vector<const Element*> chosen;
  bool anyAtOrAfter = false;
  for (const Element& e : units_[x.lun()]) {
    if ((type != 0 && e.type != type) || e.address < start) continue;
    anyAtOrAfter = true;
    if (chosen.size() < count) chosen.push_back(&e);
  }
  if (!anyAtOrAfter) return x.fail(invalidElement(2));

  unsigned descriptorLength = volTag ? 52 : 16;
  std::vector<unsigned char> d(8, 0);
  for (size_t i = 0; i < chosen.size();) {
    // One page per run of elements of the same type.
    size_t j = i;
    while (j < chosen.size() && chosen[j]->type == chosen[i]->type) ++j;
    size_t page = d.size();
    d.resize(page + 8 + (j - i) * descriptorLength, 0);
    d[page] = chosen[i]->type;
    d[page + 1] = volTag ? 0x80 : 0x00;  // PVOLTAG
    putBe16(&d[page + 2], descriptorLength);
    putBe24(&d[page + 5], static_cast<uint32_t>((j - i) * descriptorLength));
    for (size_t k = i; k < j; ++k) {
      const Element& e = *chosen[k];
      unsigned char* p = &d[page + 8 + (k - i) * descriptorLength];
      putBe16(p, e.address);
      // FULL, ACCESS (every element but the transport), and for a port EXENAB and INENAB.
      p[2] = static_cast<unsigned char>((e.full ? 0x01 : 0x00) | (e.type != transport_c ? 0x08 : 0x00) |
                                        (e.type == importExport_c ? 0x30 : 0x00));
      if (e.sourceValid) {
        p[9] = 0x80;  // SVALID
        putBe16(p + 10, e.source);
      }
      if (volTag && e.full) {
        for (unsigned t = 0; t < 32; ++t) p[12 + t] = t < e.tag.size() ? e.tag[t] : ' ';
      }
    }
    i = j;
  }
  if (!chosen.empty()) putBe16(&d[0], chosen.front()->address);
  putBe16(&d[2], static_cast<uint32_t>(chosen.size()));
  putBe24(&d[5], static_cast<uint32_t>(d.size() - 8));
  x.send(d);
}

void Changer::moveMedium(Exchange& x) {
  const unsigned char* cdb = x.cdb();
  if (cdb[10] & 0x01) return x.invalidField(10, 0);  // media are not inverted
  std::vector<Element>& elements = units_[x.lun()];
  unsigned transport = getBe16(cdb + 2);
  if (transport != transportAddress_c) return x.fail(invalidElement(2));
  Element* from = find(elements, getBe16(cdb + 4));
  if (!from || from->type == transport_c) return x.fail(invalidElement(4));
  Element* to = find(elements, getBe16(cdb + 6));
  if (!to || to->type == transport_c) return x.fail(invalidElement(6));
  if (!from->full) return x.fail(Sense(illegalRequest_c, 0x3B, 0x0E));  // MEDIUM SOURCE ELEMENT EMPTY
  if (from == to) return;
  if (to->full) return x.fail(Sense(illegalRequest_c, 0x3B, 0x0D));  // MEDIUM DESTINATION ELEMENT FULL
  const std::vector<Element> before = elements;
  to->full = true;
  to->tag = from->tag;
  to->sourceValid = true;
  to->source = from->type == storage_c ? from->address : from->source;
  from->full = false;
  from->tag.clear();
  from->sourceValid = false;
  from->source = 0;
  std::string error;
  if (file_ && x.lun() == 0 && !file_->store(encode(), &error)) {
    elements = before;                           // not recorded: the move did not happen
    x.fail(Sense(hardwareError_c, 0x44, 0x00));  // INTERNAL TARGET FAILURE
  }
}

}  // namespace qxscsi::backends::emulated
