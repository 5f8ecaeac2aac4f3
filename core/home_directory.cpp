#include "core/home_directory.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

std::string home_directory() {
  const char* home = getenv("HOME");
  if (home && *home) return home;
  // getpwuid_r, so that a thread calling this never shares the library's static entry.
  passwd entry;
  passwd* found = nullptr;
  char buf[4096];
  if (getpwuid_r(getuid(), &entry, buf, sizeof buf, &found) != 0 || !found) return "";
  if (!found->pw_dir || !*found->pw_dir) return "";
  return found->pw_dir;
}

std::string state_home() {
  const char* xdg = getenv("XDG_STATE_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  std::string home = home_directory();
  if (home.empty()) return "";
  return home + "/.local/state";
}

int make_private_directories(const std::string& path) {
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

const char* file_refusal_text(int result) {
  switch (result) {
    case FILE_NOT_REGULAR:
      return "not a regular file";
    case FILE_IS_LINK:
      return "a symbolic link, not followed";
    case STATE_DIR_UNSAFE:
      return "its directory is not yours or is writable by others";
    default:
      return "not opened";
  }
}

namespace {

// What stands at the path decides before anything is opened, as a device file may act on being
// opened; the open does not block either, and what it opened is checked again, in case the path
// changed meanwhile.
int open_checked(const char* path, int flags) {
  struct stat st;
  bool follow = (flags & O_NOFOLLOW) == 0;
  if ((follow ? stat(path, &st) : lstat(path, &st)) == 0) {
    if (S_ISLNK(st.st_mode)) return FILE_IS_LINK;
    if (!S_ISREG(st.st_mode)) return FILE_NOT_REGULAR;
  }
  int fd = open(path, flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
  if (fd < 0) {
    if (errno == EISDIR || errno == ENXIO) return FILE_NOT_REGULAR;
    if (errno == ELOOP && (flags & O_NOFOLLOW)) return FILE_IS_LINK;
    return -1;
  }
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return FILE_NOT_REGULAR;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

int open_regular_file(const char* path, int flags) { return open_checked(path, flags); }

int open_state_file(const std::string& path, int flags) {
  std::string dir = path.substr(0, path.rfind('/'));
  struct stat st;
  if (stat(dir.empty() ? "/" : dir.c_str(), &st) == 0 &&
      ((st.st_uid != geteuid() && st.st_uid != 0) || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0))
    return STATE_DIR_UNSAFE;
  return open_checked(path.c_str(), flags | O_NOFOLLOW);
}
