// Unit attentions of the emulated devices: per initiator and logical unit, raised only with ua=1.
#include "device.h"

namespace qxscsi::backends::emulated {

void Device::raiseUnitAttention(unsigned lun, unsigned char asc, unsigned char ascq,
                                const std::string* except) {
  for (auto& [name, units] : attentions_)
    if ((!except || name != *except) && lun < units.size()) units[lun].emplace_back(asc, ascq);
}

void Device::raiseUnitAttentionFor(const std::string& initiator, unsigned lun, unsigned char asc,
                                   unsigned char ascq) {
  auto it = attentions_.find(initiator);
  if (it != attentions_.end() && lun < it->second.size()) it->second[lun].emplace_back(asc, ascq);
}

bool Device::reportUnitAttention(Exchange& x) {
  if (!unitAttentions_) return false;
  auto it = attentions_.find(x.initiator());
  if (it == attentions_.end()) {
    // A nexus the device has not seen: the power-on (reset) condition is still to be reported on
    // every logical unit.
    it = attentions_.emplace(x.initiator(), lunCount()).first;
    for (auto& pending : it->second) pending.emplace_back(0x29, 0x00);
  }
  auto& pending = it->second[x.lun()];
  if (pending.empty()) return false;
  switch (x.op()) {
    case 0x12:  // INQUIRY and REPORT LUNS neither report nor clear it
    case 0xA0:
      return false;
    case 0x03: {                            // REQUEST SENSE returns it as its data and clears it
      if (x.cdb()[1] & 0x01) return false;  // descriptor format: the command itself answers
      Sense s(unitAttention_c, pending.front().first, pending.front().second);
      pending.pop_front();
      x.send(s.bytes().data(), s.bytes().size());
      return true;
    }
    default:
      x.fail(Sense(unitAttention_c, pending.front().first, pending.front().second));
      pending.pop_front();
      return true;
  }
}

}  // namespace qxscsi::backends::emulated
