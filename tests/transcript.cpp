// Reading transcript files; the syntax is described in transcript.h.
#include "tests/transcript.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

const char* const VT_TRANSCRIPT_DIR = VT_TRANSCRIPT_SOURCE_DIR;

namespace {

bool starts_with(std::string_view text, std::string_view head) {
  return text.substr(0, head.size()) == head;
}

// The first word of line (up to a blank) and the rest after one blank.
void split_word(std::string_view line, std::string_view* word, std::string_view* rest) {
  size_t blank = line.find(' ');
  *word = line.substr(0, blank);
  *rest = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
}

bool is_header_word(std::string_view word) {
  return word == "preset" || word == "config" || word == "sim" || word == "args" || word == "put";
}

bool is_trailer_word(std::string_view word) {
  return word == "writes" || starts_with(word, "writes/") || word == "file" || word == "stderr" ||
         word == "status";
}

bool blank_or_comment(std::string_view line) {
  return line.find_first_not_of(' ') == std::string_view::npos || line[0] == '#';
}

bool parse_long(const std::string& token, long low, long high, long* out) {
  if (token.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long value = std::strtol(token.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || value < low || value > high) return false;
  *out = value;
  return true;
}

// One word item: NUMBER or f:FLOAT, then an optional *COUNT.
int parse_item(const std::string& item, std::vector<uint16_t>* values, std::string* why) {
  std::string body = item;
  long copies = 1;
  size_t star = item.find('*');
  if (star != std::string::npos) {
    body = item.substr(0, star);
    if (!parse_long(item.substr(star + 1), 1, 10000, &copies)) {
      *why = "bad count in " + item;
      return -1;
    }
  }
  std::vector<uint16_t> one;
  if (starts_with(body, "f:")) {
    std::string number = body.substr(2);
    char* end = nullptr;
    float value = std::strtof(number.c_str(), &end);
    if (number.empty() || *end != '\0') {
      *why = "bad float " + item;
      return -1;
    }
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    one = {static_cast<uint16_t>(bits & 0xFFFF), static_cast<uint16_t>(bits >> 16)};
  } else {
    long value = 0;
    if (!parse_long(body, 0, 65535, &value)) {
      *why = "bad word " + item;
      return -1;
    }
    one = {static_cast<uint16_t>(value)};
  }
  for (long k = 0; k < copies; k++) values->insert(values->end(), one.begin(), one.end());
  return 0;
}

// A session line: adds to the run's output and input. Returns 0, or -1 with *why.
int parse_session_line(std::string_view line, scripted_run* run, bool* ended, std::string* why) {
  std::string_view shown = line;
  std::string_view typed;
  bool has_input = false;
  size_t prompt_end = std::string_view::npos;
  if (starts_with(line, ">> ")) {
    prompt_end = 3;
  } else if (starts_with(line, "[")) {
    size_t at = line.find("]>> ");
    if (at != std::string_view::npos) prompt_end = at + 4;
  }
  if (prompt_end != std::string_view::npos) {
    shown = line.substr(0, prompt_end);
    typed = line.substr(prompt_end);
    has_input = true;
    if (typed.size() >= 2 && typed.front() == '{' && typed.back() == '}')
      typed = typed.substr(1, typed.size() - 2);
  } else if (!line.empty() && line.back() == '}') {
    size_t open = line.rfind('{');
    if (open != std::string_view::npos) {
      shown = line.substr(0, open);
      typed = line.substr(open + 1, line.size() - open - 2);
      has_input = true;
    }
  }
  if (*ended && has_input) {
    *why = run->interrupted ? "input after ^C" : "input after ^D";
    return -1;
  }
  if (!has_input) {
    run->output.append(shown).append("\n");
    return 0;
  }
  run->output.append(shown);
  if (typed == "^D" || typed == "^C") {
    *ended = true;
    run->interrupted = typed == "^C";
    run->interrupt_at = run->output.size();
  } else {
    run->typed_at.push_back(run->output.size());
    run->input.append(typed).append("\n");
  }
  return 0;
}

int parse_trailer_line(std::string_view line, scripted_case* c, std::string* why) {
  std::string_view word, rest;
  split_word(line, &word, &rest);
  if (starts_with(word, "writes")) {
    sim_write w{16, 0, {}};
    if (word != "writes") {
      std::string fn(word.substr(7));
      long function = 0;
      if (!parse_long(fn, 1, 127, &function)) {
        *why = "bad function in " + std::string(word);
        return -1;
      }
      w.function = static_cast<int>(function);
    }
    if (parse_register_words(rest, &w, why) < 0) return -1;
    c->writes.push_back(w);
  } else if (word == "file") {
    std::string_view name, check;
    split_word(rest, &name, &check);
    if (name.empty()) {
      *why = "file without a name";
      return -1;
    }
    if (check == "unchanged") {
      c->files.push_back({std::string(name), "", true});
    } else if (starts_with(check, "has ")) {
      c->files.push_back({std::string(name), std::string(check.substr(4)), false});
    } else {
      *why = "file NAME has LINE, or file NAME unchanged";
      return -1;
    }
  } else if (word == "stderr") {
    c->err.append(rest).append("\n");
  } else {
    long status = 0;
    if (!parse_long(std::string(rest), 0, 255, &status)) {
      *why = "bad status " + std::string(rest);
      return -1;
    }
    c->status = static_cast<int>(status);
  }
  return 0;
}

int parse_header_line(std::string_view line, scripted_case* c, std::string* why) {
  std::string_view word, rest;
  split_word(line, &word, &rest);
  if (rest.empty()) {
    *why = std::string(word) + " without arguments";
    return -1;
  }
  if (word == "config") {
    c->config.emplace_back(rest);
  } else if (word == "sim") {
    c->sim_commands.emplace_back(rest);
  } else if (word == "args") {
    std::string_view arg;
    while (!rest.empty()) {
      // 'several words' is one argument, as a shell takes it.
      if (rest[0] == '\'') {
        size_t close = rest.find('\'', 1);
        if (close == std::string_view::npos) {
          *why = "unterminated quote in args";
          return -1;
        }
        c->args.emplace_back(rest.substr(1, close - 1));
        rest.remove_prefix(close + 1);
        continue;
      }
      split_word(rest, &arg, &rest);
      if (!arg.empty()) c->args.emplace_back(arg);
    }
  } else if (word == "put") {
    std::string_view name, line;
    split_word(rest, &name, &line);
    c->puts.push_back({std::string(name), std::string(line)});
  } else {
    sim_write w{0, 0, {}};
    if (parse_register_words(rest, &w, why) < 0) return -1;
    c->presets.push_back(w);
  }
  return 0;
}

bool valid_name(std::string_view name) {
  if (name.empty()) return false;
  for (char ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '_') return false;
  return true;
}

// Reads the lines of one case (after its "==" line, blocks expanded); numbers[i] is the file's
// line number of lines[i], with one more after the last.
void parse_case(const std::vector<std::string_view>& lines, const std::vector<int>& numbers,
                scripted_case* c) {
  size_t k = 0;
  std::string why;
  for (; k < lines.size(); k++) {
    std::string_view word, rest;
    split_word(lines[k], &word, &rest);
    if (blank_or_comment(lines[k])) continue;
    if (!is_header_word(word)) break;
    if (parse_header_line(lines[k], c, &why) < 0) break;
  }
  // The trailer: the last lines that start with a trailer word, blank lines between them.
  size_t end = lines.size();
  size_t body_end = end;
  for (size_t j = end; j > k; j--) {
    std::string_view word, rest;
    split_word(lines[j - 1], &word, &rest);
    if (lines[j - 1].empty()) continue;
    if (!is_trailer_word(word)) break;
    body_end = j - 1;
  }
  while (body_end > k && lines[body_end - 1].empty()) body_end--;
  size_t failed_at = 0;
  if (why.empty()) {
    for (size_t j = body_end; j < end && why.empty(); j++)
      if (!lines[j].empty() && parse_trailer_line(lines[j], c, &why) < 0) failed_at = j;
  } else {
    failed_at = k;
  }
  if (why.empty() && k == body_end) {
    why = "no session lines";
    failed_at = k;
  }
  if (why.empty()) {
    c->runs.emplace_back();
    bool ended = false;
    for (size_t j = k; j < body_end && why.empty(); j++) {
      if (lines[j] == "--- restart") {
        c->runs.emplace_back();
        ended = false;
      } else if (parse_session_line(lines[j], &c->runs.back(), &ended, &why) < 0) {
        failed_at = j;
      }
    }
  }
  if (!why.empty())
    c->error = c->where.substr(0, c->where.rfind(':') + 1) + std::to_string(numbers[failed_at]) +
               ": " + why;
}

}  // namespace

int parse_register_words(std::string_view text, sim_write* w, std::string* why) {
  std::vector<std::string> tokens;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string_view::npos) end = text.size();
    if (end > at) tokens.emplace_back(text.substr(at, end - at));
    at = end + 1;
  }
  long address = 0;
  if (tokens.empty() || !parse_long(tokens[0], 0, 65535, &address)) {
    *why = "bad address in: " + std::string(text);
    return -1;
  }
  if (tokens.size() < 2) {
    *why = "no words in: " + std::string(text);
    return -1;
  }
  w->address = static_cast<int>(address);
  w->values.clear();
  for (size_t k = 1; k < tokens.size(); k++)
    if (parse_item(tokens[k], &w->values, why) < 0) return -1;
  return 0;
}

