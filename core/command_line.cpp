#include "core/command_line.h"

#include <cstdio>
#include <cstring>

namespace {

// Exit status of a command line the tool does not understand (as getopt-based tools use).
constexpr int STATUS_BAD_USAGE = 2;

const char* const usage_lines[] = {
    "Usage: veltrona_tool [--help | --version]",
    "",
    "Calibration and Chat utility for Veltrona modulator.",
    "",
    "Talks to the modulator over Modbus TCP: reads and writes its registers by address or name,",
    "shows its status and interlocks, requests device states, dumps its registers to a file,",
    "replays startup register writes and runs guided calibrations of its calibration tables.",
    "Commands are read line by line from standard input; type HELP at the prompt for the list.",
    "",
    "Options:",
    "  --help     print this text and exit",
    "  --version  print the name and version and exit",
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
    "",
    "Environment:",
    "  NO_COLOR   when set and not empty, the output carries no colour escape sequences",
    "",
    "Exit status:",
    "  0    normal end, also after a failed connection or Ctrl-C",
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

}  // namespace

int command_line_handle(int argc, char** argv) {
  if (argc < 2) return -1;
  // Every argument must be one of the two options; the first one then decides.
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--help") != 0 && strcmp(argv[i], "--version") != 0) {
      fprintf(stderr, "veltrona_tool: unknown argument '%s'; try 'veltrona_tool --help'\n",
              argv[i]);
      return STATUS_BAD_USAGE;
    }
  }
  int status = strcmp(argv[1], "--help") == 0 ? print_usage() : print_version();
  fflush(stdout);
  return status;
}
