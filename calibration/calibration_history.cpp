#include "calibration/calibration_history.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "calibration/calibration_record.h"
#include "calibration/table_check.h"
#include "core/home_directory.h"
#include "core/lifecycle.h"
#include "core/timestamp.h"
#include "core/tool_config.h"
#include "link/link.h"
#include "registers/catalogue.h"
#include "registers/values.h"

namespace {

// The device's identity, read when a record is made.
constexpr uint16_t MB_VERSION_ADDR = 5556;
constexpr uint16_t MB_FPGA_VERSION_ADDR = 5557;
constexpr uint16_t MB_MAC_ADDRESS_ADDR = 5561;

constexpr size_t HISTORY_LIMIT = 10;

// Console thread only. The table loaded at the session's start, when it was loaded.
std::optional<calib_record_table> found_table;

// Console thread only. The interactive edit under way: how many writes it made, the last table
// written and how that write ended.
struct interactive_sends {
  int sends = 0;
  calib_point points[CALIB_POINTS];
  uint16_t words[CALIB_TABLE_WORDS];
  write_outcome outcome = WRITE_OK;
};
interactive_sends interactive;

// Local time, ISO 8601 with milliseconds and the UTC offset as +hh:mm.
std::string local_time_now() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tzset();
  return format_timestamp(now, TIMESTAMP_RECORD);
}

std::string user_name() {
  const passwd* pw = getpwuid(getuid());
  if (pw && pw->pw_name && pw->pw_name[0]) return pw->pw_name;
  return std::to_string(getuid());
}

std::string computer_name() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

// The device as the link addresses it: the host name is cut as the link cuts it.
std::string device_address() {
  char text[64];
  snprintf(text, sizeof text, "%.*s:%u", static_cast<int>(sizeof(link_params{}.host) - 1),
           link_device().host, static_cast<unsigned>(link_device().port));
  return text;
}

calib_record_register register_of(int address) {
  calib_record_register reg;
  reg.address = address;
  int index = reg_find_by_address(address);
  if (index >= 0) reg.name = reg_trimmed_name(modbus_reg_table[index].name);
  return reg;
}

std::optional<int> read_word(uint16_t address) {
  uint16_t word = 0;
  if (modbus_cmd_read(address, 1, &word) < 0) return std::nullopt;
  return word;
}

// MB_MAC_ADDRESS: six bytes in three registers, each register's low byte first.
std::optional<std::string> read_mac() {
  uint16_t words[3];
  if (modbus_cmd_read(MB_MAC_ADDRESS_ADDR, 3, words) < 0) return std::nullopt;
  char text[24];
  int used = 0;
  for (int i = 0; i < 6; i++)
    used += snprintf(text + used, sizeof text - static_cast<size_t>(used), "%s%02X", i ? ":" : "",
                     (words[i / 2] >> (8 * (i % 2))) & 0xFF);
  return text;
}

// What every record holds: when, who, from where, with which tool, to which unit (read now).
calib_record identity_record() {
  calib_record r;
  r.time = local_time_now();
  r.user = user_name();
  r.computer = computer_name();
  r.tool = "veltrona_tool";
  r.tool_version = VT_VERSION;
  r.device = device_address();
  r.mac = read_mac();
  r.device_version = read_word(MB_VERSION_ADDR);
  r.fpga_version = read_word(MB_FPGA_VERSION_ADDR);
  return r;
}

void set_definition(calib_record* r, const cal_definition& def, int menu) {
  r->menu = menu;
  r->description = def.sMsg;
  r->kind = def.iType == 0 ? "set" : "read";
  r->calibration_register = register_of(def.iRegCal);
  r->set_register = register_of(def.iRegSet);
  if (def.iRegRead != 0) r->read_register = register_of(def.iRegRead);
  r->state = def.iState;
}

void set_outcome(calib_record* r, const calib_point* points, const char* kind, const char* mode,
                 write_outcome outcome, int sends) {
  std::string warning = calib_order_warning(points, kind);
  if (!warning.empty()) r->warning = warning;
  r->mode = mode;
  r->result = write_outcome_word(outcome);
  r->sends = sends;
}

// The record of the table written from points (words as sent) in the running session.
calib_record make_record(const cal_definition& def, int menu, const calib_point* points,
                         const uint16_t* words, const char* mode, write_outcome outcome,
                         int sends) {
  calib_record r = identity_record();
  set_definition(&r, def, menu);
  r.as_found = found_table;
  r.as_left = calib_record_table_of(points, words, true);
  set_outcome(&r, points, def.iType == 0 ? "dac" : "adc", mode, outcome, sends);
  return r;
}

// ---- CALHISTORY

// A title for the table at reg_cal: its catalogue name and address.
std::string table_title(int reg_cal) {
  calib_record_register reg = register_of(reg_cal);
  char text[96];
  snprintf(text, sizeof text, "%s (%d)", reg.name ? reg.name->c_str() : "register", reg_cal);
  return text;
}

