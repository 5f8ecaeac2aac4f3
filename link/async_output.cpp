#include "link/async_output.h"

#include <pthread.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Serialises the messages and guards output_hook: set by the console thread, read by whichever
// thread prints (the link thread).
pthread_mutex_t output_mutex = PTHREAD_MUTEX_INITIALIZER;
link_output_hook output_hook = nullptr;
// Guarded by output_mutex: the status line as it stands on standard error, empty when none.
std::string status_line;

// Blanks rather than a terminal's erase sequence: every terminal takes them.
void erase_status_line() {
  if (status_line.empty()) return;
  fprintf(stderr, "\r%*s\r", static_cast<int>(status_line.size()), "");
  fflush(stderr);
}

void draw_status_line() {
  if (status_line.empty()) return;
  fprintf(stderr, "\r%s", status_line.c_str());
  fflush(stderr);
}

}  // namespace

void link_printf(const char* format, ...) {
  char small[256];
  std::vector<char> large;
  char* text = small;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int len = vsnprintf(small, sizeof(small), format, args);
  va_end(args);
  if (len >= static_cast<int>(sizeof(small))) {
    large.resize(static_cast<size_t>(len) + 1);
    vsnprintf(large.data(), large.size(), format, again);
    text = large.data();
  }
  va_end(again);
  if (len < 0) return;

  pthread_mutex_lock(&output_mutex);
  erase_status_line();
  if (output_hook) {
    output_hook(text, static_cast<size_t>(len));
  } else {
    fwrite(text, 1, static_cast<size_t>(len), stdout);
    fflush(stdout);
  }
  draw_status_line();
  pthread_mutex_unlock(&output_mutex);
}

void link_set_status_line(const char* text) {
  fflush(stdout);
  pthread_mutex_lock(&output_mutex);
  std::string next = text ? text : "";
  // A longer line covers the old one; a shorter one needs it gone first.
  if (next.size() < status_line.size()) erase_status_line();
  status_line = next;
  if (status_line.empty()) {
    pthread_mutex_unlock(&output_mutex);
    return;
  }
  draw_status_line();
  pthread_mutex_unlock(&output_mutex);
}

void link_set_output_hook(link_output_hook hook) {
  pthread_mutex_lock(&output_mutex);
  output_hook = hook;
  pthread_mutex_unlock(&output_mutex);
}
