#include "registers/values.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The longest register value (DWORD_ARRAY_10) covers 20 words.
constexpr int MAX_VALUE_WORDS = 20;

void print_calib_read_points(const uint16_t* w) {
  for (int j = 0; j < 5; ++j) {
    const uint16_t* p = w + 3 * j;
    printf("%d: %d (0x%04X), %7g\n", j + 1, p[0], p[0], bits_to_float(join_words(p + 1)));
  }
}

void print_calib_set_points(const uint16_t* w) {
  for (int j = 0; j < 5; ++j) {
    const uint16_t* p = w + 3 * j;
    printf("%d: %7g, %d (0x%04X)\n", j + 1, bits_to_float(join_words(p)), p[2], p[2]);
  }
}

// The length of the valid UTF-8 sequence at bytes[0] (2 to 4), or 0 when there is none: no
// overlong forms, no surrogates, nothing above U+10FFFF, no C1 control.
size_t utf8_sequence_length(const unsigned char* bytes, size_t size) {
  unsigned char lead = bytes[0];
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (size < length || bytes[1] < low || bytes[1] > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if (bytes[i] < 0x80 || bytes[i] > 0xBF) return 0;
  // U+0080 to U+009F: some terminals take them as the controls they stand for.
  if (lead == 0xC2 && bytes[1] <= 0x9F) return 0;
  return length;
}

}  // namespace

std::string shortest_float_text(float value) {
  char text[32];
  std::to_chars_result r = std::to_chars(text, text + sizeof text, value);
  return std::string(text, r.ptr);
}

std::string printable_text(const char* bytes, size_t size) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes);
  std::string out;
  size_t i = 0;
  while (i < size) {
    if (b[i] >= 0x20 && b[i] < 0x7F) {
      out += static_cast<char>(b[i++]);
      continue;
    }
    size_t length = b[i] >= 0x80 ? utf8_sequence_length(b + i, size - i) : 0;
    if (length > 0) {
      out.append(bytes + i, length);
      i += length;
      continue;
    }
    char hex[5];
    snprintf(hex, sizeof hex, "\\x%02X", b[i++]);
    out += hex;
  }
  return out;
}

std::string printable_text(const std::string& text) {
  return printable_text(text.data(), text.size());
}

std::string char_array_text(const uint16_t* words) {
  char bytes[10];
  size_t n = 0;
  for (; n < 10; ++n) {
    bytes[n] = static_cast<char>((words[n / 2] >> (8 * (n % 2))) & 0xFF);
    if (bytes[n] == '\0') break;
  }
  return printable_text(bytes, n);
}

uint32_t join_words(const uint16_t* words) {
  return static_cast<uint32_t>(words[0]) | (static_cast<uint32_t>(words[1]) << 16);
}

void split_words(uint32_t value, uint16_t* words) {
  words[0] = static_cast<uint16_t>(value & 0xFFFF);
  words[1] = static_cast<uint16_t>(value >> 16);
}

uint32_t float_to_bits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

