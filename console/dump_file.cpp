#include "console/dump_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string_view>
#include <unordered_map>

#include "core/home_directory.h"
#include "core/shared_messages.h"
#include "registers/values.h"

namespace {

// Catalogue names, as stored (trailing blanks included), to their entry index. Every name is
// unique in the catalogue; the two entries that share an address have names of their own.
const std::unordered_map<std::string_view, int>& name_index() {
  static const std::unordered_map<std::string_view, int> index = [] {
    std::unordered_map<std::string_view, int> out;
    for (int i = 0; i < MODBUS_REG_COUNT; i++) out.emplace(modbus_reg_table[i].name, i);
    return out;
  }();
  return index;
}

// Reads the whole file, at most DUMP_FILE_MAX_BYTES + 1 bytes so that a larger one (or an
// endless device file) is seen without reading it all. Returns 0, or -1 after printing why.
int read_whole_file(const char* path, std::string* content) {
  errno = 0;
  // A FIFO or a device at the path would hang the command until a signal.
  int fd = open_regular_file(path, O_RDONLY);
  if (fd == FILE_NOT_REGULAR) {
    printf("%s: %s\n", path, file_refusal_text(fd));
    return -1;
  }
  FILE* f = fd < 0 ? nullptr : fdopen(fd, "r");
  if (f == nullptr) {
    if (fd >= 0) close(fd);
    msg_file_open_error(path, errno);
    return -1;
  }
  content->clear();
  char chunk[16384];
  for (;;) {
    size_t n = fread(chunk, 1, sizeof chunk, f);
    content->append(chunk, n);
    if (content->size() > static_cast<size_t>(DUMP_FILE_MAX_BYTES)) {
      fclose(f);
      printf("Dump file too large: %s (over 1 MiB).\n", path);
      return -1;
    }
    if (n < sizeof chunk) break;
  }
  // A directory opens but can't be read (EISDIR): to the operator that is a file that can't be
  // opened.
  int error = errno;
  bool failed = ferror(f) != 0;
  fclose(f);
  if (failed) {
    msg_file_open_error(path, error);
    return -1;
  }
  return 0;
}

// The whole of text as a finite float.
bool take_float(std::string_view text, float* value) {
  if (text.empty() || text.find_first_of("\r\n") != std::string_view::npos) return false;
  std::string copy(text);
  return parse_float(copy.data(), FLOAT_EMPTY_REFUSED, value) == 0;
}

// A point's float of a calibration table, as bits: a finite float, or the "-nan" DUMP writes
// for the empty marker (all bits one). The empty marker is the only non-number a table holds by
// design, so only here does "-nan" parse; any other NaN or infinity stays refused.
bool take_table_float(std::string_view text, uint32_t* bits) {
  if (text == "-nan") {
    *bits = 0xFFFFFFFFu;
    return true;
  }
  float f = 0;
  if (!take_float(text, &f)) return false;
  *bits = float_to_bits(f);
  return true;
}

// The whole of text as a decimal integer from lowest to highest.
// A minus sign at most (no plus, no blanks) and at most 12 characters, as the dump writes them.
bool take_integer(std::string_view text, long long lowest, long long highest, long long* value) {
  if (text.size() > 12) return false;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, *value);
  if (error != std::errc() || stop != end) return false;
  return *value >= lowest && *value <= highest;
}

// "VALUE UNIT": the number before the blank and the entry's unit that ends the text.
bool take_number_and_unit(const modbus_reg_entry* entry, std::string_view text,
                          std::string_view* number) {
  std::string suffix = std::string(" ") + entry->unit;
  if (text.size() <= suffix.size() || text.substr(text.size() - suffix.size()) != suffix)
    return false;
  *number = text.substr(0, text.size() - suffix.size());
  return true;
}

// The five points of a calibration table, "X1=..,Y1=..; " to "X5=..,Y5=..; ": each point's X and
// Y texts into xs and ys.
bool take_points(std::string_view text, std::string_view* xs, std::string_view* ys) {
  for (int j = 1; j <= 5; j++) {
    std::string x_mark = "X" + std::to_string(j) + "=";
    std::string y_mark = ",Y" + std::to_string(j) + "=";
    if (text.substr(0, x_mark.size()) != x_mark) return false;
    text.remove_prefix(x_mark.size());
    size_t y_at = text.find(y_mark);
    if (y_at == std::string_view::npos) return false;
    xs[j - 1] = text.substr(0, y_at);
    text.remove_prefix(y_at + y_mark.size());
    size_t end = text.find("; ");
    if (end == std::string_view::npos) return false;
    ys[j - 1] = text.substr(0, end);
    text.remove_prefix(end + 2);
  }
  return text.empty();
}

}  // namespace

