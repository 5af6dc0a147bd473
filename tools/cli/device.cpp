// Device opening and the list subcommand.
#include "cli/device.h"

#include <memory>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "qxscsi/commands.h"
#ifdef QXSCSI_HAVE_ISCSI
#include "qxscsi/backends/iscsi.h"
#endif

namespace qxscsi::cli {

DeviceSession::DeviceSession() : installation_(backends::install()) {}

DeviceSession::~DeviceSession() { target_.reset(); }

QXScsiTarget* DeviceSession::open(const std::string& name, std::vector<QXScsi::ParameterData>& params,
                                  Output& out, int& status) {
  if (!installation_) {
    errorLine("cannot set up the back-ends (another installation is alive)");
    status = exitOther;
    return nullptr;
  }
  target_ = std::make_unique<QXScsiSPITarget>(name.c_str(), &params);
  if (target_->valid()) return target_.get();
  long error = target_->implementationError();
  std::string hint;
  target_->implementationErrorHint(hint);
  std::string line = "cannot open '" + name + "': " + (hint.empty() ? "opening failed" : hint) + " (error " +
                     std::to_string(error) + ")";
  errorLine(line);
  out.doc()["error"] = line;
  out.doc()["error_code"] = error;
  status = exitStatusForFailure(error);
  if (status == exitOther) status = exitFile;
  return nullptr;
}

#ifdef QXSCSI_HAVE_ISCSI
namespace {

// Adds the URL of every LUN behind an iSCSI portal to names, after a line per target.
bool addPortalLuns(const std::string& portal, std::vector<std::string>& names, Output& out) {
  std::vector<backends::IscsiTargetListing> targets;
  std::string error;
  if (!backends::listIscsiTargets(portal, targets, error)) {
    errorLine("list --portal " + portal + ": " + error);
    out.doc()["error"] = error;
    return false;
  }
  std::string base = portal.rfind("iscsi://", 0) == 0 ? portal.substr(8) : portal;
  while (!base.empty() && base.back() == '/') base.pop_back();
  nlohmann::json listed = nlohmann::json::array();
  for (const auto& t : targets) {
    out.text() << "target " << t.name << (t.portals.empty() ? "" : "  " + t.portals[0])
               << (t.error.empty() ? "" : "  (LUNs unknown: " + t.error + ")") << '\n';
    listed.push_back({{"target", t.name}, {"portals", t.portals}, {"luns", t.luns}, {"error", t.error}});
    for (int lun : t.luns) names.push_back("iscsi://" + base + "/" + t.name + "/" + std::to_string(lun));
  }
  out.doc()["targets"] = listed;
  return true;
}

}  // namespace
#endif

int runList(DeviceSession& session, const std::string& portal, Output& out) {
  backends::Installation* inst = session.installation();
  if (inst == nullptr) {
    errorLine("cannot set up the back-ends");
    return exitOther;
  }
  std::vector<std::string> names = inst->devices();
  if (!portal.empty()) {
#ifdef QXSCSI_HAVE_ISCSI
    if (!addPortalLuns(portal, names, out)) return exitFile;
#else
    errorLine("list --portal: no back-end lists iSCSI portals in this build");
    return exitSyntax;
#endif
  }
  nlohmann::json devices = nlohmann::json::array();
  for (const std::string& name : names) {
    std::vector<QXScsi::ParameterData> params;
    QXScsiSPITarget target(name.c_str(), &params);
    nlohmann::json entry;
    entry["device"] = name;
    out.text() << name;
    unsigned char data[96] = {};
    std::unique_ptr<QXScsiCmd, void (*)(QXScsiCmd*)> rec(
        target.valid() ? target.cmdInquiry(data, sizeof data) : nullptr, QXScsiFreeCmd);
    if (rec && rec->scsiStatus() == 0) {
      Options quietOptions;
      quietOptions.json = true;
      Output quiet(quietOptions);
      describeStandardInquiry(data, sizeof data, quiet);
      const nlohmann::json& j = quiet.doc();
      out.text() << "  " << j["peripheral_device_type_text"].get<std::string>() << "  "
                 << j["vendor"].get<std::string>() << " " << j["product"].get<std::string>() << " "
                 << j["revision"].get<std::string>();
      entry["inquiry"] = j;
    } else {
      out.text() << "  (no answer to INQUIRY)";
    }
    QXScsiAddress address;
    QXScsiLunAddress lun;
    if (target.valid() && target.getScsiAddress(address) && address.toLunAddress(lun)) {
      out.text() << "  [" << unsigned(lun.bus()) << ":" << unsigned(lun.target()) << ":"
                 << unsigned(lun.lun()) << "]";
      entry["address"] = {lun.bus(), lun.target(), lun.lun()};
    }
    out.text() << '\n';
    devices.push_back(entry);
  }
  out.doc()["devices"] = devices;
  return exitOk;
}

}  // namespace qxscsi::cli
