#include "console/compare.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "calibration/calibration_history.h"
#include "console/dump.h"
#include "console/dump_file.h"
#include "console/read_progress.h"
#include "core/input.h"
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
// The access codes and passwords are compared but never shown, as the write log keeps them; a
// file's text can hold any byte, so it is made printable here.
void print_texts(const modbus_reg_entry* entry, const char* first_label, const std::string& first,
                 const char* second_label, const std::string& second) {
  bool secret = reg_words_hold_secret(entry->address, reg_words_of_type(entry->type));
  printf("%s\n", entry->name);
  printf("  %-7s %s\n", first_label, secret ? "****" : printable_text(first).c_str());
  printf("  %-7s %s\n", second_label, secret ? "****" : printable_text(second).c_str());
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
  uint16_t device_words[ENTRY_MAX_WORDS];  // as read before the write: a table's as-found record
};

// Checks that entry can be restored from dump, whatever else was chosen. Returns 0, or -1 after
// printing why not (one line).
int check_restore_item(const modbus_reg_entry* entry, const dump_file& dump, restore_item* item) {
  item->entry = entry;
  item->index = static_cast<int>(entry - modbus_reg_table);
  std::string name = reg_trimmed_name(entry->name);
  if (is_command_register(entry)) {
    printf("Cannot restore %s: a command register is never restored.\n", name.c_str());
    return -1;
  }
  if (!restorable_type(entry->type)) {
    printf("Cannot restore %s (%s): FLOAT, WORD, DWORD and calibration registers only.\n",
           name.c_str(), reg_type_name(entry->type));
    return -1;
  }
  if (reg_is_read_back(entry)) {
    printf("Cannot restore %s: a read-back register is never restored.\n", name.c_str());
    return -1;
  }
  if (!dump.present[item->index]) {
    printf("Cannot restore %s: not in %s.\n", name.c_str(), printable_text(dump.path).c_str());
    return -1;
  }
  if (parse_dump_value(entry, dump.texts[item->index], item->words) < 0) {
    printf("Cannot restore %s: \"%s\" is no %s value.\n", name.c_str(),
           printable_text(dump.texts[item->index]).c_str(), reg_type_name(entry->type));
    return -1;
  }
  return 0;
}

// Two chosen registers that cover a common word would each be written, the later one over the
// earlier's words: the device would end with a value nobody confirmed. Returns 0, or -1 after
// printing one line naming both and the words they share.
int check_apart(const modbus_reg_entry* earlier, const modbus_reg_entry* entry) {
  if (earlier == entry) {
    printf("%s is named twice.\n", reg_trimmed_name(entry->name).c_str());
    return -1;
  }
  int first = std::max<int>(earlier->address, entry->address);
  int last = std::min(earlier->address + reg_words_of_type(earlier->type),
                      entry->address + reg_words_of_type(entry->type)) -
             1;
  if (first > last) return 0;
  printf("Cannot restore %s and %s together: they share ", reg_trimmed_name(earlier->name).c_str(),
         reg_trimmed_name(entry->name).c_str());
  if (first == last) {
    printf("%d.\n", first);
  } else {
    printf("%d to %d.\n", first, last);
  }
  return -1;
}

// Chooses the registers of RESTORE's tokens and checks them all, printing every refusal. Returns
// 0, or -1 when any was refused.
int check_restore_items(const command_args& args, const dump_file& dump,
                        std::vector<restore_item>* items) {
  std::vector<const modbus_reg_entry*> chosen;
  bool refused = false;
  for (size_t i = 1; i < args.size(); i++) {
    const modbus_reg_entry* entry = find_register(args[i].c_str());
    if (entry == nullptr) {
      refused = true;
      continue;
    }
    bool apart = true;
    for (const modbus_reg_entry* earlier : chosen)
      apart = check_apart(earlier, entry) == 0 && apart;
    // A register named twice is checked and refused once.
    bool again = std::find(chosen.begin(), chosen.end(), entry) != chosen.end();
    chosen.push_back(entry);
    restore_item item{};
    if (!again && check_restore_item(entry, dump, &item) < 0) apart = false;
    if (!apart) {
      refused = true;
    } else {
      items->push_back(item);
    }
  }
  return refused ? -1 : 0;
}

}  // namespace

