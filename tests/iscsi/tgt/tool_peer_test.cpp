// The tool beside libiscsi's own tools on the same tgtd LUNs: what `qxscsi --json` decodes equals
// what iscsi-inq, iscsi-readcapacity16 and iscsi-ls print, field by field.
#ifdef QXSCSI_CLI_PATH
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <sstream>

#include "tgt_support.h"

namespace qxscsi::test {
namespace {

const char* kDisk = "iqn.2026-12.org.example:peer-disk";
const char* kTape = "iqn.2026-12.org.example:peer-tape";
const char* kSerial = "QXPEER0001";

// "Key:value" lines of a libiscsi tool's output (the first of each key).
std::map<std::string, std::string> fields(const std::string& text) {
  std::map<std::string, std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    size_t colon = line.find(':');
    if (colon != std::string::npos && !out.count(line.substr(0, colon)))
      out[line.substr(0, colon)] = line.substr(colon + 1);
  }
  return out;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// Bytes of a data_hex string.
std::vector<uint8_t> bytesOf(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

uint64_t bigEndian(const std::vector<uint8_t>& b, size_t at, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n && at + i < b.size(); ++i) v = v << 8 | b[at + i];
  return v;
}

class IscsiToolPeerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const char* tool : {"/usr/bin/iscsi-inq", "/usr/bin/iscsi-readcapacity16", "/usr/bin/iscsi-ls"}) {
      if (access(tool, X_OK) != 0) {
        whyNot = std::string(tool) + " is not installed (libiscsi-bin)";
        return;
      }
    }
    tgtd = TgtdInstance::start(&whyNot).release();
    if (tgtd && !(tgtd->addTarget(1, kDisk) && tgtd->addLun(1, 1, 8, kSerial) && tgtd->addLun(1, 2, 1) &&
                  tgtd->addTape(2, kTape, "PEERT1"))) {
      whyNot = "tgtadm failed";
      delete tgtd;
      tgtd = nullptr;
    }
  }
  static void TearDownTestSuite() {
    delete tgtd;
    tgtd = nullptr;
  }
  void SetUp() override {
    if (!tgtd) GTEST_SKIP() << whyNot;
  }
  // The tool's JSON document for args plus --json; its exit status in *status.
  static nlohmann::json ours(std::vector<std::string> args, int* status) {
    args.insert(args.begin(), QXSCSI_CLI_PATH);
    args.push_back("--json");
    std::string out;
    *status = runProgram(args, &out);
    size_t start = out.find('{');
    return start == std::string::npos ? nlohmann::json()
                                      : nlohmann::json::parse(out.substr(start), nullptr, false);
  }
  // A libiscsi tool's output; its exit status in *status.
  static std::string theirs(const std::vector<std::string>& argv, int* status) {
    std::string out;
    *status = runProgram(argv, &out);
    return out;
  }

  static TgtdInstance* tgtd;
  static std::string whyNot;
};

TgtdInstance* IscsiToolPeerTest::tgtd = nullptr;
std::string IscsiToolPeerTest::whyNot;

TEST_F(IscsiToolPeerTest, InquiryShowsWhatIscsiInqShows) {
  for (auto [iqn, lun] : {std::pair{kDisk, 1}, {kDisk, 0}, {kTape, 1}}) {
    std::string url = tgtd->url(iqn, lun);
    int ourStatus = -1, theirStatus = -1;
    nlohmann::json d = ours({"inquiry", url}, &ourStatus);
    std::string text = theirs({"/usr/bin/iscsi-inq", url}, &theirStatus);
    ASSERT_EQ(ourStatus, 0) << d.dump(2);
    ASSERT_EQ(theirStatus, 0) << text;
    auto peer = fields(text);
    std::vector<uint8_t> b = bytesOf(d.value("data_hex", ""));
    ASSERT_GE(b.size(), 36u) << url;
    std::string where = url + "\n" + text + d.dump(2);
    EXPECT_EQ(trim(peer["Vendor"]), d["vendor"]) << where;
    EXPECT_EQ(trim(peer["Product"]), d["product"]) << where;
    EXPECT_EQ(trim(peer["Revision"]), d["revision"]) << where;
    EXPECT_EQ(peer["Removable"], d["removable"].get<bool>() ? "1" : "0") << where;
    EXPECT_EQ(peer["Version"].substr(0, peer["Version"].find(' ')), std::to_string(d["version"].get<int>()))
        << where;
    EXPECT_EQ(peer["ReponseDataFormat"], std::to_string(d["response_data_format"].get<int>())) << where;
    // The flags iscsi-inq prints, as bits of the bytes the tool received.
    const struct {
      const char* name;
      size_t byte;
      int bit;
    } flags[] = {{"NormACA", 3, 5}, {"HiSup", 3, 4}, {"SCCS", 5, 7}, {"ACC", 5, 6}, {"3PC", 5, 3},
                 {"Protect", 5, 0}, {"EncServ", 6, 6}, {"MultiP", 6, 4}, {"CmdQue", 7, 1}};
    for (const auto& f : flags)
      EXPECT_EQ(peer[f.name], std::to_string(b[f.byte] >> f.bit & 1)) << f.name << "\n" << where;
    EXPECT_EQ(peer["TPGS"], std::to_string(b[5] >> 4 & 3)) << where;
  }
}