std::vector<scripted_case> parse_transcript(std::string_view text, const std::string& file) {
  std::vector<std::string_view> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  std::vector<scripted_case> cases;
  // Before the first case: comments and "@define NAME" ... "@end" blocks.
  std::map<std::string, std::vector<std::string_view>, std::less<>> blocks;
  size_t k = 0;
  for (; k < lines.size() && !starts_with(lines[k], "== "); k++) {
    if (starts_with(lines[k], "@define ")) {
      std::vector<std::string_view>& block = blocks[std::string(lines[k].substr(8))];
      while (++k < lines.size() && lines[k] != "@end") block.push_back(lines[k]);
    } else if (!blank_or_comment(lines[k])) {
      scripted_case bad;
      bad.name = "file_line_" + std::to_string(k + 1);
      bad.where = file + ":" + std::to_string(k + 1);
      bad.error = bad.where + ": text before the first case";
      cases.push_back(bad);
      break;
    }
  }
  for (; k < lines.size() && !starts_with(lines[k], "== "); k++) {
  }
  while (k < lines.size()) {
    size_t next = k + 1;
    while (next < lines.size() && !starts_with(lines[next], "== ")) next++;
    scripted_case c;
    c.name = std::string(lines[k].substr(3));
    c.where = file + ":" + std::to_string(k + 1);
    // "@NAME" stands for the block's lines, all numbered as the line that names it.
    std::vector<std::string_view> body;
    std::vector<int> numbers;
    for (size_t j = k + 1; j < next; j++) {
      bool named = starts_with(lines[j], "@");
      auto block = named ? blocks.find(lines[j].substr(1)) : blocks.end();
      if (named && block == blocks.end() && c.error.empty())
        c.error = file + ":" + std::to_string(j + 1) + ": no block " + std::string(lines[j]);
      const std::vector<std::string_view> one = {lines[j]};
      const std::vector<std::string_view>& add = block == blocks.end() ? one : block->second;
      body.insert(body.end(), add.begin(), add.end());
      numbers.insert(numbers.end(), add.size(), static_cast<int>(j) + 1);
    }
    numbers.push_back(static_cast<int>(next) + 1);
    if (!valid_name(c.name)) {
      c.error = c.where + ": a case name is letters, digits and '_'";
      c.name = "file_line_" + std::to_string(k + 1);
    } else if (c.error.empty()) {
      parse_case(body, numbers, &c);
    }
    cases.push_back(c);
    k = next;
  }
  return cases;
}

