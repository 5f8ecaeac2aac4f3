#include "console/compare.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console/dump.h"
#include "console/dump_file.h"
#include "core/input.h"
#include "core/lifecycle.h"
#include "core/shared_messages.h"
#include "link/link.h"
#include "registers/catalogue.h"
#include "registers/register_lookup.h"
#include "registers/values.h"

namespace {

// The widest register COMPARE reads (DWORD_ARRAY_10) covers 20 words.
constexpr int MAX_WORDS = 20;
// The widest register RESTORE writes (a calibration table) covers 15 words.
constexpr int RESTORE_MAX_WORDS = 15;

// A register whose two texts differ: its name on a line, then each text on a line of its own,
// the texts starting in one column, so that a changed point of a calibration table stands right
// under the file's.
// The access codes and passwords are compared but never shown, as the write log keeps them; a
// file's text can hold any byte, so it is made printable here.
void print_texts(const modbus_reg_entry* entry, const char* first_label, const std::string& first,
                 const char* second_label, const std::string& second) {
  bool secret = reg_words_hold_secret(entry->address, reg_words_of_type(entry->type));
  printf("%s\n", entry->name);
  printf("  %-7s %s\n", first_label, secret ? "****" : printable_text(first).c_str());
  printf("  %-7s %s\n", second_label, secret ? "****" : printable_text(second).c_str());
}

// Reads entry and formats it as DUMP writes it. Returns 0, or -1 when the read failed (nothing
// printed).
int read_dump_text(const modbus_reg_entry* entry, uint16_t* words, std::string* text) {
  if (modbus_cmd_read(entry->address, reg_words_of_type(entry->type), words) < 0) return -1;
  char buf[DUMP_VALUE_TEXT_SIZE];
  dump_value_text(entry, words, buf, sizeof buf);
  *text = buf;
  return 0;
}

std::string upper(const std::string& token) {
  std::string out = token;
  upper_case_in_place(out.data(), static_cast<int>(out.size()));
  return out;
}

bool selected(const modbus_reg_entry& entry, const std::vector<std::string>& patterns) {
  if (patterns.empty()) return true;
  for (const std::string& p : patterns)
    if (strstr(entry.name, p.c_str()) != nullptr) return true;
  return false;
}

// Registers whose writing is an action rather than a setting: a state request, the interlock
// reset, an access code, and the steps of a calibration sequence (5453 to 5458).
bool is_command_register(const modbus_reg_entry* entry) {
  uint16_t a = entry->address;
  return a == MB_STATE_SET_ADDR || a == MB_RESET_ADDR || a == MB_LOG_IN_ADDR ||
         (a >= MB_CALIB_SEQUENCE_ID_ADDR && a <= MB_CALIB_SEQUENCE_ID_ADDR + 5);
}

bool restorable_type(int32_t type) {
  return type == FLOAT || type == WORD || type == DWORD || type == READ_CALIB || type == SET_CALIB;
}

// One register of a RESTORE: what the file says and, once read, what the device says.
struct restore_item {
  const modbus_reg_entry* entry;
  int index;  // in the catalogue
  uint16_t words[RESTORE_MAX_WORDS];
  std::string device_text;
};

// Chooses the register of one RESTORE token and checks it can be restored from dump. Returns 0,
// or -1 after printing why not (one line; two for a failed lookup).
int check_restore_item(const std::string& token, const dump_file& dump,
                       const std::vector<restore_item>& earlier, restore_item* item) {
  const modbus_reg_entry* entry = find_register(token.c_str());
  if (entry == nullptr) return -1;
  item->entry = entry;
  item->index = static_cast<int>(entry - modbus_reg_table);
  for (const restore_item& e : earlier) {
    if (e.entry == entry) {
      printf("%s is named twice.\n", entry->name);
      return -1;
    }
  }
  if (is_command_register(entry)) {
    printf("Cannot restore %s: a command register is never restored.\n", entry->name);
    return -1;
  }
  if (!restorable_type(entry->type)) {
    printf("Cannot restore %s (%s): FLOAT, WORD, DWORD and calibration registers only.\n",
           entry->name, reg_type_name(entry->type));
    return -1;
  }
  if (!dump.present[item->index]) {
    printf("Cannot restore %s: not in %s.\n", entry->name, dump.path.c_str());
    return -1;
  }
  if (parse_dump_value(entry, dump.texts[item->index], item->words) < 0) {
    printf("Cannot restore %s: \"%s\" is no %s value.\n", entry->name,
           printable_text(dump.texts[item->index]).c_str(), reg_type_name(entry->type));
    return -1;
  }
  return 0;
}

}  // namespace

