// Data-in commands whose answer says how long it is: asked once more when the first buffer was short.
#include <string>

#include "cli/daily.h"
#include "cli/send.h"
#include "qxscsi/target.h"

namespace qxscsi::cli {

size_t largerAllocation(size_t got, size_t allocation, uint64_t needed, size_t largest) {
  if (got < allocation || needed <= allocation || allocation >= largest) return 0;
  return needed < largest ? size_t(needed) : largest;
}

GrowingAnswer sendGrowing(QXScsiTarget& target, Output& out, const std::string& name, size_t first, size_t largest,
                          const std::function<void(unsigned char (&cdb)[12], uint32_t allocation)>& cdbFor,
                          const std::function<uint64_t(const uint8_t* data, size_t got)>& needed,
                          std::vector<uint8_t>& buffer) {
  const std::string title = name + ":";
  GrowingAnswer a;
  a.allocation = first;
  for (;;) {
    buffer.assign(a.allocation, 0);
    unsigned char cdb[12] = {};
    cdbFor(cdb, static_cast<uint32_t>(a.allocation));
    Request request;
    request.title = title.c_str();
    request.cdb = cdb;
    request.cdbLength = sizeof cdb;
    request.data = buffer.data();
    request.dataLength = a.allocation;
    request.direction = QXScsi::dataIn_c;
    Record rec = send(target, out.options(), request);
    if (!rec) {
      a.status = out.commandFailure(name.c_str(), target);
      return a;
    }
    a.status = out.commandOutcome(*rec);
    if (rec->scsiStatus() != 0) return a;
    a.got = out.received(a.allocation);
    const size_t bigger = largerAllocation(a.got, a.allocation, a.got >= 4 ? needed(buffer.data(), a.got) : 0, largest);
    if (bigger == 0) {
      a.good = true;
      return a;
    }
    a.allocation = bigger;
  }
}

}  // namespace qxscsi::cli
