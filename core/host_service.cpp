#include "core/host_service.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "registers/values.h"

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

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// Asks a yes/no question; only a yes counts.
bool ask(const char* question) {
  printf("%s", question);
  fflush(stdout);
  return read_yes_no() == 1;
}

// Disables the modulator thread, then starts or restarts the service and checks it again.
void run_without_thread(unsigned* bits, const char* service_command, const char* done) {
  *bits &= ~QPX_THREAD_ENABLED;
  printf("Disabling veltrona in qpx8.conf.\n");
  run_shell_command(DISABLE_EDIT);
  run_shell_command(service_command);
  if (qpx_running_check() == -1) {
    printf("Fail to start QPX.\n");
  } else {
    *bits |= QPX_RUNNING;
    printf("%s\n", done);
  }
}

}  // namespace

int qpx_running_check() {
  FILE* pipe = popen(RUNNING_CHECK, "r");
  if (!pipe) {
    printf("Failed to execute command.\n");
    return -1;
  }
  char line[1000];
  int running = 0;
  while (fgets(line, sizeof(line), pipe)) {
    if (strstr(line, "qpx")) {
      running = 1;
      break;
    }
  }
  pclose(pipe);
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
    line[strcspn(line, "\r\n")] = '\0';
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
  int status = system(command);
  if (status == -1) {
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
