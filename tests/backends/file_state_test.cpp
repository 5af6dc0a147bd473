// A file-backed disk keeps its saved mode pages and copy results in the side file beside the image.
#include <fstream>

#include "engine_helpers.h"
#include "file_fakes.h"

namespace qxscsi::backends::emulated {
namespace {

using namespace testing;

// MODE SENSE(6), DBD, of the caching page with page control `pc`; the page's byte 2.
int cachingByte2(Device& d, unsigned char pc) {
  Bytes b;
  CommandResult o = in(d, {0x1A, 0x08, static_cast<unsigned char>(pc << 6 | 0x08), 0, 255, 0}, b, 255);
  if (o.status != 0 || o.transferred < 7) return -1;
  return b[6];
}

// MODE SELECT(6), PF, with `save` as SP: the caching page with WCE cleared.
unsigned char selectCaching(Device& d, bool save) {
  Bytes list = {0, 0, 0, 0, 0x08, 0x12};
  list.resize(4 + 20, 0);
  const unsigned char sp = save ? 0x01 : 0x00;
  return out(d, {0x15, static_cast<unsigned char>(0x10 | sp), 0, 0, static_cast<unsigned char>(list.size()), 0},
             list)
      .status;
}

TEST(FileStateTest, SavedPagesOutliveTheProcessAndUnsavedOnesDoNot) {
  struct Case {
    bool save;
    int currentAfterReopen, savedAfterReopen;
  };
  for (const Case& c : {Case{true, 0x00, 0x00}, Case{false, 0x04, 0x04}}) {
    TempDir dir;
    const std::string name = "emulated:disk?capacity=16&file=" + dir.file("img");
    {
      std::unique_ptr<Device> d = makeDevice(name);
      ASSERT_TRUE(d);
      ASSERT_EQ(cachingByte2(*d, 0), 0x04);  // WCE by default
      ASSERT_EQ(selectCaching(*d, c.save), 0);
      EXPECT_EQ(cachingByte2(*d, 0), 0x00);
    }
    std::unique_ptr<Device> again = makeDevice(name);
    ASSERT_TRUE(again);
    EXPECT_EQ(cachingByte2(*again, 0), c.currentAfterReopen) << "save " << c.save;
    EXPECT_EQ(cachingByte2(*again, 3), c.savedAfterReopen) << "save " << c.save;
    EXPECT_EQ(cachingByte2(*again, 2), 0x04) << "defaults never change";
  }
}

TEST(FileStateTest, CopyResultsAreHeldAcrossOpenings) {
  TempDir dir;
  const std::string name = "emulated:disk?capacity=16&file=" + dir.file("img");
  {
    std::unique_ptr<Device> d = makeDevice(name);
    const Bytes all = d->designators(0);
    const Bytes naa(all.begin(), all.begin() + 12);
    Bytes list = copyParameterList(5, 0, {identificationDescriptor(naa.data(), 512)},
                                   {blockSegment(0, 0, 2, 1, 8)});
    ASSERT_EQ(out(*d, extendedCopyCdb(static_cast<uint32_t>(list.size())), list).status, 0);
  }
  std::unique_ptr<Device> again = makeDevice(name);
  Bytes b;
  CommandResult o = in(*again, {0x84, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0}, b, 12);
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(b, (Bytes{0, 0, 0, 8, 0x01, 0, 1, 0x00, 0, 0, 0x04, 0x00}));  // one segment, 1024 bytes
}

TEST(FileStateTest, ADamagedSideFileRefusesTheOpeningWithItsName) {
  TempDir dir;
  const std::string image = dir.file("img");
  {
    std::unique_ptr<Device> d = makeDevice("emulated:disk?capacity=16&file=" + image);
    ASSERT_EQ(selectCaching(*d, true), 0);
  }
  std::fstream f(image + ".state", std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(-1, std::ios::end);
  f.put('\x5A');  // the payload no longer matches its checksum
  f.close();
  Options options;
  std::string error;
  ASSERT_TRUE(Options::parse("emulated:disk?file=" + image, options, error));
  OpenFailure failure;
  EXPECT_FALSE(Device::create(options, failure));
  EXPECT_NE(failure.code, 0);
  EXPECT_NE(failure.text.find(image + ".state"), std::string::npos) << failure.text;
}

}  // namespace
}  // namespace qxscsi::backends::emulated