// One side of a point line: an empty value shows as PRINT shows it (a NaN, a count of 65535).
std::string point_side(const char* side, const calib_record_point* point, const char* label) {
  char text[80];
  if (!point) {
    snprintf(text, sizeof text, "%s: %-31s", side, "not loaded");
  } else {
    snprintf(text, sizeof text, "%s: actual =%10.7g, %s =%6u", side,
             point->actual ? *point->actual : calib_empty_float(), label,
             static_cast<unsigned>(point->count ? *point->count : CALIB_EMPTY_WORD));
  }
  return text;
}

void print_record(const calib_record& r, bool with_table) {
  // A record file can be edited by anyone who owns it: its texts are made printable.
  printf("%s %s %s %s %s", printable_text(r.time).c_str(), printable_text(r.user).c_str(),
         printable_text(r.device).c_str(), printable_text(r.result).c_str(),
         printable_text(r.mode).c_str());
  if (with_table) {
    const std::optional<std::string>& name = r.calibration_register.name;
    printf(" %s (%d)", name ? printable_text(*name).c_str() : "-", r.calibration_register.address);
  }
  printf("\n");
  const char* label = r.kind == "set" ? "dac" : "adc";
  for (int k = 0; k < CALIB_POINTS; k++) {
    const calib_record_point* found = r.as_found ? &r.as_found->points[k] : nullptr;
    printf("  %d : %s | %s\n", k + 1, point_side("found", found, label).c_str(),
           point_side("left", &r.as_left.points[k], label).c_str());
  }
  if (r.warning) printf("  %s\n", printable_text(*r.warning).c_str());
}

}  // namespace

void calib_history_forget_found() { found_table.reset(); }

void calib_history_note_found(const uint16_t* words, const calib_point* points) {
  found_table = calib_record_table_of(points, words, false);
}

void calib_history_record_send(const cal_definition& def, int menu, const calib_point* points,
                               const uint16_t* words, write_outcome outcome) {
  calib_record_append(make_record(def, menu, points, words, "send", outcome, 1));
}

void calib_history_note_interactive_send(const calib_point* points, const uint16_t* words,
                                         write_outcome outcome) {
  interactive.sends++;
  memcpy(interactive.points, points, sizeof interactive.points);
  memcpy(interactive.words, words, sizeof interactive.words);
  interactive.outcome = outcome;
}

void calib_history_end_interactive(const cal_definition* def, int menu) {
  if (interactive.sends > 0 && def != nullptr) {
    calib_record_append(make_record(*def, menu, interactive.points, interactive.words,
                                    "interactive", interactive.outcome, interactive.sends));
  }
  interactive = interactive_sends{};
}

void calib_history_record_restore(const modbus_reg_entry* entry, const uint16_t* found_words,
                                  const uint16_t* left_words, const char* file,
                                  write_outcome outcome) {
  bool set = entry->type == SET_CALIB;
  calib_layout layout = set ? CALIB_LAYOUT_SET : CALIB_LAYOUT_READ;
  calib_record r = identity_record();
  r.kind = set ? "set" : "read";
  r.calibration_register = register_of(entry->address);
  for (int i = 0; i < CAL_DEFINITIONS; i++) {
    const cal_definition& def = work_cal[i];
    if (def.use != 0 && def.iRegCal == entry->address) {
      set_definition(&r, def, i + 1);
      break;
    }
  }
  calib_point found[CALIB_POINTS];
  calib_point left[CALIB_POINTS];
  calib_table_decode(found_words, layout, found);
  calib_table_decode(left_words, layout, left);
  r.as_found = calib_record_table_of(found, found_words, false);
  r.as_left = calib_record_table_of(left, left_words, true);
  set_outcome(&r, left, set ? "dac" : "adc", "restore", outcome, 1);
  r.file = file;
  calib_record_append(r);
}

int calib_history_print(int reg_cal) {
  std::string path = calib_record_path();
  calib_history history;
  if (path.empty()) {
    printf("No calibration records: no home directory.\n");
    return -1;
  }
  if (calib_history_read(path, reg_cal, HISTORY_LIMIT, &history) != 0) {
    printf("Calibration records not readable: %s: %s\n", path.c_str(),
           history.refused ? file_refusal_text(history.refused) : strerror(errno));
    return -1;
  }
  // Ctrl-C ends the tool: nothing more is listed.
  if (history.stopped || stop_requested()) return -1;
  if (history.older)
    printf("Read the last 64 MiB of %s only; older records are not listed.\n", path.c_str());
  std::string title = reg_cal != 0 ? table_title(reg_cal) : "every table";
  if (history.records.empty()) {
    printf("No calibration of %s recorded.\n", title.c_str());
  } else if (history.matched > static_cast<int>(history.records.size())) {
    printf("Calibrations of %s, the last %zu of %d:\n", title.c_str(), history.records.size(),
           history.matched);
  } else {
    printf("Calibrations of %s:\n", title.c_str());
  }
  for (const calib_record& record : history.records) {
    if (stop_requested()) return -1;
    print_record(record, reg_cal == 0);
  }
  if (history.skipped > 0)
    printf("Skipped %d line(s) of %s that are no calibration record.\n", history.skipped,
           path.c_str());
  return 0;
}
