#include "console/device_commands.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>

#include "core/colours.h"
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

// Reads and prints a FLOAT read-back of STATUS when the catalogue knows its address. Returns 0,
// or -1 after printing a failed read.
int print_status_float(uint16_t address, const char* label) {
  int index = reg_find_by_address(address);
  if (index < 0) return 0;
  uint16_t words[2];
  if (modbus_cmd_read(address, 2, words) < 0) {
    say_read_failed_at(address);
    return -1;
  }
  printf("%s = %g %s\n", label, static_cast<double>(bits_to_float(join_words(words))),
         modbus_reg_table[index].unit);
  return 0;
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

command_status cmd_login(const command_args&) {
  if (write_access_code(ACCESS_CODE_LOGIN) < 0) {
    msg_login_fail();
    return CMD_FAILED;
  }
  printf("Login OK\n");
  return CMD_OK;
}

command_status cmd_logout(const command_args&) {
  if (write_access_code(ACCESS_CODE_LOGOUT) < 0) {
    printf("Logout fail!\n");
    return CMD_FAILED;
  }
  printf("Logout OK\n");
  return CMD_OK;
}

command_status cmd_reset(const command_args&) {
  uint16_t one = 1;
  if (modbus_cmd_write(MB_RESET_ADDR, 1, &one) == -1) {
    msg_error_write();
    return CMD_FAILED;
  }
  printf("Reset sent.\n");
  return CMD_OK;
}

command_status cmd_state(const command_args& args) {
  if (args.empty()) {
    uint16_t state;
    if (modbus_cmd_read(MB_STATE_READ_ADDR, 1, &state) < 0) {
      msg_error_read();
      return CMD_FAILED;
    }
    say_state(state);
    return CMD_OK;
  }
  std::string token = upper_cased(args[0]);
  int place = unique_keyword(token.c_str(), state_keywords);
  unsigned state;
  if (place >= 0) {
    state = static_cast<unsigned>(place * 3);
  } else {
    uint32_t number = 0;
    if (parse_unsigned(token.data(), 10, &number) != 0) {
      printf("Invalid agrument: %s\n", token.c_str());
      return CMD_FAILED;
    }
    state = number & 0xFFFFu;
  }
  if (state % 3 != 0 || state > 9) {
    printf("Invalid state: %d\n", state);
    return CMD_FAILED;
  }
  uint16_t word = static_cast<uint16_t>(state);
  if (modbus_cmd_write(MB_STATE_SET_ADDR, 1, &word) == -1) {
    msg_error_write();
    return CMD_FAILED;
  }
  printf("Write State = %d (%s) is OK.\n", state, device_state_name(state));
  return CMD_OK;
}

// One unreadable item does not hide the others; the report then counts as failed.
command_status cmd_status(const command_args& args) {
  bool long_mode = true;
  if (!args.empty()) {
    std::string token = upper_cased(args[0]);
    int place = unique_keyword(token.c_str(), status_keywords);
    if (place < 0) {
      msg_invalid_argument(token.c_str());
      return CMD_FAILED;
    }
    long_mode = place == STATUS_LONG;
  }
  command_status status = CMD_OK;
  uint16_t state;
  if (modbus_cmd_read(MB_STATE_READ_ADDR, 1, &state) < 0) {
    say_read_failed_at(MB_STATE_READ_ADDR);
    status = CMD_FAILED;
  } else {
    say_state(state);
  }
  if (print_status_float(MB_PRF_READ_ADDR, "PRF") < 0) status = CMD_FAILED;
  if (print_status_float(MB_PULSE_WIDTH_READ_ADDR, "Pulse Width") < 0) status = CMD_FAILED;
  for (const interlock_register& reg : interlock_registers) {
    uint16_t words[2];
    if (modbus_cmd_read(reg.address, 2, words) < 0) {
      say_read_failed_at(reg.address);
      status = CMD_FAILED;
      continue;
    }
    printf("%s = 0x%04X%04X\n", reg.label, words[1], words[0]);
    if (long_mode) print_interlock_bits(ilock_names[reg.table], join_words(words));
  }
  return status;
}