command_status cmd_compare(const command_args& args) {
  dump_file dump;
  if (read_dump_file(args[0].c_str(), &dump) < 0) return CMD_FAILED;
  std::vector<std::string> patterns;
  for (size_t i = 1; i < args.size(); i++) patterns.push_back(upper(args[i]));
  for (const std::string& p : patterns) {
    bool any = false;
    for (const modbus_reg_entry& entry : modbus_reg_table) any = any || selected(entry, {p});
    if (!any) {
      printf("No register name contains %s.\n", p.c_str());
      return CMD_FAILED;
    }
  }

  int compared = 0;
  int differ = 0;
  int missing = 0;
  int not_read = 0;
  uint16_t words[MAX_WORDS];
  for (int i = 0; i < MODBUS_REG_COUNT; i++) {
    const modbus_reg_entry* entry = &modbus_reg_table[i];
    if (!selected(*entry, patterns)) continue;
    compared++;
    if (!dump.present[i]) {
      missing++;
      continue;
    }
    // Ctrl-C ends the tool: the registers left are not read and nothing more is printed.
    if (quit_requested.load()) return CMD_FAILED;
    std::string device_text;
    if (read_dump_text(entry, words, &device_text) < 0) {
      if (quit_requested.load()) return CMD_FAILED;
      printf("Error read %s\n", entry->name);
      not_read++;
      continue;
    }
    if (device_text != dump.texts[i]) {
      print_texts(entry, "file:", dump.texts[i], "device:", device_text);
      differ++;
    }
  }
  print_unknown_names(dump);
  printf("Compared %d registers: %d differ, %d not in the file, %d not read.\n", compared, differ,
         missing, not_read);
  return not_read > 0 ? CMD_FAILED : CMD_OK;
}

command_status cmd_restore(const command_args& args) {
  // The table row has made sure of the file name.
  if (args.size() < 2) {
    msg_missing_address();
    return CMD_FAILED;
  }
  if (args.size() - 1 > RESTORE_MAX_REGISTERS) {
    printf("Too many registers: RESTORE puts back at most %d.\n", RESTORE_MAX_REGISTERS);
    return CMD_FAILED;
  }
  dump_file dump;
  if (read_dump_file(args[0].c_str(), &dump) < 0) return CMD_FAILED;

  // Every register is checked, and every refusal shown, before any is read: a typo in the list
  // never restores half of it.
  std::vector<restore_item> items;
  bool refused = false;
  for (size_t i = 1; i < args.size(); i++) {
    restore_item item{};
    if (check_restore_item(args[i], dump, items, &item) < 0) {
      refused = true;
    } else {
      items.push_back(item);
    }
  }
  if (refused) {
    printf("Nothing restored.\n");
    return CMD_FAILED;
  }

  std::vector<restore_item*> changes;
  for (restore_item& item : items) {
    uint16_t words[MAX_WORDS];
    if (read_dump_text(item.entry, words, &item.device_text) < 0) {
      if (quit_requested.load()) return CMD_FAILED;
      printf("Error read %s\n", item.entry->name);
      printf("Nothing restored.\n");
      return CMD_FAILED;
    }
    // Equal texts are equal values as far as the file can tell: a float that only rounds to the
    // file's six digits is left as it is.
    if (item.device_text == dump.texts[item.index]) {
      printf("%s: unchanged.\n", item.entry->name);
    } else {
      changes.push_back(&item);
    }
  }
  if (changes.empty()) {
    printf("Nothing to restore.\n");
    print_unknown_names(dump);
    return CMD_OK;
  }
  for (const restore_item* item : changes)
    print_texts(item->entry, "device:", item->device_text, "file:", dump.texts[item->index]);
  char question[64];
  snprintf(question, sizeof question, "Restore %d registers? (y/n) ",
           static_cast<int>(changes.size()));
  yes_no_answer answer = ask_yes_no(question, 1, OTHER_IS_NO);
  if (answer != ANSWER_YES) {
    command_status declined = answer == ANSWER_NO ? CMD_DECLINED : CMD_FAILED;
    if (quit_requested.load()) return declined;
    msg_restore_cancelled();
    print_unknown_names(dump);
    return declined;
  }

  int failed = 0;
  for (const restore_item* item : changes) {
    if (quit_requested.load()) return CMD_FAILED;
    int words = reg_words_of_type(item->entry->type);
    if (modbus_cmd_write(item->entry->address, words, item->words) < 0) {
      if (quit_requested.load()) return CMD_FAILED;
      printf("%s: ", item->entry->name);
      msg_error_write();
      failed++;
    } else {
      printf("%s: Write %d words OK\n", item->entry->name, words);
    }
  }
  print_unknown_names(dump);
  return failed > 0 ? CMD_FAILED : CMD_OK;
}
