#include "console/watch.h"

#include <strings.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console/watch_csv.h"
#include "core/input.h"
#include "core/shared_messages.h"
#include "link/link.h"
#include "link/planned_reads.h"
#include "registers/catalogue.h"
#include "registers/register_lookup.h"
#include "registers/values.h"

namespace {

// Shown instead of a value whose read failed.
const char FAILED_READ_MARK[] = "----";

// The time and eight registers of up to 63 characters, each with a value of at most
// MAX_SCALAR_TEXT characters and its separators.
constexpr size_t WATCH_LINE_SIZE = 16 + WATCH_MAX_REGISTERS * (64 + MAX_SCALAR_TEXT + 4);

bool watchable(int32_t type) { return type == FLOAT || type == WORD || type == DWORD; }

enum wait_outcome {
  WAIT_NEXT_SECOND,  // the wall clock has left the sampled second; no input came
  WAIT_INPUT,        // input is waiting: a key, a line, or end of input
  WAIT_END,          // Ctrl-C, or the descriptor can't be watched: end without touching input
};

// Waits at most timeout_ms for input or the stop; WAIT_NEXT_SECOND when neither came. Keys typed
// while the tool was stopped (Ctrl-Z) are dropped, not taken as the key that ends the watch.
wait_outcome look_at_input(int timeout_ms, key_mode* mode) {
  mode->resumed();
  if (stop_if_output_lost()) return WAIT_END;
  switch (wait_for_input_ms(timeout_ms)) {
    case INPUT_READY:
      if (mode->resumed()) break;
      return WAIT_INPUT;
    case INPUT_STOPPED:
    case INPUT_FAILED:  // the console's next read reports what is wrong with the input
      return WAIT_END;
    case INPUT_TIMEOUT:
      break;
  }
  return WAIT_NEXT_SECOND;
}

// Waits until the wall clock leaves `second`, input is waiting or the stop is requested. Input is
// looked at even when the sample has already run past its second (a slow device). The test is
// "another second" rather than "a later second", so that setting the clock back does not stall
// the watch.
wait_outcome wait_next_second(time_t second, key_mode* mode) {
  for (;;) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    int left_ms =
        now.tv_sec != second ? 0 : static_cast<int>((1000000000L - now.tv_nsec) / 1000000) + 1;
    wait_outcome outcome = look_at_input(left_ms, mode);
    if (outcome != WAIT_NEXT_SECOND || left_ms == 0) return outcome;
  }
}

// Reads every register once and prints one line stamped with the second of `started`; with a
// record file, appends the sample's row too, stamped with `started` itself. A sample whose reads
// the stop cut short is neither printed nor recorded: they would only show markers. With
// look_between, input is looked at before each request after the first, so that a slow device
// (each request waiting for its time-out) keeps no key or line waiting for the whole sample: the
// sample is then dropped, neither printed nor recorded. Returns WAIT_NEXT_SECOND after a whole
// sample, else what ended it.
wait_outcome print_sample(const timespec& started, const modbus_reg_entry* const* entries,
                          int count, bool look_between, key_mode* mode, watch_csv_file* record) {
  char line[WATCH_LINE_SIZE];
  std::vector<std::string> row = {watch_csv_time(started)};
  tm local;
  localtime_r(&started.tv_sec, &local);
  size_t used = strftime(line, sizeof line, "%H:%M:%S", &local);
  // One request per block of adjacent registers (link/planned_reads.h).
  std::vector<entry_read> reads;
  for (int i = 0; i < count; i++) reads.push_back({entries[i]});
  wait_outcome interrupted = WAIT_END;
  if (read_entries(&reads, [&](int) {
        interrupted = look_between ? look_at_input(0, mode) : WAIT_NEXT_SECOND;
        return interrupted == WAIT_NEXT_SECOND;
      }) < 0)
    return interrupted == WAIT_NEXT_SECOND ? WAIT_END : interrupted;
  for (int i = 0; i < count; i++) {
    char value[MAX_SCALAR_TEXT];
    if (reads[i].result != REQUEST_SERVED) {
      snprintf(value, sizeof value, "%s", FAILED_READ_MARK);
      row.push_back(watch_csv_value(entries[i], nullptr));
    } else {
      format_scalar_value(entries[i], reads[i].words, value, sizeof value);
      row.push_back(watch_csv_value(entries[i], reads[i].words));
    }
    int n = snprintf(line + used, sizeof line - used, "  %.*s=%s",
                     reg_name_length(entries[i]->name), entries[i]->name, value);
    // The line has room for eight registers of the longest name and value.
    if (n < 0 || static_cast<size_t>(n) >= sizeof line - used) break;
    used += static_cast<size_t>(n);
  }
  printf("%s\n", line);
  fflush(stdout);
  if (record->fd >= 0) watch_csv_append(record, row);
  return WAIT_NEXT_SECOND;
}

