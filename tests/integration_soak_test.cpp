// Soak: thousands of random command lines sent to the real tool against the simulator. Lines
// are built from the command table's words, register names, decimal, hexadecimal and
// floating-point numbers, signs, keywords and answers, blanks, tabs, carriage returns, NUL and
// other binary bytes, and short sequences that walk into the calibration menu, a session and the
// interactive editor. Whatever the lines do, the tool must not crash or hang, must write
// nothing to standard error but "Error reading answer." and must still answer HELP at the end.
// In the sanitizer build the tool under test is the sanitized one, so any sanitizer report fails
// the case too.
//
// The generator is seeded, so a failing seed fails again the same way; the failing script is
// kept in /tmp for a rerun by hand.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "console/command_table.h"
#include "console/tokenizer.h"
#include "registers/catalogue.h"
#include "registers/values.h"
#include "tests/console_fixture.h"

namespace {

// Argument words the commands and their questions know.
const char* const keywords[] = {
    "FLOAT", "WORD", "DWORD", "RAW",    "short", "long", "OFF", "STANDBY", "HV", "TRIG",
    "ADD",   "DEL",  "PRINT", "ACTUAL", "DAC",   "ADC",  "-i",  "-I",      "y",  "n",
    "Y",     "N",    "yes",   "no",     "A",     "D",    "V",   "v",       "0",  "16",
};

// The first command word of a line as the console sees it: up to the first NUL byte, cut at
// CR or LF, first blank-separated token, upper-cased. Empty when the line has no token or is
// too long for the console, which drops such a line whole.
std::string command_token(const std::string& line) {
  if (line.size() >= 511) return "";
  std::vector<char> buf(line.begin(), line.end());
  buf.push_back('\0');
  buf[strcspn(buf.data(), "\r\n")] = '\0';
  char* cursor = buf.data();
  char* word = next_token(&cursor);
  if (word == nullptr) return "";
  upper_case_in_place(word, static_cast<int>(strlen(word)));
  return word;
}

// The words with a blank between each two. A braced list is evaluated from left to right, so
// the random parts of a line come in the same order with every compiler.
std::string join(std::initializer_list<std::string> words) {
  std::string line;
  for (const std::string& w : words) {
    if (!line.empty() && !w.empty()) line += " ";
    line += w;
  }
  return line;
}

// Random lines of a fixed seed. Every part of a line takes its random numbers in a sequenced
// order (statements or braced lists, never the operands of one +), so a seed gives the same
// script with every compiler.
class soak_script {
 public:
  explicit soak_script(uint32_t seed) : random_(seed) {}

  // The lines of the script, each with its line end.
  std::vector<std::string> build(int lines) {
    std::vector<std::string> script;
    while (static_cast<int>(script.size()) < lines) {
      for (const std::string& line : chunk()) add(&script, line);
    }
    return script;
  }

 private:
  uint32_t below(uint32_t n) { return random_() % n; }
  bool chance(int percent) { return below(100) < static_cast<uint32_t>(percent); }
  template <typename T, size_t N>
  const T& one_of(const T (&items)[N]) {
    return items[below(N)];
  }

  // Adds line (without its line end) unless the console would take it for Q, which ends the
  // tool. DUMP gets a harmless file name in the scratch directory. A line that runs EDIT is
  // followed by keys and by "xq": in the interactive editor x is ignored and q leaves it, and as
  // a command line "XQ" is only an unknown command.
  void add(std::vector<std::string>* script, std::string line) {
    std::string word = command_token(line);
    if (word.starts_with("Q")) return;
    if (word.starts_with("DUMP")) line = dump_line(line);
    script->push_back(line + "\n");
    if (word.starts_with("EDIT")) {
      if (chance(60)) script->push_back(keys() + "\n");
      script->push_back("xq\n");
    }
  }

  std::string dump_line(const std::string& line) {
    std::string word = line.substr(0, line.find_first_of(" ", line.find_first_not_of(' ')));
    switch (below(4)) {
      case 0:
        return word;
      case 1:
        return word + " no_such_dir/dump.txt";
      default:
        return join({word, "dump_" + std::to_string(below(5)) + ".txt", chance(30) ? "extra" : ""});
    }
  }

  std::string keys() {
    const char key_set[] = "vVrRx \t";
    std::string k;
    for (uint32_t i = 0, n = 1 + below(8); i < n; i++) k += key_set[below(sizeof(key_set) - 1)];
    return k;
  }

  // One random line, or a short sequence that leads into a question or a mode.
  std::vector<std::string> chunk() {
    uint32_t kind = below(100);
    if (kind < 62) return {command_line()};
    if (kind < 70) return {answer()};
    if (kind < 78) return {binary_line()};
    if (kind < 81) return {blank_line()};
    if (kind < 83) return {long_line()};
    return sequence();
  }

