#include "core/home_directory.h"

#include <pwd.h>
#include <unistd.h>

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
