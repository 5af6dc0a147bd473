// qxscsi: sends the library's SCSI commands to any device name the back-ends take.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

#include "cli/commands.h"
#include "cli/daily.h"
#include "cli/device.h"
#include "cli/exit_status.h"
#include "cli/hex.h"
#include "cli/output.h"
#include "qxscsi/backends/install.h"

using namespace qxscsi::cli;

namespace {

void deviceArgument(CLI::App* sub, Options& o) {
  sub->add_option("DEVICE", o.device, "device name (forms below); default: emulated:disk")->type_name("NAME");
}

// The options every subcommand takes where it is named, as well as before it: those for a device
// (`device`) and those for the output (`output`).
void commonOptions(CLI::App* a, Options& o, std::string& timeoutText, bool device, bool output) {
  if (device) {
    // Given before the subcommand and after it, both count: each occurrence adds to the one list.
    a->add_option_function<std::vector<std::string>>(
         "--param", [&o](const std::vector<std::string>& v) { o.params.insert(o.params.end(), v.begin(), v.end()); },
         "a target parameter NAME=VALUE for the opening (repeatable); default: none")
        ->type_name("NAME=VALUE");
    a->add_option("--address", o.address,
                  "BUS:TARGET:LUN (each a number 0 to 255) of the device behind an adapter name //./scsiN:; "
                  "required with such a name and refused with any other")
        ->type_name("B:T:L");
    a->add_option("-t,--timeout", timeoutText,
                  "seconds for each command sent, a whole number 1 to 86400 (the opening is not bounded by "
                  "it); default: the library's own (10 s, 300 s for EXTENDED COPY)")
        ->type_name("SECONDS");
    a->add_flag("--trace", o.trace, "print the library's trace of each command's arguments to stderr; default: off");
    a->add_flag_function("-v,--verbose", [&o](std::int64_t n) { o.verbose += static_cast<int>(n); },
                "print the CDB, direction, length, timeout, bytes transferred and time to stderr; twice: also "
                "the sense bytes; default: off");
  }
  if (output) {
    a->add_flag("--json", o.json, "print one JSON document on stdout instead of text; default: off");
    a->add_flag("--hex", o.hex, "hex dump of the data that arrived; default: off");
  }
}

// The end of every help text: device-name forms (from the back-ends) and exit statuses.
std::string helpFooter() {
  std::string text = "\nDevice names:";
  std::unique_ptr<qxscsi::backends::Installation> installation = qxscsi::backends::install();
  if (installation)
    for (const std::string& form : installation->nameSyntax()) text += "\n  " + form;
  text +=
      "\n\nExit status (as the sg3_utils tool paired with each subcommand):\n"
      "  0 good (also RECOVERED ERROR, except for raw)\n"
      "  1 bad option or value, found before anything was sent\n"
      "  2 not ready    3 medium or hardware error    5 illegal request    6 unit attention\n"
      "  7 data protect    9 invalid command operation code    10 copy aborted    11 aborted command\n"
      "  14 miscompare    20 CHECK CONDITION with NO SENSE    21 recovered error (raw only)\n"
      "  22 LBA out of range    24 reservation conflict    25 condition met    26 busy\n"
      "  27 task set full    28 ACA active    29 task aborted    40 protection information error\n"
      "  15 cannot open or use the device or a file (no operating-system error number)\n"
      "  31 options that contradict each other or the device name\n"
      "  33 the command timed out\n"
      "  50+errno the device node could not be opened (52 no such file, 63 permission, 66 busy)\n"
      "  97 the answer failed sanity checks    98 other sense    99 anything else\n";
  return text;
}

}  // namespace

// Reads -t SECONDS: a decimal number from 1 to 86400; false for anything else.
bool parseTimeout(const std::string& text, unsigned long& seconds) {
  if (text.empty() || text.size() > 5) return false;
  unsigned long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned long>(c - '0');
  }
  if (v < 1 || v > 86400) return false;
  seconds = v;
  return true;
}

// True when --json is among the arguments (read by hand when parsing failed).
bool wantsJson(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == "--json") return true;
  return false;
}

// The first argument that is neither an option nor an option's value: the subcommand's place.
std::string firstWord(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--param" || a == "--address" || a == "-t" || a == "--timeout") {
      ++i;
      continue;
    }
    if (!a.empty() && a[0] == '-') continue;
    return a;
  }
  return std::string();
}

