#include "core/journal.h"

#include <sys/uio.h>
// The entries name the command and the register; this file's name and line would say nothing.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Written by the main thread before the workers start (--no-journal, the first
// journal_enabled), read by any thread afterwards.
std::atomic<int> journal_state{0};  // 0 not decided yet, 1 on, -1 off

// Written by the console thread before it runs a handler; the link thread reads it while it
// serves that handler's write request, which the mailbox hand-over orders after the store.
std::atomic<const char*> command_word{""};

}  // namespace

void journal_turn_off() { journal_state.store(-1); }

bool journal_enabled() {
  int state = journal_state.load();
  if (state == 0) {
    const char* off = getenv(JOURNAL_OFF_VARIABLE);
    state = off && off[0] ? -1 : 1;
    journal_state.store(state);
  }
  return state > 0;
}

void journal_set_command(const char* word) { command_word.store(word ? word : ""); }

const char* journal_command() { return command_word.load(); }

const char* journal_priority(const char* outcome_word) {
  return strcmp(outcome_word, "OK") == 0 ? "6" : "5";
}

int journal_send(const std::vector<std::string>& fields) {
  if (!journal_enabled()) return -ECANCELED;
  std::vector<iovec> parts(fields.size());
  for (size_t i = 0; i < fields.size(); i++) {
    parts[i].iov_base = const_cast<char*>(fields[i].data());
    parts[i].iov_len = fields[i].size();
  }
  // libsystemd frames values with line ends itself, and passes an entry too large for one
  // datagram in a sealed memory file; errno is its own business, not the caller's.
  int saved_errno = errno;
  int rc = sd_journal_sendv(parts.data(), static_cast<int>(parts.size()));
  errno = saved_errno;
  return rc < 0 ? rc : 0;
}
