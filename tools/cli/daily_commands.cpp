// The daily subcommands on the command line: their options and the call of the one chosen.
#include <CLI/CLI.hpp>

#include "cli/daily.h"

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

  rtpg_ = app.add_subcommand("rtpg", "REPORT TARGET PORT GROUPS: each group's asymmetric access state and ports");
  device(rtpg_);
  rtpg_->add_flag("-e,--extended", rtpgOptions_.extended, "ask for the extended header (default: length only)");
}

bool DailyCommands::parsed() const {
  return readcap_->parsed() || start_->parsed() || sync_->parsed() || modes_->parsed() || rtpg_->parsed();
}

int DailyCommands::run(QXScsiTarget& target, Output& out) const {
  if (readcap_->parsed()) return runReadCapacity(target, readcapOptions_, out);
  if (rtpg_->parsed()) return runReportTargetPortGroups(target, rtpgOptions_, out);
  if (start_->parsed()) return runStartStop(target, startOptions_, out);
  if (sync_->parsed()) {
    SyncOptions o = syncOptions_;
    if (!syncLba_.empty() && !parseWholeNumber(syncLba_, UINT64_MAX, o.lba))
      return out.fail("sync: --lba '" + syncLba_ + "': expected a whole number below 2^64", exitSyntax);
    if (!syncCount_.empty() && !parseWholeNumber(syncCount_, UINT32_MAX, o.count))
      return out.fail("sync: --count '" + syncCount_ + "': expected a whole number below 2^32", exitSyntax);
    return runSynchronizeCache(target, o, out);
  }
  return runModeSense(target, modesOptions_, out);
}

}  // namespace qxscsi::cli
