#include "console/device_commands.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include "core/colours.h"
#include "core/input.h"
#include "core/lifecycle.h"
#include "core/shared_messages.h"
#include "link/link.h"
#include "registers/catalogue.h"
#include "registers/values.h"

namespace {

void say_read_failed_at(int address) { printf("Error read %d\n", address); }

void say_state(int state) {
  printf("State = %d (%s)\n", state, device_state_name(static_cast<unsigned>(state)));
}

const char device_state_names[10][16] = {
    "OFF", "STANDBY_OFF_REQ", "STANDBY_ON_REQ", "STANDBY", "HV_OFF_REQ", "HV_ON_REQ",
    "HV",  "TRIG_OFF_REQ",    "TRIG_ON_REQ",    "TRIG",
};

struct interlock_register {
  uint16_t address;
  const char* label;  // padded so that the three values line up
  int table;
};

const interlock_register interlock_registers[3] = {
    {MB_STANDBY_INTERLOCK_ADDR, "Standby interlock", ILOCK_STANDBY},
    {MB_HV_INTERLOCK_ADDR, "HV interlock     ", ILOCK_HV},
    {MB_TRIG_INTERLOCK_ADDR, "Trigger interlock", ILOCK_TRIG},
};

// The place of the only word that token is part of, or -1 when it is part of none or of several.
int unique_keyword(const char* token, std::span<const char* const> words) {
  int place = -1;
  for (size_t i = 0; i < words.size(); i++) {
    if (!strstr(words[i], token)) continue;
    if (place >= 0) return -1;
    place = static_cast<int>(i);
  }
  return place;
}

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
void print_status_float(uint16_t address, const char* label) {
  int index = reg_find_by_address(address);
  if (index < 0) return;
  uint16_t words[2];
  if (modbus_cmd_read(address, 2, words) < 0) {
    say_read_failed_at(address);
    return;
  }
  printf("%s = %g %s\n", label, static_cast<double>(bits_to_float(join_words(words))),
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
    msg_login_fail();
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
    msg_error_write();
  } else {
    printf("Reset sent.\n");
  }
}

void cmd_state(char** args) {
  char* token = next_token(args);
  if (!token) {
    uint16_t state;
    if (modbus_cmd_read(MB_STATE_READ_ADDR, 1, &state) < 0) {
      msg_error_read();
      return;
    }
    say_state(state);
    return;
  }
  upper_case_in_place(token, static_cast<int>(strlen(token)));
  int place = unique_keyword(token, state_keywords);
  unsigned state;
  if (place >= 0) {
    state = static_cast<unsigned>(place * 3);
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
    msg_error_write();
    return;
  }
  printf("Write State = %d (%s) is OK.\n", state, device_state_name(state));
}

void cmd_status(char** args) {
  bool long_mode = true;
  char* token = next_token(args);
  if (token) {
    upper_case_in_place(token, static_cast<int>(strlen(token)));
    int place = unique_keyword(token, status_keywords);
    if (place < 0) {
      msg_invalid_argument(token);
      return;
    }
    long_mode = place == STATUS_LONG;
  }
  uint16_t state;
  if (modbus_cmd_read(MB_STATE_READ_ADDR, 1, &state) < 0) {
    say_read_failed_at(MB_STATE_READ_ADDR);
  } else {
    say_state(state);
  }
  print_status_float(MB_PRF_READ_ADDR, "PRF");
  print_status_float(MB_PULSE_WIDTH_READ_ADDR, "Pulse Width");
  for (const interlock_register& reg : interlock_registers) {
    uint16_t words[2];
    if (modbus_cmd_read(reg.address, 2, words) < 0) {
      say_read_failed_at(reg.address);
      continue;
    }
    printf("%s = 0x%04X%04X\n", reg.label, words[1], words[0]);
    if (long_mode) print_interlock_bits(ilock_names[reg.table], join_words(words));
  }
}
