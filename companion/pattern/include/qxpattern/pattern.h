// Umbrella header of the pattern library.
#pragma once

#include "qxpattern/encoders.h"
#include "qxpattern/factory.h"
#include "qxpattern/product.h"
#include "qxpattern/referenced.h"
#include "qxpattern/singleton.h"