  std::string command_word() {
    std::string w = command_table[below(static_cast<uint32_t>(command_table.size()))].word;
    switch (below(10)) {
      case 0:
        for (char& c : w)
          if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        break;
      case 1:
        for (char& c : w)
          if (c >= 'A' && c <= 'Z' && chance(50)) c = static_cast<char>(c - 'A' + 'a');
        break;
      case 2:
        w += token();  // the console matches the word at the start of the token
        break;
      case 3:
        w.resize(1 + below(static_cast<uint32_t>(w.size())));  // a short form matches nothing
        break;
      default:
        break;
    }
    return w;
  }

  std::string separator() {
    switch (below(12)) {
      case 0:
        return "\t";  // not a separator: joins the tokens
      case 1:
        return "   ";
      case 2:
        return " \t ";
      default:
        return " ";
    }
  }

  std::string register_name() {
    std::string name = modbus_reg_table[below(MODBUS_REG_COUNT)].name;
    if (chance(40)) {
      size_t start = below(static_cast<uint32_t>(name.size()));
      name = name.substr(start, 1 + below(static_cast<uint32_t>(name.size() - start)));
    }
    if (chance(30))
      for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return name;
  }

  std::string sign() {
    uint32_t s = below(10);
    return s == 0 ? "-" : s == 1 ? "+" : "";
  }

  std::string decimal() {
    uint64_t v;
    switch (below(4)) {
      case 0:
        v = 5100 + below(1150);  // around the register addresses
        break;
      case 1:
        v = below(40);
        break;
      case 2:
        v = random_();
        break;
      default:
        v = (static_cast<uint64_t>(random_()) << 32) | random_();  // beyond 32 bits
        break;
    }
    return sign() + std::to_string(v);
  }

  std::string hexadecimal() {
    const char digits[] = "0123456789abcdefABCDEF";
    std::string h = sign();
    h += chance(50) ? "0x" : "0X";
    for (uint32_t i = 0, n = below(10); i < n; i++) h += digits[below(sizeof(digits) - 1)];
    return h;
  }

  std::string floating() {
    const char* const special[] = {"nan", "inf", "-inf", "1e39", "-1e-50", ".", "1.5V", "0.93"};
    if (chance(20)) return one_of(special);
    std::string f = sign();
    f += std::to_string(below(100000));
    if (chance(70)) f += "." + std::to_string(below(1000));
    if (chance(30)) {
      f += chance(50) ? "e-" : "e";
      f += std::to_string(below(45));
    }
    return f;
  }

  std::string binary_token() {
    std::string t;
    for (uint32_t i = 0, n = 1 + below(8); i < n; i++) {
      char c = static_cast<char>(1 + below(255));
      t += c == '\n' ? '\x7f' : c;
    }
    return t;
  }

  std::string token() {
    switch (below(12)) {
      case 0:
      case 1:
        return register_name();
      case 2:
      case 3:
        return decimal();
      case 4:
        return hexadecimal();
      case 5:
        return floating();
      case 6:
      case 7:
        return one_of(keywords);
      case 8:
        return sign();
      case 9:
        return binary_token();
      default:
        return std::to_string(below(17));
    }
  }

  std::string command_line() {
    std::string line = chance(10) ? std::string(1 + below(3), ' ') : "";
    line += command_word();
    for (uint32_t i = 0, n = below(6); i < n; i++) {
      line += separator();
      line += token();
    }
    if (chance(10)) line += std::string(1 + below(3), ' ');
    if (chance(5)) line += "\r";
    if (chance(3)) line.insert(below(static_cast<uint32_t>(line.size()) + 1), 1, '\0');
    return line;
  }

  std::string answer() {
    const char* const answers[] = {"y", "n", "Y",  "no", "yes", "",     "A",    "D", "V",    "1",
                                   "2", "0", "17", "-1", "abc", "5288", "5126", "3", "65535"};
    return one_of(answers);
  }

  std::string binary_line() {
    std::string line;
    for (uint32_t i = 0, n = 1 + below(80); i < n; i++) {
      char c = static_cast<char>(below(256));
      line += c == '\n' ? '\0' : c;
    }
    return line;
  }

  std::string blank_line() {
    const char* const blanks[] = {"", " ", "   ", "\t", " \t \t", "\r", " \r"};
    return one_of(blanks);
  }

  // Longer than the console's line: dropped whole as a command, cut as an answer.
  std::string long_line() {
    std::string line;
    while (line.size() < 520 + below(400)) line += command_line() + " ";
    return line;
  }

  // Sequences that reach the questions and modes a single random line rarely reaches.
  std::vector<std::string> sequence() {
    switch (below(7)) {
      case 0:
        return {"STATE 3", "CALIBRATE", "1", "SET " + floating(), "DAC-ADC", "ACTUAL " + floating(),
                "ADD",     "PRINT"};
      case 1:
        return {"CALIBRATE",
                "A",
                "soak " + register_name(),
                std::to_string(below(3)),
                std::to_string(5120 + below(1100)),
                std::to_string(5120 + below(1100)),
                std::to_string(5120 + below(1100)),
                std::to_string(below(10)),
                std::to_string(below(70000))};
      case 2:
        return {"CALIBRATE", one_of({"D", "V"}), std::to_string(below(18)), answer()};
      case 3:
        return {join({"WRITE", register_name(), token()}), answer(), answer(), answer()};
      case 4:
        return {join({"STARTUP", chance(50) ? "ADD" : "DEL", decimal(), token()}), "STARTUP"};
      case 5:
        return {"STATE 3", "CALIBRATE", "1", "EDIT " + std::to_string(1 + below(5)) + " -i"};
      default:
        return {"SEND", answer(), "STEP " + decimal(), "DEL " + std::to_string(below(7)),
                join({"EDIT", std::to_string(below(7)), one_of(keywords), token()})};
    }
  }

