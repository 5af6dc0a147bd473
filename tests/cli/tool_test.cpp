// The qxscsi program run as a user runs it, on the emulated devices: output, JSON, exit statuses.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <algorithm>
#include <vector>

#include "cli/commands.h"
#include "cli/output.h"
#include "cli/vpd.h"
#include "tool_run.h"

namespace {

using qxscsi::test::ToolRun;

class ToolTest : public ::testing::Test {
 protected:
  // Runs the tool with `args` (shell words); stderr is folded into out when `withErr`.
  static ToolRun run(const std::string& args, bool withErr = false, const std::string& input = "") {
    return qxscsi::test::runTool(args, withErr, input);
  }
  static nlohmann::json json(const std::string& args, int expectedStatus = 0) {
    ToolRun r = run(args + " --json");
    EXPECT_EQ(r.status, expectedStatus) << args << "\n" << r.out;
    return nlohmann::json::parse(r.out, nullptr, false);
  }
};

TEST_F(ToolTest, InquiryOnTheDefaultDeviceDescribesTheEmulatedDisk) {
  ToolRun r = run("inquiry");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("   Peripheral device type: disk\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" Vendor identification: QXSCSI\n"), std::string::npos) << r.out;
  nlohmann::json j = json("inquiry emulated:tape");
  EXPECT_EQ(j["peripheral_device_type"], 1);
  EXPECT_EQ(j["device"], "emulated:tape");
}

TEST_F(ToolTest, VpdPagesAreDecoded) {
  nlohmann::json pages = json("inquiry --vpd 0");
  EXPECT_EQ(pages["supported_pages"],
            nlohmann::json::parse("[0,128,131,134,176,177,178]"));  // with 86h and the disk's B0h-B2h
  nlohmann::json serial = json("inquiry --vpd 0x80");
  EXPECT_FALSE(serial["serial_number"].get<std::string>().empty());
  nlohmann::json ids = json("inquiry --vpd 0x83");
  ASSERT_GE(ids["designators"].size(), 2u);
  EXPECT_EQ(ids["designators"][0]["designator_type"], 3);  // NAA
  EXPECT_TRUE(ids["designators"][0]["complete"].get<bool>());
}

TEST_F(ToolTest, StandardCommandsAnswerOnEveryDeviceType) {
  for (const char* dev : {"emulated:disk", "emulated:tape", "emulated:changer"}) {
    EXPECT_EQ(json(std::string("tur ") + dev)["ready"], true) << dev;
    EXPECT_EQ(json(std::string("sense ") + dev)["sense"]["sense_key"], 0) << dev;
    EXPECT_GE(json(std::string("luns ") + dev)["logical_unit_count"].get<int>(), 1) << dev;
  }
}

TEST_F(ToolTest, RawCommandsReturnDataAndCheckConditions) {
  nlohmann::json j = json("raw --cdb '12 00 00 00 24 00' --in 36 --hex");
  EXPECT_EQ(j["data_hex"].get<std::string>().substr(16, 12), "515853435349");  // "QXSCSI"
  nlohmann::json bad = json("raw --cdb 'ff 00 00 00 00 00'", 9);
  EXPECT_EQ(bad["command"]["status"], 2);
  EXPECT_EQ(bad["command"]["sense"]["sense_key"], 5);
  EXPECT_EQ(bad["command"]["sense"]["additional_sense_code"], 0x20);
  ToolRun lba = run("raw --cdb '28 00 ff ff ff ff 00 00 01 00' --in 512");
  EXPECT_EQ(lba.status, 22) << lba.out;  // LBA OUT OF RANGE has its own status
}

TEST_F(ToolTest, RawWriteSendsTheFileAndAFreshDiskReadsZeros) {
  // Emulated media live as long as one run of the tool, so each run starts on a blank disk.
  std::string file = ::testing::TempDir() + "qxscsi_tool_block.bin";
  {
    std::ofstream f(file, std::ios::binary);
    for (int i = 0; i < 512; ++i) f.put(static_cast<char>(i * 7));
  }
  nlohmann::json w = json("raw --cdb '2a 00 00 00 00 05 00 00 01 00' --out " + file);
  EXPECT_EQ(w["command"]["status"], 0);
  nlohmann::json r = json("raw --cdb '28 00 00 00 00 05 00 00 01 00' --in 512");
  EXPECT_EQ(r["data_hex"], std::string(1024, '0'));
  // A file shorter than the blocks: the write cannot get its data and answers INVALID FIELD IN CDB.
  nlohmann::json shortFile = json("raw --cdb '2a 00 00 00 00 05 00 00 02 00' --out " + file, 5);
  EXPECT_EQ(shortFile["command"]["status"], 2) << shortFile;
  EXPECT_EQ(shortFile["command"]["sense"]["sense_key"], 5) << shortFile;
  EXPECT_EQ(shortFile["command"]["sense"]["additional_sense_code"], 0x24) << shortFile;
  std::remove(file.c_str());
}

TEST_F(ToolTest, DecodeSenseReadsArgumentsOrStandardInput) {
  ToolRun r = run("decode-sense 70 00 05 00 00 00 00 0a 00 00 00 00 24 00 00 c0 00 02");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Invalid field in cdb"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Sense Key Specific: Error in Command: byte 2"), std::string::npos) << r.out;
  ToolRun in = run("decode-sense", false, "70 00 e3 00 00 00 00 0a");
  EXPECT_NE(in.out.find(" FMK EOM ILI\ntoo short: the additional length claims 18 bytes: 8 given\n"), std::string::npos)
      << in.out;
}

