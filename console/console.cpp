#include "console/console.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/lifecycle.h"
#include "link/link.h"

namespace {

constexpr uint16_t MB_LOG_IN_ADDR = 5121;

// Session-start access code: eight ASCII digits and two NUL bytes, low byte first in each
// register.
int write_session_login() {
  static const char code[10] = {'4', '0', '7', '1', '6', '2', '5', '3', 0, 0};
  uint16_t regs[5];
  for (int i = 0; i < 5; i++)
    regs[i] = static_cast<uint16_t>(static_cast<unsigned char>(code[2 * i]) |
                                    (static_cast<unsigned char>(code[2 * i + 1]) << 8));
  return modbus_cmd_write(MB_LOG_IN_ADDR, 5, regs);
}

char line_buffer[512];

}  // namespace

void* console_thread_main(void*) {
  if (link_wait_status() == -1) return nullptr;
  if (write_session_login() < 0) printf("Login fail!\n");
  fflush(stdout);
  while (!quit_requested.load()) {
    if (!fgets(line_buffer, sizeof(line_buffer), stdin)) {
      line_buffer[0] = '\0';
      if (feof(stdin)) {
        quit_requested.store(1);
        break;
      }
      bool interrupted = errno == EINTR;
      clearerr(stdin);
      if (!interrupted) printf("Error reading cmd.\n");
      continue;
    }
  }
  quit_requested.store(1);
  link_wake();
  return nullptr;
}
