#include "core/script_input.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/command_line.h"
#include "core/input.h"
#include "core/write_all.h"

namespace {

int say_failure(const char* what, int error) {
  fprintf(stderr, "veltrona_tool: %s: %s\n", shown_argument(what).c_str(), strerror(error));
  return -1;
}

// Makes fd standard input; fd is closed.
int become_standard_input(int fd, const char* what) {
  if (fd != STDIN_FILENO && dup2(fd, STDIN_FILENO) < 0) {
    int error = errno;
    close(fd);
    return say_failure(what, error);
  }
  if (fd != STDIN_FILENO) close(fd);
  return 0;
}

}  // namespace

int script_input_from_commands(const std::vector<std::string>& lines) {
  // A file in memory rather than a pipe: no size limit, and nothing to write while reading.
  int fd = memfd_create("veltrona_tool-c", MFD_CLOEXEC);
  if (fd < 0) return say_failure("-c", errno);
  for (const std::string& line : lines) {
    std::string text = line + "\n";
    if (write_all(fd, text) < 0) {
      int error = errno;
      close(fd);
      return say_failure("-c", error);
    }
  }
  if (lseek(fd, 0, SEEK_SET) < 0) {
    int error = errno;
    close(fd);
    return say_failure("-c", error);
  }
  input_set_source_name("-c");
  return become_standard_input(fd, "-c");
}

int script_input_from_file(const char* path) {
  if (strcmp(path, "-") == 0) return 0;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return say_failure(path, errno);
  struct stat st;
  // A directory opens, but every read of it fails.
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    return say_failure(path, EISDIR);
  }
  input_set_source_name(path);
  return become_standard_input(fd, path);
}
