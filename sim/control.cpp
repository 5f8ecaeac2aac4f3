// Control commands: one table of words with their handlers, one dispatcher. See control.h.
#include "sim/control.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

namespace {

using args_t = std::span<const std::string>;

// A handler gets the arguments after the command word. It appends data lines to reply and
// returns "" on success or the reason of the failure.
using handler_t = std::string (*)(args_t args, sim_state& state, std::string* reply);

struct control_command {
  const char* word;
  const char* usage;
  const char* help;
  handler_t handler;
};

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// A whole token as a number in [low, high], decimal or 0x hexadecimal.
bool parse_number(const std::string& token, long low, long high, long* out) {
  if (token.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long value = std::strtol(token.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || value < low || value > high) return false;
  *out = value;
  return true;
}

bool parse_float(const std::string& token, float* out) {
  if (token.empty()) return false;
  char* end = nullptr;
  float value = std::strtof(token.c_str(), &end);
  if (*end != '\0') return false;
  *out = value;
  return true;
}

// Parses the register range that starts at args[0] and covers count registers.
std::string parse_range(args_t args, long count, long* address) {
  if (args.empty()) return "missing address";
  if (!parse_number(args[0], 0, SIM_REGISTER_COUNT - 1, address)) return "bad address " + args[0];
  if (*address + count > SIM_REGISTER_COUNT) return "range beyond the register file";
  return "";
}

std::string do_set(args_t args, sim_state& state, std::string*) {
  if (args.size() < 2) return "usage: SET addr v1 [v2 ...]";
  long address = 0;
  std::string error = parse_range(args, static_cast<long>(args.size()) - 1, &address);
  if (!error.empty()) return error;
  std::vector<uint16_t> values;
  for (size_t k = 1; k < args.size(); ++k) {
    long v = 0;
    if (!parse_number(args[k], -32768, 65535, &v)) return "bad value " + args[k];
    values.push_back(static_cast<uint16_t>(v));
  }
  std::copy(values.begin(), values.end(), state.device.registers().begin() + address);
  return "";
}

std::string do_setf(args_t args, sim_state& state, std::string*) {
  if (args.size() < 2) return "usage: SETF addr f1 [f2 ...]";
  long address = 0;
  std::string error = parse_range(args, 2 * (static_cast<long>(args.size()) - 1), &address);
  if (!error.empty()) return error;
  std::vector<float> values;
  for (size_t k = 1; k < args.size(); ++k) {
    float v = 0;
    if (!parse_float(args[k], &v)) return "bad value " + args[k];
    values.push_back(v);
  }
  for (size_t k = 0; k < values.size(); ++k) {
    sim_put_float(state.device.registers(), static_cast<int>(address + 2 * k), values[k]);
  }
  return "";
}

// GET and GETF: address and an optional count of values.
std::string parse_get(args_t args, int words_per_value, long* address, long* count) {
  *count = 1;
  if (args.size() > 2) return "too many arguments";
  if (args.size() == 2 && !parse_number(args[1], 1, SIM_REGISTER_COUNT, count)) {
    return "bad count " + args[1];
  }
  return parse_range(args, *count * words_per_value, address);
}

std::string do_get(args_t args, sim_state& state, std::string* reply) {
  long address = 0, count = 0;
  std::string error = parse_get(args, 1, &address, &count);
  if (!error.empty()) return error;
  for (long k = 0; k < count; ++k) {
    if (k > 0) *reply += ' ';
    *reply += std::to_string(state.device.registers()[address + k]);
  }
  *reply += '\n';
  return "";
}

std::string do_getf(args_t args, sim_state& state, std::string* reply) {
  long address = 0, count = 0;
  std::string error = parse_get(args, 2, &address, &count);
  if (!error.empty()) return error;
  for (long k = 0; k < count; ++k) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%g", k > 0 ? " " : "",
                  static_cast<double>(
                      sim_get_float(state.device.registers(), static_cast<int>(address + 2 * k))));
    *reply += text;
  }
  *reply += '\n';
  return "";
}

std::string do_fail(args_t args, sim_state& state, std::string*) {
  if (args.size() < 2 || args.size() > 4) return "usage: FAIL READ|WRITE addr [count [code]]";
  std::string direction = upper(args[0]);
  if (direction != "READ" && direction != "WRITE")
    return "usage: FAIL READ|WRITE addr [count [code]]";
  long address = 0, count = 1, code = 2;
  if (!parse_number(args[1], 0, 65535, &address)) return "bad address " + args[1];
  if (args.size() > 2 && !parse_number(args[2], 1, 65536, &count)) return "bad count " + args[2];
  if (args.size() > 3 && !parse_number(args[3], 1, 255, &code)) return "bad code " + args[3];
  state.device.add_fault({direction == "WRITE", static_cast<int>(address), static_cast<int>(count),
                          static_cast<int>(code)});
  return "";
}

