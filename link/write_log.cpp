#include "link/write_log.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "registers/catalogue.h"

namespace {

// The login register: the access codes written there are secrets, so its five words are
// masked wherever a write covers them.
constexpr int MB_LOG_IN_FIRST = 5121;
constexpr int MB_LOG_IN_LAST = 5125;

const char LOG_DIRECTORY[] = "veltrona_tool";
const char LOG_FILE[] = "writes.log";

// Set by write_log_open on the main thread before the link thread starts; afterwards read and
// used by the link thread only.
int log_fd = -1;
bool log_opened = false;
std::string log_path;
char log_user[64];
char log_device[48];

// The base directory of state files: $XDG_STATE_HOME when it is an absolute path, otherwise
// ~/.local/state. Empty when there is no home directory either.
std::string state_home() {
  const char* xdg = getenv("XDG_STATE_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = getenv("HOME");
  if (!home || !*home) {
    const passwd* pw = getpwuid(getuid());
    home = pw ? pw->pw_dir : nullptr;
  }
  if (!home || !*home) return "";
  return std::string(home) + "/.local/state";
}

// Makes every missing directory of path, each with mode 0700. Returns 0, or -1 with errno set.
int make_directories(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string part = path.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return -1;
    if (slash == std::string::npos) break;
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return -1;
  }
  return 0;
}

void find_user() {
  const passwd* pw = getpwuid(getuid());
  if (pw && pw->pw_name && pw->pw_name[0]) {
    snprintf(log_user, sizeof log_user, "%s", pw->pw_name);
  } else {
    snprintf(log_user, sizeof log_user, "%u", static_cast<unsigned>(getuid()));
  }
}

// The catalogue's name without the trailing blank some names carry, so that the line splits
// at blanks; "-" for an address the catalogue does not have.
void register_name(int address, char* name, size_t size) {
  int index = reg_find_by_address(address);
  if (index < 0) {
    snprintf(name, size, "-");
    return;
  }
  snprintf(name, size, "%s", modbus_reg_table[index].name);
  size_t n = strlen(name);
  while (n > 0 && name[n - 1] == ' ') name[--n] = '\0';
}

// Formats onto the end of the text in buf. Returns 0, or -1 when it does not fit.
__attribute__((format(printf, 4, 5))) int append(char* buf, size_t size, size_t* used,
                                                 const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsnprintf(buf + *used, size - *used, format, args);
  va_end(args);
  if (n < 0 || static_cast<size_t>(n) >= size - *used) return -1;
  *used += static_cast<size_t>(n);
  return 0;
}

}  // namespace

int write_log_format(char* buf, size_t size, const timespec& when, const char* user,
                     const char* device, int address, int count, const uint16_t* words,
                     int result) {
  tm local;
  localtime_r(&when.tv_sec, &local);
  char date[32], zone[8];
  strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
  strftime(zone, sizeof zone, "%z", &local);
  char name[64];
  register_name(address, name, sizeof name);

  size_t used = 0;
  int rc = append(buf, size, &used, "%s.%03ld %s %s %s %d %s %d", date, when.tv_nsec / 1000000,
                  zone, user, device, address, name, count);
  for (int k = 0; k < count && rc == 0; k++) {
    int word_address = address + k;
    if (word_address >= MB_LOG_IN_FIRST && word_address <= MB_LOG_IN_LAST) {
      rc = append(buf, size, &used, " ****");
    } else {
      rc = append(buf, size, &used, " %04X", words[k]);
    }
  }
  if (rc == 0) rc = append(buf, size, &used, " %s\n", result < 0 ? "FAIL" : "OK");
  return rc == 0 ? static_cast<int>(used) : -1;
}

int write_log_open(const char* host, int port) {
  if (log_opened) return log_fd >= 0 ? 0 : -1;
  log_opened = true;
  // localtime_r does not read the time zone settings itself.
  tzset();
  find_user();
  snprintf(log_device, sizeof log_device, "%s:%d", host, port);

  std::string base = state_home();
  if (base.empty()) {
    fprintf(stderr, "Write log not kept: no home directory for %s/%s.\n", LOG_DIRECTORY, LOG_FILE);
    return -1;
  }
  std::string dir = base + "/" + LOG_DIRECTORY;
  log_path = dir + "/" + LOG_FILE;
  if (make_directories(dir) == 0) {
    log_fd = open(log_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  }
  if (log_fd < 0) {
    fprintf(stderr, "Write log not kept: %s: %s\n", log_path.c_str(), strerror(errno));
    return -1;
  }
  return 0;
}

void write_log_record(int address, int count, const uint16_t* words, int result) {
  if (log_fd < 0) return;
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  char line[WRITE_LOG_LINE_SIZE];
  int len =
      write_log_format(line, sizeof line, now, log_user, log_device, address, count, words, result);
  if (len < 0) return;
  // One write(2) with O_APPEND: the line lands whole at the end of the file, and is in the
  // file as soon as the call returns.
  ssize_t n;
  do {
    n = write(log_fd, line, static_cast<size_t>(len));
  } while (n < 0 && errno == EINTR);
  // A line cut at a full disk or at the file-size limit: the write of its rest tells why.
  if (n > 0 && n < len) {
    ssize_t rest;
    do {
      rest = write(log_fd, line + n, static_cast<size_t>(len - n));
    } while (rest < 0 && errno == EINTR);
    n = rest < 0 ? rest : n + rest;
  }
  if (n != len) {
    fprintf(stderr, "Write log not kept any more: %s: %s\n", log_path.c_str(),
            n < 0 ? strerror(errno) : "short write");
    close(log_fd);
    log_fd = -1;
  }
}
