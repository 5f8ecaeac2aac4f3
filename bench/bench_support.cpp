#include "bench/bench_support.h"

#include <dirent.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char* const VT_MINIMAL_SERVER_PATH = VT_MINIMAL_SERVER_BINARY;

int minimal_server::start() {
  if (dir_.create("vt_minsrv_") < 0) {
    error_ = "mkdtemp failed";
    return -1;
  }
  std::string port_file = dir_.file("port");
  if (child_.start({VT_MINIMAL_SERVER_PATH, "--port-file", port_file}, dir_.path(),
                   dir_.file("server.log")) < 0) {
    error_ = child_.error();
    return -1;
  }
  long long deadline = monotonic_ms() + VT_WAIT_MS;
  std::string text;
  while (read_text_file(port_file, &text) < 0 || text.find('\n') == std::string::npos) {
    if (monotonic_ms() > deadline || !child_.running()) {
      error_ = "bench_modbus_server wrote no port file";
      return -1;
    }
    usleep(2000);
  }
  port_ = atoi(text.c_str());
  return port_ > 0 ? 0 : -1;
}

void minimal_server::stop() {
  if (!child_.running()) return;
  child_.send_signal(SIGTERM);
  if (child_.wait_exit(VT_WAIT_MS) < 0) child_.kill_and_reap();
}

long long monotonic_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

double median_of(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

long long process_cpu_ns(pid_t pid) {
  std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR* tasks = opendir(dir.c_str());
  if (!tasks) return -1;
  long long total = 0;
  bool any = false;
  while (dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    std::string text;
    if (read_text_file(dir + "/" + entry->d_name + "/schedstat", &text) < 0) continue;
    total += atoll(text.c_str());
    any = true;
  }
  closedir(tasks);
  return any ? total : -1;
}

long long process_cpu_ticks(pid_t pid) {
  std::string text;
  if (read_text_file("/proc/" + std::to_string(pid) + "/stat", &text) < 0) return -1;
  // The command name may hold blanks; the fields after it are counted from its closing bracket.
  size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  long long utime = 0, stime = 0;
  // Fields 3 onwards follow the bracket; utime and stime are fields 14 and 15.
  if (sscanf(text.c_str() + close + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lld %lld",
             &utime, &stime) != 2)
    return -1;
  return utime + stime;
}

long process_status_kb(pid_t pid, const char* field) {
  std::string text;
  if (read_text_file("/proc/" + std::to_string(pid) + "/status", &text) < 0) return -1;
  std::string key = std::string("\n") + field + ":";
  size_t at = text.find(key);
  if (at == std::string::npos) return -1;
  return atol(text.c_str() + at + key.size());
}
