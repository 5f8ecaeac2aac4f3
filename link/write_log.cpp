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

#include "core/home_directory.h"
#include "core/journal.h"
#include "core/timestamp.h"
#include "core/write_all.h"
#include "registers/catalogue.h"

namespace {

const char LOG_DIRECTORY[] = "veltrona_tool";
const char LOG_FILE[] = "writes.log";

// Set by write_log_open on the main thread before the link thread starts; afterwards read and
// used by the link thread only.
int log_fd = -1;
bool log_opened = false;
std::string log_path;
char log_user[64];
char log_device[48];

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
  const char* full = modbus_reg_table[index].name;
  snprintf(name, size, "%.*s", reg_name_length(full), full);
}

// Whether the file holds a line without its line end: one that a full disk or a size limit cut
// short, in this tool or another one appending to the same log.
bool ends_with_cut_line(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size == 0) return false;
  char last;
  return pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n';
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

// The words as the line shows them, each after a blank: four hexadecimal digits, or **** on a
// register that holds a secret.
int format_words(char* buf, size_t size, size_t* used, int address, int count,
                 const uint16_t* words) {
  int rc = 0;
  for (int k = 0; k < count && rc == 0; k++) {
    if (reg_words_hold_secret(address + k, 1)) {
      rc = append(buf, size, used, " ****");
    } else {
      rc = append(buf, size, used, " %04X", words[k]);
    }
  }
  return rc;
}

// The line after its time: user, device, address, name, count, the words and the outcome,
// without the line end. The journal's entries say the same in the same words.
int format_text(char* buf, size_t size, size_t* used, const char* user, const char* device,
                int address, int count, const uint16_t* words, write_outcome outcome) {
  char name[64];
  register_name(address, name, sizeof name);
  int rc = append(buf, size, used, "%s %s %d %s %d", user, device, address, name, count);
  if (rc == 0) rc = format_words(buf, size, used, address, count, words);
  if (rc == 0) rc = append(buf, size, used, " %s", write_outcome_word(outcome));
  return rc;
}

}  // namespace

int write_log_format(char* buf, size_t size, const timespec& when, const char* user,
                     const char* device, int address, int count, const uint16_t* words,
                     write_outcome outcome) {
  std::string stamp = format_timestamp(when, TIMESTAMP_LOG);
  size_t used = 0;
  int rc = append(buf, size, &used, "%s ", stamp.c_str());
  if (rc == 0) rc = format_text(buf, size, &used, user, device, address, count, words, outcome);
  if (rc == 0) rc = append(buf, size, &used, "\n");
  return rc == 0 ? static_cast<int>(used) : -1;
}

std::vector<std::string> write_journal_fields(const char* user, const char* device, int address,
                                              int count, const uint16_t* words,
                                              write_outcome outcome, const char* command) {
  char text[WRITE_LOG_LINE_SIZE];
  size_t used = 0;
  if (format_text(text, sizeof text, &used, user, device, address, count, words, outcome) != 0)
    return {};
  char shown[WRITE_LOG_LINE_SIZE];
  size_t shown_used = 0;
  if (format_words(shown, sizeof shown, &shown_used, address, count, words) != 0) return {};
  char name[64];
  register_name(address, name, sizeof name);
  const char* outcome_word = write_outcome_word(outcome);
  return {
      "MESSAGE=" + std::string(text, used),
      std::string("MESSAGE_ID=") + JOURNAL_WRITE_MESSAGE_ID,
      std::string("PRIORITY=") + journal_priority(outcome_word),
      JOURNAL_IDENTIFIER_FIELD,
      std::string("VT_DEVICE=") + device,
      "VT_ADDRESS=" + std::to_string(address),
      std::string("VT_REGISTER=") + (strcmp(name, "-") == 0 ? "" : name),
      "VT_WORDS=" + std::string(shown_used > 0 ? shown + 1 : shown),
      std::string("VT_OUTCOME=") + outcome_word,
      std::string("VT_COMMAND=") + command,
  };
}

void write_journal_record(const char* host, int port, int address, int count, const uint16_t* words,
                          write_outcome outcome) {
  if (!journal_enabled()) return;
  if (!log_user[0]) find_user();
  char device[48];
  snprintf(device, sizeof device, "%s:%d", host, port);
  journal_send(
      write_journal_fields(log_user, device, address, count, words, outcome, journal_command()));
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
  // Read access too: the last byte tells whether the file ends with a whole line.
  if (make_private_directories(dir) == 0)
    log_fd = open_state_file(log_path, O_RDWR | O_APPEND | O_CREAT);
  if (log_fd < -1) {
    fprintf(stderr, "Write log not kept: %s: %s\n", log_path.c_str(), file_refusal_text(log_fd));
    log_fd = -1;
    return -1;
  }
  if (log_fd < 0) {
    fprintf(stderr, "Write log not kept: %s: %s\n", log_path.c_str(), strerror(errno));
    return -1;
  }
  return 0;
}

void write_log_record(int address, int count, const uint16_t* words, write_outcome outcome) {
  if (log_fd < 0) return;
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  // line[0] stays free for the line end that puts the line after a cut one on its own.
  char line[WRITE_LOG_LINE_SIZE];
  int len = write_log_format(line + 1, sizeof line - 1, now, log_user, log_device, address, count,
                             words, outcome);
  if (len < 0) return;
  const char* text = line + 1;
  if (ends_with_cut_line(log_fd)) {
    line[0] = '\n';
    text = line;
    len++;
  }
  // One write(2) with O_APPEND: the line lands whole at the end of the file, and is in the
  // file as soon as the call returns.
  if (write_all(log_fd, std::string_view(text, static_cast<size_t>(len))) != 0) {
    fprintf(stderr, "Write log not kept any more: %s: %s\n", log_path.c_str(), strerror(errno));
    close(log_fd);
    log_fd = -1;
  }
}
