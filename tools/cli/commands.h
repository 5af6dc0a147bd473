// The subcommands of the command-line tool. Each returns the process exit status.
#pragma once

#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/output.h"

class QXScsiTarget;

namespace qxscsi::cli {

struct InquiryOptions {
  std::string vpdText;  // --vpd PAGE as given; empty: standard inquiry data
};

struct RawOptions {
  std::string cdbHex;   // the CDB in hex
  long inLength = -1;   // --in LEN
  std::string outFile;  // --out FILE: data to send
  std::string saveFile;  // --outfile FILE: where the data that arrives goes
};

struct CopyResultsOptions {
  unsigned serviceAction = 0;
  unsigned listIdentifier = 0;
  unsigned long allocationLength = 1024;
};

int runInquiry(QXScsiTarget& target, const InquiryOptions& o, Output& out);
int runTestUnitReady(QXScsiTarget& target, Output& out);
int runRequestSense(QXScsiTarget& target, Output& out);
int runRaw(QXScsiTarget& target, const Options& common, const RawOptions& o, Output& out);
int runExtendedCopy(QXScsiTarget& target, const std::string& listFile, Output& out);
int runCopyResults(QXScsiTarget& target, const CopyResultsOptions& o, Output& out);
int runDecodeSense(const std::vector<std::string>& hex, Output& out);

// Decodes standard INQUIRY data into text and JSON (used by inquiry and list).
void describeStandardInquiry(const uint8_t* data, size_t length, Output& out);

// Longest file that readFile takes (a data-out buffer or a parameter list).
constexpr size_t maxFileBytes_c = 16 * 1024 * 1024;

// Reads a whole file; false with `error` set when it cannot (missing, a directory, unreadable,
// longer than maxFileBytes_c).
bool readFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

}  // namespace qxscsi::cli