  std::mt19937 random_;
};

// The tool's last words: a prompt, plain or of a calibration session ("[Filament Set,2]>> "),
// and "Exit.".
bool is_last_prompt(const std::string& rest) {
  if (rest == ">> Exit.\n") return true;
  const std::string tail = "]>> Exit.\n";
  if (rest.size() < tail.size() + 3 || rest[0] != '[' ||
      rest.compare(rest.size() - tail.size(), tail.size(), tail) != 0)
    return false;
  std::string inside = rest.substr(1, rest.size() - tail.size() - 1);
  size_t n = inside.size();
  return inside.find('\n') == std::string::npos && inside[n - 2] == ',' && inside[n - 1] >= '1' &&
         inside[n - 1] <= '5';
}

class Soak : public ConsoleSession, public ::testing::WithParamInterface<uint32_t> {};

// The HELP text exactly as this build prints it, from a run that only asks for it.
std::string help_text(const std::string& dir, int port) {
  tool_result r = run_tool_batch(dir, "HELP\n");
  std::string head = connect_ok_line(port) + ">> ";
  std::string tail = ">> Exit.\n";
  if (r.status != 0 || r.out.size() < head.size() + tail.size() ||
      r.out.compare(0, head.size(), head) != 0 ||
      r.out.compare(r.out.size() - tail.size(), tail.size(), tail) != 0)
    return "";
  return r.out.substr(head.size(), r.out.size() - head.size() - tail.size());
}

TEST_P(Soak, RandomCommandLinesNeitherCrashNorHangTheTool) {
  const uint32_t seed = GetParam();
  const int lines = 2500;
  std::string help = help_text(dir.path(), sim.port());
  ASSERT_FALSE(help.empty()) << "the tool did not answer a plain HELP";
  ASSERT_EQ(sim.clear_writes(), 0);

  std::string script;
  for (const std::string& line : soak_script(seed).build(lines)) script += line;
  // Answers for a question the last random lines may have left open ("n" is no command and no
  // menu choice), then HELP.
  for (int i = 0; i < 12; i++) script += "n\n";
  script += "HELP\n";

  tool_result r = run(script, 240000);
  bool ok = !r.timed_out && r.status == 0;
  EXPECT_FALSE(r.timed_out) << "seed " << seed;
  EXPECT_EQ(r.status, 0) << "seed " << seed << "\nstderr:\n" << r.err;

  // Standard error holds nothing but the answer readers' end-of-input message.
  size_t start = 0;
  while (start < r.err.size()) {
    size_t end = r.err.find('\n', start);
    std::string line =
        r.err.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (line != "Error reading answer.") {
      ADD_FAILURE() << "seed " << seed << ": unexpected standard error line: " << line
                    << "\nstderr:\n"
                    << r.err;
      ok = false;
      break;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }

  // The output ends with the HELP text, the prompt (plain or of a calibration session) and Exit.
  size_t at = r.out.rfind(help);
  bool answered = at != std::string::npos && is_last_prompt(r.out.substr(at + help.size()));
  EXPECT_TRUE(answered) << "seed " << seed << ": the tool did not answer HELP at the end; "
                        << "its output ends:\n"
                        << r.out.substr(r.out.size() > 2000 ? r.out.size() - 2000 : 0);
  ok = ok && answered;

  if (!ok || HasFailure()) {
    std::string kept = "/tmp/vt_soak_seed_" + std::to_string(seed) + ".in";
    if (write_text_file(kept, script) == 0)
      ADD_FAILURE() << "the script of seed " << seed << " is kept in " << kept;
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, Soak, ::testing::Values(1u, 2u, 3u, 4u));

// Found by the soak: a NUL byte made the console measure an over-long line by strlen, so the
// line's first piece ran and its rest was read as the next command line, here Q.
TEST_F(ConsoleSession, OverLongLineWithANulByteIsDroppedWhole) {
  std::string line = std::string("READ 5120", 9) + '\0';
  line += std::string(511 - line.size(), 'x') + "Q\n";
  tool_result r = run(line + "READ 5120\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Connect to 127.0.0.1:" + std::to_string(sim.port()) +
                       " is OK.\n>> Error: command line too long.\n"
                       ">> MB_STATE_SET (5120, WORD)\n0 (0x0000)\n>> Exit.\n");
  EXPECT_EQ(writes(), std::vector<sim_write>{session_start_login()});
}

}  // namespace
