#include "console/watch_csv.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/timestamp.h"
#include "core/write_all.h"
#include "registers/values.h"

namespace {

const char ROW_END[] = "\r\n";

// Longest first line compared with the header: a header row of eight registers is far shorter.
constexpr size_t FIRST_LINE_LIMIT = 4096;

// The file's first line without its line end (CRLF or LF), at most FIRST_LINE_LIMIT bytes; *size
// receives the file's size. Returns 0, or -1 with errno set.
int read_first_line(int fd, std::string* line, off_t* size) {
  struct stat st;
  if (fstat(fd, &st) != 0) return -1;
  *size = st.st_size;
  line->clear();
  char buf[512];
  while (line->size() < FIRST_LINE_LIMIT) {
    ssize_t n = pread(fd, buf, sizeof buf, static_cast<off_t>(line->size()));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    line->append(buf, static_cast<size_t>(n));
    size_t end = line->find('\n');
    if (end != std::string::npos) {
      line->resize(end);
      break;
    }
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return 0;
}

}  // namespace

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string watch_csv_header(const modbus_reg_entry* const* entries, int count) {
  std::string header = "time";
  for (int i = 0; i < count; i++) {
    std::string column = reg_trimmed_name(entries[i]->name);
    if (entries[i]->unit[0]) column += std::string(" [") + entries[i]->unit + "]";
    header += "," + csv_field(column);
  }
  return header;
}

std::string watch_csv_value(const modbus_reg_entry* entry, const uint16_t* words) {
  if (!words) return "";
  char text[64];
  switch (entry->type) {
    case FLOAT:
      return shortest_float_text(bits_to_float(join_words(words)));
    case WORD:
      snprintf(text, sizeof text, "%u", static_cast<unsigned>(words[0]));
      break;
    case DWORD:
      // Signed, as READ and the watch line show it, so the record agrees with the screen.
      snprintf(text, sizeof text, "%d", static_cast<int32_t>(join_words(words)));
      break;
    default:
      return "";
  }
  return text;
}

std::string watch_csv_time(const timespec& when) { return format_timestamp(when, TIMESTAMP_UTC); }

int watch_csv_open(const std::string& path, const std::string& header, watch_csv_file* file) {
  // O_NONBLOCK: a FIFO at the path must not stall the console before the watch begins.
  int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) {
    printf("%s: %s, not watched\n", path.c_str(), strerror(errno));
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    printf("%s: not a regular file, not watched\n", path.c_str());
    close(fd);
    return -1;
  }
  std::string first;
  off_t size = 0;
  if (read_first_line(fd, &first, &size) != 0) {
    printf("%s: %s, not watched\n", path.c_str(), strerror(errno));
    close(fd);
    return -1;
  }
  if (size > 0 && first != header) {
    printf("%s: holds other columns, not appended\n", path.c_str());
    close(fd);
    return -1;
  }
  // A row cut by a full disk or a crash must not take the next row's beginning as its end.
  char last = '\n';
  if (size > 0 && pread(fd, &last, 1, size - 1) != 1) last = '\n';
  // A row cut between its CR and its LF needs the LF only, or it would end in CR CR LF.
  std::string start = size == 0 ? header + ROW_END : (last == '\n' ? "" : ROW_END);
  if (last == '\r') start = "\n";
  if (!start.empty() && write_all(fd, start) != 0) {
    printf("%s: %s, not watched\n", path.c_str(), strerror(errno));
    close(fd);
    return -1;
  }
  file->fd = fd;
  file->path = path;
  file->failed = false;
  return 0;
}

void watch_csv_append(watch_csv_file* file, const std::vector<std::string>& fields) {
  if (file->fd < 0 || file->failed) return;
  std::string row;
  for (size_t i = 0; i < fields.size(); i++) {
    if (i) row += ',';
    row += fields[i];
  }
  row += ROW_END;
  if (write_all(file->fd, row) != 0) {
    printf("%s: %s, the watch goes on on screen only\n", file->path.c_str(), strerror(errno));
    fflush(stdout);
    file->failed = true;
  }
}

void watch_csv_close(watch_csv_file* file) {
  if (file->fd >= 0) close(file->fd);
  file->fd = -1;
}