TEST_F(ToolTest, BadInputIsRefusedWithOneLineAndAStatus) {
  struct Case {
    const char* args;
    int status;
    const char* text;
  } cases[] = {
      {"raw --cdb 'zz'", 1, "bad hex character"},
      {"raw --cdb '00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00'", 1, "1 to 16 bytes"},
      {"raw --cdb '12 00 00 00 24 00' --in 36 --out /nonexistent", 31, "exclude"},
      {"raw --cdb '2a 00 00 00 00 00 00 00 01 00' --out /nonexistent/file", 15, "cannot open"},
      {"xcopy --list /nonexistent/file", 15, "cannot open"},
      {"tur no-such-device", 15, "no back-end takes"},
      {"decode-sense 7", 0, ""},
      {"decode-sense 0x", 1, "without digits"},
      {"bogus-command", 1, ""},
      {"tur --param novalue", 1, "NAME=VALUE"},
      {"--param novalue tur --param a=b", 1, "NAME=VALUE"},  // both places count
      {"--param a=b tur --param novalue", 1, "NAME=VALUE"},
#ifdef QXSCSI_TOOL_HAS_SG  // the back-end that takes adapter names
      {"inquiry //./scsi0:", 31, "needs --address"},
      {"tur /dev/qxscsi-no-such-node", 52, "cannot open"},
      {"--address 0:0:0 tur //./scsi9999:", 52, "no SCSI adapter"},
#endif
      {"--address 0:1 inquiry //./scsi0:", 1, "BUS:TARGET:LUN"},
      {"--address 0:1:256 inquiry //./scsi0:", 1, "BUS:TARGET:LUN"},
      {"--address 0:x:0 tur", 1, "BUS:TARGET:LUN"},
      {"--address 0:0:0 tur", 31, "only for adapter names"},
      {"tur iscsi://127.0.0.1:1/iqn.2000-01.test:none/0", 15, "cannot open"},
      {"raw --cdb '12 00 00 00 24 00' --out /dev/null", 31, "reads data from the device: give --in LEN"},
      {"raw --cdb '2a 00 00 00 00 00 00 00 01 00' --in 512", 31, "sends data to the device: give --out FILE"},
      {"raw --cdb '12 00 00 00 24 00'", 1, "not sent"},
      {"raw --cdb '00 00 00 00 00 00' --outfile /tmp/x", 31, "needs --in LEN"},
      {"raw --cdb '12 00 00 00 24 00' --in 36 --outfile /nonexistent/dir/file", 15, "cannot create"},
      {"raw --cdb '2a 00 00 00 00 00 00 00 01 00' --out /tmp", 15, "is a directory"},
      {"xcopy --list /tmp", 15, "is a directory"},
      {"tur ''", 1, "device name is empty"},
      {"-t -1 tur", 1, "from 1 to 86400"},
      {"-t 0 tur", 1, "from 1 to 86400"},
      {"-t 86401 inquiry", 1, "from 1 to 86400"},
      {"-t 99999999999999999999 tur", 1, "from 1 to 86400"},
      {"-t 1x tur", 1, "from 1 to 86400"},
  };
  for (const Case& c : cases) {
    ToolRun r = run(c.args, true);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.text), std::string::npos) << c.args << "\n" << r.out;
  }
}

