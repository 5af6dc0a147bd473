// Symbol visibility of the SCSI platform utility library.
#pragma once
#define QXPLATFORM_EXPORT __attribute__((visibility("default")))
