// Umbrella header: every public header of the qxscsi library.
#pragma once

#include "qxscsi/commands.h"
#include "qxscsi/devices.h"
#include "qxscsi/export.h"
#include "qxscsi/naming.h"
#include "qxscsi/parameters.h"
#include "qxscsi/sense.h"
#include "qxscsi/trace.h"
#include "qxscsi/identifiers.h"
#include "qxscsi/pages.h"
#include "qxscsi/designation.h"
#include "qxscsi/iterators.h"
#include "qxscsi/implementation.h"
#include "qxscsi/ownership.h"
#include "qxscsi/factory.h"
#include "qxscsi/target.h"
