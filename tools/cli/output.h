// Where a subcommand's results go: readable text on stdout, or one JSON document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/exit_status.h"
#include "cli/options.h"

class QXScsiCmd;
class QXScsiTarget;

namespace qxscsi::cli {

class Output {
 public:
  explicit Output(const Options& options) : options_(options) {}

  bool json() const { return options_.json; }
  // Names the run in the document: the subcommand and (when it takes one) the device.
  void start(const std::string& subcommand, const std::string& device);
  const Options& options() const { return options_; }
  // Text stream for human-readable lines; swallowed when JSON is chosen.
  std::ostream& text();
  // The JSON document being built (printed by finish()).
  nlohmann::json& doc() { return doc_; }

  // Prints status and decoded sense of an executed record into text and doc()["command"];
  // returns the exit status that the outcome maps to, as `completion` wants it. The record stays
  // the caller's.
  int commandOutcome(const QXScsiCmd& record, Completion completion = Completion::standard);
  // Reports a command that was not carried out (null record); returns its exit status.
  int commandFailure(const char* what, QXScsiTarget& target);
  // Reports a failure: one line on stderr and doc()["error"] (message, exit status and the
  // implementation error, 0 for none). Returns `status`. A later failure replaces an earlier one.
  int fail(const std::string& message, int status, long implementationError = 0);
  // Returned data: hex dump in text with --hex, and a hex string in JSON.
  void data(const uint8_t* bytes, size_t length);

  // What the last command moved, as its back-end saw it.
  struct Facts {
    unsigned long transferred = 0;
    unsigned long residual = 0;
    bool overflow = false;
    double milliseconds = 0;
  };
  // Where the facts of the last command come from (set once the device is open): false when the
  // back-end keeps none. Without a source the residual is unknown.
  void setFactsSource(std::function<bool(Facts&)> source) { facts_ = std::move(source); }
  // Bytes of a data-in buffer of `size` that arrived with the last command, from the back-end's
  // facts (doc()["data_in"]); the whole buffer, with a line saying so, when it keeps none.
  size_t received(size_t size);

  // Writes the JSON document when JSON is chosen; returns `status` unchanged.
  int finish(int status);

 private:
  const Options& options_;
  std::function<bool(Facts&)> facts_;
  nlohmann::json doc_ = nlohmann::json::object();
};

// One clear line on stderr: "qxscsi: MESSAGE".
void errorLine(const std::string& message);

}  // namespace qxscsi::cli
