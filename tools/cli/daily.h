// The daily disk subcommands: readcap, start, sync, modes, logs and persist, with their decoders.
#pragma once

#include <vector>

#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/copy.h"
#include "cli/options.h"
#include "cli/output.h"

class QXScsiTarget;

namespace CLI {
class App;
}

namespace qxscsi::cli {

struct ReadCapacityOptions {
  bool longForm = false;  // --long: READ CAPACITY(16) from the start
};

struct StartStopOptions {
  bool stop = false, load = false, eject = false, immediate = false;
};

struct SyncOptions {
  uint64_t lba = 0;
  uint64_t count = 0;  // blocks; 0: from the LBA to the end of the medium
  bool immediate = false;
};

// Reads a whole number, decimal or 0x hex, of at most `max`; false for anything else (signs,
// spaces, overflow).
bool parseWholeNumber(const std::string& text, uint64_t max, uint64_t& value);

struct ModesOptions {
  std::string page = "0x3f";  // a number (decimal, 0xNN, NNh) or an abbreviation (rw, ca, co, ie, all)
  unsigned subpage = 0;
  std::string control = "current";  // current, changeable, default or saved
  bool six = false;                 // MODE SENSE(6) rather than (10)
  bool disableBlockDescriptors = false;
  bool longLba = false;
};

// What READ CAPACITY(10) or (16) answered; `problem` is set when the bytes cannot be believed.
struct Capacity {
  bool sixteen = false;
  uint64_t lastLba = 0;
  uint32_t blockLength = 0;
  bool protectionEnabled = false;
  unsigned protectionType = 0;                 // P_TYPE
  unsigned protectionIntervalExponent = 0;     // P_I_EXPONENT
  unsigned physicalBlockExponent = 0;          // LBPPBE
  bool provisioningManagement = false;         // LBPME
  bool provisioningReadZeros = false;          // LBPRZ
  unsigned lowestAlignedLba = 0;
  std::string problem;
};

// Decodes `length` received bytes of READ CAPACITY(10) (sixteen false) or (16) data.
Capacity decodeCapacity(const uint8_t* data, size_t length, bool sixteen);
// True when a READ CAPACITY(10) answer says the medium needs READ CAPACITY(16).
bool needsLongCapacity(const Capacity& c);
// Text lines and JSON fields of a decoded capacity.
void describeCapacity(const Capacity& c, Output& out);

// SYNCHRONIZE CACHE CDB for `o`: the 10-byte form when LBA and count fit in it, else the
// 16-byte form. Writes into cdb (16 bytes) and returns the length used.
unsigned char syncCacheCdb(const SyncOptions& o, unsigned char* cdb);

// A page argument of modes: decimal, 0xNN, NNh or an abbreviation; -1 when not a page (0-63).
int parseModePage(const std::string& text);

// Decodes `length` received bytes of MODE SENSE(6) (six) or (10) data into text and JSON.
// `asked`: the page requested (3Fh for all), `allocation`: the allocation length sent. Returns
// an empty string, or what contradicts itself in the answer.
std::string describeModeData(const uint8_t* data, size_t length, bool six, unsigned asked, size_t allocation,
                             Output& out);

// logs: the page asked (decimal, 0xNN or NNh; default 00h, the supported pages), subpage, page
// control (threshold, cumulative, default_threshold, default_cumulative or 0 to 3) and parameter
// pointer as typed.
struct LogsOptions {
  std::string page = "0";
  unsigned subpage = 0;
  std::string control = "cumulative";
  std::string parameterPointer;
};
// A page argument of logs: decimal, 0xNN or NNh; -1 when not a page (0-63).
int parseLogPage(const std::string& text);
// Decodes `length` received bytes of LOG SENSE data for page `asked`/`askedSubpage`, sent with
// `allocation`, into text and JSON. Returns an empty string, or what contradicts the request or
// itself in the answer.
std::string describeLogPage(const uint8_t* data, size_t length, unsigned asked, unsigned askedSubpage,
                            size_t allocation, Output& out);
int runLogSense(QXScsiTarget& target, const LogsOptions& o, Output& out);

// persist: PERSISTENT RESERVE IN (--in, the default) or OUT (--out, or any OUT action); keys and
// type as typed (decimal or 0x hex).
struct PersistOptions {
  bool in = false, out = false;
  bool readKeys = false, readReservation = false, reportCapabilities = false;
  bool registerKey = false, registerIgnore = false, reserve = false, release = false, clear = false,
       preempt = false;
  bool aptpl = false;
  std::string key, serviceKey, type;
};
// Text of a persistent reservation type (1, 3, 5 to 8).
const char* reservationTypeText(unsigned type);
// Decodes `length` received bytes of PERSISTENT RESERVE IN data of service action `action` (0 keys,
// 1 reservation, 2 capabilities), sent with `allocation`. Returns "" or what contradicts itself.
std::string describeReserveIn(const uint8_t* data, size_t length, unsigned action, size_t allocation, Output& out);
// The 24-byte PERSISTENT RESERVE OUT parameter list into `list` (the caller's, 24 bytes).
void reserveOutParameters(uint64_t key, uint64_t serviceKey, bool aptpl, uint8_t* list);
int runPersistentReserve(QXScsiTarget& target, const PersistOptions& o, Output& out);

int runReadCapacity(QXScsiTarget& target, const ReadCapacityOptions& o, Output& out);
int runStartStop(QXScsiTarget& target, const StartStopOptions& o, Output& out);
int runSynchronizeCache(QXScsiTarget& target, const SyncOptions& o, Output& out);
int runModeSense(QXScsiTarget& target, const ModesOptions& o, Output& out);

// rtpg: REPORT TARGET PORT GROUPS.
struct RtpgOptions {
  bool extended = false;  // --extended: the extended header (implicit transition time)
};
// Name of an asymmetric access state (0 to Fh).
const char* asymmetricAccessStateName(unsigned state);
// Decodes `length` received bytes of REPORT TARGET PORT GROUPS data into text and JSON;
// `allocation`: the allocation length sent; `extendedAsked`: the extended form was asked for (only
// then is byte 4 a format). Returns an empty string, or what contradicts itself.
std::string describeTargetPortGroups(const uint8_t* data, size_t length, size_t allocation, bool extendedAsked,
                                     Output& out);
int runReportTargetPortGroups(QXScsiTarget& target, const RtpgOptions& o, Output& out);

// The daily subcommands on the tool's command line: registers them on `app` and runs the one chosen.
class DailyCommands {
 public:
  DailyCommands(CLI::App& app, Options& common);
  bool parsed() const;
  // The subcommands it added to the application (owned by it).
  std::vector<CLI::App*> subcommands() const {
    return {readcap_, start_, sync_, modes_, logs_, persist_, rtpg_, copy_};
  }
  int run(QXScsiTarget& target, Output& out) const;
  // copy: it opens its own devices (--if, --of) through `session` with `params` (borrowed).
  bool opensOwnDevices() const;
  int runOwnDevices(DeviceSession& session, std::vector<QXScsi::ParameterData>& params, Output& out) const;

 private:
  CLI::App* readcap_;
  CLI::App* start_;
  CLI::App* sync_;
  CLI::App* modes_;
  CLI::App* logs_;
  LogsOptions logsOptions_;
  CLI::App* persist_;
  PersistOptions persistOptions_;
  ReadCapacityOptions readcapOptions_;
  StartStopOptions startOptions_;
  SyncOptions syncOptions_;
  std::string syncLba_, syncCount_;  // --lba and --count as typed
  ModesOptions modesOptions_;
  CLI::App* rtpg_;
  RtpgOptions rtpgOptions_;
  CLI::App* copy_;
  CopyArguments copyArguments_;
};

}  // namespace qxscsi::cli
