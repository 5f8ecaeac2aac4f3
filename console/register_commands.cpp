#include "console/register_commands.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "core/input.h"
#include "core/lifecycle.h"
#include "core/shared_messages.h"
#include "link/link.h"
#include "registers/catalogue.h"
#include "registers/register_lookup.h"
#include "registers/values.h"

namespace {

void say_written(int words) { printf("Write %d words OK\n", words); }

constexpr int RR_MAX_WORDS = 1024;
constexpr int RR_PIECE_WORDS = 64;
constexpr int RW_RAW_MAX_TOKENS = 32;

// Value buffer of the console thread; holds the longest RR RAW read.
uint16_t value_buf[RR_MAX_WORDS];

// Finds the catalogue register named by token and prints its header. Returns the entry, or
// nullptr after printing why.
const modbus_reg_entry* select_register(const char* token) {
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

// Asks up to three times.
yes_no_answer confirm_write(const char* token) {
  // A command line has at most 511 characters, so the question always holds the whole token.
  char question[560];
  snprintf(question, sizeof question, "Confirm write \"%s\"? (Y/N): ", token);
  return ask_yes_no(question, 3, OTHER_IS_NONE);
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

// Reads the type and address tokens of RR and RW (the type token is there: the table's count).
// Returns 0, or -1 after printing why.
int take_type_and_address(const command_args& args, const typed_access** kind, uint16_t* address) {
  std::string type = upper_cased(args[0]);
  *kind = nullptr;
  for (size_t i = 0; i < std::size(type_keywords); i++)
    if (type == type_keywords[i]) *kind = &typed_kinds[i];
  if (!*kind) {
    printf("Invalid Type (RAW, FLOAT, WORD, or DWORD).\n");
    return -1;
  }
  if (args.size() < 2) {
    msg_missing_address();
    return -1;
  }
  std::string token = upper_cased(args[1]);
  uint32_t value = 0;
  int base = token.starts_with("0X") ? 16 : 10;
  if (parse_unsigned(token.data(), base, &value) != 0) {
    printf("Invalid address: %s.\n", token.c_str());
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

command_status report_write(int result) {
  if (result < 0) {
    msg_error_write();
    return CMD_FAILED;
  }
  printf("Write OK\n");
  return CMD_OK;
}

}  // namespace

command_status cmd_read(const command_args& args) {
  const modbus_reg_entry* entry = select_register(args[0].c_str());
  if (!entry) return CMD_FAILED;
  int words = reg_words_of_type(entry->type);
  if (words == 0) {
    msg_invalid_data_type();
    return CMD_FAILED;
  }
  if (modbus_cmd_read(entry->address, words, value_buf) < 0) {
    msg_error_read();
    return CMD_FAILED;
  }
  print_value_by_type(entry, value_buf, words);
  return CMD_OK;
}

command_status cmd_write(const command_args& args) {
  const modbus_reg_entry* entry = select_register(args[0].c_str());
  if (!entry) return CMD_FAILED;
  if (args.size() < 2) {
    msg_missing_data();
    return CMD_FAILED;
  }
  std::string data = args[1];
  int words = reg_words_of_type(entry->type);
  if (words == 0) {
    msg_invalid_data_type();
    return CMD_FAILED;
  }
  uint32_t value = 0;
  int rc = parse_value_by_type(entry->type, data.data(), &value);
  if (rc == -1) {
    printf("Write is not supported via WRITE.\n");
    return CMD_FAILED;
  }
  if (rc < 0) {
    printf("Invalid data.\n");
    return CMD_FAILED;
  }
  // A plain no declines; no usable answer in three prompts fails.
  yes_no_answer answer = confirm_write(data.c_str());
  if (answer != ANSWER_YES) {
    msg_no_write();
    return answer == ANSWER_NO ? CMD_DECLINED : CMD_FAILED;
  }
  store_value(value, words);
  if (modbus_cmd_write(entry->address, words, value_buf) < 0) {
    msg_error_write();
    return CMD_FAILED;
  }
  say_written(words);
  return CMD_OK;
}

command_status cmd_rr(const command_args& args) {
  const typed_access* kind = nullptr;
  uint16_t address = 0;
  if (take_type_and_address(args, &kind, &address) < 0) return CMD_FAILED;
  int words = kind->words;
  if (kind->kind == TYPED_RAW) {
    if (args.size() < 3) {
      printf("Missing word size.\n");
      return CMD_FAILED;
    }
    std::string token = args[2];
    uint32_t count = 0;
    if (parse_unsigned(token.data(), 10, &count) != 0 || count > RR_MAX_WORDS) {
      printf("Invalid word size: %s.\n", token.c_str());
      return CMD_FAILED;
    }
    if (count == 0) return CMD_OK;
    words = static_cast<int>(count);
  }
  // Longer RAW reads go in pieces of 64 registers, each a request of its own, as they always
  // have: a device that takes 64 need not take the mailbox's 125.
  for (int done = 0; done < words; done += RR_PIECE_WORDS) {
    int n = words - done < RR_PIECE_WORDS ? words - done : RR_PIECE_WORDS;
    if (modbus_cmd_read(static_cast<uint16_t>(address + done), n, value_buf + done) < 0) {
      msg_error_read();
      return CMD_FAILED;
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
  return CMD_OK;
}

command_status cmd_rw(const command_args& args) {
  const typed_access* kind = nullptr;
  uint16_t address = 0;
  if (take_type_and_address(args, &kind, &address) < 0) return CMD_FAILED;
  if (args.size() < 3) {
    msg_missing_data();
    return CMD_FAILED;
  }
  std::string data = args[2];
  uint32_t value = 0;
  switch (kind->kind) {
    case TYPED_FLOAT: {
      float f = 0;
      if (parse_float(data.data(), FLOAT_EMPTY_REFUSED, &f) != 0) {
        msg_invalid_float(data.c_str());
        return CMD_FAILED;
      }
      split_words(float_to_bits(f), value_buf);
      if (modbus_cmd_write(address, 2, value_buf) < 0) {
        msg_error_write();
        return CMD_FAILED;
      }
      printf("Write %f OK\n", static_cast<double>(f));
      return CMD_OK;
    }
    case TYPED_WORD:
    case TYPED_DWORD:
      if (parse_typed_number(data.data(), &value) != 0) {
        msg_invalid_data(data.c_str());
        return CMD_FAILED;
      }
      store_value(value, kind->words);
      return report_write(modbus_cmd_write(address, kind->words, value_buf));
    case TYPED_RAW: {
      int count = 0;
      for (size_t i = 2; i < args.size() && count < RW_RAW_MAX_TOKENS; i++) {
        std::string token = args[i];
        value = 0;
        if (parse_unsigned(token.data(), 16, &value) != 0) {
          printf("Invalid data at %d: %04X\n", count, value & 0xFFFFu);
          msg_no_write();
          return CMD_FAILED;
        }
        value_buf[count++] = static_cast<uint16_t>(value);
      }
      if (modbus_cmd_write(address, count, value_buf) < 0) {
        msg_error_write();
        return CMD_FAILED;
      }
      say_written(count);
      return CMD_OK;
    }
  }
  return CMD_FAILED;
}

command_status cmd_setbit(const command_args& args) {
  const modbus_reg_entry* entry = select_register(args[0].c_str());
  if (!entry) return CMD_FAILED;
  int words = reg_words_of_type(entry->type);
  if (args.size() < 2) {
    if (modbus_cmd_read(entry->address, words, value_buf) < 0) {
      msg_error_read();
      return CMD_FAILED;
    }
    printf("    00 01 02 03 04 05 06 07 08 09 10 11 12 13 14 15\n");
    printf("    __ __ __ __ __ __ __ __ __ __ __ __ __ __ __ __\n");
    for (int k = 0; k < words; k++) {
      printf("%2d: ", 16 * k);
      for (int bit = 0; bit < 16; bit++) printf("%2d ", (value_buf[k] >> bit) & 1);
      printf("\n");
    }
    return CMD_OK;
  }
  std::string position_token = args[1];
  uint32_t raw_position = 0;
  if (parse_unsigned(position_token.data(), 10, &raw_position) != 0) {
    printf("Invalid bit position: %s.\n", position_token.c_str());
    return CMD_FAILED;
  }
  int position = static_cast<int32_t>(raw_position);
  if (position < 0 || position >= 16 * words) {
    printf("Bit position should be between 0 and %d, provided is %d.\n", 16 * words, position);
    return CMD_FAILED;
  }
  if (args.size() < 3) {
    printf("Missing bit value.\n");
    return CMD_FAILED;
  }
  std::string value_token = args[2];
  uint32_t bit_value = 0;
  if (parse_unsigned(value_token.data(), 10, &bit_value) != 0) {
    printf("Invalid bit value: %s.\n", value_token.c_str());
    return CMD_FAILED;
  }
  if (bit_value > 1) {
    printf("Bit value should be 0 or 1, provided is %d.\n", static_cast<int32_t>(bit_value));
    return CMD_FAILED;
  }
  if (modbus_cmd_read(entry->address, words, value_buf) < 0) {
    msg_error_read();
    return CMD_FAILED;
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
    return CMD_FAILED;
  }
  say_written(words);
  return CMD_OK;
}
