#include "console/register_commands.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "calibration/calibration.h"
#include "core/input.h"
#include "core/lifecycle.h"
#include "core/shared_messages.h"
#include "link/link.h"
#include "registers/catalogue.h"
#include "registers/values.h"

namespace {

void say_written(int words) { printf("Write %d words OK\n", words); }

constexpr int RR_MAX_WORDS = 1024;
constexpr int RW_RAW_MAX_TOKENS = 32;

// Value buffer of the console thread; holds the longest RR RAW read.
uint16_t value_buf[RR_MAX_WORDS];

// Finds the catalogue register named by token and prints its header. Returns the entry, or
// nullptr after printing why.
const modbus_reg_entry* select_register(char* token) {
  const modbus_reg_entry* entry = find_register(token);
  if (entry) print_register_header(entry);
  return entry;
}

// Stores a parsed 32-bit value in the register's words: one word for WORD, two otherwise.
void store_value(uint32_t value, int words) {
  if (words == 1) {
    value_buf[0] = static_cast<uint16_t>(value);
  } else {
    split_words(value, value_buf);
  }
}

// Asks up to three times; returns 1 only for a yes.
int confirm_write(const char* token) {
  for (int prompt = 0; prompt < 3; prompt++) {
    printf("Confirm write \"%s\"? (Y/N): ", token);
    fflush(stdout);
    int answer = read_yes_no();
    if (answer >= 0) return answer;
    if (quit_requested.load()) break;
  }
  return -1;
}

enum typed_kind { TYPED_RAW, TYPED_FLOAT, TYPED_WORD, TYPED_DWORD };

struct typed_access {
  typed_kind kind;
  int words;
};

// What each of type_keywords stands for, in its order.
const typed_access typed_kinds[] = {
    {TYPED_RAW, 0},
    {TYPED_FLOAT, 2},
    {TYPED_WORD, 1},
    {TYPED_DWORD, 2},
};
static_assert(std::size(typed_kinds) == std::size(type_keywords));

// Reads the type and address tokens of RR and RW. Returns 0, or -1 after printing why.
int take_type_and_address(char** args, const typed_access** kind, uint16_t* address) {
  char* type = next_token(args);
  if (!type) {
    printf("Missing Type (RAW, FLOAT, WORD, or DWORD).\n");
    return -1;
  }
  upper_case_in_place(type, static_cast<int>(strlen(type)));
  *kind = nullptr;
  for (size_t i = 0; i < std::size(type_keywords); i++)
    if (strcmp(type, type_keywords[i]) == 0) *kind = &typed_kinds[i];
  if (!*kind) {
    printf("Invalid Type (RAW, FLOAT, WORD, or DWORD).\n");
    return -1;
  }
  char* token = next_token(args);
  if (!token) {
    msg_missing_address();
    return -1;
  }
  upper_case_in_place(token, static_cast<int>(strlen(token)));
  uint32_t value = 0;
  int base = strncmp(token, "0X", 2) == 0 ? 16 : 10;
  if (parse_unsigned(token, base, &value) != 0) {
    printf("Invalid address: %s.\n", token);
    return -1;
  }
  *address = static_cast<uint16_t>(value);
  return 0;
}

// WORD and DWORD data: hexadecimal only with a capital 0X prefix.
int parse_typed_number(char* token, uint32_t* value) {
  int base = strncmp(token, "0X", 2) == 0 ? 16 : 10;
  return parse_unsigned(token, base, value);
}

void report_write(int result) {
  if (result < 0) {
    msg_error_write();
  } else {
    printf("Write OK\n");
  }
}

}  // namespace

const modbus_reg_entry* find_register(char* token) {
  if (!token) {
    msg_missing_address();
    return nullptr;
  }
  int index;
  if (all_digits(token)) {
    unsigned long address = strtoul(token, nullptr, 10);
    index = reg_find_by_address(address > 0xFFFFFF ? -1 : static_cast<int>(address));
    if (index < 0) {
      printf("Invalid address name: %s\n", token);
      msg_invalid_address(token);
      return nullptr;
    }
  } else {
    upper_case_in_place(token, static_cast<int>(strlen(token)));
    index = reg_find_by_name(token, MODBUS_REG_COUNT);
    if (index < 0) {
      printf("Invalid reg name: %s\n", token);
      msg_invalid_address(token);
      return nullptr;
    }
  }
  return &modbus_reg_table[index];
}

void print_register_header(const modbus_reg_entry* entry) {
  printf("%s (%d, %s)\n", entry->name, entry->address, reg_type_name(entry->type));
}

void cmd_read(char** args) {
  char* token = next_token(args);
  if (!token && calib_session_running()) {
    calib_read_shortcut();
    return;
  }
  const modbus_reg_entry* entry = select_register(token);
  if (!entry) return;
  int words = reg_words_of_type(entry->type);
  if (words == 0) {
    msg_invalid_data_type();
    return;
  }
  if (modbus_cmd_read(entry->address, words, value_buf) < 0) {
    msg_error_read();
    return;
  }
  print_value_by_type(entry, value_buf, words);
}

void cmd_write(char** args) {
  char* token = next_token(args);
  if (!token && calib_session_running()) {
    calib_read_shortcut();
    return;
  }
  const modbus_reg_entry* entry = select_register(token);
  if (!entry) return;
  char* data = next_token(args);
  if (!data) {
    msg_missing_data();
    return;
  }
  int words = reg_words_of_type(entry->type);
  if (words == 0) {
    msg_invalid_data_type();
    return;
  }
  uint32_t value = 0;
  int rc = parse_value_by_type(entry->type, data, &value);
  if (rc == -1) {
    printf("Write is not supported via WRITE.\n");
    return;
  }
  if (rc < 0) {
    printf("Invalid data.\n");
    return;
  }
  if (confirm_write(data) != 1) {
    msg_no_write();
    return;
  }
  store_value(value, words);
  if (modbus_cmd_write(entry->address, words, value_buf) < 0) {
    msg_error_write();
    return;
  }
  say_written(words);
}

