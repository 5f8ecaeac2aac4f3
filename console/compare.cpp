#include "console/compare.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console/dump.h"
#include "console/dump_file.h"
#include "console/read_progress.h"
#include "core/input.h"
#include "core/lifecycle.h"
#include "core/shared_messages.h"
#include "link/link.h"
#include "link/planned_reads.h"
#include "registers/catalogue.h"
#include "registers/register_lookup.h"
#include "registers/values.h"

namespace {

// The widest register RESTORE writes (a calibration table) covers 15 words.
constexpr int RESTORE_MAX_WORDS = 15;

// A register whose two texts differ: its name on a line, then each text on a line of its own,
// the texts starting in one column, so that a changed point of a calibration table stands right
// under the file's.
void print_texts(const char* name, const char* first_label, const std::string& first,
                 const char* second_label, const std::string& second) {
  printf("%s\n", name);
  printf("  %-7s %s\n", first_label, first.c_str());
  printf("  %-7s %s\n", second_label, second.c_str());
}

// A register read as DUMP writes it. Returns 0, or -1 when its read failed (nothing printed).
int dump_text_of(const entry_read& read, std::string* text) {
  if (read.result != REQUEST_SERVED) return -1;
  char buf[DUMP_VALUE_TEXT_SIZE];
  dump_value_text(read.entry, read.words, buf, sizeof buf);
  *text = buf;
  return 0;
}

// Reads *reads, showing at a terminal how far a long read is. Returns read_entries' result.
int read_with_progress(std::vector<entry_read>* reads) {
  read_progress progress;
  read_progress_start(&progress, static_cast<int>(reads->size()));
  int rc = read_entries(reads, [&progress](int done) {
    read_progress_update(&progress, done);
    return true;
  });
  read_progress_erase(&progress);
  return rc;
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
           dump.texts[item->index].c_str(), reg_type_name(entry->type));
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

  // Every register is read before anything is shown, in few requests (see link/planned_reads.h);
  // Ctrl-C during the reads ends the tool with nothing more printed.
  std::vector<entry_read> reads;
  std::vector<int> read_of(MODBUS_REG_COUNT, -1);
  for (int i = 0; i < MODBUS_REG_COUNT; i++) {
    if (!selected(modbus_reg_table[i], patterns) || !dump.present[i]) continue;
    read_of[i] = static_cast<int>(reads.size());
    reads.push_back({&modbus_reg_table[i]});
  }
  if (read_with_progress(&reads) < 0) return CMD_FAILED;

  int compared = 0;
  int differ = 0;
  int missing = 0;
  int not_read = 0;
  for (int i = 0; i < MODBUS_REG_COUNT; i++) {
    const modbus_reg_entry* entry = &modbus_reg_table[i];
    if (!selected(*entry, patterns)) continue;
    compared++;
    if (!dump.present[i]) {
      missing++;
      continue;
    }
    std::string device_text;
    if (dump_text_of(reads[read_of[i]], &device_text) < 0) {
      printf("Error read %s\n", entry->name);
      not_read++;
      continue;
    }
    if (device_text != dump.texts[i]) {
      print_texts(entry->name, "file:", dump.texts[i], "device:", device_text);
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

  std::vector<entry_read> reads;
  for (const restore_item& item : items) reads.push_back({item.entry});
  if (read_entries(&reads) < 0) return CMD_FAILED;
  std::vector<restore_item*> changes;
  for (size_t k = 0; k < items.size(); k++) {
    restore_item& item = items[k];
    if (dump_text_of(reads[k], &item.device_text) < 0) {
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
    print_texts(item->entry->name, "device:", item->device_text, "file:", dump.texts[item->index]);
  printf("Restore %d registers? (y/n) ", static_cast<int>(changes.size()));
  fflush(stdout);
  if (read_yes_no() != 1) {
    if (quit_requested.load()) return CMD_DECLINED;
    msg_restore_cancelled();
    print_unknown_names(dump);
    return CMD_DECLINED;
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
