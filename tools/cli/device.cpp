// Device opening and the list subcommand.
#include "cli/device.h"

#include <algorithm>
#include <memory>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/hex.h"
#include "qxscsi/commands.h"
#include "wire/decimal.h"

namespace qxscsi::cli {

DeviceSession::DeviceSession() : installation_(backends::install()) {}

DeviceSession::~DeviceSession() { targets_.clear(); }

bool parseLunAddress(const std::string& text, unsigned char& bus, unsigned char& target, unsigned char& lun) {
  unsigned long long values[3];
  size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    if (!wire::parseDecimalPrefix(text, pos, 0, 255, values[i])) return false;
    if (i < 2 && (pos >= text.size() || text[pos++] != ':')) return false;
  }
  if (pos != text.size()) return false;
  bus = static_cast<unsigned char>(values[0]);
  target = static_cast<unsigned char>(values[1]);
  lun = static_cast<unsigned char>(values[2]);
  return true;
}

std::string shownDeviceName(const std::string& name) {
  std::size_t scheme = name.find("://");
  if (scheme == std::string::npos) return name;
  std::size_t start = scheme + 3, slash = name.find('/', start);
  std::size_t at = name.rfind('@', slash);
  std::size_t pct = name.find('%', start);
  if (at == std::string::npos || at < start || pct == std::string::npos || pct > at) return name;
  return name.substr(0, pct + 1) + "***" + name.substr(at);
}

QXScsiTarget* DeviceSession::open(const std::string& name, std::vector<QXScsi::ParameterData>& params,
                                  Output& out, int& status, const std::string& address) {
  if (!installation_) {
    status = out.fail("cannot set up the back-ends (another installation is alive)", exitOther);
    return nullptr;
  }
  backends::Backend* backend = installation_->backendFor(name);
  if (address.empty() && backend != nullptr && backend->needsAddress(name)) {
    status = out.fail("an adapter name needs --address BUS:TARGET:LUN", exitContradicting);
    return nullptr;
  }
  if (!address.empty()) {
    unsigned char bus, id, lun;
    if (!parseLunAddress(address, bus, id, lun)) {
      status = out.fail("--address: expected BUS:TARGET:LUN with each number 0 to 255, not '" + address + "'",
                        exitSyntax);
      return nullptr;
    }
    if (backend != nullptr && !backend->needsAddress(name)) {
      status = out.fail("--address is only for adapter names such as //./scsiN:, not '" + shownDeviceName(name) + "'",
                        exitContradicting);
      return nullptr;
    }
    targets_.push_back(std::make_unique<QXScsiSPITarget>(name.c_str(), bus, id, lun, &params));
  } else {
    targets_.push_back(std::make_unique<QXScsiSPITarget>(name.c_str(), &params));
  }
  QXScsiSPITarget& opened = *targets_.back();
  if (opened.valid()) return &opened;
  long error = opened.implementationError();
  std::string hint;
  opened.implementationErrorHint(hint);
  std::string line = "cannot open '" + shownDeviceName(name) + "': " + (hint.empty() ? "opening failed" : hint) + " (error " +
                     std::to_string(error) + ")";
  // The back-end of operating-system nodes fails its opening with open(2)'s errno.
  const bool fromOpenCall = backend != nullptr && std::string(backend->name()) == "sg";
  status = exitStatusForOpening(error, fromOpenCall);
  out.fail(line, status, error);
  return nullptr;
}

namespace {

// Lists the devices the back-ends find, or those within `scope`, into `names`; the groups that
// have a name (the targets behind a portal) get a line each.
bool listDevices(backends::Installation& installation, const std::string& scope, unsigned long timeoutSeconds,
                 std::vector<std::string>& names, Output& out) {
  std::vector<backends::DeviceGroup> groups;
  std::string error;
  if (!installation.list(scope, timeoutSeconds, groups, error)) {
    // A portal may be given without its scheme: mask it as a name with one.
    std::string shown = scope.find("://") == std::string::npos ? shownDeviceName("x://" + scope).substr(4)
                                                                : shownDeviceName(scope);
    out.fail("list" + (scope.empty() ? std::string() : " --portal " + shown) + ": " + error, exitFile);
    return false;
  }
  nlohmann::json listed = nlohmann::json::array();
  for (const auto& g : groups) {
    names.insert(names.end(), g.devices.begin(), g.devices.end());
    if (g.name.empty()) continue;
    const std::string name = untrustedText(g.name), error = untrustedText(g.error);
    std::vector<std::string> portals;
    for (const std::string& a : g.addresses) portals.push_back(untrustedText(a));
    out.text() << "target " << name << (portals.empty() ? "" : "  " + portals[0])
               << (error.empty() ? "" : "  (LUNs unknown: " + error + ")") << '\n';
    listed.push_back({{"target", name}, {"portals", portals}, {"logical_units", g.luns}, {"listing_error", error}});
  }
  if (!scope.empty()) out.doc()["targets"] = listed;
  return true;
}

}  // namespace

int runList(DeviceSession& session, const std::string& portal, unsigned long timeoutSeconds, Output& out) {
  backends::Installation* inst = session.installation();
  if (inst == nullptr) {
    return out.fail("cannot set up the back-ends", exitOther);
  }
  std::vector<std::string> names;
  if (!listDevices(*inst, portal, timeoutSeconds, names, out)) return exitFile;
  nlohmann::json devices = nlohmann::json::array();
  for (const std::string& name : names) {
    std::vector<QXScsi::ParameterData> params;
    QXScsiSPITarget target(name.c_str(), &params);
    nlohmann::json entry;
    entry["device"] = untrustedText(name);
    out.text() << untrustedText(name);
    unsigned char data[96] = {};
    std::unique_ptr<QXScsiCmd, void (*)(QXScsiCmd*)> rec(
        target.valid() ? target.cmdInquiry(data, sizeof data) : nullptr, QXScsiFreeCmd);
    if (rec && rec->scsiStatus() == 0) {
      Options quietOptions;
      quietOptions.json = true;
      Output quiet(quietOptions);
      // The buffer's tail past ADDITIONAL LENGTH is not the device's: only the answer is decoded.
      const size_t answered = std::min(sizeof data, size_t{5} + data[4]);
      describeStandardInquiry(data, answered, quiet);
      const nlohmann::json& j = quiet.doc();
      out.text() << "  " << j.value("peripheral_device_type_text", std::string("(short answer)")) << "  "
                 << j.value("vendor", std::string()) << " " << j.value("product", std::string()) << " "
                 << j.value("revision", std::string());
      entry["inquiry"] = j;
    } else {
      out.text() << "  (no answer to INQUIRY)";
    }
    QXScsiAddress address;
    QXScsiLunAddress lun;
    if (target.valid() && target.getScsiAddress(address) && address.toLunAddress(lun)) {
      // One form for every entry: [ADAPTER:BUS:TARGET:LUN], the adapter "-" where there is none.
      out.text() << "  [" << (target.adapter() >= 0 ? std::to_string(target.adapter()) : std::string("-")) << ":"
                 << unsigned(lun.bus()) << ":" << unsigned(lun.target()) << ":" << unsigned(lun.lun()) << "]";
      entry["adapter"] = target.adapter() >= 0 ? nlohmann::json(target.adapter()) : nlohmann::json(nullptr);
      entry["address"] = {lun.bus(), lun.target(), lun.lun()};
    }
    out.text() << '\n';
    devices.push_back(entry);
  }
  out.doc()["devices"] = devices;
  return exitOk;
}

}  // namespace qxscsi::cli
