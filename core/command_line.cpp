#include "core/command_line.h"

#include <arpa/inet.h>
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Exit status when the text asked for could not be written (a full disk, say).
constexpr int STATUS_WRITE_ERROR = 1;

// Codes of the options without a short form, beyond every character.
enum { OPT_CONFIG = 256, OPT_HELP, OPT_VERSION, OPT_MAX_BLOCK, OPT_NO_JOURNAL };

// One option: its long name, its short letter (or an OPT_ code), the name of its value in the
// usage text (nullptr: it takes none) and its lines there. getopt_long and --help both read this
// table, so an option is added in one row.
struct option_row {
  const char* long_name;
  int code;
  const char* value_name;
  const char* help[6];
};

const option_row option_rows[] = {
    {"exit-on-error",
     'e',
     nullptr,
     {"end right after the first command that fails (a failed device request, invalid",
      "input, a refusal, an unknown command, a COMPARE that finds a difference), as at end",
      "of input, with exit status 1, and name the line on standard error as",
      "veltrona_tool: FILE:LINE: <the line>; likewise when the connection or the login at",
      "start fails. An answer of no to a question is not a failure"}},
    {"help", OPT_HELP, nullptr, {"print this text and exit"}},
    {"version", OPT_VERSION, nullptr, {"print the name and version and exit"}},
    {"config",
     OPT_CONFIG,
     "FILE",
     {"load the settings from FILE instead of veltrona_tool.conf, and save them there",
      "(STARTUP, CALIBRATE); a missing FILE means the defaults"}},
    {"host",
     'H',
     "ADDR",
     {"the modulator's IPv4 address for this run, over the settings' sIpAddr; never saved"}},
    {"port",
     'p',
     "PORT",
     {"the modulator's TCP port (1 to 65535) for this run, over the settings' iPort; never",
      "saved"}},
    {"command",
     'c',
     "CMD",
     {"run CMD as a line typed at the prompt; may be given several times, the lines run in",
      "order (answers to questions are the next lines), then the tool ends as at end of",
      "input; standard input is not read"}},
    {"file",
     'f',
     "FILE",
     {"read the lines from FILE instead of standard input (- for standard input)"}},
    {"quiet",
     'q',
     nullptr,
     {"no connection line when the connection succeeds, no prompts, no Exit.; everything",
      "else as without it. A failed connection is said on standard error"}},
    {"max-block",
     OPT_MAX_BLOCK,
     "N",
     {"read at most N registers (1 to 125, 125 when not given) in one request where a",
      "command reads many registers at once (COMPARE, RESTORE, WATCH); 1 reads each",
      "register on its own, for a device or gateway that takes fewer (a register wider",
      "than N is still read whole)"}},
    {"no-journal",
     OPT_NO_JOURNAL,
     nullptr,
     {"send nothing to the host's journal in this run (the write log and the calibration",
      "records are kept as always)"}},
};

const char* const usage_head[] = {
    "Usage: veltrona_tool [OPTION]...",
    "",
    "Calibration and Chat utility for Veltrona modulator.",
    "",
    "Talks to the modulator over Modbus TCP: reads and writes its registers by address or name,",
    "shows its status and interlocks, requests device states, dumps its registers to a file,",
    "replays startup register writes and runs guided calibrations of its calibration tables.",
    "Commands are read line by line from standard input; type HELP at the prompt for the list.",
    "A script can be given on standard input: veltrona_tool -e < setup.txt",
    "One value of one device: veltrona_tool -q -H 192.168.1.20 -c 'READ HV_SET'",
    "",
    "Options:",
};

const char* const usage_tail[] = {
    "",
    "Files:",
    "  veltrona_tool.conf",
    "      the settings (modulator address and port, calibration definitions, interlock names,",
    "      startup registers), read from the working directory at start (another file with",
    "      --config); when it is missing the defaults are used",
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
    "COMPARE fails when a register differs from the file or could not be read, or when the",
    "file holds none of the compared registers, and succeeds when all match: with -e,",
    "'veltrona_tool -q -e -H ADDR <<< \"COMPARE golden.txt\"' ends with 0 when the device",
    "matches golden.txt and with 1 when it does not.",
    "",
    "Exit status:",
    "  0    normal end, also after Ctrl-C, and without -e after a failed command or connection",
    "  1    with -e: a command failed (a COMPARE found a difference, say), or the connection or",
    "       the login at start failed; also when the text of --help or --version could not be",
    "       written",
    "  2    bad usage: an unknown argument, an option without its value, an address, port or",
    "       block size that doesn't parse, a -f FILE that can't be read",
    "  255  the configuration could not be loaded or the signal handler not installed",
};

constexpr int OPTION_COUNT = sizeof option_rows / sizeof option_rows[0];

void print_option(const option_row& row) {
  char names[64];
  if (row.code < OPT_CONFIG) {
    snprintf(names, sizeof names, "-%c, --%s%s%s", row.code, row.long_name,
             row.value_name ? " " : "", row.value_name ? row.value_name : "");
  } else {
    snprintf(names, sizeof names, "--%s%s%s", row.long_name, row.value_name ? " " : "",
             row.value_name ? row.value_name : "");
  }
  // A short name shares its line with the first line of help, as --help does.
  bool shared = strlen(names) < 11;
  if (shared) {
    printf("  %-11s%s\n", names, row.help[0]);
  } else {
    printf("  %s\n", names);
  }
  for (size_t i = shared ? 1 : 0; i < sizeof row.help / sizeof row.help[0]; i++)
    if (row.help[i]) printf("             %s\n", row.help[i]);
}

int print_usage() {
  for (const char* line : usage_head) printf("%s\n", line);
  for (const option_row& row : option_rows) print_option(row);
  for (const char* line : usage_tail) printf("%s\n", line);
  return 0;
}