TEST_F(IscsiToolPeerTest, VpdPagesShowWhatIscsiInqShows) {
  std::string url = tgtd->url(kDisk, 1);
  int ourStatus = -1, theirStatus = -1;
  // Supported pages: one "Page:0xNN NAME" line each.
  nlohmann::json d = ours({"inquiry", "--vpd", "0x00", url}, &ourStatus);
  std::string text = theirs({"/usr/bin/iscsi-inq", "-e", "1", "-c", "0", url}, &theirStatus);
  ASSERT_EQ(ourStatus, 0);
  ASSERT_EQ(theirStatus, 0) << text;
  std::vector<int> peerPages;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("Page:0x", 0) == 0) peerPages.push_back(std::stoi(line.substr(7, 2), nullptr, 16));
  EXPECT_EQ(d["supported_pages"].get<std::vector<int>>(), peerPages) << text;

  // Serial number: iscsi-inq shows the field between brackets, tgt's leading spaces kept.
  d = ours({"inquiry", "--vpd", "0x80", url}, &ourStatus);
  text = theirs({"/usr/bin/iscsi-inq", "-e", "1", "-c", "128", url}, &theirStatus);
  ASSERT_EQ(ourStatus, 0);
  ASSERT_EQ(theirStatus, 0) << text;
  std::string peer = fields(text)["Unit Serial Number"];
  EXPECT_EQ(peer, "[" + d["serial_number"].get<std::string>() + "]");
  EXPECT_EQ(trim(d["serial_number"]), kSerial);

  // Block limits, as fields of the bytes the tool received.
  d = ours({"inquiry", "--vpd", "0xb0", url}, &ourStatus);
  text = theirs({"/usr/bin/iscsi-inq", "-e", "1", "-c", "176", url}, &theirStatus);
  ASSERT_EQ(ourStatus, 0);
  ASSERT_EQ(theirStatus, 0) << text;
  auto limits = fields(text);
  std::vector<uint8_t> b = bytesOf(d.value("data_hex", ""));
  ASSERT_GE(b.size(), 44u);
  const struct {
    const char* name;
    size_t at, length;
  } rows[] = {{"maximum compare and write length", 5, 1},  {"optimal transfer length granularity", 6, 2},
              {"maximum transfer length", 8, 4},           {"optimal transfer length", 12, 4},
              {"maximum unmap lba count", 20, 4},          {"maximum unmap block descriptor count", 24, 4},
              {"optimal unmap granularity", 28, 4},        {"maximum write same length", 36, 8}};
  for (const auto& r : rows)
    EXPECT_EQ(limits[r.name], std::to_string(bigEndian(b, r.at, r.length))) << r.name << "\n" << text;
}

