// The modulator's register map as the tool knows it: one constant table of the holding registers,
// the register data types and the two lookups every command uses to find a register.
//
// Everything here is constant for the life of the process and is read without a lock. No function
// prints anything; a caller that fails to find a register prints its own message.
#pragma once

#include <cstdint>
#include <string>

// Register data type codes. A code indexes both reg_type_names and reg_type_words.
enum reg_type : int32_t {
  RAW = 0,  // untyped words; no catalogue entry has it, RR and RW use it with a counted length
  FLOAT = 1,
  WORD = 2,
  DWORD = 3,
  READ_CALIB = 4,
  SET_CALIB = 5,
  BYTE_ARRAY_06 = 6,
  CHAR_ARRAY_10 = 7,
  DWORD_ARRAY_10 = 8,
};

// Number of type codes (0 to 8).
constexpr int REG_TYPE_COUNT = 9;

// Number of entries in modbus_reg_table.
constexpr int MODBUS_REG_COUNT = 248;

// One holding register of the modulator.
struct modbus_reg_entry {
  uint16_t address;  // Modbus address of the register's first word
  char name[64];     // upper case, NUL-terminated; four names end with a space that belongs to them
  int32_t type;      // a reg_type code
  char unit[32];     // UTF-8, empty when the value has no unit
};

// The catalogue, entries 0 to 247. The order is part of the contract: the dump lists registers in
// it and both lookups break ties by it. It is ascending by address except that entry 207 (6116)
// stands before entries 208 and 209 (6113, 6114); addresses 6129 and 6131 have two entries each.
extern const modbus_reg_entry modbus_reg_table[MODBUS_REG_COUNT];

// The registers the tool addresses by itself rather than by a name or number the user typed, each
// named after its catalogue entry. catalogue_test checks every one against the table.
constexpr uint16_t MB_STATE_SET_ADDR = 5120;               // state requested by STATE
constexpr uint16_t MB_LOG_IN_ADDR = 5121;                  // access codes, five words
constexpr uint16_t MB_SC_PASSWORD_OPERATOR_ADDR = 5179;    // operator's password, five words
constexpr uint16_t MB_SC_PASSWORD_ADDR = 5184;             // service password, five words
constexpr uint16_t MB_FIL_SET_ADDR = 5126;                 // set register of the default definition
constexpr uint16_t MB_RESET_ADDR = 5140;                   // 1 resets the interlocks
constexpr uint16_t MB_FIL_SET_CAL_ADDR = 5288;             // table of the default definition
constexpr uint16_t MB_CALIB_SEQUENCE_ID_ADDR = 5453;       // address of the table being calibrated
constexpr uint16_t MB_CALIB_SEQUENCE_DAC_ADC_ADDR = 5457;  // present DAC or ADC count
constexpr uint16_t MB_STATE_READ_ADDR = 5480;              // present state, polled by the link
constexpr uint16_t MB_PULSE_WIDTH_READ_ADDR = 5525;        // FLOAT read-back shown by STATUS
constexpr uint16_t MB_PRF_READ_ADDR = 5529;                // FLOAT read-back shown by STATUS
// The three interlock words, two registers each, low half first.
constexpr uint16_t MB_STANDBY_INTERLOCK_ADDR = 5532;
constexpr uint16_t MB_HV_INTERLOCK_ADDR = 5534;
constexpr uint16_t MB_TRIG_INTERLOCK_ADDR = 5536;

// Name of each type code, as shown in register headers ("FLOAT", "WORD", ...).
extern const char reg_type_names[REG_TYPE_COUNT][16];

// Number of 16-bit words a register of each type covers (RAW: 0).
extern const int reg_type_words[REG_TYPE_COUNT];

// Name of a type code; "" for a code outside 0 to 8.
const char* reg_type_name(int32_t type);

// Words of a type code; 0 for a code outside 0 to 8.
int reg_words_of_type(int32_t type);

// Lookup by partial name over entries 0 to count - 1 (callers pass MODBUS_REG_COUNT; larger counts
// are cut to it). The match is a case-sensitive substring search, so callers upper-case the user's
// text first. The entry whose name holds the pattern earliest wins; among those the shortest name
// (trailing space counted); among equal lengths the earlier entry. Returns the entry's index, or -1
// when no name holds the pattern, when count is 0 or less, or when pattern is null.
int reg_find_by_name(const char* pattern, int count);

// Lookup by address: the first entry, in table order, with that address. Returns its index, or -1
// when the address lies outside the addresses of entries 0 and 247 or no entry has it.
int reg_find_by_address(int address);

// Whether any of the `count` words from `address` belongs to a register that holds a secret:
// the access codes of MB_LOG_IN and the two passwords MB_SC_PASSWORD_OPERATOR and MB_SC_PASSWORD,
// every word each register covers. Such words never reach a file the tool keeps.
bool reg_words_hold_secret(int address, int count);

// The device's read-back block, MB_STATE_READ (5480) through MB_TACHO_COUNT_D (5597 to 5598):
// states, hours, the event log, readings, interlock words, versions, the message, the access
// level, the status code, the MAC address, the clock, self-test results and tacho counts.
constexpr uint16_t MB_READ_BACK_FIRST_ADDR = MB_STATE_READ_ADDR;
constexpr uint16_t MB_READ_BACK_LAST_ADDR = 5598;

// Whether entry holds something the device measures or reports rather than a setting: it lies
// in the read-back block, or its name (without a trailing blank) ends in "_READ". Writing such a
// register back from a file would put an old reading where the device keeps its own.
bool reg_is_read_back(const modbus_reg_entry* entry);

// Length of a catalogue name without the trailing blank four names carry, for showing the name
// as one word among others (a log line, a watch line, a completion).
int reg_name_length(const char* name);

// The name as reg_name_length cuts it (a CSV column, a record's field).
std::string reg_trimmed_name(const char* name);
