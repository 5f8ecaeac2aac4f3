#include "calibration/calibration_record.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <nlohmann/json.hpp>
#include <utility>

#include "calibration/record_journal.h"
#include "core/home_directory.h"
#include "core/lifecycle.h"
#include "core/write_all.h"

namespace {

// Numbers are single-precision floats: the library then writes the shortest text that reads
// back as the same float (Grisu2 for single precision, at most 9 significant digits) and reads
// numbers back with strtof. Keys keep the order they are written in.
using record_json = nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool,
                                         std::int64_t, std::uint64_t, float>;

const char RECORD_DIRECTORY[] = "veltrona_tool";
const char RECORD_FILE[] = "calibrations.jsonl";

// Console thread only: whether the failure message has been said.
bool failure_said = false;

// ---- Writing

record_json optional_float(const std::optional<float>& value) {
  return value ? record_json(*value) : record_json(nullptr);
}

template <typename T>
record_json optional_number(const std::optional<T>& value) {
  return value ? record_json(*value) : record_json(nullptr);
}

record_json optional_text(const std::optional<std::string>& value) {
  return value ? record_json(*value) : record_json(nullptr);
}

record_json register_json(const calib_record_register& reg) {
  return {{"address", reg.address}, {"name", optional_text(reg.name)}};
}

std::string words_text(const std::array<uint16_t, CALIB_TABLE_WORDS>& words) {
  std::string text;
  for (uint16_t word : words) {
    char hex[8];
    snprintf(hex, sizeof hex, "%s%04X", text.empty() ? "" : " ", static_cast<unsigned>(word));
    text += hex;
  }
  return text;
}

record_json table_json(const calib_record_table& table, bool with_set) {
  record_json points = record_json::array();
  for (const calib_record_point& point : table.points) {
    record_json p = record_json::object();
    if (with_set) p["set"] = optional_float(point.set);
    p["actual"] = optional_float(point.actual);
    p["count"] = optional_number(point.count);
    points.push_back(p);
  }
  return {{"points", points}, {"words", words_text(table.words)}};
}

// ---- Reading: each getter returns false when the field is missing or of another type.

const record_json* field(const record_json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

bool get_text(const record_json& object, const char* key, std::string* out) {
  const record_json* value = field(object, key);
  if (!value || !value->is_string()) return false;
  *out = value->get<std::string>();
  return true;
}

bool get_optional_text(const record_json& object, const char* key,
                       std::optional<std::string>* out) {
  const record_json* value = field(object, key);
  if (!value) return false;
  if (value->is_null()) {
    *out = std::nullopt;
    return true;
  }
  if (!value->is_string()) return false;
  *out = value->get<std::string>();
  return true;
}

bool get_int(const record_json& object, const char* key, int* out) {
  const record_json* value = field(object, key);
  if (!value || !value->is_number_integer()) return false;
  int64_t n = value->get<int64_t>();
  if (n < INT32_MIN || n > INT32_MAX) return false;
  *out = static_cast<int>(n);
  return true;
}

bool get_optional_int(const record_json& object, const char* key, std::optional<int>* out) {
  const record_json* value = field(object, key);
  if (value && value->is_null()) {
    *out = std::nullopt;
    return true;
  }
  int n = 0;
  if (!get_int(object, key, &n)) return false;
  *out = n;
  return true;
}

bool get_optional_float(const record_json& object, const char* key, std::optional<float>* out) {
  const record_json* value = field(object, key);
  if (!value) return false;
  if (value->is_null()) {
    *out = std::nullopt;
    return true;
  }
  if (!value->is_number()) return false;
  *out = value->get<float>();
  return true;
}

bool get_optional_count(const record_json& object, const char* key, std::optional<uint16_t>* out) {
  std::optional<int> n;
  if (!get_optional_int(object, key, &n)) return false;
  if (n && (*n < 0 || *n > 0xFFFF)) return false;
  *out = n ? std::optional<uint16_t>(static_cast<uint16_t>(*n)) : std::nullopt;
  return true;
}

bool get_register(const record_json& value, calib_record_register* out) {
  return get_int(value, "address", &out->address) && get_optional_text(value, "name", &out->name);
}

bool parse_words(const std::string& text, std::array<uint16_t, CALIB_TABLE_WORDS>* words) {
  const char* p = text.c_str();
  for (int i = 0; i < CALIB_TABLE_WORDS; i++) {
    if (i > 0 && *p++ != ' ') return false;
    unsigned value = 0;
    for (int d = 0; d < 4; d++, p++) {
      char c = *p;
      int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (digit < 0) return false;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    (*words)[i] = static_cast<uint16_t>(value);
  }
  return *p == '\0';
}

bool get_table(const record_json& value, bool with_set, calib_record_table* out) {
  const record_json* points = field(value, "points");
  if (!points || !points->is_array() || points->size() != CALIB_POINTS) return false;
  for (int k = 0; k < CALIB_POINTS; k++) {
    const record_json& p = (*points)[static_cast<size_t>(k)];
    calib_record_point& point = out->points[k];
    if (with_set && !get_optional_float(p, "set", &point.set)) return false;
    if (!get_optional_float(p, "actual", &point.actual)) return false;
    if (!get_optional_count(p, "count", &point.count)) return false;
  }
  std::string words;
  return get_text(value, "words", &words) && parse_words(words, &out->words);
}

bool read_record(const record_json& j, calib_record* r) {
  const record_json* tool = field(j, "tool");
  const record_json* device = field(j, "device");
  const record_json* def = field(j, "definition");
  const record_json* found = field(j, "as_found");
  const record_json* left = field(j, "as_left");
  const record_json* read_reg = def ? field(*def, "read_register") : nullptr;
  const record_json* cal_reg = def ? field(*def, "calibration_register") : nullptr;
  const record_json* set_reg = def ? field(*def, "set_register") : nullptr;
  if (!tool || !device || !def || !found || !left || !read_reg || !cal_reg || !set_reg)
    return false;
  if (!get_text(j, "time", &r->time) || !get_text(j, "user", &r->user) ||
      !get_text(j, "computer", &r->computer) || !get_text(*tool, "name", &r->tool) ||
      !get_text(*tool, "version", &r->tool_version) || !get_text(*device, "address", &r->device) ||
      !get_optional_text(*device, "mac", &r->mac) ||
      !get_optional_int(*device, "version", &r->device_version) ||
      !get_optional_int(*device, "fpga_version", &r->fpga_version) ||
      !get_int(*def, "menu", &r->menu) || !get_text(*def, "description", &r->description) ||
      !get_text(*def, "kind", &r->kind) || !get_register(*cal_reg, &r->calibration_register) ||
      !get_register(*set_reg, &r->set_register) || !get_int(*def, "state", &r->state) ||
      !get_optional_text(j, "warning", &r->warning) || !get_text(j, "mode", &r->mode) ||
      !get_text(j, "result", &r->result) || !get_int(j, "sends", &r->sends))
    return false;
  r->file = std::nullopt;
  if (field(j, "file") && !get_optional_text(j, "file", &r->file)) return false;
  if (read_reg->is_null()) {
    r->read_register = std::nullopt;
  } else {
    r->read_register = calib_record_register{};
    if (!get_register(*read_reg, &*r->read_register)) return false;
  }
  if (found->is_null()) {
    r->as_found = std::nullopt;
  } else {
    r->as_found = calib_record_table{};
    if (!get_table(*found, false, &*r->as_found)) return false;
  }
  return get_table(*left, true, &r->as_left);
}

// ---- The file

int say_not_kept(const std::string& path, const char* reason) {
  if (!failure_said) {
    failure_said = true;
    if (path.empty()) {
      fprintf(stderr, "Calibration record not kept: no home directory for %s/%s.\n",
              RECORD_DIRECTORY, RECORD_FILE);
    } else {
      fprintf(stderr, "Calibration record not kept: %s: %s\n", path.c_str(), reason);
    }
  }
  return -1;
}

// Whether the file ends with a line without its line end.
bool ends_with_cut_line(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size == 0) return false;
  char last;
  return pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n';
}

// Writes all of line, normally in one write(2): with O_APPEND it lands whole at the end of the
// file, so records of tools running side by side never mix. Returns 0, or -1 with errno set.
int write_line(int fd, const std::string& line) {
  // Once the first write took part of the line only, the next one says why (EFBIG at the
  // file-size limit, ENOSPC): that reason is the one reported.
  if (write_all(fd, line) != 0) return -1;
  // A record is written once per calibration: worth having on the disk, not just in the cache.
  return fdatasync(fd);
}

}  // namespace

calib_record_point calib_record_point_of(const calib_point& point, bool with_set) {
  auto value = [](float f) {
    return calib_float_is_empty(f) || !std::isfinite(f) ? std::nullopt : std::optional<float>(f);
  };
  calib_record_point p;
  if (with_set) p.set = value(point.fSet);
  p.actual = value(point.fActual);
  if (point.wDacAdc != CALIB_EMPTY_WORD) p.count = point.wDacAdc;
  return p;
}

calib_record_table calib_record_table_of(const calib_point* points, const uint16_t* words,
                                         bool with_set) {
  calib_record_table table;
  for (int k = 0; k < CALIB_POINTS; k++)
    table.points[k] = calib_record_point_of(points[k], with_set);
  for (int i = 0; i < CALIB_TABLE_WORDS; i++) table.words[i] = words[i];
  return table;
}

std::string calib_record_to_json(const calib_record& r) {
  record_json read_register =
      r.read_register ? register_json(*r.read_register) : record_json(nullptr);
  record_json j = {
      {"time", r.time},
      {"user", r.user},
      {"computer", r.computer},
      {"tool", {{"name", r.tool}, {"version", r.tool_version}}},
      {"device",
       {{"address", r.device},
        {"mac", optional_text(r.mac)},
        {"version", optional_number(r.device_version)},
        {"fpga_version", optional_number(r.fpga_version)}}},
      {"definition",
       {{"menu", r.menu},
        {"description", r.description},
        {"kind", r.kind},
        {"calibration_register", register_json(r.calibration_register)},
        {"set_register", register_json(r.set_register)},
        {"read_register", read_register},
        {"state", r.state}}},
      {"as_found", r.as_found ? table_json(*r.as_found, false) : record_json(nullptr)},
      {"as_left", table_json(r.as_left, true)},
      {"warning", optional_text(r.warning)},
      {"mode", r.mode},
      {"result", r.result},
      {"sends", r.sends},
  };
  if (r.file) j["file"] = *r.file;
  // A description typed in another encoding must not cost the record: invalid UTF-8 becomes
  // U+FFFD instead of an exception.
  return j.dump(-1, ' ', false, record_json::error_handler_t::replace);
}

int calib_record_from_json(const std::string& line, calib_record* record) {
  try {
    record_json j = record_json::parse(line, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return -1;
    return read_record(j, record) ? 0 : -1;
  } catch (const std::exception&) {
    return -1;
  }
}

std::string calib_record_path() {
  std::string base = state_home();
  if (base.empty()) return "";
  return base + "/" + RECORD_DIRECTORY + "/" + RECORD_FILE;
}

int calib_record_append(const calib_record& record) {
  std::string path = calib_record_path();
  if (path.empty()) return say_not_kept(path, "");
  std::string line;
  try {
    line = calib_record_to_json(record) + "\n";
  } catch (const std::exception& e) {
    return say_not_kept(path, e.what());
  }
  // The journal gets the record also when the file can't be opened or written.
  calib_record_journal(record, line.substr(0, line.size() - 1));
  int fd = -1;
  if (make_private_directories(path.substr(0, path.rfind('/'))) == 0)
    fd = open_state_file(path, O_RDWR | O_APPEND | O_CREAT);
  if (fd < -1) return say_not_kept(path, file_refusal_text(fd));
  if (fd < 0) return say_not_kept(path, strerror(errno));
  // A line that a full disk or the file-size limit cut short must not swallow this record.
  if (ends_with_cut_line(fd)) line.insert(line.begin(), '\n');
  int rc = write_line(fd, line);
  int write_errno = errno;
  close(fd);
  if (rc < 0) return say_not_kept(path, strerror(write_errno));
  return 0;
}

int calib_history_read(const std::string& path, int reg_cal, size_t limit, calib_history* history) {
  *history = calib_history{};
  int fd = open_state_file(path, O_RDONLY);
  if (fd < -1) {
    history->refused = fd;
    return -1;
  }
  if (fd < 0) return errno == ENOENT ? 0 : -1;
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_size > CALIB_HISTORY_MAX_BYTES) {
    history->older = lseek(fd, st.st_size - CALIB_HISTORY_MAX_BYTES, SEEK_SET) >= 0;
  }
  FILE* file = fdopen(fd, "r");
  if (!file) {
    int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  std::deque<calib_record> kept;
  char* buf = nullptr;
  size_t size = 0;
  ssize_t n;
  // The file may grow while it is read (another tool appending): the bound holds still.
  long long taken = 0;
  bool first = true;
  while (taken < CALIB_HISTORY_MAX_BYTES && (n = getline(&buf, &size, file)) >= 0) {
    taken += n;
    if (quit_requested.load()) {
      history->stopped = true;
      break;
    }
    std::string line(buf, static_cast<size_t>(n));
    // Reading from the middle of the file starts in the middle of a line.
    if (std::exchange(first, false) && history->older) continue;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (line.empty()) continue;
    calib_record record;
    if (calib_record_from_json(line, &record) != 0) {
      history->skipped++;
      continue;
    }
    if (reg_cal != 0 && record.calibration_register.address != reg_cal) continue;
    history->matched++;
    kept.push_back(std::move(record));
    if (kept.size() > limit) kept.pop_front();
  }
  int read_errno = errno;
  bool failed = ferror(file);
  free(buf);
  fclose(file);
  if (failed) {
    errno = read_errno;
    return -1;
  }
  history->records.assign(kept.begin(), kept.end());
  return 0;
}