TEST_F(IscsiToolPeerTest, ReadcapLongShowsWhatIscsiReadcapacity16Shows) {
  for (int lun : {1, 2}) {
    std::string url = tgtd->url(kDisk, lun);
    int ourStatus = -1, theirStatus = -1;
    nlohmann::json d = ours({"readcap", "--long", url}, &ourStatus);
    std::string text = theirs({"/usr/bin/iscsi-readcapacity16", url}, &theirStatus);
    ASSERT_EQ(ourStatus, 0) << d.dump(2);
    ASSERT_EQ(theirStatus, 0) << text;
    // iscsi-readcapacity16 puts two fields on some lines: "P_TYPE:0 PROT_EN:0".
    std::string flat = text;
    for (const char* key : {" PROT_EN:", " LOGICAL BLOCKS PER", " LBPRZ:"}) {
      size_t at = flat.find(key);
      if (at != std::string::npos) flat[at] = '\n';
    }
    auto peer = fields(flat);
    std::string where = text + d.dump(2);
    auto number = [&](const char* key) { return std::to_string(d[key].get<uint64_t>()); };
    auto flag = [&](const char* key) { return std::string(d[key].get<bool>() ? "1" : "0"); };
    EXPECT_EQ(peer["RETURNED LOGICAL BLOCK ADDRESS"], number("last_logical_block_address")) << where;
    EXPECT_EQ(peer["LOGICAL BLOCK LENGTH IN BYTES"], number("logical_block_length")) << where;
    EXPECT_EQ(peer["P_TYPE"], number("protection_type")) << where;
    EXPECT_EQ(peer["PROT_EN"], flag("protection_enabled")) << where;
    EXPECT_EQ(peer["P_I_EXPONENT"], number("protection_information_interval_exponent")) << where;
    EXPECT_EQ(peer["LOGICAL BLOCKS PER PHYSICAL BLOCK EXPONENT"], number("logical_blocks_per_physical_block_exponent"))
        << where;
    EXPECT_EQ(peer["LBPME"], flag("logical_block_provisioning_management_enabled")) << where;
    EXPECT_EQ(peer["LBPRZ"], flag("logical_block_provisioning_read_zeros")) << where;
    EXPECT_EQ(peer["LOWEST ALIGNED LOGICAL BLOCK ADDRESS"], number("lowest_aligned_logical_block_address")) << where;
    EXPECT_EQ(peer["Total size"], number("capacity_bytes")) << where;
  }
}

TEST_F(IscsiToolPeerTest, LunsListWhatIscsiLsLists) {
  int theirStatus = -1;
  std::string text = theirs({"/usr/bin/iscsi-ls", "-s", "iscsi://" + tgtd->portal()}, &theirStatus);
  ASSERT_EQ(theirStatus, 0) << text;
  std::map<std::string, std::vector<int>> peer;
  std::istringstream in(text);
  std::string current;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Target:", 0) == 0) current = line.substr(7, line.find(' ') - 7);
    if (line.rfind("Lun:", 0) == 0) peer[current].push_back(std::stoi(line.substr(4)));
  }
  for (const char* iqn : {kDisk, kTape}) {
    int ourStatus = -1;
    nlohmann::json d = ours({"luns", tgtd->url(iqn, 0)}, &ourStatus);
    ASSERT_EQ(ourStatus, 0) << d.dump(2);
    std::vector<int> listed;
    for (const nlohmann::json& entry : d["logical_units"]) listed.push_back(entry.value("lun", -1));
    EXPECT_EQ(listed, peer[iqn]) << iqn << "\n" << text;
  }
}

// Where the opening fails, both fail; libiscsi's tools exit 10 for any failure, the tool with
// the status of its table (15: cannot open).
TEST_F(IscsiToolPeerTest, BothRefuseWhatIsNotThere) {
  for (const std::string& url : {tgtd->url(kDisk, 7), tgtd->url("iqn.2026-12.org.example:none", 1),
                                 "iscsi://127.0.0.1:1/" + std::string(kDisk) + "/1"}) {
    int ourStatus = -1, theirStatus = -1;
    nlohmann::json d = ours({"inquiry", url}, &ourStatus);
    std::string text = theirs({"/usr/bin/iscsi-inq", url}, &theirStatus);
    EXPECT_EQ(theirStatus, 10) << url << "\n" << text;
    EXPECT_EQ(ourStatus, 15) << url << "\n" << d.dump(2);
    EXPECT_EQ(d["exit_status"], 15) << url;
  }
}

}  // namespace
}  // namespace qxscsi::test
#endif
