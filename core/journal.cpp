#include "core/journal.h"

#include <pthread.h>
#include <signal.h>
#include <sys/uio.h>
#include <time.h>
// The entries name the command and the register; this file's name and line would say nothing.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>

namespace {

// Written by the main thread before the workers start (--no-journal, the first
// journal_enabled), read by any thread afterwards.
std::atomic<int> journal_state{0};  // 0 not decided yet, 1 on, -1 off

// Written by the console thread before it runs a handler; the link thread reads it while it
// serves that handler's write request, which the mailbox hand-over orders after the store.
std::atomic<const char*> command_word{""};

// Entries wait here for the sender thread, so that a journal that takes nothing more (its socket's
// queue full: journald stuck, or slow under load) never holds the thread that wrote to the device
// or the console. A full queue drops the new entry; the write log and the records keep theirs.
constexpr size_t QUEUE_MOST = 1024;
// Plain pthread objects and a queue that is never freed: the sender may still wait on them while
// the process runs its exit handlers, which would otherwise destroy them under it (a condition
// variable's destruction waits for its waiters, for ever).
pthread_mutex_t queue_mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t queue_filled = PTHREAD_COND_INITIALIZER;
pthread_cond_t queue_drained = PTHREAD_COND_INITIALIZER;
// Guarded by queue_mutex.
std::deque<std::vector<std::string>>& queue = *new std::deque<std::vector<std::string>>;
bool sender_running = false;
bool sending = false;  // the sender holds an entry it took from the queue

void send_now(const std::vector<std::string>& fields) {
  std::vector<iovec> parts(fields.size());
  for (size_t i = 0; i < fields.size(); i++) {
    parts[i].iov_base = const_cast<char*>(fields[i].data());
    parts[i].iov_len = fields[i].size();
  }
  // libsystemd frames values with line ends itself, and passes an entry too large for one
  // datagram in a sealed memory file.
  sd_journal_sendv(parts.data(), static_cast<int>(parts.size()));
}

void* sender_main(void*) {
  pthread_mutex_lock(&queue_mutex);
  for (;;) {
    while (queue.empty()) pthread_cond_wait(&queue_filled, &queue_mutex);
    std::vector<std::string> fields = std::move(queue.front());
    queue.pop_front();
    sending = true;
    pthread_mutex_unlock(&queue_mutex);
    send_now(fields);
    pthread_mutex_lock(&queue_mutex);
    sending = false;
    if (queue.empty()) pthread_cond_broadcast(&queue_drained);
  }
  return nullptr;
}

// Starts the sender with every signal blocked, so that Ctrl-C and the terminal's signals keep
// going to the threads that handle them. Under queue_mutex. Returns whether it runs.
bool start_sender() {
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  pthread_t thread;
  int rc = pthread_create(&thread, nullptr, sender_main, nullptr);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (rc != 0) return false;
  // Never joined: at the end it may be held in a send that does not come back.
  pthread_detach(thread);
  return true;
}

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
  int rc = 0;
  pthread_mutex_lock(&queue_mutex);
  if (!sender_running) sender_running = start_sender();
  if (!sender_running) {
    rc = -EAGAIN;
  } else if (queue.size() >= QUEUE_MOST) {
    rc = -ENOBUFS;
  } else {
    queue.push_back(fields);
    pthread_cond_signal(&queue_filled);
  }
  pthread_mutex_unlock(&queue_mutex);
  return rc;
}

void journal_flush(int timeout_ms) {
  timespec until;
  clock_gettime(CLOCK_MONOTONIC, &until);
  until.tv_sec += timeout_ms / 1000;
  until.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000;
  if (until.tv_nsec >= 1000000000) {
    until.tv_sec++;
    until.tv_nsec -= 1000000000;
  }
  pthread_mutex_lock(&queue_mutex);
  while ((!queue.empty() || sending) &&
         pthread_cond_clockwait(&queue_drained, &queue_mutex, CLOCK_MONOTONIC, &until) == 0) {
  }
  pthread_mutex_unlock(&queue_mutex);
}
