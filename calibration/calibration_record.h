// The record of a calibration sent to the device, and the file that keeps them: one JSON
// object per line in $XDG_STATE_HOME/veltrona_tool/calibrations.jsonl
// (~/.local/state/veltrona_tool/calibrations.jsonl when the variable is unset or not an
// absolute path), beside the write log. The write log has the words of every write; a record
// says what a calibration's words meant, which table they replaced, who sent them from where,
// and to which unit, so that a drifting unit or a calibration that made things worse can be
// found later.
//
// A record line, wrapped here:
//
//   {"time":"2026-12-08T14:03:12.345+01:00","user":"anna","computer":"lab-pc",
//    "tool":{"name":"veltrona_tool","version":"1.0.0"},
//    "device":{"address":"192.168.1.20:502","mac":"00:1A:2B:3C:4D:5E","version":531,
//              "fpga_version":263},
//    "definition":{"menu":1,"description":"Filament Set","kind":"set",
//                  "calibration_register":{"address":5288,"name":"MB_FIL_SET_CAL"},
//                  "set_register":{"address":5126,"name":"MB_FIL_SET"},
//                  "read_register":null,"state":3},
//    "as_found":{"points":[{"actual":1.5,"count":100},...],"words":"0000 3FC0 0064 ..."},
//    "as_left":{"points":[{"set":1,"actual":1.5,"count":100},...],"words":"..."},
//    "warning":null,"mode":"send","result":"OK","sends":1}
//
// A table written back by RESTORE has mode "restore" and one more member, "file": the dump
// file's name as typed; the other modes have none.
//
// Floats are written as the shortest text that reads back as the same single-precision value
// (at most 9 significant digits); an empty value (all bits one) is null, and so is a value
// that is not a finite number, whose bits the words still hold. Texts are escaped by the JSON
// library; bytes that are not UTF-8 become U+FFFD.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "calibration/table_layout.h"

// One point of a recorded table; nullopt where the point has no value.
struct calib_record_point {
  std::optional<float> set;  // the set value it was captured at; as left only
  std::optional<float> actual;
  std::optional<uint16_t> count;  // DAC or ADC count
  bool operator==(const calib_record_point&) const = default;
};

struct calib_record_table {
  std::array<calib_record_point, CALIB_POINTS> points{};
  std::array<uint16_t, CALIB_TABLE_WORDS> words{};  // the register's 15 words
  bool operator==(const calib_record_table&) const = default;
};

struct calib_record_register {
  int address = 0;
  std::optional<std::string> name;  // catalogue name; nullopt when the catalogue lacks it
  bool operator==(const calib_record_register&) const = default;
};

struct calib_record {
  std::string time;      // local, ISO 8601 with milliseconds and UTC offset
  std::string user;      // login name, or the user id when it has none
  std::string computer;  // host computer's name
  std::string tool;      // the tool's name and version
  std::string tool_version;
  std::string device;                 // host:port
  std::optional<std::string> mac;     // MB_MAC_ADDRESS as 00:1A:2B:3C:4D:5E; nullopt: not read
  std::optional<int> device_version;  // MB_VERSION
  std::optional<int> fpga_version;    // MB_FPGA_VERSION
  int menu = 0;                       // menu number of the definition
  std::string description;            // its sMsg
  std::string kind;                   // "set" or "read"
  calib_record_register calibration_register;
  calib_record_register set_register;
  std::optional<calib_record_register> read_register;  // nullopt: the definition has none
  int state = 0;                                       // required device state
  std::optional<calib_record_table> as_found;  // loaded at the session's start; nullopt: not loaded
  calib_record_table as_left;                  // written
  std::optional<std::string> warning;          // the table check's line; nullopt: none
  std::string mode;                            // "send", "interactive" or "restore"
  std::string result;                          // "OK", "FAIL" or "UNKNOWN", as the last write ended
  int sends = 0;                               // writes of the table this record stands for
  std::optional<std::string> file;             // the dump file a restore wrote; nullopt otherwise
  bool operator==(const calib_record&) const = default;
};

// A point as recorded: empty members (all bits one) and values that are no finite number
// become nullopt; the set value only when with_set.
calib_record_point calib_record_point_of(const calib_point& point, bool with_set);

// A table as recorded: five points and the 15 words.
calib_record_table calib_record_table_of(const calib_point* points, const uint16_t* words,
                                         bool with_set);

// The record as one line of JSON, without a line end. Pure; any thread.
std::string calib_record_to_json(const calib_record& record);

// Reads a line written by calib_record_to_json. Returns 0, or -1 when the line is not such a
// record (not JSON, a cut line, a field missing or of the wrong type); record is then
// unspecified. Pure; any thread; throws nothing.
int calib_record_from_json(const std::string& line, calib_record* record);

// The record file's path; empty when there is neither XDG_STATE_HOME nor a home directory.
std::string calib_record_path();

// Appends the record as one line in one write, creating the file (mode 0600) and its
// directories (0700) as needed. On failure says "Calibration record not kept: <path>: <reason>"
// on standard error, the first time only, and returns -1; otherwise 0. Console thread.
int calib_record_append(const calib_record& record);

// The records of one table from a record file.
struct calib_history {
  std::vector<calib_record> records;  // oldest first; the last `limit` that matched
  int matched = 0;                    // records that matched, kept or not
  int skipped = 0;                    // lines that are no record
  int refused = 0;       // FILE_NOT_REGULAR, FILE_IS_LINK or STATE_DIR_UNSAFE: nothing read
  bool older = false;    // the file is larger than CALIB_HISTORY_MAX_BYTES: only its end was read
  bool stopped = false;  // Ctrl-C came while reading: what was read so far
};

// The most of the record file CALHISTORY reads: its last 64 MiB, many years of calibrations.
constexpr long long CALIB_HISTORY_MAX_BYTES = 64LL << 20;

// Reads the file at path, keeping the last `limit` records whose calibration register is
// reg_cal (0: every record), from at most the last CALIB_HISTORY_MAX_BYTES of it, and no more
// once quit_requested is set. A missing file has no records. Returns 0, or -1 with errno set when
// the file can't be read, or -1 with history->refused set when it is not opened (no regular file
// or a link at path, an unsafe directory: open_state_file, core/home_directory.h).
int calib_history_read(const std::string& path, int reg_cal, size_t limit, calib_history* history);