std::string writes_line(const sim_write& w) {
  std::string line = w.function == 16 ? "writes" : "writes/" + std::to_string(w.function);
  line += " " + std::to_string(w.address);
  for (uint16_t v : w.values) {
    char word[16];
    std::snprintf(word, sizeof word, " 0x%04X", v);
    line += word;
  }
  return line;
}

namespace {

// Whether actual is pattern with each "<time>" in it a time HH:MM:SS.
bool fits(std::string_view pattern, std::string_view actual) {
  size_t at = pattern.find("<time>");
  if (at == std::string_view::npos) return pattern == actual;
  if (actual.size() < at + 8 || actual.substr(0, at) != pattern.substr(0, at)) return false;
  for (size_t k = 0; k < 8; k++)
    if (k % 3 == 2 ? actual[at + k] != ':'
                   : !std::isdigit(static_cast<unsigned char>(actual[at + k])))
      return false;
  return fits(pattern.substr(at + 6), actual.substr(at + 8));
}

}  // namespace

std::string match_wildcards(const std::string& expected, const std::string& actual) {
  std::string out;
  std::string_view want = expected, got = actual;
  while (!got.empty()) {
    size_t w_end = want.find('\n'), g_end = got.find('\n');
    std::string_view line = got.substr(0, g_end);
    out += fits(want.substr(0, w_end), line) ? want.substr(0, w_end) : line;
    if (g_end == std::string_view::npos) break;
    out += '\n';
    got.remove_prefix(g_end + 1);
    want.remove_prefix(w_end == std::string_view::npos ? want.size() : w_end + 1);
  }
  return out;
}

