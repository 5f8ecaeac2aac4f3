#include "console/history_filter.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console/command_table.h"
#include "console/tokenizer.h"
#include "registers/catalogue.h"
#include "registers/register_lookup.h"
#include "registers/values.h"

namespace {

// The line cut as the console cuts it: at blanks only, runs of blanks counting as one.
std::vector<std::string> tokens_of(std::string_view line) {
  std::vector<std::string> tokens;
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && line[at] == ' ') at++;
    size_t end = at;
    while (end < line.size() && line[end] != ' ') end++;
    if (end > at) tokens.emplace_back(line.substr(at, end - at));
    at = end;
  }
  return tokens;
}

// The catalogue register a READ, WRITE or SETBIT token names, chosen as READ chooses it.
// nullptr when there is none.
const modbus_reg_entry* named_register(const std::string& token) {
  int index = register_index_of(token.c_str());
  return index < 0 ? nullptr : &modbus_reg_table[index];
}

bool register_holds_secret(const modbus_reg_entry* entry) {
  return entry && reg_words_hold_secret(entry->address, reg_words_of_type(entry->type));
}

// RW <type> <address> <data>...: the words the data would go to.
bool rw_touches_secret(const std::vector<std::string>& t) {
  if (t.size() < 4) return false;
  std::string type = upper_cased(t[1]);
  int words;
  if (type == "WORD") {
    words = 1;
  } else if (type == "FLOAT" || type == "DWORD") {
    words = 2;
  } else if (type == "RAW") {
    words = static_cast<int>(t.size()) - 3;
  } else {
    return false;
  }
  std::string token = upper_cased(t[2]);
  uint32_t value = 0;
  int base = token.compare(0, 2, "0X") == 0 ? 16 : 10;
  if (parse_unsigned(token.data(), base, &value) != 0) return false;
  // RW keeps the low 16 bits of the address, as the request carries them.
  return reg_words_hold_secret(static_cast<uint16_t>(value), words);
}

}  // namespace

bool history_keeps_line(std::string_view line) {
  if (is_comment_line(line)) return false;
  std::vector<std::string> t = tokens_of(line);
  if (t.empty()) return true;
  switch (find_command(upper_cased(t[0]).c_str())) {
    case CODE_WRITE:
      return t.size() < 3 || !register_holds_secret(named_register(t[1]));
    case CODE_SETBIT:
      return t.size() < 4 || !register_holds_secret(named_register(t[1]));
    case CODE_RW:
      return !rw_touches_secret(t);
    default:
      return true;
  }
}
