#include "core/home_directory.h"

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
