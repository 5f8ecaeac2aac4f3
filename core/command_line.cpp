#include "core/command_line.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/journal.h"

namespace {

// Exit status of a command line the tool does not understand (as getopt-based tools use).
constexpr int STATUS_BAD_USAGE = 2;
// Exit status when the text asked for could not be written (a full disk, say).
constexpr int STATUS_WRITE_ERROR = 1;

const char* const usage_lines[] = {
    "Usage: veltrona_tool [-e | --exit-on-error | --help | --version]",
    "",
    "Calibration and Chat utility for Veltrona modulator.",
    "",
    "Talks to the modulator over Modbus TCP: reads and writes its registers by address or name,",
    "shows its status and interlocks, requests device states, dumps its registers to a file,",
    "replays startup register writes and runs guided calibrations of its calibration tables.",
    "Commands are read line by line from standard input; type HELP at the prompt for the list.",
    "A script can be given on standard input: veltrona_tool -e < setup.txt",
    "",
    "Options:",
    "  -e, --exit-on-error",
    "             end right after the first command that fails (a failed device request, invalid",
    "             input, a refusal, an unknown command), as at end of input, with exit status 1;",
    "             likewise when the connection or the login at start fails. An answer of no to a",
    "             question is not a failure",
    "  --help     print this text and exit",
    "  --version  print the name and version and exit",
    "  --no-journal",
    "             send nothing to the host's journal in this run (the write log and the",
    "             calibration records are kept as always)",
    "",
    "Files:",
    "  veltrona_tool.conf",
    "      the settings (modulator address and port, calibration definitions, interlock names,",
    "      startup registers), read from the working directory at start; when it is missing",
    "      the defaults are used",
    "  ~/.veltrona_tool_history",
    "      command history of sessions at a terminal",
    "  $XDG_STATE_HOME/veltrona_tool/writes.log (~/.local/state/veltrona_tool/writes.log when",
    "  XDG_STATE_HOME is not set)",
    "      one line for every register write sent to the device",
    "  $XDG_STATE_HOME/veltrona_tool/calibrations.jsonl (in ~/.local/state likewise)",
    "      one JSON record for every calibration table sent, as found and as left",
    "  the host's journal (journalctl SYSLOG_IDENTIFIER=veltrona_tool)",
    "      an entry for every register write and every calibration record, when a journal runs",
    "",
    "Environment:",
    "  NO_COLOR   when set and not empty, the output carries no colour escape sequences",
    "  VELTRONA_TOOL_NO_JOURNAL",
    "             when set and not empty, nothing is sent to the host's journal (as --no-journal)",
    "",
    "Exit status:",
    "  0    normal end, also after Ctrl-C, and without -e after a failed command or connection",
    "  1    with -e: a command failed, or the connection or the login at start failed;",
    "       also when the text of --help or --version could not be written",
    "  2    bad usage: an unknown argument",
    "  255  the configuration could not be loaded or the signal handler not installed",
};

int print_usage() {
  for (const char* line : usage_lines) printf("%s\n", line);
  return 0;
}

int print_version() {
  printf("veltrona_tool %s\n", VT_VERSION);
  return 0;
}

// An argument as it may be shown on a terminal: bytes other than printable ASCII, which could
// carry escape sequences, and the backslash itself as C escapes.
std::string shown_argument(const char* arg) {
  std::string shown;
  for (const char* p = arg; *p; p++) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '\\') {
      shown += "\\\\";
    } else if (c >= 0x20 && c < 0x7F) {
      shown += static_cast<char>(c);
    } else {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    }
  }
  return shown;
}

// The text is in stdout's buffer, so a full disk shows only now. Returns status,
// or STATUS_WRITE_ERROR after saying so on standard error.
int flush_output(int status) {
  errno = 0;
  if (fflush(stdout) == 0 && !ferror(stdout)) return status;
  fprintf(stderr, "veltrona_tool: write error: %s\n", strerror(errno != 0 ? errno : EIO));
  return STATUS_WRITE_ERROR;
}

}  // namespace

int command_line_handle(int argc, char** argv, bool* exit_on_error_given) {
  // Every argument must be one of the options; the first of --help and --version then decides.
  const char* answer = nullptr;
  bool exit_on_error = false;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "-e") == 0 || strcmp(argv[i], "--exit-on-error") == 0) {
      exit_on_error = true;
    } else if (strcmp(argv[i], "--no-journal") == 0) {
      journal_turn_off();
    } else if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "--version") == 0) {
      if (!answer) answer = argv[i];
    } else {
      fprintf(stderr, "veltrona_tool: unknown argument '%s'; try 'veltrona_tool --help'\n",
              shown_argument(argv[i]).c_str());
      return STATUS_BAD_USAGE;
    }
  }
  if (!answer) {
    *exit_on_error_given = exit_on_error;
    return -1;
  }
  return flush_output(strcmp(answer, "--help") == 0 ? print_usage() : print_version());
}
