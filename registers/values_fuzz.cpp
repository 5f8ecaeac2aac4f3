// libFuzzer target of the value and number parsers and of the other functions that take the
// user's text: parse_unsigned in both bases, parse_value_by_type for every type code,
// next_token, upper_case_in_place, reg_find_by_name and reg_find_by_address, and
// print_value_by_type of the input's bytes as register words for every type code.
//
// Every text is handed over in a heap buffer of exactly its length plus the terminator, so a
// read or write past its end is caught by AddressSanitizer. Results outside their contract
// abort, which libFuzzer reports with the input that caused it.
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console/tokenizer.h"
#include "registers/catalogue.h"
#include "registers/values.h"

namespace {

void fail(const char* what) {
  fprintf(stderr, "values_fuzz: %s\n", what);
  abort();
}

// A fresh, terminated copy of the input. Functions see it up to its first NUL byte.
std::vector<char> text_of(const std::string& input) {
  std::vector<char> buf(input.begin(), input.end());
  buf.push_back('\0');
  return buf;
}

bool has_line_end(const char* text) { return strpbrk(text, "\r\n") != nullptr; }

void check_numbers(const std::string& input) {
  for (int base : {10, 16}) {
    std::vector<char> buf = text_of(input);
    uint32_t value = 0;
    int rc = parse_unsigned(buf.data(), base, &value);
    if (rc != 0 && rc != -2) fail("parse_unsigned: unexpected result");
    if (has_line_end(buf.data())) fail("parse_unsigned: text not cut at its line end");
  }
  uint32_t untouched = 0x5A5A5A5A;
  if (parse_unsigned(nullptr, 10, &untouched) != -1 || untouched != 0x5A5A5A5A)
    fail("parse_unsigned: no text must give -1 and store nothing");

  for (int32_t type = -1; type <= REG_TYPE_COUNT + 1; type++) {
    std::vector<char> buf = text_of(input);
    uint32_t value = 0x5A5A5A5A;
    int rc = parse_value_by_type(type, buf.data(), &value);
    bool ok;
    if (type == FLOAT) {
      ok = (rc == 0 && std::isfinite(bits_to_float(value))) || (rc == -2 && value == 0x5A5A5A5A);
    } else if (type == WORD || type == DWORD) {
      ok = rc == 0 || rc == -3;
    } else {
      ok = rc == -1 && value == 0x5A5A5A5A;
    }
    if (!ok) fail("parse_value_by_type: result outside its contract");
  }
}

void check_tokens(const std::string& input) {
  std::vector<char> buf = text_of(input);
  char* begin = buf.data();
  char* end = begin + strlen(begin);
  char* cursor = begin;
  size_t tokens = 0;
  while (char* token = next_token(&cursor)) {
    if (token < begin || token >= end || *token == '\0' || strchr(token, ' '))
      fail("next_token: bad token");
    if (cursor < token || cursor > end) fail("next_token: cursor outside the line");
    if (++tokens > input.size()) fail("next_token: more tokens than characters");
  }
  if (next_token(&cursor) != nullptr) fail("next_token: a token after the end");
  if (next_token(nullptr) != nullptr) fail("next_token: a token without a cursor");
}

void check_upper_case(const std::string& input) {
  std::vector<char> original = text_of(input);
  int len = static_cast<int>(strlen(original.data()));
  for (int limit : {len, len / 2, 1, 0, -1, INT_MIN, INT_MAX}) {
    std::vector<char> buf = text_of(input);
    upper_case_in_place(buf.data(), limit);
    for (int i = 0; i < static_cast<int>(buf.size()); i++) {
      char before = original[static_cast<size_t>(i)];
      char expect = (i < limit && i < len && before >= 'a' && before <= 'z')
                        ? static_cast<char>(before - 'a' + 'A')
                        : before;
      if (buf[static_cast<size_t>(i)] != expect) fail("upper_case_in_place: wrong character");
    }
  }
  upper_case_in_place(nullptr, 4);
}

void check_lookups(const std::string& input) {
  for (bool upper : {false, true}) {
    std::vector<char> buf = text_of(input);
    if (upper) upper_case_in_place(buf.data(), static_cast<int>(strlen(buf.data())));
    for (int count : {MODBUS_REG_COUNT, MODBUS_REG_COUNT + 7, 17, 1, 0, -1, INT_MIN}) {
      int index = reg_find_by_name(buf.data(), count);
      int limit = count < MODBUS_REG_COUNT ? count : MODBUS_REG_COUNT;
      if (index == -1) continue;
      if (index < 0 || index >= limit) fail("reg_find_by_name: index outside the table");
      if (!strstr(modbus_reg_table[index].name, buf.data()))
        fail("reg_find_by_name: the found name does not hold the pattern");
    }
  }
  if (reg_find_by_name(nullptr, MODBUS_REG_COUNT) != -1) fail("reg_find_by_name: null pattern");

  if (input.size() >= 2) {
    int address = static_cast<uint8_t>(input[0]) | (static_cast<uint8_t>(input[1]) << 8);
    // Addresses around the catalogue's range, and every 16-bit one in between.
    for (int a : {address, address - 65536, address + 65536, 5120 + address % 1100}) {
      int index = reg_find_by_address(a);
      if (index == -1) continue;
      if (index < 0 || index >= MODBUS_REG_COUNT || modbus_reg_table[index].address != a)
        fail("reg_find_by_address: wrong entry");
    }
  }
}

// An entry of each type code as the catalogue has it (its unit included), and made-up entries
// for RAW and for codes outside 0 to 8.
modbus_reg_entry entry_of_type(int32_t type) {
  for (const modbus_reg_entry& e : modbus_reg_table)
    if (e.type == type) return e;
  modbus_reg_entry e = {};
  e.address = 5120;
  snprintf(e.name, sizeof(e.name), "%s", "MB_FUZZ");
  e.type = type;
  snprintf(e.unit, sizeof(e.unit), "%s", "V");
  return e;
}

void check_printing(const std::string& input) {
  // The input's bytes as register words, low byte first, in a buffer of exactly that size.
  size_t n = input.size() / 2;
  std::vector<uint16_t> words(n);
  for (size_t i = 0; i < n; i++)
    words[i] = static_cast<uint16_t>(static_cast<uint8_t>(input[2 * i]) |
                                     (static_cast<uint8_t>(input[2 * i + 1]) << 8));
  int count = static_cast<int>(n);
  for (int32_t type = -2; type <= REG_TYPE_COUNT + 1; type++) {
    modbus_reg_entry e = entry_of_type(type);
    print_value_by_type(&e, words.data(), count);
    print_value_by_type(&e, words.data(), count / 3);
    print_value_by_type(&e, words.data(), -count - 1);
    print_value_by_type(&e, nullptr, count);
  }
  print_value_by_type(nullptr, words.data(), count);
  fflush(stdout);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Printed values are not judged, only their safety; libFuzzer's reports go to stderr.
  if (!freopen("/dev/null", "w", stdout)) fail("cannot silence standard output");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  check_numbers(input);
  check_tokens(input);
  check_upper_case(input);
  check_lookups(input);
  check_printing(input);
  return 0;
}