command_status cmd_compare(const command_args& args) {
  dump_file dump;
  if (read_dump_file(args[0].c_str(), &dump) < 0) return CMD_FAILED;
  std::vector<std::string> patterns;
  for (size_t i = 1; i < args.size(); i++) patterns.push_back(upper_cased(args[i]));
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
      print_texts(entry, "file:", dump.texts[i], "device:", device_text);
      differ++;
    }
  }
  print_unknown_names(dump);
  if (compared == 1) {
    printf("Compared 1 register: %d differ, %d not in the file, %d not read.\n", differ, missing,
           not_read);
  } else {
    printf("Compared %d registers: %d differ, %d not in the file, %d not read.\n", compared, differ,
           missing, not_read);
  }
  // As diff says: a script learns from the status whether the device matches the file. A file
  // that holds none of the registers compared nothing, which is no match either (an empty or
  // wrong golden file must not pass a fleet check).
  return differ > 0 || not_read > 0 || missing == compared ? CMD_FAILED : CMD_OK;
}

command_status cmd_restore(const command_args& args) {
  // The table row has made sure of the file name and one to RESTORE_MAX_REGISTERS registers.
  dump_file dump;
  if (read_dump_file(args[0].c_str(), &dump) < 0) return CMD_FAILED;

  // Every register is checked, and every refusal shown, before any is read: a typo in the list
  // never restores half of it.
  std::vector<restore_item> items;
  if (check_restore_items(args, dump, &items) < 0) {
    printf("Nothing restored.\n");
    return CMD_FAILED;
  }

  std::vector<entry_read> reads;
  for (const restore_item& item : items) reads.push_back({item.entry});
  if (read_entries(&reads) < 0) return CMD_FAILED;
  std::vector<restore_item*> changes;
  for (size_t k = 0; k < items.size(); k++) {
    restore_item& item = items[k];
    memcpy(item.device_words, reads[k].words,
           sizeof(uint16_t) * static_cast<size_t>(reg_words_of_type(item.entry->type)));
    if (dump_text_of(reads[k], &item.device_text) < 0) {
      printf("Error read %s\n", item.entry->name);
      printf("Nothing restored.\n");
      return CMD_FAILED;
    }
    // Equal texts are equal values as far as the file can tell: a float that only rounds to the
    // file's six digits is left as it is.
    if (item.device_text == dump.texts[item.index]) {
      printf("%s: unchanged.\n", reg_trimmed_name(item.entry->name).c_str());
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
  if (changes.size() == 1) {
    snprintf(question, sizeof question, "Restore 1 register? (y/n) ");
  } else {
    snprintf(question, sizeof question, "Restore %d registers? (y/n) ",
             static_cast<int>(changes.size()));
  }
  yes_no_answer answer = ask_yes_no(question, 1, OTHER_IS_NO);
  if (answer == ANSWER_STOPPED) return CMD_FAILED;
  if (answer != ANSWER_YES) {
    msg_restore_cancelled();
    print_unknown_names(dump);
    return answer == ANSWER_NO ? CMD_DECLINED : CMD_FAILED;
  }

  int failed = 0;
  for (const restore_item* item : changes) {
    int words = reg_words_of_type(item->entry->type);
    std::string name = reg_trimmed_name(item->entry->name);
    request_result result = link_write(item->entry->address, words, item->words);
    write_outcome outcome = link_last_write_outcome();
    // The stop came before this write went out: nothing more is put back, nothing is recorded.
    if (result == REQUEST_STOPPED && outcome != WRITE_UNKNOWN) return CMD_FAILED;
    // A table put back is a calibration like a SEND: it is recorded however the write ended.
    if (item->entry->type == SET_CALIB || item->entry->type == READ_CALIB)
      calib_history_record_restore(item->entry, item->device_words, item->words, dump.path.c_str(),
                                   outcome);
    if (result == REQUEST_STOPPED) return CMD_FAILED;
    if (result != REQUEST_SERVED) {
      printf("%s: ", name.c_str());
      msg_error_write();
      failed++;
    } else if (words == 1) {
      printf("%s: Write 1 word OK\n", name.c_str());
    } else {
      printf("%s: Write %d words OK\n", name.c_str(), words);
    }
  }
  print_unknown_names(dump);
  return failed > 0 ? CMD_FAILED : CMD_OK;
}
