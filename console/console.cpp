#include "console/console.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "calibration/calibration.h"
#include "console/command_table.h"
#include "console/device_commands.h"
#include "console/line_editor.h"
#include "console/startup.h"
#include "console/tokenizer.h"
#include "core/command_line.h"
#include "core/input.h"
#include "core/journal.h"
#include "core/lifecycle.h"
#include "core/shared_messages.h"
#include "link/link.h"
#include "registers/values.h"

command_status last_command_status = CMD_OK;

namespace {

// The command line, cut into tokens in place. Console thread only.
char line_buffer[512];

void format_prompt(char* prompt, size_t size) {
  if (quiet_output.load()) {
    prompt[0] = '\0';
  } else if (calib_session_running()) {
    snprintf(prompt, size, "[%s,%d]>> ", work_cal[calib_session.iSelected - 1].sMsg,
             calib_session.iPoint + 1);
  } else {
    snprintf(prompt, size, ">> ");
  }
}

// With --exit-on-error, a failure ends the session the way end of input does; the exit status
// then says so. Console thread.
bool fail_script() {
  if (!exit_on_error.load()) return false;
  session_failed.store(true);
  quit_requested.store(1);
  return true;
}

// The one place that decides whether a command's status ends a script. A command cut short by
// Ctrl-C (or another stop) returns failed without having printed a failure: the stop, not the
// command, ends the session then, as it does without -e.
bool ends_script(command_status status) {
  return status == CMD_FAILED && !quit_requested.load() && fail_script();
}

// Under -e, the line a script stopped at, as compilers and psql name a place: source, line
// number and the line as it was read (escaped, as a line may hold terminal control bytes).
void name_failed_line(unsigned number, const char* line) {
  fprintf(stderr, "veltrona_tool: %s:%u: %s\n", shown_argument(input_source_name()).c_str(), number,
          shown_argument(line).c_str());
}

void command_loop() {
  while (!quit_requested.load()) {
    char prompt[80];
    format_prompt(prompt, sizeof(prompt));
    line_read_result got;
    // Input given up after failed reads ends through the plain reader, as end of input does.
    if (line_editor_active() && !stdin_given_up()) {
      got = line_editor_read(prompt, line_buffer, sizeof(line_buffer));
    } else {
      fputs(prompt, stdout);
      fflush(stdout);
      got = read_command_line(line_buffer, sizeof(line_buffer));
    }
    switch (got) {
      case LINE_END:
        quit_requested.store(1);
        return;
      case LINE_INTERRUPTED:
      case LINE_CONTINUED:     // a key read's or an answer's result only; a command line never
      case LINE_NOT_A_NUMBER:  // ends on them
      case LINE_OUT_OF_RANGE:
        continue;
      case LINE_ERROR:
        // Never EINTR, which comes back as LINE_INTERRUPTED.
        printf("Error reading cmd.\n");
        continue;
      case LINE_TOO_LONG:
        printf("Error: command line too long.\n");
        last_command_status = CMD_FAILED;
        if (ends_script(last_command_status)) {
          name_failed_line(input_lines_read(), "(a line too long)");
          return;
        }
        continue;
      case LINE_OK:
        break;
    }
    cut_at_line_end(line_buffer);
    if (is_comment_line(line_buffer)) continue;
    // The line is cut into tokens in place, and answers read after it move the count on.
    unsigned number = input_lines_read();
    char typed[sizeof line_buffer];
    memcpy(typed, line_buffer, sizeof typed);
    last_command_status = run_command_line(line_buffer);
    if (ends_script(last_command_status)) {
      name_failed_line(number, typed);
      return;
    }
  }
}

// What every new connection gets, at start and after RECONNECT: the login with the
// session-start code, then the startup registers. Returns 0, or -1 when either failed (after
// printing it; the startup registers are written after a failed login too).
int start_device_session() {
  int rc = 0;
  if (write_access_code(ACCESS_CODE_LOGIN) < 0) {
    msg_login_fail();
    rc = -1;
  }
  if (startup_apply() < 0) rc = -1;
  return rc;
}

}  // namespace

command_status run_command_line(char* line) {
  char* cursor = line;
  char* word = next_token(&cursor);
  if (!word) return CMD_OK;
  upper_case_in_place(word, static_cast<int>(strlen(word)));
  int code = find_command(word);
  if (code < 0) {
    printf("Error: Unknown command.\n");
    printf("Error parsing cmd.\n");
    return CMD_FAILED;
  }
  // The journal names the command behind each write its handler makes.
  journal_set_command(command_table[code].word);
  return run_command(command_table[code], take_all_tokens(&cursor));
}

void* console_thread_main(void*) {
  calib_console_start();
  if (link_wait_status() == -1) {
    fail_script();
    return nullptr;
  }
  // Ctrl-C while connecting: no login and no startup writes, which would only fail. A script
  // meant to stop at a failure does not run on a device it could not log in to or set up.
  journal_set_command("START");
  if (!quit_requested.load() && start_device_session() < 0 && ends_script(CMD_FAILED)) {
    request_stop();
    return nullptr;
  }
  line_editor_start();
  command_loop();
  line_editor_stop();
  calib_say_left_behind();
  request_stop();
  return nullptr;
}

command_status cmd_reconnect(const command_args&) {
  if (link_reconnect() != 1) return CMD_FAILED;
  // Stopped right after the connection came back: the session start is not begun.
  if (stop_requested()) return CMD_OK;
  return start_device_session() < 0 ? CMD_FAILED : CMD_OK;
}
