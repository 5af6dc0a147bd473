// Symbol visibility of the qxscsi library: QXSCSI_EXPORT marks what callers may use.
#pragma once
#define QXSCSI_EXPORT __attribute__((visibility("default")))
