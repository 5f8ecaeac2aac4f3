#include "console/device_commands.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/colours.h"
#include "core/lifecycle.h"
#include "link/link.h"
#include "registers/catalogue.h"
#include "registers/tokens.h"
#include "registers/values.h"

namespace {

constexpr uint16_t MB_STATE_SET_ADDR = 5120;
constexpr uint16_t MB_LOG_IN_ADDR = 5121;
constexpr uint16_t MB_RESET_ADDR = 5140;
constexpr uint16_t MB_PULSE_WIDTH_READ_ADDR = 5525;
constexpr uint16_t MB_PRF_READ_ADDR = 5529;

const char device_state_names[10][16] = {
    "OFF", "STANDBY_OFF_REQ", "STANDBY_ON_REQ", "STANDBY",      "HV_OFF_REQ",
    "HV_ON_REQ", "HV",        "TRIG_OFF_REQ",   "TRIG_ON_REQ", "TRIG",
};

// Words STATE accepts; a word's place times 3 is its state.
const char* const state_words[4] = {"OFF", "STANDBY", "HV", "TRIGGER"};

struct interlock_register {
  uint16_t address;
  const char* format;
  int table;
};

const interlock_register interlock_registers[3] = {
    {5532, "Standby interlock = 0x%04X%04X\n", ILOCK_STANDBY},
    {5534, "HV interlock      = 0x%04X%04X\n", ILOCK_HV},
    {5536, "Trigger interlock = 0x%04X%04X\n", ILOCK_TRIG},
};

void print_interlock_bits(const char (*names)[ILOCK_NAME_SIZE], uint32_t word) {
  for (int k = 0; k < 32; k++) {
    if (names[k][0] == '\0') continue;
    if (word & (1u << k)) {
      printf("%s%d: %s%s\n", colours.red, 1, names[k], colours.reset);
    } else {
      printf("%d: %s\n", 0, names[k]);
    }
  }
}

// Reads and prints a FLOAT read-back of STATUS when the catalogue knows its address.
void print_status_float(uint16_t address, const char* format) {
  int index = reg_find_by_address(address);
  if (index < 0) return;
  uint16_t words[2];
  if (modbus_cmd_read(address, 2, words) < 0) {
    printf("Error read %d\n", address);
    return;
  }
  printf(format, static_cast<double>(bits_to_float(join_words(words))),
         modbus_reg_table[index].unit);
}

}  // namespace

int write_access_code(const char* digits) {
  char code[10] = {};
  memcpy(code, digits, 8);
  uint16_t regs[5];
  for (int i = 0; i < 5; i++)
    regs[i] = static_cast<uint16_t>(static_cast<unsigned char>(code[2 * i]) |
                                    (static_cast<unsigned char>(code[2 * i + 1]) << 8));
  return modbus_cmd_write(MB_LOG_IN_ADDR, 5, regs);
}

const char* device_state_name(unsigned state) {
  return state < 10 ? device_state_names[state] : "(null)";
}

void cmd_login(char**) {
  if (write_access_code(ACCESS_CODE_LOGIN) < 0) {
    printf("Login fail!\n");
  } else {
    printf("Login OK\n");
  }
}

void cmd_logout(char**) {
  if (write_access_code(ACCESS_CODE_LOGOUT) < 0) {
    printf("Logout fail!\n");
  } else {
    printf("Logout OK\n");
  }
}

void cmd_reset(char**) {
  uint16_t one = 1;
  if (modbus_cmd_write(MB_RESET_ADDR, 1, &one) == -1) {
    printf("Error write.\n");
  } else {
    printf("Reset sent.\n");
  }
}

void cmd_state(char** args) {
  char* token = next_token(args);
  if (!token) {
    uint16_t state;
    if (modbus_cmd_read(MB_STATE_READ_ADDR, 1, &state) < 0) {
      printf("Error read.\n");
      return;
    }
    printf("State = %d (%s)\n", state, device_state_name(state));
    return;
  }
  upper_case_in_place(token, static_cast<int>(strlen(token)));
  int matches = 0;
  int last = 0;
  for (int i = 0; i < 4; i++) {
    if (strstr(state_words[i], token)) {
      matches++;
      last = i;
    }
  }
  unsigned state;
  if (matches == 1) {
    state = static_cast<unsigned>(last * 3);
  } else {
    uint32_t number = 0;
    if (parse_unsigned(token, 10, &number) != 0) {
      printf("Invalid agrument: %s\n", token);
      return;
    }
    state = number & 0xFFFFu;
  }
  if (state % 3 != 0 || state > 9) {
    printf("Invalid state: %d\n", state);
    return;
  }
  uint16_t word = static_cast<uint16_t>(state);
  if (modbus_cmd_write(MB_STATE_SET_ADDR, 1, &word) == -1) {
    printf("Error write.\n");
    return;
  }
  printf("Write State = %d (%s) is OK.\n", state, device_state_name(state));
}

void cmd_status(char** args) {
  bool long_mode = true;
  char* token = next_token(args);
  if (token) {
    upper_case_in_place(token, static_cast<int>(strlen(token)));
    bool in_long = strstr("LONG", token) != nullptr;
    bool in_short = strstr("SHORT", token) != nullptr;
    if (in_long == in_short) {
      printf("Invalid argument: %s\n", token);
      return;
    }
    long_mode = in_long;
  }
  uint16_t state;
  if (modbus_cmd_read(MB_STATE_READ_ADDR, 1, &state) < 0) {
    printf("Error read %d\n", MB_STATE_READ_ADDR);
  } else {
    printf("State = %d (%s)\n", state, device_state_name(state));
  }
  print_status_float(MB_PRF_READ_ADDR, "PRF = %g %s\n");
  print_status_float(MB_PULSE_WIDTH_READ_ADDR, "Pulse Width = %g %s\n");
  for (const interlock_register& reg : interlock_registers) {
    uint16_t words[2];
    if (modbus_cmd_read(reg.address, 2, words) < 0) {
      printf("Error read %d\n", reg.address);
      continue;
    }
    printf(reg.format, words[1], words[0]);
    if (long_mode) print_interlock_bits(ilock_names[reg.table], join_words(words));
  }
}
