// Classification of SCSI-over-TCP transport failures from implementation error values.
#pragma once

#include "qxscsiplatform/errors.h"
#include "qxscsiplatform/export.h"

namespace QXScsiPlatform {

// True exactly when `implementationError` says that an established SCSI-over-TCP
// connection failed (establishedConnectionFailed_c). Takes and keeps nothing.
QXPLATFORM_EXPORT bool failureInEstablishedScsiTcpConnection(long implementationError);

}  // namespace QXScsiPlatform