std::string do_clear(args_t args, sim_state& state, std::string*) {
  if (args.size() != 1) return "usage: CLEAR FAILS|WRITES|READS";
  std::string what = upper(args[0]);
  if (what == "FAILS") {
    state.device.clear_faults();
  } else if (what == "WRITES") {
    state.device.clear_writes();
  } else if (what == "READS") {
    state.device.clear_reads();
  } else {
    return "usage: CLEAR FAILS|WRITES|READS";
  }
  return "";
}

std::string do_delay(args_t args, sim_state& state, std::string*) {
  long ms = 0;
  if (args.size() != 1 || !parse_number(args[0], 0, 600000, &ms)) return "usage: DELAY ms";
  state.delay_ms = static_cast<int>(ms);
  return "";
}

std::string do_drop(args_t args, sim_state& state, std::string*) {
  if (!args.empty()) return "usage: DROP";
  state.drop_requested = true;
  return "";
}

std::string do_refuse(args_t args, sim_state& state, std::string*) {
  std::string setting = args.size() == 1 ? upper(args[0]) : "";
  if (setting != "ON" && setting != "OFF") return "usage: REFUSE ON|OFF";
  state.refusing = setting == "ON";
  return "";
}

std::string do_writes(args_t args, sim_state& state, std::string* reply) {
  if (!args.empty()) return "usage: WRITES";
  for (const sim_write& w : state.device.writes()) {
    *reply += std::to_string(w.function) + ' ' + std::to_string(w.address);
    for (uint16_t v : w.values) *reply += ' ' + std::to_string(v);
    *reply += '\n';
  }
  return "";
}

std::string do_reads(args_t args, sim_state& state, std::string* reply) {
  if (!args.empty()) return "usage: READS";
  for (const sim_read& r : state.device.reads()) {
    *reply += std::to_string(r.function) + ' ' + std::to_string(r.address) + ' ' +
              std::to_string(r.count) + '\n';
  }
  return "";
}

std::string do_status(args_t args, sim_state& state, std::string* reply) {
  if (!args.empty()) return "usage: STATUS";
  *reply += "clients " + std::to_string(state.clients) + '\n';
  *reply += "accepted " + std::to_string(state.accepted) + '\n';
  *reply += "requests " + std::to_string(state.requests) + '\n';
  *reply += "delay " + std::to_string(state.delay_ms) + '\n';
  return "";
}

std::string do_ping(args_t, sim_state&, std::string*) { return ""; }

std::string do_quit(args_t, sim_state& state, std::string*) {
  state.quit_requested = true;
  return "";
}

std::string do_help(args_t, sim_state&, std::string* reply) {
  *reply += sim_control_help();
  return "";
}

const control_command commands[] = {
    {"SET", "SET addr v1 [v2 ...]", "store words from addr on (no device reaction)", do_set},
    {"SETF", "SETF addr f1 [f2 ...]", "store floats, two words each, low half first", do_setf},
    {"GET", "GET addr [count]", "one line: the words from addr on, in decimal", do_get},
    {"GETF", "GETF addr [count]", "one line: the floats from addr on", do_getf},
    {"FAIL", "FAIL READ|WRITE addr [count [code]]",
     "reads or writes touching the range get exception code (2)", do_fail},
    {"CLEAR", "CLEAR FAILS|WRITES|READS", "forget the faults, the write log or the read log",
     do_clear},
    {"DELAY", "DELAY ms", "wait ms before every reply to a Modbus request (0: none)", do_delay},
    {"DROP", "DROP", "close every Modbus client connection", do_drop},
    {"REFUSE", "REFUSE ON|OFF", "refuse new Modbus connections (ON) or accept them again (OFF)",
     do_refuse},
    {"WRITES", "WRITES", "one line per write request: function address value ...", do_writes},
    {"READS", "READS", "one line per read request: function address count", do_reads},
    {"STATUS", "STATUS", "lines: clients N, accepted N, requests N, delay N", do_status},
    {"PING", "PING", "do nothing", do_ping},
    {"QUIT", "QUIT", "end the simulator", do_quit},
    {"HELP", "HELP", "this list", do_help},
};

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    size_t start = i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i > start) tokens.push_back(line.substr(start, i - start));
  }
  return tokens;
}

}  // namespace

int sim_control_execute(const std::string& line, sim_state& state, std::string* reply) {
  std::vector<std::string> tokens = split(line);
  // Blank lines and comments are answered too, so that every line a client sends gets a reply.
  if (tokens.empty() || tokens[0][0] == '#') {
    *reply += "OK\n";
    return 0;
  }
  std::string word = upper(tokens[0]);
  for (const control_command& command : commands) {
    if (word != command.word) continue;
    std::string data;
    std::string error = command.handler(args_t(tokens).subspan(1), state, &data);
    if (!error.empty()) {
      *reply += "ERR " + error + '\n';
      return -1;
    }
    *reply += data + "OK\n";
    return 0;
  }
  *reply += "ERR unknown command " + tokens[0] + '\n';
  return -1;
}

std::string sim_control_help() {
  std::string text;
  for (const control_command& command : commands) {
    char line[200];
    std::snprintf(line, sizeof line, "  %-36s %s\n", command.usage, command.help);
    text += line;
  }
  return text;
}
