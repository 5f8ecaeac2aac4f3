#include "core/host_service.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/input.h"
#include "core/lifecycle.h"
#include "registers/values.h"

extern char** environ;

namespace {

constexpr const char* RUNNING_CHECK = "ps_lumo | grep qpx";
constexpr const char* DISABLE_EDIT =
    "sed -i 's/qpx8_nv.bveltrona_modulator_inuse = 1/qpx8_nv.bveltrona_modulator_inuse = 0/g' "
    "/etc/norvane/lumorda/qpx8.conf";
constexpr const char* ENABLE_EDIT =
    "sed -i 's/qpx8_nv.bveltrona_modulator_inuse = [01]/qpx8_nv.bveltrona_modulator_inuse = 1/g' "
    "/etc/norvane/lumorda/qpx8.conf";
constexpr const char* START_SERVICE = "sudo systemctl start qpx8";
constexpr const char* RESTART_SERVICE = "sudo systemctl restart qpx8";
constexpr const char* STOP_SERVICE = "sudo systemctl stop qpx8";

// Starts "/bin/sh -c command", with its standard output into the write end of a new pipe whose
// read end goes to *out_fd when out_fd is given. The tool ignores SIGPIPE; the shell and its
// commands get the default action back, so a command whose reader has gone ends quietly, as it
// would from a prompt. Returns the shell's pid, or -1 when it can't be started.
pid_t start_shell(const char* command, int* out_fd) {
  int fds[2] = {-1, -1};
  if (out_fd && pipe2(fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (out_fd) posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &signals);
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attr, &signals);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(command),
                  nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, "/bin/sh", &actions, &attr, argv, environ) != 0) pid = -1;
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (out_fd) {
    close(fds[1]);
    if (pid < 0) {
      close(fds[0]);
    } else {
      *out_fd = fds[0];
    }
  }
  return pid;
}

// Waits for the shell to end. A Ctrl-C meanwhile sets the stop flag and interrupts the wait,
// which goes on: the command is left to finish (from a terminal the signal reaches it anyway),
// and the caller looks at the flag afterwards. Returns 0 with the wait status, or -1.
int wait_for_shell(pid_t pid, int* status) {
  for (;;) {
    if (waitpid(pid, status, 0) == pid) return 0;
    if (errno != EINTR) return -1;
  }
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// Asks a yes/no question; only a yes counts.
bool ask(const char* question) { return ask_yes_no(question, 1, OTHER_IS_NO) == ANSWER_YES; }

// Disables the modulator thread, then starts or restarts the service and checks it again.
// After a Ctrl-C during one of the commands nothing further is run; the bits then say what may
// have changed, so that the restore at exit puts it back.
void run_without_thread(unsigned* bits, const char* service_command, const char* done) {
  *bits &= ~QPX_THREAD_ENABLED;
  printf("Disabling veltrona in qpx8.conf.\n");
  run_shell_command(DISABLE_EDIT);
  if (quit_requested.load()) return;
  run_shell_command(service_command);
  if (quit_requested.load()) {
    // The service may be running now: the restore restarts it or stops it again.
    *bits |= QPX_RUNNING;
    return;
  }
  if (qpx_running_check() == -1) {
    printf("Fail to start QPX.\n");
  } else {
    *bits |= QPX_RUNNING;
    printf("%s\n", done);
  }
}

}  // namespace

int qpx_running_check() {
  int fd = -1;
  pid_t pid = start_shell(RUNNING_CHECK, &fd);
  FILE* pipe = pid < 0 ? nullptr : fdopen(fd, "r");
  if (!pipe) {
    if (pid >= 0) {
      close(fd);
      int status;
      wait_for_shell(pid, &status);
    }
    printf("Failed to execute command.\n");
    return -1;
  }
  char line[1000];
  int running = 0;
  for (;;) {
    if (fgets(line, sizeof(line), pipe)) {
      if (strstr(line, "qpx")) {
        running = 1;
        break;
      }
      continue;
    }
    // A Ctrl-C interrupts the read; the listing is read to its end all the same.
    if (!ferror(pipe) || errno != EINTR) break;
    clearerr(pipe);
  }
  fclose(pipe);
  int status;
  wait_for_shell(pid, &status);
  return running;
}