TEST_F(ToolTest, ADeviceNameThatIsNotUtf8IsEscapedInTextAndJson) {
  const std::string name = "\"$(printf 'emulated:\\377\\001x')\"";
  ToolRun text = run("tur " + name, true);
  EXPECT_EQ(text.status, 15) << text.out;
  EXPECT_NE(text.out.find("emulated:\\xff\\x01x"), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find('\xff'), std::string::npos) << text.out;
  for (const char* sub : {"tur", "inquiry", "luns"}) {
    ToolRun r = run(std::string("--json ") + sub + " " + name);
    EXPECT_EQ(r.status, 15) << sub << "\n" << r.out;
    nlohmann::json j = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << sub << "\n" << r.out;
    EXPECT_EQ(j["exit_status"], 15);
    EXPECT_NE(j["error"]["message"].get<std::string>().find("emulated:\\xff\\x01x"), std::string::npos) << j;
  }
}

TEST_F(ToolTest, InquiryStringsFromTheDeviceAreEscaped) {
  // Decoded straight from bytes: no emulated device answers with such strings.
  std::vector<uint8_t> data(36, ' ');
  data[0] = 0;
  data[4] = 31;
  const std::string vendor = "AB\x01\xff\n", product = "caf\xc3\xa9\xc3", revision = "\x1b[2J";
  std::copy(vendor.begin(), vendor.end(), data.begin() + 8);
  std::copy(product.begin(), product.end(), data.begin() + 16);
  std::copy(revision.begin(), revision.end(), data.begin() + 32);
  qxscsi::cli::Options o;
  o.json = true;
  qxscsi::cli::Output out(o);
  qxscsi::cli::describeStandardInquiry(data.data(), data.size(), out);
  EXPECT_EQ(out.doc()["vendor"], "AB\\x01\\xff\\x0a");
  EXPECT_EQ(out.doc()["product"], "caf\xc3\xa9\\xc3");
  EXPECT_EQ(out.doc()["revision"], "\\x1b[2J");
  const std::string dumped = out.doc().dump();  // throws on invalid UTF-8
  EXPECT_FALSE(nlohmann::json::parse(dumped, nullptr, false).is_discarded());
}

TEST_F(ToolTest, RawCountsAndDumpsOnlyTheBytesThatArrived) {
  ToolRun r = run("raw --cdb '12 00 00 00 ff 00' --in 255");
  EXPECT_EQ(r.status, 0) << r.out;
  nlohmann::json j = json("raw --cdb '12 00 00 00 ff 00' --in 255");
  const size_t got = j["command"]["data_in"]["received"].get<size_t>();
  EXPECT_LT(got, 255u) << j;
  EXPECT_EQ(j["command"]["data_in"]["requested"], 255);
  EXPECT_EQ(j["data_hex"].get<std::string>().size(), 2 * got);
  EXPECT_NE(r.out.find("data in: " + std::to_string(got) + " of 255 bytes\n"), std::string::npos) << r.out;
  // --outfile gets exactly the bytes that arrived, and stdout no dump.
  const std::string file = ::testing::TempDir() + "qxscsi_tool_outfile.bin";
  ToolRun saved = run("raw --cdb '12 00 00 00 ff 00' --in 255 --outfile " + file);
  EXPECT_EQ(saved.status, 0);
  EXPECT_EQ(saved.out, "data in: " + std::to_string(got) + " of 255 bytes\n");
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes.size(), got);
  EXPECT_EQ(bytes.substr(8, 6), "QXSCSI");
  std::remove(file.c_str());
  // TEST UNIT READY moves no data: nothing is dumped, however big the buffer.
  ToolRun tur = run("raw --cdb '00 00 00 00 00 00' --in 16777216");
  EXPECT_EQ(tur.status, 0);
  EXPECT_EQ(tur.out, "data in: 0 of 16777216 bytes\n");
}