std::string first_difference(const std::string& expected, const std::string& actual) {
  if (expected == actual) return "";
  size_t line = 1;
  size_t at = 0;
  for (;;) {
    size_t e_end = expected.find('\n', at);
    size_t a_end = actual.find('\n', at);
    std::string e = expected.substr(at, e_end == std::string::npos ? e_end : e_end - at);
    std::string a = actual.substr(at, a_end == std::string::npos ? a_end : a_end - at);
    if (e != a || e_end != a_end || e_end == std::string::npos) {
      std::string e_shown = at == expected.size() ? "<end>" : e;
      std::string a_shown = at == actual.size() ? "<end>" : a;
      if (e_end == std::string::npos && at < expected.size()) e_shown += "<no line end>";
      if (a_end == std::string::npos && at < actual.size()) a_shown += "<no line end>";
      return "line " + std::to_string(line) + " differs:\n  expected: " + e_shown +
             "\n  actual:   " + a_shown + "\n";
    }
    at = e_end + 1;
    line++;
  }
}

std::vector<scripted_case> load_transcripts(const std::string& dir) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
    if (entry.path().extension() == ".txt") files.push_back(entry.path().string());
  std::vector<scripted_case> cases;
  if (ec) {
    scripted_case bad;
    bad.name = "transcript_directory";
    bad.error = dir + ": " + ec.message();
    cases.push_back(bad);
  }
  std::sort(files.begin(), files.end());
  std::set<std::string> names;
  for (const std::string& path : files) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::string file = std::filesystem::path(path).filename().string();
    if (!in) {
      scripted_case bad;
      bad.name = "unreadable_" + file.substr(0, file.size() - 4);
      bad.error = path + ": cannot be read";
      for (char& ch : bad.name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      cases.push_back(bad);
      continue;
    }
    for (scripted_case& c : parse_transcript(text.str(), file)) {
      if (!names.insert(c.name).second) {
        c.error = c.where + ": the name " + c.name + " is taken";
        c.name = file.substr(0, file.size() - 4) + "_" + c.where.substr(file.size() + 1);
        for (char& ch : c.name)
          if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      cases.push_back(c);
    }
  }
  return cases;
}
