// veltrona_sim: a Modbus TCP stand-in for the modulator, for tests and demos.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/control.h"
#include "sim/server.h"

namespace {

const char* const help_lines[] = {
    "Usage: veltrona_sim [--port N] [--port-file PATH] [--control PATH|-] [--verbose]",
    "",
    "A simulated modulator: a Modbus TCP server on 127.0.0.1 serving holding registers",
    "0 to 6399 with plausible start values, to any number of clients at once.",
    "",
    "Options:",
    "  --port N          TCP port on 127.0.0.1; 0 (the default) picks a free port",
    "  --port-file PATH  write the port number there once the simulator is ready",
    "                    (written to PATH.tmp and renamed; removed at exit)",
    "  --control PATH    accept control clients on a Unix stream socket at PATH",
    "                    (removed at exit)",
    "  --control -       read control commands from standard input and reply on",
    "                    standard output; end of input ends the simulator",
    "  --verbose         log connections and requests to standard error",
    "  --help            show this text",
    "",
    "The simulator stops on SIGINT, SIGTERM or the control command QUIT.",
    "",
    "Device behaviour on client writes:",
    "  5120 MB_STATE_SET   0, 3, 6 or 9 moves 5480 MB_STATE_READ to that state",
    "  5121 MB_LOG_IN      code 40716253 sets 5559 MB_ACCESS_LEVEL to 1, code 59283746",
    "                      to 0 (eight ASCII digits, low byte first, then two NUL bytes);",
    "                      the five words read back as zeros",
    "  5140 MB_RESET       1 clears the interlock words 5532 to 5537; reads back 0",
    "  5453 MB_CALIB_SEQUENCE_ID holds a calibration table address; 5457",
    "                      MB_CALIB_SEQUENCE_DAC_ADC then follows that calibration's",
    "                      source register: count = round(gain * float value), 0..65535",
    "",
    "Calibration laws (table address <- source register, gain):",
};

const char* const control_lines[] = {
    "",
    "Control commands, one per line; every reply ends with a line OK or ERR <reason>.",
    "Words are case-insensitive, numbers decimal or 0x hexadecimal:",
};

void print_help() {
  for (const char* line : help_lines) std::printf("%s\n", line);
  for (const sim_calib_pair& pair : sim_calib_pairs()) {
    std::printf("  %d <- %d, %g\n", pair.calib_address, pair.source_address, pair.gain);
  }
  for (const char* line : control_lines) std::printf("%s\n", line);
  std::fputs(sim_control_help().c_str(), stdout);
}

int usage_error(const char* reason, const char* argument) {
  std::fprintf(stderr, "veltrona_sim: %s %s\n", reason, argument);
  std::fprintf(stderr, "Try 'veltrona_sim --help'.\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  sim_options options;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    bool has_value = i + 1 < argc;
    if (option == "--help" || option == "-h") {
      print_help();
      return 0;
    } else if (option == "--verbose") {
      options.verbose = true;
    } else if (option == "--port" && has_value) {
      char* end = nullptr;
      long port = std::strtol(argv[++i], &end, 10);
      if (*argv[i] == '\0' || *end != '\0' || port < 0 || port > 65535) {
        return usage_error("bad port", argv[i]);
      }
      options.port = static_cast<int>(port);
    } else if (option == "--port-file" && has_value) {
      options.port_file = argv[++i];
    } else if (option == "--control" && has_value) {
      if (std::strcmp(argv[++i], "-") == 0) {
        options.control_stdin = true;
      } else {
        options.control_path = argv[i];
      }
    } else {
      return usage_error(
          has_value || option.rfind("--", 0) != 0 ? "unknown option" : "missing value for",
          argv[i]);
    }
  }
  return sim_serve(options);
}