// The tokens of WATCH: the registers, and the record file after -o (any case), which may stand
// anywhere among them. Returns 0, or -1 after printing why the tokens can't be taken.
int split_watch_args(const command_args& args, command_args* registers, std::string* path) {
  for (size_t i = 0; i < args.size(); i++) {
    if (strcasecmp(args[i].c_str(), "-o") != 0) {
      registers->push_back(args[i]);
      continue;
    }
    if (i + 1 == args.size()) {
      printf("Missing file name after -o.\n");
      return -1;
    }
    if (!path->empty()) {
      printf("Only one -o file per watch.\n");
      return -1;
    }
    *path = args[++i];
  }
  if (registers->empty()) {
    msg_missing_address();
    return -1;
  }
  return 0;
}

}  // namespace

command_status cmd_watch(const command_args& all_args) {
  command_args args;
  std::string record_path;
  // The table row has refused more than WATCH_MAX_REGISTERS registers.
  if (split_watch_args(all_args, &args, &record_path) < 0) return CMD_FAILED;
  int count = static_cast<int>(args.size());

  std::vector<const modbus_reg_entry*> entries(args.size());
  for (int i = 0; i < count; i++) {
    entries[i] = find_register(args[i].c_str());
    if (!entries[i]) return CMD_FAILED;
    if (!watchable(entries[i]->type)) {
      printf("Cannot watch %s (%s): FLOAT, WORD and DWORD registers only.\n", entries[i]->name,
             reg_type_name(entries[i]->type));
      return CMD_FAILED;
    }
  }
  watch_csv_file record;
  if (!record_path.empty()) {
    if (watch_csv_open(record_path, watch_csv_header(entries.data(), count), &record) < 0)
      return CMD_FAILED;
  }
  for (int i = 0; i < count; i++) print_register_header(entries[i]);
  if (record.fd >= 0) printf("Recording to %s.\n", record_path.c_str());

  bool at_terminal = isatty(STDIN_FILENO);
  if (at_terminal) printf("Press any key to end the watch.\n");
  fflush(stdout);

  key_mode mode;
  // Input that was waiting before the watch began (a script that does not pause) ends it after
  // one whole sample; input that comes later ends it between two reads of a sample.
  bool look_between = !input_ready() && wait_for_input_ms(0) == INPUT_TIMEOUT;
  for (;;) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    wait_outcome outcome = print_sample(now, entries.data(), count, look_between, &mode, &record);
    if (outcome == WAIT_NEXT_SECOND) outcome = wait_next_second(now.tv_sec, &mode);
    if (outcome == WAIT_NEXT_SECOND) continue;
    if (outcome == WAIT_INPUT && at_terminal) drop_key();
    break;
  }
  // Reads that failed are in the record as empty fields; a record that stopped is a failure.
  bool record_lost = record.failed;
  watch_csv_close(&record);
  return record_lost ? CMD_FAILED : CMD_OK;
}
