#include "console/startup.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "core/shared_messages.h"
#include "core/tool_config.h"
#include "link/link.h"
#include "registers/catalogue.h"
#include "registers/values.h"

namespace {

// The stored value holds at most two register words (FLOAT, DWORD) or one (WORD).
constexpr int STARTUP_MAX_WORDS = 2;

// Words of a startup entry's register, or 0 when its type can't be kept in the 32-bit stored
// value (RAW, and the wide types a hand-edited file may name).
int startup_words(const modbus_reg_entry* entry) {
  int words = reg_words_of_type(entry->type);
  return (words > 0 && words <= STARTUP_MAX_WORDS) ? words : 0;
}

// The stored value's registers: the low-order half first, then the high-order half, the same
// layout a typed WRITE of the register uses.
void raw_to_words(uint32_t raw, uint16_t* words) { split_words(raw, words); }

// Takes the address argument of ADD and DELETE (args[1], after the sub-command word): decimal
// digits naming a catalogue register. Returns the entry's index, or -1 after printing why not.
int take_address(const command_args& args) {
  if (args.size() < 2) {
    msg_missing_address();
    return -1;
  }
  const char* token = args[1].c_str();
  int index = register_index_of_address(token);
  if (index < 0) msg_invalid_address(token);
  return index;
}

// Prints each entry in use as "NAME (address) = value"; takes no arguments. Fails when an entry
// names an address the catalogue lacks.
command_status list_entries(const command_args&) {
  command_status status = CMD_OK;
  for (int slot = 0; slot < STARTUP_ENTRIES; ++slot) {
    const startup_entry& s = tool_config.startup[slot];
    if (s.iReg == 0) continue;
    int index = reg_find_by_address(s.iReg);
    if (index < 0) {
      printf("Invalid address: %d\n", s.iReg);
      status = CMD_FAILED;
      continue;
    }
    const modbus_reg_entry* entry = &modbus_reg_table[index];
    int words = startup_words(entry);
    if (words == 0) continue;
    uint16_t w[STARTUP_MAX_WORDS];
    raw_to_words(s.raw_value, w);
    printf("%s (%d) = ", entry->name, entry->address);
    print_value_by_type(entry, w, words);
  }
  return status;
}

command_status add_entry(const command_args& args) {
  int index = take_address(args);
  if (index < 0) return CMD_FAILED;
  const modbus_reg_entry* entry = &modbus_reg_table[index];

  if (args.size() < 3) {
    msg_missing_data();
    return CMD_FAILED;
  }
  std::string token = args[2];
  uint32_t value = 0;
  if (parse_value_by_type(entry->type, token.data(), &value) != 0) {
    printf("Invalid data; %s\n", token.c_str());
    return CMD_FAILED;
  }

  int slot = 0;
  while (slot < STARTUP_ENTRIES && tool_config.startup[slot].iReg != 0) ++slot;
  if (slot == STARTUP_ENTRIES) {
    printf("No more startup entry available.\n");
    return CMD_FAILED;
  }

  // A WORD register keeps only the low 16 bits of the number, as a write of it would.
  int words = startup_words(entry);
  startup_entry& s = tool_config.startup[slot];
  s.iReg = entry->address;
  s.raw_value = words == 1 ? (value & 0xFFFF) : value;
  if (tool_config_save() < 0) {
    msg_save_failed();
    s.iReg = 0;
    s.raw_value = 0;
    return CMD_FAILED;
  }
  uint16_t w[STARTUP_MAX_WORDS];
  raw_to_words(s.raw_value, w);
  printf("Startup entry added: %d, value = ", s.iReg);
  print_value_by_type(entry, w, words);
  return CMD_OK;
}

command_status delete_entry(const command_args& args) {
  int index = take_address(args);
  if (index < 0) return CMD_FAILED;
  int address = modbus_reg_table[index].address;

  int slot = 0;
  while (slot < STARTUP_ENTRIES && tool_config.startup[slot].iReg != address) ++slot;
  if (slot == STARTUP_ENTRIES) {
    printf("Startup entry not found: %d\n", address);
    return CMD_FAILED;
  }

  startup_entry& s = tool_config.startup[slot];
  const startup_entry kept = s;
  s.iReg = 0;
  s.raw_value = 0;
  if (tool_config_save() < 0) {
    msg_save_failed();
    s = kept;
    return CMD_FAILED;
  }
  printf("Startup entry deleted: %d\n", address);
  return CMD_OK;
}

// The handler of each of startup_keywords, in its order; each is handed STARTUP's arguments,
// its own word first.
command_status (*const startup_subcommands[])(const command_args& args) = {list_entries, add_entry,
                                                                           delete_entry};
static_assert(std::size(startup_subcommands) == std::size(startup_keywords));

}  // namespace

int startup_apply() {
  int errors = 0;
  for (int slot = 0; slot < STARTUP_ENTRIES; ++slot) {
    const startup_entry& s = tool_config.startup[slot];
    if (s.iReg == 0) continue;
    int index = reg_find_by_address(s.iReg);
    if (index < 0) {
      printf("Startup: Invalid address: %d\n", s.iReg);
      ++errors;
      continue;
    }
    const modbus_reg_entry* entry = &modbus_reg_table[index];
    int words = startup_words(entry);
    if (words == 0) {
      printf("Startup: Invalid data type: %d\n", entry->type);
      ++errors;
      continue;
    }
    uint16_t w[STARTUP_MAX_WORDS];
    raw_to_words(s.raw_value, w);
    if (modbus_cmd_write(entry->address, words, w) < 0) {
      printf("Startup: Error write to reg %d value ", s.iReg);
      print_value_by_type(entry, w, words);
      ++errors;
      continue;
    }
    printf("Startup: Reg %s (%d) set to ", entry->name, entry->address);
    print_value_by_type(entry, w, words);
  }
  if (errors == 0) return 0;
  printf("Writing startup registers fail!\n");
  return -1;
}

command_status cmd_startup(const command_args& args) {
  if (args.empty()) return list_entries(args);
  std::string word = upper_cased(args[0]);
  for (size_t i = 0; i < std::size(startup_keywords); i++) {
    if (word.starts_with(startup_keywords[i])) return startup_subcommands[i](args);
  }
  msg_invalid_argument(word.c_str());
  return CMD_FAILED;
}
