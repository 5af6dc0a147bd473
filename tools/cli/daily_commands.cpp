// The daily subcommands on the command line: their options and the call of the one chosen.
#include <CLI/CLI.hpp>

#include <unistd.h>

#include "cli/daily.h"
#include "cli/hex.h"

namespace qxscsi::cli {

DailyCommands::DailyCommands(CLI::App& app, Options& common) {
  auto device = [&common](CLI::App* sub) {
    sub->add_option("DEVICE", common.device, "device name (forms below); default: emulated:disk")->type_name("NAME");
  };
  readcap_ = app.add_subcommand("readcap", "READ CAPACITY(10), or (16) with --long or when (10) cannot tell");
  device(readcap_);
  readcap_->add_flag("-l,--long", readcapOptions_.longForm,
                     "READ CAPACITY(16): protection, provisioning and physical block exponent (default: (10))");

  start_ = app.add_subcommand("start", "START STOP UNIT: start (default), stop, load or eject");
  device(start_);
  start_->add_flag("--stop", startOptions_.stop, "stop the unit");
  start_->add_flag("--load", startOptions_.load, "load the medium and start");
  start_->add_flag("--eject", startOptions_.eject, "stop and eject the medium");
  start_->add_flag("-i,--immed", startOptions_.immediate, "return before the unit has finished (default: wait)");

  sync_ = app.add_subcommand("sync", "SYNCHRONIZE CACHE(10), or (16) when --lba or --count need it");
  device(sync_);
  sync_->add_option("--lba", syncLba_, "first logical block, decimal or 0x hex (default 0)");
  sync_->add_option("--count", syncCount_,
                    "number of blocks, decimal or 0x hex, at most 2^32 - 1 (default 0: from the LBA to the end)");
  sync_->add_flag("-i,--immed", syncOptions_.immediate, "return before the cache is written (default: wait)");

  modes_ = app.add_subcommand("modes", "MODE SENSE(10), or (6) with --six: one mode page or all, decoded");
  device(modes_);
  modes_->add_option("-p,--page", modesOptions_.page,
                     "page: 0 to 63 as decimal, 0xNN or NNh, or rw, ca, co, ie; default all (3Fh)");
  modes_->add_option("--subpage", modesOptions_.subpage, "subpage code, 0 to 255 (default 0; FFh: all)");
  modes_->add_option("-c,--control", modesOptions_.control,
                     "page control: current, changeable, default or saved, or 0 to 3 (default current)");
  modes_->add_flag("-6,--six", modesOptions_.six, "MODE SENSE(6) (default: MODE SENSE(10))");
  modes_->add_flag("-d,--dbd", modesOptions_.disableBlockDescriptors, "no block descriptors (default: with them)");
  modes_->add_flag("-L,--llbaa", modesOptions_.longLba, "long LBA block descriptors accepted (MODE SENSE(10) only)");
  modes_->add_option("--set", modesOptions_.set,
                     "PAGE.FIELD=VALUE: change one field with MODE SELECT(10), or (6) with --six (say caching.WCE=0; "
                     "PAGE: rw, ca, co, ie or a number)");
  modes_->add_flag("--save", modesOptions_.save, "with --set: save the change too (SP), so it outlasts a reset");

  logs_ = app.add_subcommand("logs", "LOG SENSE: one log page, decoded (default: the supported pages, 00h)");
  device(logs_);
  logs_->add_option("-p,--page", logsOptions_.page, "page: 0 to 63 as decimal, 0xNN or NNh (default 0)");
  logs_->add_option("--subpage", logsOptions_.subpage, "subpage code, 0 to 255 (default 0)");
  logs_->add_option("-c,--control", logsOptions_.control,
                    "page control: threshold, cumulative, default_threshold or default_cumulative, or 0 to 3 "
                    "(default cumulative)");
  logs_->add_option("--ppointer", logsOptions_.parameterPointer,
                    "first parameter code to return, decimal or 0x hex, 0 to 65535 (default 0)");

  persist_ = app.add_subcommand("persist", "PERSISTENT RESERVE IN (default: read keys) or OUT");
  device(persist_);
  PersistOptions& p = persistOptions_;
  persist_->add_flag("-i,--in", p.in, "PERSISTENT RESERVE IN (the default)");
  persist_->add_flag("-o,--out", p.out, "PERSISTENT RESERVE OUT");
  persist_->add_flag("-k,--read-keys", p.readKeys, "IN: the registered keys (the default)");
  persist_->add_flag("-r,--read-reservation", p.readReservation, "IN: the reservation held");
  persist_->add_flag("-c,--report-capabilities", p.reportCapabilities, "IN: what the device offers");
  persist_->add_flag("-G,--register", p.registerKey, "OUT: register --param-sark (with --param-rk the old key)");
  persist_->add_flag("-I,--register-ignore", p.registerIgnore, "OUT: register --param-sark, ignoring the old key");
  persist_->add_flag("-R,--reserve", p.reserve, "OUT: reserve with --param-rk and --prout-type");
  persist_->add_flag("-L,--release", p.release, "OUT: release with --param-rk and --prout-type");
  persist_->add_flag("-C,--clear", p.clear, "OUT: clear every registration and the reservation");
  persist_->add_flag("-P,--preempt", p.preempt, "OUT: preempt the registrations of --param-sark");
  persist_->add_flag("-Z,--param-aptpl", p.aptpl, "OUT: keep the registrations through a power loss");
  persist_->add_option("-K,--param-rk", p.key, "reservation key, decimal or 0x hex below 2^64 (default 0)");
  persist_->add_option("-S,--param-sark", p.serviceKey,
                       "service action reservation key, decimal or 0x hex below 2^64 (default 0)");
  persist_->add_option("-T,--prout-type", p.type,
                       "reservation type 0 to 15: 1 WE, 3 EA, 5 WE-RO, 6 EA-RO, 7 WE-AR, 8 EA-AR (default 0)");

  rtpg_ = app.add_subcommand("rtpg", "REPORT TARGET PORT GROUPS: each group's asymmetric access state and ports");
  device(rtpg_);
  rtpg_->add_flag("-e,--extended", rtpgOptions_.extended, "ask for the extended header (default: length only)");

  luns_ = app.add_subcommand("luns", "REPORT LUNS: every LUN of the target, each entry decoded");
  device(luns_);
  luns_->add_option("-s,--select", lunsOptions_.selectText,
                    "SELECT REPORT, 0 to 255 as decimal, 0xNN or NNh: 0 all but well known LUNs, 1 only well known "
                    "ones, 2 all (default 0)")
      ->type_name("NUMBER");

  opcodes_ = app.add_subcommand("opcodes", "REPORT SUPPORTED OPERATION CODES: all commands, or one with its CDB usage");
  device(opcodes_);
  OpcodesOptions& oc = opcodesOptions_;
  opcodes_->add_option("-o,--opcode", oc.opcodeText,
                       "one operation code OP (0 to 255), or OP,SA with a service action; decimal, 0xNN or NNh "
                       "(default: all commands)")
      ->type_name("OP[,SA]");
  opcodes_->add_option("-s,--sa", oc.actionText, "service action of --opcode, 0 to 65535 (default: none)")
      ->type_name("SA");
  opcodes_->add_flag("-R,--timeouts", oc.timeouts,
                     "ask for each command's timeouts descriptor (RCTD): nominal and recommended (default: off)");
  opcodes_->add_option("-p,--pdt", oc.typeText,
                       "peripheral device type the names are taken for, 0 to 31 (default: -1, SPC and disks)")
      ->type_name("DT");

  copy_ = app.add_subcommand("copy", "blocks from a device to a file or device, or from a file to a device");
  CopyArguments& c = copyArguments_;
  copy_->add_option("--if", c.input,
                    "where to read: a device name (forms below), or a file: file:PATH, /dev/null or any path no "
                    "back-end takes; required")
      ->type_name("NAME");
  copy_->add_option("--of", c.output, "where to write, as --if; a file is cut at --seek, as dd does; required")
      ->type_name("NAME");
  copy_->add_option("--bs", c.blocksPerTransfer,
                    "logical blocks per READ or WRITE, 1 to 1048576 and at most 64 MiB (default 128: 64 KiB "
                    "with 512-byte blocks)")
      ->type_name("BLOCKS");
  copy_->add_option("--count", c.count, "logical blocks to copy (default: to the end of the input)")
      ->type_name("BLOCKS");
  copy_->add_option("--skip", c.skip, "logical blocks of the input skipped first (default 0)")->type_name("BLOCKS");
  copy_->add_option("--seek", c.seek, "logical blocks of the output skipped first (default 0)")->type_name("BLOCKS");
  copy_->add_flag("--fua", c.fua, "WRITE with FUA: each block on the medium before the command ends (default: off)");
  copy_->add_flag("--verify", c.verify,
                  "read each transfer back from the output and compare; a difference exits 14 (default: off)");
}

bool DailyCommands::opensOwnDevices() const { return copy_->parsed(); }

int DailyCommands::runOwnDevices(DeviceSession& session, std::vector<QXScsi::ParameterData>& params,
                                 Output& out) const {
  CopyOptions o;
  std::string error;
  if (!parseCopyArguments(copyArguments_, o, error)) return out.fail(error, exitSyntax);
  o.progress = isatty(STDERR_FILENO) == 1;
  return runCopy(session, params, o, out);
}

bool DailyCommands::parsed() const {
  for (CLI::App* sub : subcommands())
    if (sub->parsed()) return true;
  return false;
}

int DailyCommands::run(QXScsiTarget& target, Output& out) const {
  if (readcap_->parsed()) return runReadCapacity(target, readcapOptions_, out);
  if (rtpg_->parsed()) return runReportTargetPortGroups(target, rtpgOptions_, out);
  if (opcodes_->parsed()) {
    OpcodesOptions o = opcodesOptions_;
    const std::string problem = parseOpcodesOptions(o);
    // --sa without --opcode contradicts itself (as sg_opcodes has it); anything else is a bad value.
    const bool contradicting = problem.find("needs") != std::string::npos;
    if (!problem.empty()) return out.fail("opcodes: " + problem, contradicting ? exitContradicting : exitSyntax);
    return runSupportedOperationCodes(target, o, out);
  }
  if (luns_->parsed()) {
    LunsOptions o = lunsOptions_;
    const int select = o.selectText.empty() ? 0 : parsePageNumber(o.selectText, 255);
    if (select < 0) return out.fail("luns: --select '" + o.selectText + "': expected 0 to 255", exitSyntax);
    o.select = static_cast<unsigned>(select);
    return runReportLuns(target, o, out);
  }
  if (start_->parsed()) return runStartStop(target, startOptions_, out);
  if (sync_->parsed()) {
    SyncOptions o = syncOptions_;
    if (!syncLba_.empty() && !parseWholeNumber(syncLba_, UINT64_MAX, o.lba))
      return out.fail("sync: --lba '" + syncLba_ + "': expected a whole number below 2^64", exitSyntax);
    if (!syncCount_.empty() && !parseWholeNumber(syncCount_, UINT32_MAX, o.count))
      return out.fail("sync: --count '" + syncCount_ + "': expected a whole number below 2^32", exitSyntax);
    return runSynchronizeCache(target, o, out);
  }
  if (logs_->parsed()) return runLogSense(target, logsOptions_, out);
  if (persist_->parsed()) return runPersistentReserve(target, persistOptions_, out);
  return runModeSense(target, modesOptions_, out);
}

}  // namespace qxscsi::cli
