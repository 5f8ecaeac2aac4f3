#include "console/completion.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <span>

#include "console/command_table.h"
#include "registers/catalogue.h"
#include "registers/values.h"

namespace {

bool begins_with(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

// One match: what goes into the line, what the list shows, and whether a unique match is a
// directory (continued with '/') rather than a finished word (continued with a blank).
struct match {
  std::string text;
  std::string shown;
  bool directory = false;
};

// Turns the matches for `typed` (the word as it will stand in the line) into a completion.
completion finish(size_t replace, const std::string& typed, const std::vector<match>& matches) {
  completion c;
  c.replace = replace;
  c.text = typed;
  c.matched = !matches.empty();
  if (!c.matched) return c;
  if (matches.size() == 1) {
    c.text = matches[0].text + (matches[0].directory ? "/" : " ");
    return c;
  }
  std::string common = matches[0].text;
  for (const match& m : matches) {
    size_t n = 0;
    while (n < common.size() && n < m.text.size() && common[n] == m.text[n]) n++;
    common.resize(n);
  }
  if (common.size() > typed.size() && begins_with(common, typed)) {
    c.text = common;
    return c;
  }
  for (const match& m : matches) c.choices.push_back(m.shown);
  return c;
}

// Without a match the line stays as typed.
completion unchanged(std::string_view word) {
  completion c;
  c.replace = word.size();
  c.text = std::string(word);
  return c;
}

completion complete_keyword(size_t replace, std::string_view word,
                            std::span<const char* const> words) {
  std::string typed = upper_cased(std::string(word));
  std::vector<match> matches;
  for (const char* w : words)
    if (begins_with(w, typed)) matches.push_back({w, w});
  return matches.empty() ? unchanged(word) : finish(replace, typed, matches);
}

completion complete_command(size_t replace, std::string_view word) {
  std::vector<const char*> words;
  for (const console_command& command : command_table) words.push_back(command.word);
  return complete_keyword(replace, word, words);
}

// The catalogue's names once each, without the trailing blanks some of them carry, sorted.
const std::vector<std::string>& register_names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (const modbus_reg_entry& entry : modbus_reg_table) {
      std::string name = reg_trimmed_name(entry.name);
      if (!name.empty()) out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
  }();
  return names;
}

completion complete_register(size_t replace, std::string_view word) {
  std::string typed = upper_cased(std::string(word));
  std::vector<match> matches;
  for (const std::string& name : register_names())
    if (begins_with(name, typed)) matches.push_back({name, name});
  if (matches.empty() && !typed.empty()) {
    for (const std::string& name : register_names())
      if (name.find(typed) != std::string::npos) matches.push_back({name, name});
  }
  return matches.empty() ? unchanged(word) : finish(replace, typed, matches);
}

completion complete_file(size_t replace, std::string_view word) {
  std::string typed(word);
  size_t slash = typed.rfind('/');
  std::string dir_part = slash == std::string::npos ? "" : typed.substr(0, slash + 1);
  std::string base = typed.substr(dir_part.size());
  std::string dir = dir_part.empty() ? "." : dir_part;
  std::vector<match> matches;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      if (name[0] == '.' && (base.empty() || base[0] != '.')) continue;
      if (!begins_with(name, base)) continue;
      struct stat st;
      bool is_dir = stat((dir + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      matches.push_back({dir_part + name, name + (is_dir ? "/" : ""), is_dir});
    }
    closedir(d);
  }
  std::sort(matches.begin(), matches.end(),
            [](const match& a, const match& b) { return a.text < b.text; });
  return finish(replace, typed, matches);
}

}  // namespace

completion complete_line(std::string_view before_cursor) {
  size_t word_start = before_cursor.rfind(' ');
  word_start = word_start == std::string_view::npos ? 0 : word_start + 1;
  std::string_view word = before_cursor.substr(word_start);
  std::vector<std::string_view> earlier;
  std::string_view rest = before_cursor.substr(0, word_start);
  while (!rest.empty()) {
    size_t blank = rest.find(' ');
    if (blank != 0) earlier.push_back(rest.substr(0, blank));
    if (blank == std::string_view::npos) break;
    rest.remove_prefix(blank + 1);
  }

  if (earlier.empty()) return complete_command(word.size(), word);
  int code = find_command(upper_cased(std::string(earlier[0])).c_str());
  if (code < 0) return unchanged(word);
  const console_command& command = command_table[code];
  // Only the first argument completes, except where every argument is a register.
  if (earlier.size() > 1 && command.completes != COMPLETE_REGISTERS &&
      command.completes != COMPLETE_FILE_THEN_REGISTERS)
    return unchanged(word);
  switch (command.completes) {
    case COMPLETE_REGISTER:
    case COMPLETE_REGISTERS:
      return complete_register(word.size(), word);
    case COMPLETE_KEYWORD:
      return complete_keyword(word.size(), word, command.keywords);
    case COMPLETE_FILE:
      return complete_file(word.size(), word);
    case COMPLETE_FILE_THEN_REGISTERS:
      if (earlier.size() == 1) return complete_file(word.size(), word);
      return complete_register(word.size(), word);
    case COMPLETE_NOTHING:
      break;
  }
  return unchanged(word);
}

std::vector<std::string> layout_columns(const std::vector<std::string>& choices, int width) {
  std::vector<std::string> lines;
  if (choices.empty()) return lines;
  size_t longest = 0;
  for (const std::string& c : choices) longest = std::max(longest, c.size());
  size_t column = longest + 2;
  size_t columns = width > 0 ? std::max<size_t>(1, (static_cast<size_t>(width) + 2) / column) : 1;
  size_t rows = (choices.size() + columns - 1) / columns;
  for (size_t r = 0; r < rows; r++) {
    std::string line;
    for (size_t k = r; k < choices.size(); k += rows) {
      line += choices[k];
      if (k + rows < choices.size()) line += std::string(column - choices[k].size(), ' ');
    }
    lines.push_back(line);
  }
  return lines;
}