int run(int argc, char** argv, Options& o, Output& out) {
  std::string timeoutText;
  InquiryOptions inquiry;
  RawOptions raw;
  CopyResultsOptions results;
  std::string listFile, portal;
  std::vector<std::string> senseHex;

  CLI::App app{"qxscsi: send SCSI commands to disks, tapes and medium changers", "qxscsi"};
  // Asked for only when help is shown: the back-ends are set up for it then.
  app.footer([] { return helpFooter(); });
  app.set_version_flag("--version", std::string("qxscsi ") + QXSCSI_TOOL_VERSION);
  app.require_subcommand(1);
  app.fallthrough();
  app.get_formatter()->column_width(34);

  // Setting up subcommands costs most of a short run. When the arguments name one of the
  // subcommands below, the others cannot be parsed in this run and are not set up, nor are the
  // daily ones; else (help, a daily or an unknown word) all are, and only the named one gets the
  // common options. A name missing from ownNames would only make its runs slower.
  const std::string word = firstWord(argc, argv);
  static const char* const ownNames[] = {"inquiry",      "tur",          "sense", "raw", "xcopy",
                                         "copy-results", "decode-sense", "list"};
  bool ownNamed = false;
  for (const char* name : ownNames) ownNamed = ownNamed || word == name;
  // The subcommand `name`, or null when another one of those above is named.
  auto subcommand = [&](const char* name, const char* description) -> CLI::App* {
    return ownNamed && word != name ? nullptr : app.add_subcommand(name, description);
  };

  CLI::App* cInquiry = subcommand("inquiry", "standard INQUIRY data or a VPD page");
  if (cInquiry) {
    deviceArgument(cInquiry, o);
    cInquiry
        ->add_option("--vpd", inquiry.vpdText,
                     "VPD page to read instead of the standard data: 0 to 255 in decimal (as sg_vpd: 83 is "
                     "decimal), 0xNN or NNh, or sv, sn, di, ei, ai, bl, bdc, lbpv, ref (00h, 80h, 83h, 86h, 89h "
                     "and B0h to B3h are decoded), or all (every page that 00h lists); default: none")
        ->type_name("PAGE");
  }
  CLI::App* cTur = subcommand("tur", "TEST UNIT READY");
  if (cTur) deviceArgument(cTur, o);
  CLI::App* cSense = subcommand("sense", "REQUEST SENSE, decoded");
  if (cSense) deviceArgument(cSense, o);
  CLI::App* cRaw = subcommand("raw", "any CDB given in hex, sent through cmdCall");
  if (cRaw) {
    cRaw->add_option("--cdb", raw.cdbHex, "the CDB: 1 to 16 bytes in hex, e.g. \"12 00 00 00 24 00\"; required")
        ->type_name("HEX")
        ->required();
    deviceArgument(cRaw, o);
    cRaw->add_option("--in", raw.inLength,
                     "read up to LEN bytes from the device (a whole number, 0 to 16777216); default: no data in")
        ->type_name("LEN")
        ->check(CLI::Range(0L, 16L * 1024 * 1024).description(""));
    cRaw->add_option("--out", raw.outFile, "send the bytes of FILE to the device; default: no data out")
        ->type_name("FILE");
    cRaw->add_option("--outfile", raw.saveFile,
                     "write the bytes that arrive (only those) to FILE instead of a hex dump; needs --in; default: "
                     "none")
        ->type_name("FILE");
  }
  CLI::App* cXcopy = subcommand("xcopy", "EXTENDED COPY with a parameter list from a file");
  if (cXcopy) {
    cXcopy->add_option("--list", listFile, "file holding the parameter list (at most 16 MiB); required")
        ->type_name("FILE")
        ->required();
    deviceArgument(cXcopy, o);
  }
  CLI::App* cResults = subcommand("copy-results", "RECEIVE COPY RESULTS");
  if (cResults) {
    deviceArgument(cResults, o);
    cResults
        ->add_option("--sa", results.serviceAction,
                     "service action, a whole number 0 to 31 (0 copy status, 3 operating parameters); default: 0")
        ->type_name("NUMBER")
        ->check(CLI::Range(0, 31).description(""));
    cResults->add_option("--list-id", results.listIdentifier, "list identifier, a whole number 0 to 255; default: 0")
        ->type_name("NUMBER")
        ->check(CLI::Range(0, 255).description(""));
    cResults
        ->add_option("--len", results.allocationLength,
                     "allocation length in bytes, a whole number 0 to 16777216; default: 1024")
        ->type_name("LEN")
        ->check(CLI::Range(0UL, 16UL * 1024 * 1024).description(""));
  }
  CLI::App* cDecode = subcommand("decode-sense", "decode sense bytes given in hex (arguments or stdin)");
  if (cDecode) cDecode->add_option("HEX", senseHex, "sense bytes in hex; default: read from standard input");
  CLI::App* cList = subcommand("list", "the devices the back-ends can see");
  if (cList)
    cList
        ->add_option("--portal", portal,
                     "list only the targets and LUNs of the iSCSI portal HOST[:PORT] (port default 3260); "
                     "default: the devices each back-end finds by itself")
        ->type_name("HOST[:PORT]");
  std::optional<DailyCommands> daily;  // readcap, start, sync, modes, logs, persist, rtpg, luns, opcodes
  if (!ownNamed) daily.emplace(app, o);
  bool named = false;
  for (const CLI::App* sub : app.get_subcommands({})) named = named || sub->get_name() == word;
  auto wanted = [&](const CLI::App* sub) { return sub != nullptr && (!named || sub->get_name() == word); };
  // Before the subcommand, the same options count. A subcommand that takes them all and comes first
  // needs no copy of them here (nothing falls through to them).
  const bool firstTakesAll = named && argc > 1 && word == argv[1] && word != "decode-sense" && word != "list";
  if (!firstTakesAll) commonOptions(&app, o, timeoutText, true, true);
  for (CLI::App* sub : {cInquiry, cTur, cSense, cRaw, cXcopy, cResults})
    if (wanted(sub)) commonOptions(sub, o, timeoutText, true, true);
  if (daily)
    for (CLI::App* sub : daily->subcommands())
      if (wanted(sub)) commonOptions(sub, o, timeoutText, true, true);
  if (wanted(cDecode)) commonOptions(cDecode, o, timeoutText, false, true);
  for (CLI::App* sub : app.get_subcommands({})) sub->footer([] { return helpFooter(); });
  if (wanted(cList)) {
    commonOptions(cList, o, timeoutText, false, true);
    cList->add_option("-t,--timeout", timeoutText,
                      "seconds for each network step of --portal, a whole number 1 to 86400; default: 10")
        ->type_name("SECONDS");
  }
  // Whether `sub` exists and was chosen.
  auto parsed = [](const CLI::App* sub) { return sub != nullptr && sub->parsed(); };

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    o.json = o.json || wantsJson(argc, argv);
    const std::string word = firstWord(argc, argv);
    bool known = word.empty();
    for (const CLI::App* sub : app.get_subcommands({})) known = known || sub->get_name() == word;
    if (!known) {
      std::string names;
      for (const CLI::App* sub : app.get_subcommands({})) names += (names.empty() ? "" : ", ") + sub->get_name();
      return out.finish(out.fail("unknown subcommand '" + word + "' (subcommands: " + names + ")", exitSyntax));
    }
    return out.finish(out.fail(e.what(), exitSyntax));
  }
  CLI::App* chosen = app.get_subcommands().front();
  const bool ownDevices = daily && daily->opensOwnDevices();  // copy: --if and --of
  out.start(chosen->get_name(),
            chosen == cDecode || chosen == cList || ownDevices ? std::string() : shownDeviceName(o.device));

  if (!timeoutText.empty() && !parseTimeout(timeoutText, o.timeout))
    return out.finish(
        out.fail("-t/--timeout: expected whole seconds from 1 to 86400, not '" + timeoutText + "'", exitSyntax));
  if (o.device.empty())
    return out.finish(out.fail("the device name is empty (try emulated:disk, or qxscsi list)", exitSyntax));

  if (parsed(cDecode)) return out.finish(runDecodeSense(senseHex, out));

  std::vector<QXScsi::ParameterData> params;
  std::string error;
  if (!buildParameters(o.params, params, error)) return out.finish(out.fail(error, exitSyntax));

  DeviceSession session;
  // Listing a portal waits 10 s for each network step unless -t says otherwise.
  if (parsed(cList)) return out.finish(runList(session, portal, o.timeout ? o.timeout : 10, out));

  if (ownDevices) return out.finish(daily->runOwnDevices(session, params, out));

  int status = exitOther;
  QXScsiTarget* target = session.open(o.device, params, out, status, o.address);
  if (target == nullptr) return out.finish(status);
  out.setFactsSource([target](Output::Facts& facts) {
    qxscsi::backends::CommandFacts seen;
    if (!qxscsi::backends::lastCommand(*target, seen)) return false;
    facts.transferred = seen.transferred;
    facts.residual = seen.residual;
    facts.overflow = seen.overflow;
    facts.milliseconds = static_cast<double>(seen.duration.count()) / 1e6;
    return true;
  });

  if (parsed(cInquiry))
    status = runInquiry(*target, inquiry, out);
  else if (parsed(cTur))
    status = runTestUnitReady(*target, out);
  else if (parsed(cSense))
    status = runRequestSense(*target, out);
  else if (parsed(cRaw))
    status = runRaw(*target, o, raw, out);
  else if (parsed(cXcopy))
    status = runExtendedCopy(*target, listFile, out);
  else if (parsed(cResults))
    status = runCopyResults(*target, results, out);
  else if (daily && daily->parsed())
    status = daily->run(*target, out);
  return out.finish(status);
}

int main(int argc, char** argv) {
  // Nothing a user or a device does may end the run without a line, a documented status and,
  // with --json, one document.
  Options o;
  Output out(o);
  try {
    return run(argc, argv, o, out);
  } catch (const std::exception& e) {
    return out.finish(out.fail(std::string("internal error: ") + e.what(), exitOther));
  } catch (...) {
    return out.finish(out.fail("internal error", exitOther));
  }
}
