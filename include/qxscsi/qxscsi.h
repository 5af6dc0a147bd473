// Umbrella header: every public header of the qxscsi library.
#pragma once

#include "qxscsi/export.h"
#include "qxscsi/trace.h"
#include "qxscsi/identifiers.h"