int print_version() {
  printf("veltrona_tool %s\n", VT_VERSION);
  return 0;
}

// The text is in stdout's buffer, so a full disk shows only now. Returns status,
// or STATUS_WRITE_ERROR after saying so on standard error.
int flush_output(int status) {
  errno = 0;
  if (fflush(stdout) == 0 && !ferror(stdout)) return status;
  fprintf(stderr, "veltrona_tool: write error: %s\n", strerror(errno != 0 ? errno : EIO));
  return STATUS_WRITE_ERROR;
}

// One line naming what was not understood, and why where it is a value.
int bad_usage(const char* what, const char* text, const char* expected = "") {
  fprintf(stderr, "veltrona_tool: %s '%s'%s; try 'veltrona_tool --help'\n", what,
          shown_argument(text).c_str(), expected);
  return STATUS_BAD_USAGE;
}

// A dotted IPv4 address, the only form the device's library connects to.
bool parse_host(const char* text) {
  in_addr address;
  return strlen(text) < 32 && inet_pton(AF_INET, text, &address) == 1;
}

// A decimal port from 1 to 65535, digits only.
bool parse_port(const char* text, int* port) {
  if (text[0] < '0' || text[0] > '9' || strlen(text) > 5) return false;
  for (const char* p = text; *p; p++)
    if (*p < '0' || *p > '9') return false;
  long n = strtol(text, nullptr, 10);
  if (n < 1 || n > 65535) return false;
  *port = static_cast<int>(n);
  return true;
}

// The number after --max-block: 1 to READ_BLOCK_MAX in decimal, digits only.
bool parse_max_block(const char* text, int* max_block) {
  if (*text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  long n = strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || n < 1 || n > READ_BLOCK_MAX) return false;
  *max_block = static_cast<int>(n);
  return true;
}

// Builds getopt_long's tables from option_rows: ':' first, so a missing value is told apart.
void getopt_tables(option* longs, char* shorts) {
  int s = 0;
  shorts[s++] = ':';
  for (int i = 0; i < OPTION_COUNT; i++) {
    const option_row& row = option_rows[i];
    longs[i] = {row.long_name, row.value_name ? required_argument : no_argument, nullptr, row.code};
    if (row.code < OPT_CONFIG) {
      shorts[s++] = static_cast<char>(row.code);
      if (row.value_name) shorts[s++] = ':';
    }
  }
  longs[OPTION_COUNT] = {nullptr, 0, nullptr, 0};
  shorts[s] = '\0';
}

bool is_option_code(int code) {
  for (const option_row& row : option_rows)
    if (row.code == code) return true;
  return false;
}

// The argument getopt_long just refused. A long option has always been passed over (it is
// argv[optind - 1]) and leaves optopt 0 or its own code; an unknown letter is named alone, as it
// may stand inside a bundle that getopt_long has not passed over yet.
std::string refused_argument(char** argv, bool missing_value) {
  const char* word = argv[optind - 1];
  bool long_form = missing_value ? strncmp(word, "--", 2) == 0 : is_option_code(optopt);
  if (optopt == 0 || long_form) return word;
  return std::string("-") + static_cast<char>(optopt);
}

// Takes one option getopt_long returned. Returns -1 to go on, or the exit status.
int take_option(int code, char** argv, command_line_options* options, int* answer) {
  switch (code) {
    case 'e':
      options->exit_on_error = true;
      return -1;
    case 'q':
      options->quiet = true;
      return -1;
    case OPT_CONFIG:
      options->config_file = optarg;
      return -1;
    case 'H':
      if (!parse_host(optarg))
        return bad_usage("bad address", optarg, " (an IPv4 address expected)");
      options->host = optarg;
      return -1;
    case 'p':
      if (!parse_port(optarg, &options->port))
        return bad_usage("bad port", optarg, " (1 to 65535 expected)");
      return -1;
    case OPT_NO_JOURNAL:
      options->no_journal = true;
      return -1;
    case OPT_MAX_BLOCK:
      if (!parse_max_block(optarg, &options->max_block))
        return bad_usage("bad block size", optarg, " (1 to 125 expected)");
      return -1;
    case 'c':
      options->commands.emplace_back(optarg);
      return -1;
    case 'f':
      options->script_file = optarg;
      return -1;
    case OPT_HELP:
    case OPT_VERSION:
      if (*answer == 0) *answer = code;
      return -1;
    case ':':
      return bad_usage("missing value of", refused_argument(argv, true).c_str());
    default:
      return bad_usage("unknown argument", refused_argument(argv, false).c_str());
  }
}

}  // namespace

std::string shown_argument(const char* text) {
  std::string shown;
  for (const char* p = text; *p; p++) {
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

int command_line_handle(int argc, char** argv, command_line_options* options) {
  option longs[OPTION_COUNT + 1];
  char shorts[2 * OPTION_COUNT + 2];
  getopt_tables(longs, shorts);
  *options = command_line_options{};
  opterr = 0;  // the messages are ours
  optind = 0;  // a fresh scan (GNU), also when called again
  int answer = 0;
  for (;;) {
    optopt = 0;
    int code = getopt_long(argc, argv, shorts, longs, nullptr);
    if (code == -1) break;
    if (int status = take_option(code, argv, options, &answer); status >= 0) return status;
  }
  // Every argument must be an option; the first of --help and --version then decides.
  if (optind < argc) return bad_usage("unknown argument", argv[optind]);
  if (options->script_file && !options->commands.empty()) {
    fprintf(stderr,
            "veltrona_tool: -c and -f can't be used together; try 'veltrona_tool --help'\n");
    return STATUS_BAD_USAGE;
  }
  if (answer == 0) return -1;
  return flush_output(answer == OPT_HELP ? print_usage() : print_version());
}
