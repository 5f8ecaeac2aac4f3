#include "core/write_all.h"

#include <unistd.h>

#include <cerrno>

int write_all(int fd, std::string_view text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) {
      errno = ENOSPC;
      return -1;
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}
