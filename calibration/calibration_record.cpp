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

// Reading checks types strictly: a number where a text belongs, a float or a boolean where an
// integer belongs, a count outside 0 to 65535 makes the line no record. The library's own
// conversions are lenient there (a boolean reads as a number), so the record's JSON type takes
// this serializer; what it doesn't name goes to the library's.
template <typename T, typename = void>
struct record_serializer : nlohmann::adl_serializer<T> {};

// Numbers are single-precision floats: the library then writes the shortest text that reads
// back as the same float (Grisu2 for single precision, at most 9 significant digits) and reads
// numbers back with strtof. Keys keep the order they are written in.
using record_json =
    nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool, std::int64_t,
                         std::uint64_t, float, std::allocator, record_serializer>;

// Thrown by the conversions below and caught in calib_record_from_json.
struct not_a_record : std::exception {};

int64_t integer_in(const record_json& j, int64_t low, int64_t high) {
  if (!j.is_number_integer()) throw not_a_record();
  int64_t n = j.get<int64_t>();
  if (n < low || n > high) throw not_a_record();
  return n;
}

template <>
struct record_serializer<int> {
  static void to_json(record_json& j, int value) { j = static_cast<int64_t>(value); }
  static void from_json(const record_json& j, int& value) {
    value = static_cast<int>(integer_in(j, INT32_MIN, INT32_MAX));
  }
};

template <>
struct record_serializer<uint16_t> {
  static void to_json(record_json& j, uint16_t value) { j = static_cast<uint64_t>(value); }
  static void from_json(const record_json& j, uint16_t& value) {
    value = static_cast<uint16_t>(integer_in(j, 0, 0xFFFF));
  }
};

template <>
struct record_serializer<float> {
  static void to_json(record_json& j, float value) { nlohmann::to_json(j, value); }
  static void from_json(const record_json& j, float& value) {
    if (!j.is_number()) throw not_a_record();
    nlohmann::from_json(j, value);
  }
};

// An optional value is null when it has none; the member itself must be there.
template <typename T>
struct record_serializer<std::optional<T>> {
  static void to_json(record_json& j, const std::optional<T>& value) {
    if (value) {
      j = *value;
    } else {
      j = nullptr;
    }
  }
  static void from_json(const record_json& j, std::optional<T>& value) {
    if (j.is_null()) {
      value = std::nullopt;
    } else {
      value = j.get<T>();
    }
  }
};

}  // namespace

// The records' own conversions, found by the library through argument-dependent lookup.

static void from_json(const record_json& j, calib_record_register& r) {
  j.at("address").get_to(r.address);
  j.at("name").get_to(r.name);
}

static bool parse_words(const std::string& text, std::array<uint16_t, CALIB_TABLE_WORDS>* words) {
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

// The set values are read apart (read_set_values): only the table as left has them.
static void from_json(const record_json& j, calib_record_table& table) {
  const record_json& points = j.at("points");
  if (!points.is_array() || points.size() != CALIB_POINTS) throw not_a_record();
  for (int k = 0; k < CALIB_POINTS; k++) {
    const record_json& p = points[static_cast<size_t>(k)];
    p.at("actual").get_to(table.points[k].actual);
    p.at("count").get_to(table.points[k].count);
  }
  if (!parse_words(j.at("words").get<std::string>(), &table.words)) throw not_a_record();
}

static void read_set_values(const record_json& j, calib_record_table* table) {
  for (int k = 0; k < CALIB_POINTS; k++)
    j.at("points")[static_cast<size_t>(k)].at("set").get_to(table->points[k].set);
}

static void from_json(const record_json& j, calib_record& r) {
  const record_json& tool = j.at("tool");
  const record_json& device = j.at("device");
  const record_json& def = j.at("definition");
  j.at("time").get_to(r.time);
  j.at("user").get_to(r.user);
  j.at("computer").get_to(r.computer);
  tool.at("name").get_to(r.tool);
  tool.at("version").get_to(r.tool_version);
  device.at("address").get_to(r.device);
  device.at("mac").get_to(r.mac);
  device.at("version").get_to(r.device_version);
  device.at("fpga_version").get_to(r.fpga_version);
  def.at("menu").get_to(r.menu);
  def.at("description").get_to(r.description);
  def.at("kind").get_to(r.kind);
  def.at("calibration_register").get_to(r.calibration_register);
  def.at("set_register").get_to(r.set_register);
  def.at("read_register").get_to(r.read_register);
  def.at("state").get_to(r.state);
  j.at("as_found").get_to(r.as_found);
  j.at("as_left").get_to(r.as_left);
  read_set_values(j.at("as_left"), &r.as_left);
  j.at("warning").get_to(r.warning);
  j.at("mode").get_to(r.mode);
  j.at("result").get_to(r.result);
  j.at("sends").get_to(r.sends);
  r.file = std::nullopt;
  if (j.contains("file")) j.at("file").get_to(r.file);
}

namespace {

const char RECORD_DIRECTORY[] = "veltrona_tool";
const char RECORD_FILE[] = "calibrations.jsonl";

// Console thread only: whether the failure message has been said.
bool failure_said = false;

// ---- Writing

record_json register_json(const calib_record_register& reg) {
  return {{"address", reg.address}, {"name", reg.name}};
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
    if (with_set) p["set"] = point.set;
    p["actual"] = point.actual;
    p["count"] = point.count;
    points.push_back(p);
  }
  return {{"points", points}, {"words", words_text(table.words)}};
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
        {"mac", r.mac},
        {"version", r.device_version},
        {"fpga_version", r.fpga_version}}},
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
      {"warning", r.warning},
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
    j.get_to(*record);
    return 0;
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
    if (stop_requested()) {
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
