// Options common to every subcommand of the command-line tool.
#pragma once

#include <string>
#include <vector>

#include "qxscsi/parameters.h"

namespace qxscsi::cli {

struct Options {
  std::string device = "emulated:disk";  // the positional device argument
  std::string address;                   // "BUS:TARGET:LUN" behind an adapter name (--address)
  std::vector<std::string> params;       // "NAME=VALUE" texts from --param
  unsigned long timeout = 0;             // seconds for commands sent through cmdCall; 0: the device default
  bool json = false;                     // one JSON document on stdout
  bool hex = false;                      // hex dump of returned data
  bool trace = false;                    // the library's trace of the argument object
  int verbose = 0;
};

// Turns "NAME=VALUE" texts into a parameter list; false with `error` set for a text without '='
// or with an empty name.
bool buildParameters(const std::vector<std::string>& texts, std::vector<QXScsi::ParameterData>& out,
                     std::string& error);

}  // namespace qxscsi::cli