int qpx_line_matches(const char* line) {
  size_t i = 0;
  for (; line[i] && QPX_THREAD_LINE[i]; i++) {
    char a = line[i];
    char b = QPX_THREAD_LINE[i];
    if (!(is_blank(a) || is_blank(b) || a == b)) return 0;
  }
  return line[i] == '\0' && QPX_THREAD_LINE[i] == '\0';
}

int qpx_thread_check() {
  FILE* f = fopen(QPX_CONFIG_PATH, "r");
  if (!f) {
    perror("Error opening file");
    return 0;
  }
  char line[256];
  int enabled = 0;
  while (fgets(line, sizeof(line), f)) {
    cut_at_line_end(line);
    if (line[0] == '\0') continue;
    if (qpx_line_matches(line)) {
      enabled = 1;
      break;
    }
  }
  fclose(f);
  return enabled;
}

void run_shell_command(const char* command) {
  fflush(stdout);
  int status = 0;
  pid_t pid = start_shell(command, nullptr);
  if (pid < 0 || wait_for_shell(pid, &status) != 0) {
    printf("Failed to execute: %s", command);
  } else if (!WIFEXITED(status)) {
    printf("Command didn't exit normally\n");
  } else if (WEXITSTATUS(status) != 0) {
    printf("Command failed with exit status: %d\n", WEXITSTATUS(status));
  }
  fflush(stdout);
}

unsigned host_service_check() {
  unsigned bits = 0;
  int running = qpx_running_check();
  int thread = qpx_thread_check();
  if (running == 1) bits |= QPX_WAS_RUNNING | QPX_RUNNING;
  if (thread == 1) bits |= QPX_THREAD_WAS_ENABLED | QPX_THREAD_ENABLED;
  if (running == -1) {
    printf("Fail to check QPX status, QPX is assumed as running.\n");
    bits |= QPX_WAS_RUNNING | QPX_RUNNING;
  }
  if (running != 0) {
    if (thread != 1) {
      printf("QPX is running without veltrona thread. Good to go!\n");
      return bits;
    }
    if (!ask("QPX is running with veltrona thread. Restart QPX with veltrona thread disabled? "
             "(y/n) ")) {
      printf("QPX not restarted.\n");
      return bits;
    }
    run_without_thread(&bits, RESTART_SERVICE, "QPX restarted.");
    return bits;
  }
  if (!ask("QPX is not running. Launch QPX with veltrona thread disabled? (y/n) ")) {
    printf("QPX not started.\n");
    return bits;
  }
  run_without_thread(&bits, START_SERVICE, "QPX started.");
  return bits;
}

restore_actions host_service_restore_plan(unsigned bits) {
  restore_actions plan = {false, false, false};
  if ((bits & 3u) == ((bits >> 2) & 3u)) return plan;
  plan.enable_thread = (bits & QPX_THREAD_WAS_ENABLED) != 0;
  plan.restart = (bits & QPX_WAS_RUNNING) != 0;
  plan.stop = !plan.restart;
  return plan;
}

void host_service_restore(unsigned bits) {
  restore_actions plan = host_service_restore_plan(bits);
  if (plan.enable_thread) {
    printf("Enabling veltrona in qpx8.conf.\n");
    run_shell_command(ENABLE_EDIT);
  }
  if (plan.restart) {
    printf("Restarting QPX.\n");
    run_shell_command(RESTART_SERVICE);
  } else if (plan.stop) {
    printf("Stopping QPX.\n");
    run_shell_command(STOP_SERVICE);
  }
  fflush(stdout);
}
