// The daily disk subcommands: readcap, start, sync, modes, logs, persist, rtpg, luns and opcodes, with
// their decoders.
#pragma once

#include <vector>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
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
  std::string set;    // PAGE.FIELD=VALUE: change one field with MODE SELECT
  bool save = false;  // with `set`: SP, the device keeps the change
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

// Where the one page of received MODE SENSE data lies: `at` bytes in (after the header and block
// descriptors), `length` bytes long. An empty string when found, else why the data is malformed.
struct ModePageSpan {
  size_t at = 0, length = 0;
};
std::string locateModePage(const uint8_t* data, size_t length, bool six, unsigned page, ModePageSpan& span);
// The MODE SELECT parameter list made from MODE SENSE data `current` (already changed): header,
// block descriptors and the page, with the mode data length, WP and PS cleared. The list is the caller's.
std::vector<uint8_t> modeSelectParameterList(const uint8_t* current, const ModePageSpan& span, bool six);
// modes --set: one field of a decoded page changed with MODE SELECT (--save: and saved).
int runModeSet(QXScsiTarget& target, const ModesOptions& o, Output& out);

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

// luns: REPORT LUNS with SELECT REPORT `select` (0 to 255), the list asked for again when it is longer.
struct LunsOptions {
  std::string selectText;  // --select as typed
  unsigned select = 0;
};
constexpr size_t lunListFirst_c = 8192;          // the first allocation length
constexpr size_t lunListLargest_c = 1024 * 1024;  // the largest one asked for
// Name of a well-known logical unit (byte 1 of a C1h LUN); null for one without a name.
const char* wellKnownLunName(unsigned number);
// Decodes one 8-byte LUN (the caller's) into its JSON entry, writing its lines after `indent`.
nlohmann::json describeLun(const uint8_t* lun, const std::string& indent, std::ostream& text);
// The allocation length to ask again with when `got` of `allocation` bytes arrived and the answer
// says it holds `needed`: at most `largest`; 0 when the answer is whole or `largest` was sent.
size_t largerAllocation(size_t got, size_t allocation, uint64_t needed, size_t largest);
// What a command sent with sendGrowing left: `good` when the device answered GOOD, then `got` bytes
// of the last `allocation` arrived in the buffer; `status` is the exit status so far.
struct GrowingAnswer {
  bool good = false;
  int status = 0;
  size_t got = 0;
  size_t allocation = 0;
};
// Sends the 12-byte data-in command `name`, whose CDB `cdbFor` writes for an allocation length, into
// `buffer` (the caller's), first with `first` bytes; when the answer filled the buffer and `needed`
// (given the bytes, at least 4) says it holds more, once more with room for it, at most `largest`.
GrowingAnswer sendGrowing(QXScsiTarget& target, Output& out, const std::string& name, size_t first, size_t largest,
                          const std::function<void(unsigned char (&cdb)[12], uint32_t allocation)>& cdbFor,
                          const std::function<uint64_t(const uint8_t* data, size_t got)>& needed,
                          std::vector<uint8_t>& buffer);
// Decodes `length` received bytes of REPORT LUNS data sent with `allocation` into text and JSON:
// only entries that arrived whole. Returns an empty string, or what contradicts itself.
std::string describeLunList(const uint8_t* data, size_t length, size_t allocation, unsigned select, Output& out);
int runReportLuns(QXScsiTarget& target, const LunsOptions& o, Output& out);

// opcodes: REPORT SUPPORTED OPERATION CODES, all commands (reporting options 0) or one (1: an
// operation code, 2: with a service action), with the command timeouts descriptors (--timeouts).
struct OpcodesOptions {
  std::string opcodeText, actionText, typeText;  // --opcode OP[,SA], --sa SA, --pdt DT as typed
  bool timeouts = false;
  unsigned opcode = 0, serviceAction = 0, reportingOptions = 0;
  int deviceType = -1;  // peripheral device type for the names; -1: SPC and block commands
};
// Reads the options as typed into `o`; an empty string, or what is wrong with them.
std::string parseOpcodesOptions(OpcodesOptions& o);
// A command timeouts descriptor (12 bytes, the caller's): valid when its length is 0Ah.
struct CommandTimeouts {
  bool valid = false;
  unsigned descriptorLength = 0, commandSpecific = 0;
  uint32_t nominal = 0, recommended = 0;  // seconds; 0: none given
};
CommandTimeouts decodeCommandTimeouts(const uint8_t* descriptor);
// Decodes `length` received bytes of the all-commands answer sent with `allocation` (`timeouts`:
// RCTD was set) into text and JSON, names for peripheral device type `deviceType`. Returns an
// empty string, or what contradicts itself.
std::string describeAllCommands(const uint8_t* data, size_t length, size_t allocation, bool timeouts, int deviceType,
                                Output& out);
// Decodes `length` received bytes of the one-command answer to the request `o`, sent with
// `allocation`. Returns an empty string, or what contradicts itself or the request.
std::string describeOneCommand(const uint8_t* data, size_t length, size_t allocation, const OpcodesOptions& o,
                               Output& out);
int runSupportedOperationCodes(QXScsiTarget& target, const OpcodesOptions& o, Output& out);

// The daily subcommands on the tool's command line: registers them on `app` and runs the one chosen.
class DailyCommands {
 public:
  DailyCommands(CLI::App& app, Options& common);
  bool parsed() const;
  // The subcommands it added to the application (owned by it).
  std::vector<CLI::App*> subcommands() const {
    return {readcap_, start_, sync_, modes_, logs_, persist_, rtpg_, luns_, opcodes_, copy_};
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
  CLI::App* luns_;
  LunsOptions lunsOptions_;
  CLI::App* opcodes_;
  OpcodesOptions opcodesOptions_;
  CLI::App* copy_;
  CopyArguments copyArguments_;
};

}  // namespace qxscsi::cli