void cmd_rr(char** args) {
  const typed_access* kind = nullptr;
  uint16_t address = 0;
  if (take_type_and_address(args, &kind, &address) < 0) return;
  int words = kind->words;
  if (kind->kind == TYPED_RAW) {
    char* token = next_token(args);
    if (!token) {
      printf("Missing word size.\n");
      return;
    }
    uint32_t count = 0;
    if (parse_unsigned(token, 10, &count) != 0 || count > RR_MAX_WORDS) {
      printf("Invalid word size: %s.\n", token);
      return;
    }
    if (count == 0) return;
    words = static_cast<int>(count);
  }
  // The mailbox carries at most 64 registers; longer RAW reads go in pieces.
  for (int done = 0; done < words; done += MAILBOX_WORDS) {
    int n = words - done < MAILBOX_WORDS ? words - done : MAILBOX_WORDS;
    if (modbus_cmd_read(static_cast<uint16_t>(address + done), n, value_buf + done) < 0) {
      msg_error_read();
      return;
    }
  }
  switch (kind->kind) {
    case TYPED_FLOAT:
      printf("%f\n", static_cast<double>(bits_to_float(join_words(value_buf))));
      break;
    case TYPED_DWORD:
      printf("0x%04X%04X (%u)\n", value_buf[1], value_buf[0], join_words(value_buf));
      break;
    case TYPED_WORD:
    case TYPED_RAW:
      for (int i = 0; i < words; i++) printf("0x%04X ", value_buf[i]);
      printf("\n");
      break;
  }
}

void cmd_rw(char** args) {
  const typed_access* kind = nullptr;
  uint16_t address = 0;
  if (take_type_and_address(args, &kind, &address) < 0) return;
  char* data = next_token(args);
  if (!data) {
    msg_missing_data();
    return;
  }
  uint32_t value = 0;
  switch (kind->kind) {
    case TYPED_FLOAT: {
      float f = 0;
      if (parse_float(data, FLOAT_EMPTY_REFUSED, &f) != 0) {
        msg_invalid_float(data);
        return;
      }
      split_words(float_to_bits(f), value_buf);
      if (modbus_cmd_write(address, 2, value_buf) < 0) {
        msg_error_write();
      } else {
        printf("Write %f OK\n", static_cast<double>(f));
      }
      return;
    }
    case TYPED_WORD:
    case TYPED_DWORD:
      if (parse_typed_number(data, &value) != 0) {
        msg_invalid_data(data);
        return;
      }
      store_value(value, kind->words);
      report_write(modbus_cmd_write(address, kind->words, value_buf));
      return;
    case TYPED_RAW: {
      int count = 0;
      for (char* token = data; token && count < RW_RAW_MAX_TOKENS; token = next_token(args)) {
        value = 0;
        if (parse_unsigned(token, 16, &value) != 0) {
          printf("Invalid data at %d: %04X\n", count, value & 0xFFFFu);
          msg_no_write();
          return;
        }
        value_buf[count++] = static_cast<uint16_t>(value);
      }
      if (modbus_cmd_write(address, count, value_buf) < 0) {
        msg_error_write();
      } else {
        say_written(count);
      }
      return;
    }
  }
}

void cmd_setbit(char** args) {
  const modbus_reg_entry* entry = select_register(next_token(args));
  if (!entry) return;
  int words = reg_words_of_type(entry->type);
  char* position_token = next_token(args);
  if (!position_token) {
    if (modbus_cmd_read(entry->address, words, value_buf) < 0) {
      msg_error_read();
      return;
    }
    printf("    00 01 02 03 04 05 06 07 08 09 10 11 12 13 14 15\n");
    printf("    __ __ __ __ __ __ __ __ __ __ __ __ __ __ __ __\n");
    for (int k = 0; k < words; k++) {
      printf("%2d: ", 16 * k);
      for (int bit = 0; bit < 16; bit++) printf("%2d ", (value_buf[k] >> bit) & 1);
      printf("\n");
    }
    return;
  }
  uint32_t raw_position = 0;
  if (parse_unsigned(position_token, 10, &raw_position) != 0) {
    printf("Invalid bit position: %s.\n", position_token);
    return;
  }
  int position = static_cast<int32_t>(raw_position);
  if (position < 0 || position >= 16 * words) {
    printf("Bit position should be between 0 and %d, provided is %d.\n", 16 * words, position);
    return;
  }
  char* value_token = next_token(args);
  if (!value_token) {
    printf("Missing bit value.\n");
    return;
  }
  uint32_t bit_value = 0;
  if (parse_unsigned(value_token, 10, &bit_value) != 0) {
    printf("Invalid bit value: %s.\n", value_token);
    return;
  }
  if (bit_value > 1) {
    printf("Bit value should be 0 or 1, provided is %d.\n", static_cast<int32_t>(bit_value));
    return;
  }
  if (modbus_cmd_read(entry->address, words, value_buf) < 0) {
    msg_error_read();
    return;
  }
  print_value_by_type(entry, value_buf, words);
  uint16_t mask = static_cast<uint16_t>(1u << (position % 16));
  if (bit_value) {
    value_buf[position / 16] |= mask;
  } else {
    value_buf[position / 16] &= static_cast<uint16_t>(~mask);
  }
  if (modbus_cmd_write(entry->address, words, value_buf) < 0) {
    msg_error_write();
    return;
  }
  say_written(words);
}