TEST_F(ToolTest, ShortInquiryDataShowsNoCutFields) {
  std::vector<uint8_t> data = {0, 0, 5, 2, 31, 0, 0, 0, 'Q', 'X', 'S', 'C', 'S', 'I', ' ', ' ', 'H', 'O'};
  for (size_t n : {size_t(4), size_t(18), size_t(35)}) {
    std::vector<uint8_t> bytes(data.begin(), data.begin() + std::min(n, data.size()));
    bytes.resize(n, ' ');
    qxscsi::cli::Options o;
    o.json = true;
    qxscsi::cli::Output out(o);
    qxscsi::cli::describeStandardInquiry(bytes.data(), bytes.size(), out);
    EXPECT_EQ(out.doc()["short"], true) << n;
    EXPECT_FALSE(out.doc().contains("product")) << n;
  }
}

TEST_F(ToolTest, ListShowsEveryEmulatedDevice) {
  nlohmann::json j = json("list");
  ASSERT_GE(j["devices"].size(), 3u);
  EXPECT_EQ(j["devices"][0]["device"], "emulated:disk");
  EXPECT_EQ(j["devices"][2]["inquiry"]["peripheral_device_type"], 8);
  EXPECT_EQ(j["devices"][0]["adapter"], 0);
  EXPECT_EQ(j["devices"][0]["address"], nlohmann::json::parse("[0,0,0]"));
  ToolRun text = run("list");
  EXPECT_NE(text.out.find("emulated:disk  disk  QXSCSI EMULATED DISK 0100  [0:0:0:0]\n"), std::string::npos)
      << text.out;
}

TEST_F(ToolTest, TraceShowsTheLibrarysOwnTraceOfTheArguments) {
  ToolRun r = run("raw --cdb '00 00 00 00 00 00' --trace", true);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("ANY SCSI COMMAND:\noperation code: 0\ncontrol byte: 0\ndata len: 0\ndata type: 2\n"),
            std::string::npos)
      << r.out;
}

TEST_F(ToolTest, CopyResultsReportsOperatingParameters) {
  nlohmann::json j = json("copy-results --sa 3");
  EXPECT_EQ(j["command"]["status"], 0);
  EXPECT_FALSE(j["data_hex"].get<std::string>().empty());
}

}  // namespace

namespace {

// -t reaches every command sent: the record carries its timeout (shown by -v), and a device that
// lets the command time out gives exit 33 on every path, standard commands included.
TEST_F(ToolTest, TimeoutBoundsEveryCommandSent) {
  struct Case {
    const char* args;
    const char* timeout;
  } cases[] = {
      {"-v tur", "timeout 10 s"},
      {"-v -t 2 tur", "timeout 2 s"},
      {"-v -t 3 inquiry", "timeout 3 s"},
      {"-v inquiry --vpd 0x80", "timeout 10 s"},
      {"-v -t 4 inquiry --vpd 0x80", "timeout 4 s"},
      {"-v -t 5 sense", "timeout 5 s"},
      {"-v -t 6 luns", "timeout 6 s"},
      {"-v raw --cdb '00 00 00 00 00 00'", "timeout 10 s"},
      {"-v -t 7 raw --cdb '00 00 00 00 00 00'", "timeout 7 s"},
      {"-v xcopy --list /dev/null", "timeout 300 s"},
      {"-v -t 8 xcopy --list /dev/null", "timeout 8 s"},
      {"-v -t 9 copy-results --sa 3", "timeout 9 s"},
  };
  for (const Case& c : cases) {
    ToolRun r = run(c.args, true);
    EXPECT_NE(r.out.find(c.timeout), std::string::npos) << c.args << "\n" << r.out;
  }
  for (const char* sub : {"tur", "inquiry", "inquiry --vpd 0", "sense", "luns", "raw --cdb '00 00 00 00 00 00'",
                          "xcopy --list /dev/null", "copy-results"}) {
    ToolRun r = run(std::string("-t 2 ") + sub + " 'emulated:disk?hostile=timeout'", true);
    EXPECT_EQ(r.status, 33) << sub << "\n" << r.out;
  }
}

// Through cmdCall (-t) a standard command decodes its answer as the library's command does.
TEST_F(ToolTest, StandardCommandsGiveTheSameAnswerWithATimeout) {
  for (const char* sub : {"inquiry emulated:tape", "sense", "luns 'emulated:disk?luns=3'", "tur", "copy-results --sa 3"}) {
    nlohmann::json plain = json(sub), timed = json(std::string("-t 20 ") + sub);
    EXPECT_EQ(timed["command"]["timeout_seconds"], 20) << sub;
    plain["command"].erase("timeout_seconds");
    timed["command"].erase("timeout_seconds");
    EXPECT_EQ(plain, timed) << sub;
  }
}

}  // namespace