int parse_dump_value(const modbus_reg_entry* entry, const std::string& text, uint16_t* words) {
  std::string_view number;
  float f = 0;
  uint32_t bits = 0;
  long long n = 0;
  std::string_view xs[5];
  std::string_view ys[5];
  switch (entry->type) {
    case FLOAT:
      if (!take_number_and_unit(entry, text, &number) || !take_float(number, &f)) return -1;
      split_words(float_to_bits(f), words);
      return 0;
    case WORD:
      if (!take_number_and_unit(entry, text, &number) || !take_integer(number, 0, 65535, &n))
        return -1;
      words[0] = static_cast<uint16_t>(n);
      return 0;
    case DWORD:
      // The dump shows a DWORD as a signed number.
      if (!take_number_and_unit(entry, text, &number) ||
          !take_integer(number, INT32_MIN, INT32_MAX, &n))
        return -1;
      split_words(static_cast<uint32_t>(static_cast<int32_t>(n)), words);
      return 0;
    case READ_CALIB:
      // A read point: the ADC count, then the value it stands for.
      if (!take_points(text, xs, ys)) return -1;
      for (int j = 0; j < 5; j++) {
        if (!take_integer(xs[j], 0, 65535, &n) || !take_table_float(ys[j], &bits)) return -1;
        words[3 * j] = static_cast<uint16_t>(n);
        split_words(bits, words + 3 * j + 1);
      }
      return 0;
    case SET_CALIB:
      // A set point: the value, then the DAC count that produces it.
      if (!take_points(text, xs, ys)) return -1;
      for (int j = 0; j < 5; j++) {
        if (!take_table_float(xs[j], &bits) || !take_integer(ys[j], 0, 65535, &n)) return -1;
        split_words(bits, words + 3 * j);
        words[3 * j + 2] = static_cast<uint16_t>(n);
      }
      return 0;
    default:
      return -1;
  }
}

// Splits one line (without its line end) at its first " = " into the name before it and the
// text after it. The name is one or more characters without blanks, but for the blanks that end
// it (four catalogue names end with one). Returns 0, or -1 when the line has no such form.
static int split_dump_line(const std::string& line, std::string* name, std::string* text) {
  size_t equals = line.find(" = ");
  if (equals == std::string::npos || equals == 0) return -1;
  std::string_view left(line.data(), equals);
  size_t end = left.find_last_not_of(' ');
  if (end == std::string_view::npos) return -1;
  // A name holds no blank before its trailing ones, and no control character anywhere; the text
  // may hold anything but the NUL that no dump writes.
  for (size_t i = 0; i < left.size(); i++) {
    unsigned char c = static_cast<unsigned char>(left[i]);
    if (c < 0x20 || c == 0x7F || (c == ' ' && i < end)) return -1;
  }
  if (line.find('\0', equals) != std::string::npos) return -1;
  *name = std::string(left);
  *text = line.substr(equals + 3);
  return 0;
}

int read_dump_file(const char* path, dump_file* out) {
  if (path == nullptr) {
    msg_missing_filename();
    return -1;
  }
  std::string content;
  if (read_whole_file(path, &content) < 0) return -1;

  *out = dump_file{};
  out->path = path;
  std::set<std::string> unknown_seen;
  const auto& index = name_index();
  int number = 0;
  // A file saved by an editor elsewhere may start with a byte-order mark and end its lines with
  // CR LF: it is the same dump without them.
  size_t start = content.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  for (size_t at = start; at < content.size();) {
    size_t end = content.find('\n', at);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    at = end + 1;
    number++;
    std::string name;
    std::string text;
    if (split_dump_line(line, &name, &text) < 0) {
      printf("%s, line %d: not a NAME = TEXT line.\n", path, number);
      return -1;
    }
    auto found = index.find(name);
    bool again;
    if (found == index.end()) {
      again = !unknown_seen.insert(name).second;
      if (!again) out->unknown_names.push_back(name);
    } else {
      again = out->present[found->second];
      out->present[found->second] = true;
      out->texts[found->second] = text;
    }
    if (again) {
      printf("%s, line %d: %s is named a second time.\n", path, number, name.c_str());
      return -1;
    }
  }
  return 0;
}

void print_unknown_names(const dump_file& dump) {
  if (dump.unknown_names.empty()) return;
  printf("Not in the catalogue, ignored:");
  for (const std::string& name : dump.unknown_names) printf(" %s", printable_text(name).c_str());
  printf("\n");
}
