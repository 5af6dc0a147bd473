// The mode pages modes decodes field by field: 01h, 08h, 0Ah and 1Ch, with sdparm's acronyms.
#include "cli/mode_pages.h"

#include <iomanip>

#include "cli/sense_report.h"
#include "wire/bytes.h"

namespace qxscsi::cli {
namespace {

using Field = ModeField;

const Field readWriteRecovery_c[] = {
    {"AWRE", "automatic_write_reallocation_enabled", "automatic write reallocation enabled", 2, 7, 1},
    {"ARRE", "automatic_read_reallocation_enabled", "automatic read reallocation enabled", 2, 6, 1},
    {"TB", "transfer_block", "transfer block", 2, 5, 1},
    {"RC", "read_continuous", "read continuous", 2, 4, 1},
    {"EER", "enable_early_recovery", "enable early recovery", 2, 3, 1},
    {"PER", "post_error", "post error", 2, 2, 1},
    {"DTE", "data_terminate_on_error", "data terminate on error", 2, 1, 1},
    {"DCR", "disable_correction", "disable correction", 2, 0, 1},
    {"RRC", "read_retry_count", "read retry count", 3, 0, 8},
    {"WRC", "write_retry_count", "write retry count", 8, 0, 8},
    {"RTL", "recovery_time_limit", "recovery time limit (ms)", 10, 0, 16},
};

const Field caching_c[] = {
    {"IC", "initiator_control", "initiator control", 2, 7, 1},
    {"ABPF", "abort_prefetch", "abort pre-fetch", 2, 6, 1},
    {"CAP", "caching_analysis_permitted", "caching analysis permitted", 2, 5, 1},
    {"DISC", "discontinuity", "discontinuity", 2, 4, 1},
    {"SIZE", "size_enable", "size enable", 2, 3, 1},
    {"WCE", "write_cache_enable", "write cache enable", 2, 2, 1},
    {"MF", "multiplication_factor", "multiplication factor", 2, 1, 1},
    {"RCD", "read_cache_disable", "read cache disable", 2, 0, 1},
    {"DRRP", "demand_read_retention_priority", "demand read retention priority", 3, 4, 4},
    {"WRP", "write_retention_priority", "write retention priority", 3, 0, 4},
    {"DPTL", "disable_prefetch_transfer_length", "disable pre-fetch transfer length", 4, 0, 16},
    {"MIPF", "minimum_prefetch", "minimum pre-fetch", 6, 0, 16},
    {"MAPF", "maximum_prefetch", "maximum pre-fetch", 8, 0, 16},
    {"MAPFC", "maximum_prefetch_ceiling", "maximum pre-fetch ceiling", 10, 0, 16},
    {"FSW", "force_sequential_write", "force sequential write", 12, 7, 1},
    {"LBCSS", "logical_block_cache_segment_size", "logical block cache segment size", 12, 6, 1},
    {"DRA", "disable_read_ahead", "disable read-ahead", 12, 5, 1},
    {"NV_DIS", "non_volatile_cache_disable", "non-volatile cache disable", 12, 0, 1},
    {"NCS", "number_of_cache_segments", "number of cache segments", 13, 0, 8},
    {"CSS", "cache_segment_size", "cache segment size", 14, 0, 16},
};

const Field control_c[] = {
    {"TST", "task_set_type", "task set type", 2, 5, 3},
    {"TMF_ONLY", "task_management_functions_only", "task management functions only", 2, 4, 1},
    {"DPICZ", "disable_protection_information_check_if_zero", "disable protection information check if zero",
     2, 3, 1},
    {"D_SENSE", "descriptor_format_sense_data", "descriptor format sense data", 2, 2, 1},
    {"GLTSD", "global_logging_target_save_disable", "global logging target save disable", 2, 1, 1},
    {"RLEC", "report_log_exception_condition", "report log exception condition", 2, 0, 1},
    {"QAM", "queue_algorithm_modifier", "queue algorithm modifier", 3, 4, 4},
    {"NUAR", "no_unit_attention_on_release", "no unit attention on release", 3, 3, 1},
    {"QERR", "queue_error_management", "queue error management", 3, 1, 2},
    {"VS", "vendor_specific", "vendor specific", 4, 7, 1},
    {"RAC", "report_a_check", "report a check", 4, 6, 1},
    {"UA_INTLCK", "unit_attention_interlocks_control", "unit attention interlocks control", 4, 4, 2},
    {"SWP", "software_write_protect", "software write protect", 4, 3, 1},
    {"ATO", "application_tag_owner", "application tag owner", 5, 7, 1},
    {"TAS", "task_aborted_status", "task aborted status", 5, 6, 1},
    {"ATMPE", "application_tag_mode_page_enabled", "application tag mode page enabled", 5, 5, 1},
    {"RWWP", "reject_write_without_protection", "reject write without protection", 5, 4, 1},
    {"AUTOLOAD", "autoload_mode", "autoload mode", 5, 0, 3},
    {"BTP", "busy_timeout_period", "busy timeout period (100 us)", 8, 0, 16},
    {"ESTCT", "extended_self_test_completion_time", "extended self-test completion time (s)", 10, 0, 16},
};

const Field informationalExceptions_c[] = {
    {"PERF", "performance", "performance", 2, 7, 1},
    {"EBF", "enable_background_function", "enable background function", 2, 5, 1},
    {"EWASC", "enable_warning", "enable warning", 2, 4, 1},
    {"DEXCPT", "disable_exception_control", "disable exception control", 2, 3, 1},
    {"TEST", "test", "test device failure notification", 2, 2, 1},
    {"EBACKERR", "enable_background_error", "enable background error", 2, 1, 1},
    {"LOGERR", "log_errors", "log errors", 2, 0, 1},
    {"MRIE", "method_of_reporting_informational_exceptions", "method of reporting informational exceptions", 3,
     0, 4},
    {"INTT", "interval_timer", "interval timer (100 ms)", 4, 0, 32},
    {"REPC", "report_count", "report count", 8, 0, 32},
};

struct Known {
  unsigned char code;
  const char* name;
  const Field* fields;
  size_t count;
};

const Known known_c[] = {
    {0x01, "Read-Write error recovery", readWriteRecovery_c, std::size(readWriteRecovery_c)},
    {0x08, "Caching", caching_c, std::size(caching_c)},
    {0x0a, "Control", control_c, std::size(control_c)},
    {0x1c, "Informational exceptions control", informationalExceptions_c, std::size(informationalExceptions_c)},
};

}  // namespace

// Where a field's last byte lies: it is decoded only when the page holds that byte.
unsigned modeFieldLastByte(const Field& f) { return f.bits <= 8 ? f.byte : f.byte + f.bits / 8 - 1; }

uint32_t modeFieldValue(const uint8_t* page, const Field& f) {
  if (f.bits <= 8) return (page[f.byte] >> f.low) & ((1u << f.bits) - 1);
  return f.bits == 16 ? wire::getBe16(page + f.byte) : wire::getBe32(page + f.byte);
}

void setModeField(uint8_t* page, const Field& f, uint32_t value) {
  if (f.bits <= 8) {
    const unsigned mask = ((1u << f.bits) - 1) << f.low;
    page[f.byte] = static_cast<uint8_t>((page[f.byte] & ~mask) | ((value << f.low) & mask));
  } else if (f.bits == 16) {
    wire::putBe16(page + f.byte, value);
  } else {
    wire::putBe32(page + f.byte, value);
  }
}

const ModeField* modePageFields(unsigned code, size_t& count) {
  for (const Known& k : known_c)
    if (k.code == code) {
      count = k.count;
      return k.fields;
    }
  count = 0;
  return nullptr;
}

const char* modePageName(unsigned code, unsigned subpage) {
  if (subpage != 0) return nullptr;
  for (const Known& k : known_c)
    if (k.code == code) return k.name;
  return nullptr;
}

bool describeModePage(const uint8_t* page, size_t length, std::ostream& text, nlohmann::json& fields) {
  if (length < 2 || (page[0] & 0x40)) return false;
  const Known* known = nullptr;
  for (const Known& k : known_c)
    if (k.code == (page[0] & 0x3f)) known = &k;
  if (known == nullptr) return false;
  fields = nlohmann::json::object();
  for (size_t i = 0; i < known->count; ++i) {
    const Field& f = known->fields[i];
    if (modeFieldLastByte(f) >= length) break;  // a page shorter than its standard size: the rest is absent
    const uint32_t v = modeFieldValue(page, f);
    text << "    " << std::left << std::setw(10) << f.acronym << std::right << std::setw(10) << v << "  ["
         << f.description << "]\n";
    fields[f.key] = v;
  }
  return true;
}

unsigned char modeCdb(unsigned char (&cdb)[10], bool six, unsigned char code6, unsigned char code10, size_t length) {
  if (six) {
    cdb[0] = code6;
    cdb[4] = static_cast<unsigned char>(length);
    return 6;
  }
  cdb[0] = code10;
  wire::putBe16(cdb + 7, static_cast<uint16_t>(length));
  return 10;
}

}  // namespace qxscsi::cli