namespace {

// A SCSI name designator padded with NULs, as devices send them: the text loses the padding,
// the hex keeps every byte.
TEST(VpdJson, DesignatorPaddingIsDroppedFromTheTextOnly) {
  const std::string name("naa.3222222000000F9D\0\0\0\0", 24);
  std::vector<uint8_t> page = {0x00, 0x83, 0x00, static_cast<uint8_t>(4 + name.size()),
                               0x03, 0x08, 0x00, static_cast<uint8_t>(name.size())};
  page.insert(page.end(), name.begin(), name.end());
  qxscsi::cli::Options o;
  o.json = true;
  qxscsi::cli::Output out(o);
  qxscsi::cli::describeVpdPage(page.data(), page.size(), out);
  ASSERT_EQ(out.doc()["designators"].size(), 1u) << out.doc();
  EXPECT_EQ(out.doc()["designators"][0]["designator"], "naa.3222222000000F9D");
  EXPECT_EQ(out.doc()["designators"][0]["designator_hex"].get<std::string>().size(), 48u);
  EXPECT_EQ(out.doc()["page_code_hex"], "0x83");
}

}  // namespace

namespace {

// --trace shows the arguments of the command each subcommand sends; -vv adds the sense bytes.
TEST_F(ToolTest, TraceAndVerbosityCoverEveryCommandSent) {
  struct Case {
    const char* args;
    const char* trace;
  } cases[] = {
      {"tur", "TEST UNIT READY:\noperation code: 0\n"},
      {"inquiry", "INQUIRY:\noperation code: 12\ncontrol byte: 0\ndata len: 255\ndata type: 0\n"},
      {"inquiry --vpd 0x80", "INQUIRY (VPD):\noperation code: 12\n"},
      {"sense", "REQUEST SENSE:\noperation code: 3\ncontrol byte: 0\ndata len: 252\n"},
      {"luns", "REPORT LUNS:\noperation code: a0\ncontrol byte: 0\ndata len: 8192\n"},
      {"xcopy --list /dev/null", "EXTENDED COPY:\noperation code: 83\ncontrol byte: 0\ndata len: 0\n"},
      {"copy-results --sa 3", "RECEIVE COPY RESULTS:\noperation code: 84\ncontrol byte: 0\ndata len: 1024\n"},
  };
  for (const Case& c : cases) {
    ToolRun r = run(std::string("--trace ") + c.args, true);
    EXPECT_NE(r.out.find(c.trace), std::string::npos) << c.args << "\n" << r.out;
  }
  ToolRun v = run("-v raw --cdb 'ff 00 00 00 00 00'", true);
  EXPECT_EQ(v.out.find("sense bytes:"), std::string::npos) << v.out;
  ToolRun split = run("-v raw -v --cdb 'ff 00 00 00 00 00'", true);  // -v before and after: twice
  EXPECT_NE(split.out.find("    sense bytes: "), std::string::npos) << split.out;
  ToolRun vv = run("-vv raw --cdb 'ff 00 00 00 00 00'", true);
  EXPECT_NE(vv.out.find("    sense bytes: 70 00 05 00 00 00 00 0a 00 00 00 00 20 00 00 00 00 00\n"), std::string::npos)
      << vv.out;
}

}  // namespace

