// Symbol visibility of the pattern library.
#pragma once
#define QXPATTERN_EXPORT __attribute__((visibility("default")))
