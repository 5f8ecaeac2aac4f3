#include "console/read_progress.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "core/timestamp.h"
#include "link/async_output.h"

namespace {

// A read that ends sooner needs no progress: the line would only flicker.
constexpr int64_t SHOW_AFTER_MS = 500;
// A device that answers in milliseconds would have the line redrawn hundreds of times a second,
// a load on a remote terminal that nobody can read anyway.
constexpr int64_t REDRAW_EVERY_MS = 100;

}  // namespace

void read_progress_start(read_progress* progress, int total) {
  *progress = read_progress{};
  progress->total = total;
  progress->started_ms = monotonic_clock_ms();
  progress->at_terminal = isatty(STDERR_FILENO) == 1;
}

void read_progress_update(read_progress* progress, int done) {
  if (!progress->at_terminal) return;
  int64_t now = monotonic_clock_ms();
  if (now - progress->started_ms < SHOW_AFTER_MS) return;
  if (progress->shown_length > 0 && now - progress->drawn_ms < REDRAW_EVERY_MS) return;
  progress->drawn_ms = now;
  char line[64];
  int n = snprintf(line, sizeof line, "Reading %d of %d registers...", done, progress->total);
  // Through the link's output, which takes the line away while the link thread prints a line
  // of its own (a poll failure, an interlock change) and draws it again after it.
  link_set_status_line(line);
  if (n > 0) progress->shown_length = n;
}

void read_progress_erase(read_progress* progress) {
  if (progress->shown_length == 0) return;
  link_set_status_line(nullptr);
  progress->shown_length = 0;
}
