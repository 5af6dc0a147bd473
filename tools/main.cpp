// qxscsi: sends the library's SCSI commands to any device name the back-ends take.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

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
  sub->add_option("DEVICE", o.device, "device name (default emulated:disk)");
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
  std::string forms = "\nDevice names:";
  for (const auto& backend : qxscsi::backends::builtinBackends())
    for (const std::string& form : backend->nameSyntax()) forms += "\n  " + form;
  app.footer(forms);
  app.set_version_flag("--version", std::string("qxscsi ") + QXSCSI_TOOL_VERSION);
  app.require_subcommand(1);
  app.fallthrough();
  app.add_option("--param", o.params, "target parameter NAME=VALUE (repeatable)");
  app.add_option("--address", o.address, "BUS:TARGET:LUN of the device behind an adapter name //./scsiN:");
  app.add_option(
      "-t,--timeout", timeoutText,
      "timeout in seconds (1 to 86400) for each command sent and each network step of list --portal; "
      "default: the library's own (10 s, 300 s for EXTENDED COPY)");
  app.add_flag("--json", o.json, "print one JSON document on stdout");
  app.add_flag("--hex", o.hex, "hex dump of returned data");
  app.add_flag("--trace", o.trace, "print the library's trace of the argument object to stderr");
  app.add_flag("-v,--verbose", o.verbose, "more output (repeatable)");

  CLI::App* cInquiry = app.add_subcommand("inquiry", "standard INQUIRY data or a VPD page");
  deviceArgument(cInquiry, o);
  cInquiry->add_option("--vpd", inquiry.vpdPage, "VPD page code (0x00, 0x80, 0x83, ...)")
      ->check(CLI::Range(0, 255));
  CLI::App* cTur = app.add_subcommand("tur", "TEST UNIT READY");
  deviceArgument(cTur, o);
  CLI::App* cSense = app.add_subcommand("sense", "REQUEST SENSE, decoded");
  deviceArgument(cSense, o);
  CLI::App* cLuns = app.add_subcommand("luns", "REPORT LUNS");
  deviceArgument(cLuns, o);
  CLI::App* cRaw = app.add_subcommand("raw", "any CDB given in hex, sent through cmdCall");
  cRaw->add_option("--cdb", raw.cdbHex, "CDB in hex, e.g. \"12 00 00 00 24 00\"")->required();
  deviceArgument(cRaw, o);
  cRaw->add_option("--in", raw.inLength, "read LEN bytes from the device")
      ->check(CLI::Range(0L, 16L * 1024 * 1024));
  cRaw->add_option("--out", raw.outFile, "send the bytes of FILE to the device");
  cRaw->add_option("--outfile", raw.saveFile, "write the bytes that arrive (only those) to FILE, not to stdout");
  CLI::App* cXcopy = app.add_subcommand("xcopy", "EXTENDED COPY with a parameter list from a file");
  cXcopy->add_option("--list", listFile, "file holding the parameter list")->required();
  deviceArgument(cXcopy, o);
  CLI::App* cResults = app.add_subcommand("copy-results", "RECEIVE COPY RESULTS");
  deviceArgument(cResults, o);
  cResults
      ->add_option("--sa", results.serviceAction, "service action (0 copy status, 3 operating parameters)")
      ->check(CLI::Range(0, 31));
  cResults->add_option("--list-id", results.listIdentifier, "list identifier")->check(CLI::Range(0, 255));
  cResults->add_option("--len", results.allocationLength, "allocation length")
      ->check(CLI::Range(0UL, 16UL * 1024 * 1024));
  CLI::App* cDecode =
      app.add_subcommand("decode-sense", "decode sense bytes given in hex (arguments or stdin)");
  cDecode->add_option("HEX", senseHex, "sense bytes in hex");
  CLI::App* cList = app.add_subcommand("list", "the devices the back-ends can see");
  cList->add_option("--portal", portal, "also list the targets and LUNs of an iSCSI portal HOST[:PORT]");
  DailyCommands daily(app, o);  // readcap, start, sync, modes

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
  out.start(chosen->get_name(), chosen == cDecode || chosen == cList ? std::string() : shownDeviceName(o.device));

  if (!timeoutText.empty() && !parseTimeout(timeoutText, o.timeout))
    return out.finish(
        out.fail("-t/--timeout: expected whole seconds from 1 to 86400, not '" + timeoutText + "'", exitSyntax));
  if (o.device.empty())
    return out.finish(out.fail("the device name is empty (try emulated:disk, or qxscsi list)", exitSyntax));

  if (cDecode->parsed()) return out.finish(runDecodeSense(senseHex, out));

  std::vector<QXScsi::ParameterData> params;
  std::string error;
  if (!buildParameters(o.params, params, error)) return out.finish(out.fail(error, exitSyntax));

  DeviceSession session;
  // Listing a portal waits 10 s for each network step unless -t says otherwise.
  if (cList->parsed()) return out.finish(runList(session, portal, o.timeout ? o.timeout : 10, out));

  int status = exitOther;
  QXScsiTarget* target = session.open(o.device, params, out, status, o.address);
  if (target == nullptr) return out.finish(status);
  out.setTarget(target);

  if (cInquiry->parsed())
    status = runInquiry(*target, inquiry, out);
  else if (cTur->parsed())
    status = runTestUnitReady(*target, out);
  else if (cSense->parsed())
    status = runRequestSense(*target, out);
  else if (cLuns->parsed())
    status = runReportLuns(*target, out);
  else if (cRaw->parsed())
    status = runRaw(*target, o, raw, out);
  else if (cXcopy->parsed())
    status = runExtendedCopy(*target, listFile, out);
  else if (cResults->parsed())
    status = runCopyResults(*target, results, out);
  else if (daily.parsed())
    status = daily.run(*target, out);
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
