// Device opening and the list subcommand.
#include "cli/device.h"

#include <memory>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "qxscsi/commands.h"

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

int runList(DeviceSession& session, const std::string& portal, Output& out) {
  backends::Installation* inst = session.installation();
  if (inst == nullptr) {
    errorLine("cannot set up the back-ends");
    return exitOther;
  }
  if (!portal.empty()) {
    errorLine("list --portal: no back-end lists iSCSI portals in this build");
    return exitSyntax;
  }
  nlohmann::json devices = nlohmann::json::array();
  for (const std::string& name : inst->devices()) {
    std::vector<QXScsi::ParameterData> params;
    QXScsiSPITarget target(name.c_str(), &params);
    nlohmann::json entry;
    entry["device"] = name;
    out.text() << name;
    unsigned char data[96] = {};
    std::unique_ptr<QXScsiCmd, void (*)(QXScsiCmd*)> rec(target.valid() ? target.cmdInquiry(data, sizeof data)
                                                                          : nullptr,
                                                         QXScsiFreeCmd);
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
      out.text() << "  [" << unsigned(lun.bus()) << ":" << unsigned(lun.target()) << ":" << unsigned(lun.lun()) << "]";
      entry["address"] = {lun.bus(), lun.target(), lun.lun()};
    }
    out.text() << '\n';
    devices.push_back(entry);
  }
  out.doc()["devices"] = devices;
  return exitOk;
}

}  // namespace qxscsi::cli
