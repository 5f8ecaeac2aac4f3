// veltrona_tool: calibration and chat utility for the modulator. The main thread sets up,
// starts the link and console threads, waits for both and tears down; in between it only
// receives Ctrl-C (and SIGTERM, SIGHUP, which mean the same here) and passes it on.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "console/console.h"
#include "core/colours.h"
#include "core/command_line.h"
#include "core/host_service.h"
#include "core/input.h"
#include "core/journal.h"
#include "core/lifecycle.h"
#include "core/script_input.h"
#include "core/tool_config.h"
#include "link/link.h"
#include "link/planned_reads.h"
#include "link/write_log.h"
#include "registers/read_plan.h"

namespace {

// How long the end waits for the journal to take the entries still queued.
constexpr int JOURNAL_FLUSH_MS = 1000;

// Thread handles, written by the main thread before the matching worker state becomes
// WORKER_RUNNING and only read afterwards (also by the stop signal handler).
pthread_t main_thread;
pthread_t link_thread;
pthread_t console_thread;

// A worker's state as the stop signal handler sees it. The main thread moves it from NOT_STARTED
// to RUNNING once the handle is stored; the worker itself sets ENDED as its last step, before
// it can be joined, so the handler never signals a thread that has been joined (a second
// Ctrl-C during the host-service restore, say).
enum worker_state { WORKER_NOT_STARTED, WORKER_RUNNING, WORKER_ENDED };
std::atomic<int> link_state{WORKER_NOT_STARTED};
std::atomic<int> console_state{WORKER_NOT_STARTED};

// A worker that ends ends the tool (the link only when the device was never reached, then the
// console follows): the stop is set and the waits woken, the main thread's among them.
void* link_entry(void* arg) {
  link_thread_main(arg);
  quit_requested.store(1);
  wake_input_waits();
  link_state.store(WORKER_ENDED);
  return nullptr;
}

// SIGTSTP, SIGCONT and SIGWINCH: blocked by the main and link threads while the console thread
// runs, so that they land on the console thread and interrupt its wait for the operator.
sigset_t console_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGTSTP, SIGCONT, SIGWINCH}) sigaddset(&set, sig);
  return set;
}

void* console_entry(void* arg) {
  sigset_t set = console_signals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  console_thread_main(arg);
  quit_requested.store(1);
  wake_input_waits();
  console_state.store(WORKER_ENDED);
  return nullptr;
}

void start_worker(pthread_t* handle, void* (*entry)(void*), void* arg, std::atomic<int>* state) {
  pthread_create(handle, nullptr, entry, arg);
  int expected = WORKER_NOT_STARTED;
  state->compare_exchange_strong(expected, WORKER_RUNNING);
}

// Standard input's terminal modes at start, for the SIGQUIT handler; written by the main thread
// before the handler is installed, then only read.
termios terminal_at_start;
bool terminal_saved = false;

// SIGINT, SIGTERM and SIGHUP: stop the tool. Forwarded as SIGINT, which is what the workers'
// waits expect.
void on_stop_signal(int) {
  if (!pthread_equal(pthread_self(), main_thread)) {
    // The system chose a worker: hand the signal to the main thread, which stops both.
    if (!quit_requested.load()) pthread_kill(main_thread, SIGINT);
    return;
  }
  // A transfer under way fails at once, whatever the device does. Only the flag, the eventfd and
  // the connection's shutdown happen here; the link thread's wake-up takes a lock and follows on
  // the main thread, which the eventfd wakes (join_worker).
  request_stop_from_signal();
  // Only interrupts a blocking call; the workers' handlers return at once.
  if (link_state.load() == WORKER_RUNNING) pthread_kill(link_thread, SIGINT);
  if (console_state.load() == WORKER_RUNNING) pthread_kill(console_thread, SIGINT);
}

// SIGQUIT (Ctrl-\) ends the process as it always does, with a core dump where they are enabled,
// but first gives the terminal back the modes that line editing or interactive editing changed.
void on_quit_signal(int sig) {
  if (terminal_saved) tcsetattr(STDIN_FILENO, TCSANOW, &terminal_at_start);
  struct sigaction sa = {};
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  sigaction(sig, &sa, nullptr);
  raise(sig);  // delivered when the handler returns
}

// Standard input's modes in the tool's own use (line editing, the key mode) when Ctrl-Z came,
// put back once the process continues. Only the SIGTSTP handler touches them.
termios terminal_in_use;

// SIGTSTP (Ctrl-Z): the terminal gets back the modes it had at start, as a shell expects of a
// stopped job, and the process stops as it does by default. Once continued it puts its own
// modes back, since a shell's fg leaves its own. In a process group no shell controls (an
// orphaned one) the system does not stop the process, and nothing changes.
void on_stop_key(int sig) {
  int saved_errno = errno;
  bool in_use = terminal_saved && tcgetattr(STDIN_FILENO, &terminal_in_use) == 0;
  if (terminal_saved) tcsetattr(STDIN_FILENO, TCSANOW, &terminal_at_start);
  struct sigaction stop = {}, mine;
  stop.sa_handler = SIG_DFL;
  sigemptyset(&stop.sa_mask);
  sigaction(sig, &stop, &mine);
  sigset_t just_this, before;
  sigemptyset(&just_this);
  sigaddset(&just_this, sig);
  pthread_sigmask(SIG_UNBLOCK, &just_this, &before);
  raise(sig);  // returns once the process continues
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  sigaction(sig, &mine, nullptr);
  if (in_use) tcsetattr(STDIN_FILENO, TCSANOW, &terminal_in_use);
  errno = saved_errno;
}