namespace {

// Help at every level names every option taken there, each with its default (or that it is
// required), the back-ends' device-name forms and the exit statuses.
TEST_F(ToolTest, HelpAtEveryLevelListsItsOptionsDevicesAndExitStatuses) {
  const std::vector<std::string> device = {"--param", "--address", "-t,--timeout", "--trace", "-v,--verbose",
                                           "--json", "--hex"};
  struct Case {
    const char* sub;
    std::vector<std::string> options;
  } cases[] = {
      {"", device},
      {"inquiry", {"--vpd"}},
      {"tur", {}},
      {"sense", {}},
      {"luns", {"-s,--select"}},
      {"raw", {"--cdb", "--in", "--out", "--outfile"}},
      {"xcopy", {"--list"}},
      {"copy-results", {"--sa", "--list-id", "--len"}},
      {"decode-sense", {"--json", "--hex"}},
      {"list", {"--portal", "-t,--timeout", "--json"}},
  };
  for (const Case& c : cases) {
    ToolRun r = run(std::string(c.sub) + " --help");
    EXPECT_EQ(r.status, 0) << c.sub;
    std::vector<std::string> options = c.options;
    const std::string sub = c.sub;
    if (sub != "" && sub != "decode-sense" && sub != "list") options.insert(options.end(), device.begin(), device.end());
    for (const std::string& option : options) {
      const size_t at = r.out.find("  " + option + " ");
      ASSERT_NE(at, std::string::npos) << sub << ": " << option << "\n" << r.out;
      const std::string line = r.out.substr(at, r.out.find('\n', at) - at);
      EXPECT_TRUE(line.find("default") != std::string::npos || line.find("required") != std::string::npos)
          << sub << ": " << line;
      EXPECT_EQ(line.find("INT:INT"), std::string::npos) << line;
    }
    for (const char* text : {"Device names:", "emulated:disk|tape|changer", "iscsi://", "Exit status",
                             "50+errno", "31 options that contradict"})
      EXPECT_NE(r.out.find(text), std::string::npos) << sub << ": " << text;
  }
}

}  // namespace

namespace {

// VPD page arguments as sg_vpd takes them; a refused page is named, with the hex hint where a
// decimal text reads as a decoded page.
TEST(VpdArgument, FormsAndAbbreviations) {
  struct Case {
    const char* text;
    int page;  // -1: refused
  } cases[] = {{"0", 0},     {"131", 0x83}, {"83", 83},    {"0x83", 0x83}, {"0X83", 0x83}, {"83h", 0x83},
               {"b0H", 0xb0}, {"255", 255},  {"0xff", 255}, {"sv", 0},      {"sn", 0x80},   {"di", 0x83},
               {"bl", 0xb0}, {"bdc", 0xb1}, {"lbpv", 0xb2}, {"256", -1},    {"0x100", -1},  {"100h", -1},
               {"", -1},     {"-1", -1},    {"0x", -1},    {"h", -1},      {"8 3", -1},    {"DI", -1},
               {"99999999999", -1}};
  for (const Case& c : cases) {
    int page = -7;
    std::string error;
    const bool ok = qxscsi::cli::parseVpdPage(c.text, page, error);
    EXPECT_EQ(ok, c.page >= 0) << "'" << c.text << "' " << error;
    if (ok) {
      EXPECT_EQ(page, c.page) << c.text;
    } else {
      EXPECT_NE(error.find("--vpd"), std::string::npos) << c.text;
    }
  }
}

TEST_F(ToolTest, ARefusedVpdPageIsNamedWithAHexHint) {
  ToolRun decimal = run("inquiry --vpd 83");
  EXPECT_EQ(decimal.status, 5) << decimal.out;
  EXPECT_NE(decimal.out.find("refused VPD page 53h (decimal 83); plain numbers are decimal: for page 83h give 0x83"),
            std::string::npos)
      << decimal.out;
  ToolRun hex = run("inquiry --vpd 0x99");
  EXPECT_NE(hex.out.find("refused VPD page 99h (decimal 153)\n"), std::string::npos) << hex.out;
  EXPECT_EQ(json("inquiry --vpd di")["page_code_hex"], "0x83");
  EXPECT_EQ(run("inquiry --vpd 0x1ff", true).status, 1);
}

}  // namespace
