// Symbol visibility of libqxscsi: QXSCSI_EXPORT marks its public API, the rest stays hidden.
#pragma once
#if defined(QXSCSI_BUILDING_LIBRARY) || !defined(QXSCSI_STATIC)
// Building the library, or using its shared form: marked symbols cross the library boundary.
#define QXSCSI_EXPORT __attribute__((visibility("default")))
#else
// Using the static qxscsi_internal form (tests): everything is linked into one program.
#define QXSCSI_EXPORT
#endif