void on_continue(int) { terminal_continues.fetch_add(1); }

void on_resize(int) { terminal_resizes.fetch_add(1); }

// Returns 0, or -1 with errno set when a handler can't be installed.
int install_signal_handlers() {
  terminal_saved = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &terminal_at_start) == 0;
  struct sigaction sa = {};
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a blocking read must return on Ctrl-C
  sa.sa_handler = on_stop_signal;
  for (int sig : {SIGINT, SIGTERM, SIGHUP})
    if (sigaction(sig, &sa, nullptr) != 0) return -1;
  sa.sa_handler = on_quit_signal;
  if (sigaction(SIGQUIT, &sa, nullptr) != 0) return -1;
  const struct {
    int sig;
    void (*handler)(int);
  } job_handlers[] = {{SIGTSTP, on_stop_key}, {SIGCONT, on_continue}, {SIGWINCH, on_resize}};
  // A read under way goes on after these; a wait (poll) still returns, so that it can redraw.
  sa.sa_flags = SA_RESTART;
  for (const auto& h : job_handlers) {
    sa.sa_handler = h.handler;
    if (sigaction(h.sig, &sa, nullptr) != 0) return -1;
  }
  // A reader of standard output that has gone away must not end the tool before the
  // host-service restore: the write fails instead, and the next wait for input ends the tool.
  // Likewise a file that reaches the file-size limit (ulimit -f): the write fails with EFBIG
  // and is reported like a full disk, and the session goes on to its restore.
  sa.sa_flags = 0;
  sa.sa_handler = SIG_IGN;
  for (int sig : {SIGPIPE, SIGXFSZ})
    if (sigaction(sig, &sa, nullptr) != 0) return -1;
  return 0;
}

// Waits for a worker to end. Until the tool is stopping the main thread sleeps (an idle tool
// wakes only for the link's poll). Once it is stopping, the signal is sent to the console thread
// again every 100 ms while it runs: one that lands after a wait for input (the line editor's,
// interactive editing's, a plain line's) has seen a key but before the read has begun is lost
// for that read, and Ctrl-C has made the terminal discard the key meanwhile, so the read would
// wait for the next key press. The console's handle stays valid throughout, since it is joined
// last.
void join_worker(pthread_t thread) {
  sleep_until_stop();
  finish_stop();
  for (;;) {
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_nsec += 100 * 1000 * 1000L;
    if (deadline.tv_nsec >= 1000 * 1000 * 1000L) {
      deadline.tv_sec++;
      deadline.tv_nsec -= 1000 * 1000 * 1000L;
    }
    int rc = pthread_timedjoin_np(thread, nullptr, &deadline);
    if (rc == 0) return;
    if (rc != ETIMEDOUT) {
      pthread_join(thread, nullptr);
      return;
    }
    if (quit_requested.load() && console_state.load() == WORKER_RUNNING)
      pthread_kill(console_thread, SIGINT);
  }
}

// Puts /dev/null on each of the standard descriptors that is not open. Otherwise the next file
// or socket opened would take its number: the device's socket read as commands on 0, or prompts
// sent to the device on 1. A closed standard input then reads as end of input.
void open_missing_standard_descriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lower descriptors are open by now, so this one takes the number fd.
    int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  open_missing_standard_descriptors();
  command_line_options options;
  if (int status = command_line_handle(argc, argv, &options); status >= 0) return status;
  if (!options.commands.empty() && script_input_from_commands(options.commands) < 0)
    return STATUS_BAD_USAGE;
  if (options.script_file && script_input_from_file(options.script_file) < 0)
    return STATUS_BAD_USAGE;
  exit_on_error.store(options.exit_on_error);
  quiet_output.store(options.quiet);
  read_block_limit = options.max_block;
  if (options.config_file) tool_config_set_file(options.config_file);
  if (options.no_journal) journal_turn_off();
  // Decided once, before the workers that send start.
  journal_enabled();
  colours_init();
  setvbuf(stdout, nullptr, _IOLBF, 0);
  main_thread = pthread_self();

  if (install_signal_handlers() != 0) {
    perror("sigaction");
    return -1;
  }

  if (tool_config_load() < 0) {
    printf("Failed to load %s", shown_argument(tool_config_file()).c_str());
    fflush(stdout);
    return -1;
  }

  unsigned service_bits = 0;
  if (tool_config.iStopOnQpxRun) service_bits = host_service_check();

  make_working_copies(tool_config);
  // This run's device only: tool_config keeps the loaded values, which every save writes.
  link_params params = link_params_from_config(tool_config);
  if (options.host) snprintf(params.host, sizeof params.host, "%s", options.host);
  if (options.port) params.port = options.port;
  write_log_open(params.host, params.port);
  set_stop_actions(link_cut_connection, link_stop_wake);

  // A Ctrl-C during start-up (the service questions included) ends the tool before it
  // connects; the restore below still puts back what the check changed.
  if (!quit_requested.load()) {
    sigset_t console_only = console_signals(), before;
    pthread_sigmask(SIG_BLOCK, &console_only, &before);
    link_setup(&params, nullptr);
    start_worker(&link_thread, link_entry, nullptr, &link_state);
    start_worker(&console_thread, console_entry, nullptr, &console_state);
    join_worker(link_thread);
    join_worker(console_thread);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
  }

  // The last writes' entries, unless the journal takes nothing: the end waits for no journal.
  journal_flush(JOURNAL_FLUSH_MS);
  if (tool_config.iStopOnQpxRun) host_service_restore(service_bits);
  if (!quiet_output.load()) printf("Exit.\n");
  fflush(stdout);
  return session_failed.load() ? 1 : 0;
}
