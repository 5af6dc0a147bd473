// Classification of SCSI-over-TCP transport failures.
#include "qxscsiplatform/connection.h"

namespace QXScsiPlatform {

bool failureInEstablishedScsiTcpConnection(long implementationError) {
  return implementationError == establishedConnectionFailed_c;
}

}  // namespace QXScsiPlatform
