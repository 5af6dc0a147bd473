// Sense-data views on arbitrary bytes and lengths: every accessor, additionalSense into an exact
// buffer, copyFrom between views (overlapping ones included) and a record's own sense buffer.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz_input.h"
#include "qxscsi/commands.h"
#include "qxscsi/sense.h"

using qxscsi::fuzz::Input;

namespace {

// Reads every field, the way a caller decoding unknown sense data would.
unsigned long readAll(const QXScsiSenseData& view, Input& in) {
  unsigned long sum = view.infoValid() + view.responseCode() + view.segmentNumber() + view.fileMark() +
                      view.endOfMedia() + view.illegalLength() + view.senseKey() + view.information() +
                      view.additionalLength() + view.commandSpecific() + view.additionalSenseCode() +
                      view.additionalSenseQualifier() + view.fieldReplaceableUnit() +
                      view.isSenseKeySpecificValid() + view.senseKeySpecific();
  QXSCSI_FUZZ_CHECK(view.responseCode() < 0x80 && view.senseKey() < 0x10);
  QXSCSI_FUZZ_CHECK(view.senseKeySpecific() < (1ul << 23));
  // An output buffer of exactly max bytes: the copy may fill it, never pass it.
  const unsigned long max = in.u16() % 512;
  std::unique_ptr<char[]> out(new char[max == 0 ? 1 : max]);
  const unsigned long n = view.additionalSense(max == 0 ? nullptr : out.get(), max);
  QXSCSI_FUZZ_CHECK(n <= max && n <= view.additionalLength());
  for (unsigned long i = 0; i < n; ++i) sum += static_cast<unsigned char>(out[i]);
  return sum;
}

// A view over length bytes of fresh heap memory, or over no buffer with a made-up length.
struct ViewBytes {
  std::unique_ptr<unsigned char[]> bytes;
  unsigned long length = 0;
  bool none = false;

  static ViewBytes from(Input& in) {
    ViewBytes v;
    const uint8_t shape = in.byte();
    if ((shape & 0x0F) == 0x0F) {
      v.none = true;
      v.length = in.u16();
      return v;
    }
    // Lengths around the interesting sizes: 0, 1, 17, 18, 255, 256, 300 and anything below 512.
    static const unsigned long fixed[] = {0, 1, 17, 18, 254, 255, 256, 257, 300};
    v.length = (shape & 0x08) != 0 ? fixed[(shape >> 4) % 9] : in.u16() % 512;
    v.bytes.reset(new unsigned char[v.length == 0 ? 1 : v.length]);
    const std::vector<uint8_t> fill = in.bytes(v.length);
    std::fill(v.bytes.get(), v.bytes.get() + v.length, static_cast<unsigned char>(shape));
    std::copy(fill.begin(), fill.end(), v.bytes.get());
    return v;
  }
  QXScsiSenseData view() const { return QXScsiSenseData(none ? nullptr : bytes.get(), length); }
};

void checkView(const ViewBytes& v, Input& in) {
  const QXScsiSenseData view = v.view();
  QXSCSI_FUZZ_CHECK(view.valid() == (v.none || v.length != 0));
  unsigned char* buffer = nullptr;
  unsigned char length = 0;
  view.getBuffer(buffer, length);
  QXSCSI_FUZZ_CHECK(length == static_cast<unsigned char>(v.length));
  readAll(view, in);
}

void checkCopy(ViewBytes& to, const QXScsiSenseData& source, unsigned long sourceLength,
               const unsigned char* sourceBytes, Input& in) {
  const std::vector<unsigned char> before(to.bytes.get(), to.bytes.get() + (to.none ? 0 : to.length));
  const std::vector<unsigned char> sourceBefore(sourceBytes, sourceBytes + (sourceBytes ? sourceLength : 0));
  QXScsiSenseData target = to.view();
  bool truncated = true;
  bool nothingCopied = true;
  const bool ok = target.copyFrom(source, truncated, nothingCopied);
  QXSCSI_FUZZ_CHECK(ok == (source.valid() && target.valid()));
  if (!ok) {
    QXSCSI_FUZZ_CHECK(!truncated && !nothingCopied);
    QXSCSI_FUZZ_CHECK(to.none || std::equal(before.begin(), before.end(), to.bytes.get()));
    return;
  }
  const unsigned long have = to.none ? 0 : to.length;
  const unsigned long offered = sourceBytes == nullptr ? 0 : sourceLength;
  const unsigned long n = std::min(have, offered);
  QXSCSI_FUZZ_CHECK(nothingCopied == (n == 0));
  QXSCSI_FUZZ_CHECK(truncated == (have != 0 && have < offered));
  // The first n bytes hold the source's bytes as they were; the rest of the view is untouched.
  QXSCSI_FUZZ_CHECK(std::equal(sourceBefore.begin(), sourceBefore.begin() + n, to.bytes.get()));
  QXSCSI_FUZZ_CHECK(std::equal(before.begin() + n, before.end(), to.bytes.get() + n));
  readAll(target, in);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const uint8_t mode = in.byte() % 4;
  ViewBytes first = ViewBytes::from(in);
  checkView(first, in);
  switch (mode) {
    case 0:
      break;
    case 1: {  // copy between two separate views
      ViewBytes source = ViewBytes::from(in);
      checkView(source, in);
      checkCopy(first, source.view(), source.length, source.none ? nullptr : source.bytes.get(), in);
      break;
    }
    case 2: {  // copy from a view that overlaps the target's bytes
      if (first.none || first.length == 0) break;
      const unsigned long offset = in.u16() % first.length;
      const unsigned long length = in.u16() % (first.length - offset + 1);
      const unsigned char* bytes = first.bytes.get() + offset;
      checkCopy(first, QXScsiSenseData(bytes, length), length, bytes, in);
      break;
    }
    case 3: {  // a record keeps at most 255 bytes in its own buffer
      QXScsiCmd cmd(nullptr, 0, nullptr, 0, QXScsi::noData_c);
      cmd.setSenseData(first.none ? nullptr : first.bytes.get(), first.none ? 0 : first.length);
      const QXScsiSenseData view = cmd.senseData();
      unsigned char* buffer = nullptr;
      unsigned char length = 0;
      view.getBuffer(buffer, length);
      QXSCSI_FUZZ_CHECK(length == 255 && buffer != nullptr);
      const unsigned long kept = first.none ? 0 : std::min(first.length, 255ul);
      QXSCSI_FUZZ_CHECK(std::equal(buffer, buffer + kept, first.bytes.get()));
      readAll(view, in);
      break;
    }
  }
  return 0;
}