float bits_to_float(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

void print_value_by_type(const modbus_reg_entry* entry, const uint16_t* words, int count) {
  if (entry == nullptr || entry->type < 0 || entry->type >= REG_TYPE_COUNT) return;
  if (count < 0 || words == nullptr) count = 0;

  if (entry->type == RAW) {
    for (int i = 0; i < count; ++i) printf("%04X ", words[i]);
    printf("\n");
    return;
  }

  // A caller may hold fewer words than the type covers (a stored 32-bit startup value shown for
  // a register whose type is wider); the missing words read as 0 rather than past its buffer.
  uint16_t w[MAX_VALUE_WORDS] = {};
  // memcpy must not be handed a null source, even for no words.
  if (count > 0)
    std::memcpy(w, words, sizeof(uint16_t) * (count < MAX_VALUE_WORDS ? count : MAX_VALUE_WORDS));

  char text[MAX_SCALAR_TEXT];
  switch (entry->type) {
    case FLOAT:
    case WORD:
    case DWORD:
      format_scalar_value(entry, w, text, sizeof text);
      printf("%s\n", text);
      break;
    case READ_CALIB:
      print_calib_read_points(w);
      break;
    case SET_CALIB:
      print_calib_set_points(w);
      break;
    case BYTE_ARRAY_06:
      for (int i = 0; i < 6; ++i) printf("%02X ", (w[i / 2] >> (8 * (i % 2))) & 0xFF);
      printf("\n");
      break;
    case CHAR_ARRAY_10:
      printf("%s\n", char_array_text(w).c_str());
      break;
    case DWORD_ARRAY_10:
      // The log holds ten values; the line shows the first five (words 0 to 9).
      for (int i = 0; i < 5; ++i) {
        uint32_t v = join_words(w + 2 * i);
        printf("%d (0x%08X) ", static_cast<int32_t>(v), v);
      }
      printf("\n");
      break;
    default:
      break;
  }
}

int format_scalar_value(const modbus_reg_entry* entry, const uint16_t* words, char* buf,
                        size_t size) {
  if (entry == nullptr || words == nullptr || buf == nullptr || size == 0) return -1;
  switch (entry->type) {
    case FLOAT:
      snprintf(buf, size, "%g%s", bits_to_float(join_words(words)), entry->unit);
      return 0;
    case WORD:
      snprintf(buf, size, "%d%s (0x%04X)", words[0], entry->unit, words[0]);
      return 0;
    case DWORD: {
      uint32_t v = join_words(words);
      snprintf(buf, size, "%d%s (0x%08X)", static_cast<int32_t>(v), entry->unit, v);
      return 0;
    }
    default:
      buf[0] = '\0';
      return -1;
  }
}

int parse_unsigned(char* text, int base, uint32_t* value) {
  if (text == nullptr) return -1;
  cut_at_line_end(text);
  char* end = nullptr;
  unsigned long n = std::strtoul(text, &end, base);
  *value = static_cast<uint32_t>(n);
  return *end == '\0' ? 0 : -2;
}

bool all_digits(const char* text) {
  for (; *text != '\0'; ++text)
    if (*text < '0' || *text > '9') return false;
  return true;
}

bool float_value_valid(float value) { return std::isfinite(value); }

int parse_float(char* text, float_empty empty, float* value) {
  if (text == nullptr) return -1;
  cut_at_line_end(text);
  if (text[0] == '\0' && empty == FLOAT_EMPTY_REFUSED) return -2;
  char* end = nullptr;
  float f = std::strtof(text, &end);
  if (*end != '\0' || !float_value_valid(f)) return -2;
  *value = f;
  return 0;
}

int parse_value_by_type(int32_t type, char* token, uint32_t* value) {
  switch (type) {
    case FLOAT: {
      float f = 0;
      if (parse_float(token, FLOAT_EMPTY_IS_ZERO, &f) != 0) return -2;
      *value = float_to_bits(f);
      return 0;
    }
    case WORD:
    case DWORD: {
      // Value tokens keep the user's case, so only a capital 0X selects hexadecimal; 0x1F is read
      // as decimal and fails.
      int base = (token != nullptr && token[0] == '0' && token[1] == 'X') ? 16 : 10;
      return parse_unsigned(token, base, value) == 0 ? 0 : -3;
    }
    default:
      return -1;
  }
}

std::string upper_cased(std::string text) {
  upper_case_in_place(text.data(), static_cast<int>(text.size()));
  return text;
}

void cut_at_line_end(char* text) { text[std::strcspn(text, "\r\n")] = '\0'; }

void upper_case_in_place(char* text, int limit) {
  if (text == nullptr) return;
  int n = static_cast<int>(std::strlen(text));
  if (limit < n) n = limit;
  // POSIX locale: only a to z have upper-case forms, whatever locale the process runs in.
  for (int i = 0; i < n; ++i) {
    if (text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - 'a' + 'A');
  }
}
