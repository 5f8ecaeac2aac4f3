// process_bench: whole-process figures of the real veltrona_tool against veltrona_sim, both
// started here as child processes (a `taskset` on this program pins all three).
//
//   process_bench startup [--runs R]          exec to the first prompt, R runs
//   process_bench dump [--dumps K] [--warmup W]
//                                             DUMP from the command to "Dumped to", K dumps in
//                                             one session after W unmeasured ones; then the
//                                             tool's peak resident size before it exits
//   process_bench compare [--dumps K] [--warmup W] [--delay MS]
//                                             DUMP and COMPARE of a whole dump of the same
//                                             device, alternating, K of each in one session
//                                             after W unmeasured pairs; then their ratio. With
//                                             --delay the simulator waits MS before each reply
//                                             (a device on a slow link) from the first pair on
//   process_bench idle [--seconds S]          CPU the tool uses idle at its prompt for S seconds,
//                                             and the state polls the simulator saw meanwhile
//
// Output: "name value" lines (per-run values, then medians), read by scripts/bench. Exit status
// 1 when the tool or the simulator misbehaves (no prompt, a failed read, a poll failure).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "registers/catalogue.h"
#include "tests/harness.h"

namespace {

constexpr const char* PROMPT = ">> ";

struct options {
  int runs = 20;
  int dumps = 20;
  int warmup = 2;
  int seconds = 10;
  int delay_ms = 0;
};

// The simulator and a scratch directory with a configuration pointing the tool at it.
struct setup {
  sim_process sim;
  scratch_dir dir;
};

int start_setup(setup* s) {
  if (s->sim.start() < 0) {
    fprintf(stderr, "process_bench: simulator: %s\n", s->sim.error().c_str());
    return -1;
  }
  if (s->dir.create("vt_bench_") < 0 ||
      write_tool_config(s->dir.path(), tool_config_lines(s->sim.port())) < 0) {
    fprintf(stderr, "process_bench: can't write the configuration\n");
    return -1;
  }
  return 0;
}

// The tool as a child process: standard input through a pipe, output captured.
using tool_child = child_process;

// Starts the tool and waits for its first prompt. Returns 0 or -1.
int start_tool(const setup& s, tool_child* tool) {
  if (tool->start({VT_TOOL_PATH}, s.dir.path()) < 0 ||
      tool->wait_for_output(PROMPT, VT_WAIT_MS) < 0) {
    fprintf(stderr, "process_bench: no prompt from the tool: %s\n", tool->out().c_str());
    return -1;
  }
  return 0;
}

int end_tool(tool_child* tool) {
  tool->close_input();
  if (tool->wait_exit(VT_WAIT_MS) < 0) {
    fprintf(stderr, "process_bench: the tool did not end\n");
    tool->kill_and_reap();
    return -1;
  }
  if (tool->exit_status() != 0) {
    fprintf(stderr, "process_bench: the tool ended with status %d\n", tool->exit_status());
    return -1;
  }
  return 0;
}

int run_startup(const options& o) {
  setup s;
  if (start_setup(&s) < 0) return 1;
  std::vector<double> times;
  for (int i = 0; i < o.runs + 1; ++i) {
    tool_child tool;
    long long start = monotonic_ns();
    if (start_tool(s, &tool) < 0) return 1;
    double ms = static_cast<double>(monotonic_ns() - start) / 1e6;
    if (end_tool(&tool) < 0) return 1;
    // The first run fills the page cache; it is not counted.
    if (i == 0) continue;
    times.push_back(ms);
    printf("startup_ms %.3f\n", ms);
  }
  printf("median_ms %.3f\n", median_of(times));
  return 0;
}

int count_lines(const std::string& path) {
  std::string text;
  if (read_text_file(path, &text) < 0) return -1;
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

int run_dump(const options& o) {
  setup s;
  if (start_setup(&s) < 0) return 1;
  tool_child tool;
  if (start_tool(s, &tool) < 0) return 1;
  std::vector<double> times;
  for (int i = 0; i < o.warmup + o.dumps; ++i) {
    std::string path = s.dir.file("dump_" + std::to_string(i) + ".txt");
    std::string done = "Dumped to " + path + "\n";
    long long start = monotonic_ns();
    if (tool.write_input("DUMP " + path + "\n", VT_WAIT_MS) < 0 ||
        tool.wait_for_output(done, VT_WAIT_MS) < 0) {
      fprintf(stderr, "process_bench: DUMP did not finish: %s\n", tool.out().c_str());
      return 1;
    }
    double us = static_cast<double>(monotonic_ns() - start) / 1e3;
    if (count_lines(path) != MODBUS_REG_COUNT) {
      fprintf(stderr, "process_bench: %s has not %d lines\n", path.c_str(), MODBUS_REG_COUNT);
      return 1;
    }
    unlink(path.c_str());
    if (i < o.warmup) continue;
    times.push_back(us);
    printf("dump_us %.1f\n", us);
  }
  printf("median_us %.1f\n", median_of(times));
  // The high-water mark of the resident set, read while the tool still runs.
  long hwm = process_status_kb(tool.pid(), "VmHWM");
  printf("peak_rss_kb %ld\n", hwm);
  if (tool.out().find("Error read") != std::string::npos) {
    fprintf(stderr, "process_bench: a register read failed during the dumps\n");
    return 1;
  }
  return end_tool(&tool) < 0 ? 1 : 0;
}

// Sends a command line and waits for text printed after it. Returns the microseconds it took,
// or -1.
double timed_command(tool_child* tool, const std::string& line, const std::string& done) {
  size_t from = tool->out().size();
  long long start = monotonic_ns();
  if (tool->write_input(line, VT_WAIT_MS) < 0 ||
      tool->wait_for_output(done, VT_WAIT_MS, from) < 0) {
    fprintf(stderr, "process_bench: %s did not finish: %s\n", line.c_str(), tool->out().c_str());
    return -1;
  }
  return static_cast<double>(monotonic_ns() - start) / 1e3;
}

// COMPARE reads what DUMP reads and formats it the same way; besides, it reads and parses the
// file. The two alternate in one session, so that both see the same machine.
int run_compare(const options& o) {
  setup s;
  if (start_setup(&s) < 0) return 1;
  tool_child tool;
  if (start_tool(s, &tool) < 0) return 1;
  std::string base = s.dir.file("base.txt");
  if (timed_command(&tool, "DUMP " + base + "\n", "Dumped to " + base + "\n") < 0) return 1;
  if (o.delay_ms > 0 && s.sim.set_delay_ms(o.delay_ms) < 0) {
    fprintf(stderr, "process_bench: simulator: %s\n", s.sim.error().c_str());
    return 1;
  }
  const std::string same = "Compared 248 registers: 0 differ, 0 not in the file, 0 not read.\n";
  std::vector<double> dumps;
  std::vector<double> compares;
  for (int i = 0; i < o.warmup + o.dumps; ++i) {
    std::string path = s.dir.file("dump.txt");
    double dump_us = timed_command(&tool, "DUMP " + path + "\n", "Dumped to " + path + "\n");
    double compare_us = timed_command(&tool, "COMPARE " + base + "\n", same);
    if (dump_us < 0 || compare_us < 0) return 1;
    if (i < o.warmup) continue;
    dumps.push_back(dump_us);
    compares.push_back(compare_us);
    printf("dump_us %.1f\n", dump_us);
    printf("compare_us %.1f\n", compare_us);
  }
  double dump_median = median_of(dumps);
  double compare_median = median_of(compares);
  printf("median_dump_us %.1f\n", dump_median);
  printf("median_compare_us %.1f\n", compare_median);
  printf("ratio %.3f\n", dump_median > 0 ? compare_median / dump_median : 0.0);
  if (tool.out().find("Error read") != std::string::npos) {
    fprintf(stderr, "process_bench: a register read failed\n");
    return 1;
  }
  return end_tool(&tool) < 0 ? 1 : 0;
}

int run_idle(const options& o) {
  setup s;
  if (start_setup(&s) < 0) return 1;
  tool_child tool;
  if (start_tool(s, &tool) < 0) return 1;
  // Let the start-up work (login write, first poll) pass before the window opens.
  tool.wait_for_output("Polling fail", 1500);
  if (s.sim.clear_reads() < 0) {
    fprintf(stderr, "process_bench: simulator: %s\n", s.sim.error().c_str());
    return 1;
  }
  long long cpu0 = process_cpu_ns(tool.pid());
  long long ticks0 = process_cpu_ticks(tool.pid());
  long long t0 = monotonic_ns();
  // Waiting for a poll failure keeps reading the tool's output; none must come.
  if (tool.wait_for_output("Polling fail", o.seconds * 1000) == 0) {
    fprintf(stderr, "process_bench: a poll failed while idle\n");
    return 1;
  }
  long long cpu1 = process_cpu_ns(tool.pid());
  long long ticks1 = process_cpu_ticks(tool.pid());
  long long t1 = monotonic_ns();
  std::vector<sim_read> reads = s.sim.reads();
  int polls = 0, others = 0;
  for (const sim_read& r : reads) {
    if (r.function == 3 && r.address == MB_STATE_READ_ADDR && r.count == 1) {
      ++polls;
    } else {
      ++others;
    }
  }
  double wall = static_cast<double>(t1 - t0);
  long tick_hz = sysconf(_SC_CLK_TCK);
  printf("idle_seconds %.3f\n", wall / 1e9);
  if (cpu0 >= 0 && cpu1 >= 0) printf("idle_cpu_percent %.4f\n", 100.0 * (cpu1 - cpu0) / wall);
  if (ticks0 >= 0 && ticks1 >= 0 && tick_hz > 0)
    printf("idle_tick_percent %.4f\n", 100.0 * 1e9 * (ticks1 - ticks0) / tick_hz / wall);
  printf("polls %d\n", polls);
  printf("other_reads %d\n", others);
  return end_tool(&tool) < 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  options o;
  std::string mode = argc > 1 ? argv[1] : "";
  for (int i = 2; i + 1 < argc; i += 2) {
    int value = atoi(argv[i + 1]);
    if (strcmp(argv[i], "--runs") == 0) {
      o.runs = value;
    } else if (strcmp(argv[i], "--dumps") == 0) {
      o.dumps = value;
    } else if (strcmp(argv[i], "--warmup") == 0) {
      o.warmup = value;
    } else if (strcmp(argv[i], "--seconds") == 0) {
      o.seconds = value;
    } else if (strcmp(argv[i], "--delay") == 0) {
      o.delay_ms = value;
    } else {
      mode.clear();
    }
  }
  if (mode == "startup" && o.runs > 0) return run_startup(o);
  if (mode == "dump" && o.dumps > 0 && o.warmup >= 0) return run_dump(o);
  if (mode == "compare" && o.dumps > 0 && o.warmup >= 0) return run_compare(o);
  if (mode == "idle" && o.seconds > 0) return run_idle(o);
  fprintf(stderr,
          "usage: process_bench startup [--runs R] | dump [--dumps K] [--warmup W] | "
          "compare [--dumps K] [--warmup W] [--delay MS] | idle [--seconds S]\n");
  return 2;
}
