// mailbox_bench: the cost of one register read through the request mailbox against the same read
// made directly with libmodbus, and the simulator against a minimal libmodbus server.
//
//   mailbox_read/<server>  modbus_cmd_read of one register from this (console-side) thread while
//                          the real link thread serves it over its own connection
//   direct_read/<server>   modbus_read_registers of the same register on one connection
//
// Both servers run as child processes (veltrona_sim and bench_modbus_server), so a `taskset` on
// this program pins the servers too. One iteration is one read of MB_STATE_READ.
//
// Options of its own, before the Google Benchmark options:
//   --reads N            reads per benchmark run (default 20000)
//   --link sim|minimal   the server the link thread connects to (default sim); the other
//                        server has no mailbox row
#include <benchmark/benchmark.h>
#include <modbus.h>
#include <pthread.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "core/lifecycle.h"
#include "link/async_output.h"
#include "link/link.h"
#include "tests/harness.h"

namespace {

// Messages of the link thread (a poll failure would spoil the figures); counted, not shown.
std::atomic<int> link_messages{0};
void count_link_message(const char*, size_t) { link_messages.fetch_add(1); }

void direct_read(benchmark::State& state, int port) {
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
  if (!ctx || modbus_connect(ctx) != 0) {
    state.SkipWithError("connect failed");
    if (ctx) modbus_free(ctx);
    return;
  }
  uint16_t value = 0;
  int failures = 0;
  for (auto _ : state) {
    if (modbus_read_registers(ctx, MB_STATE_READ_ADDR, 1, &value) != 1) ++failures;
    benchmark::DoNotOptimize(value);
  }
  modbus_close(ctx);
  modbus_free(ctx);
  if (failures) state.SkipWithError("a direct read failed");
}

void mailbox_read(benchmark::State& state) {
  uint16_t value = 0;
  int failures = 0;
  for (auto _ : state) {
    if (modbus_cmd_read(MB_STATE_READ_ADDR, 1, &value) != 1) ++failures;
    benchmark::DoNotOptimize(value);
  }
  if (failures) state.SkipWithError("a mailbox read failed");
}

// Takes the options of this program out of argv; returns -1 on a bad one.
int take_own_options(int* argc, char** argv, long* reads, std::string* link_server) {
  int out = 1;
  for (int i = 1; i < *argc; ++i) {
    if (strcmp(argv[i], "--reads") == 0 && i + 1 < *argc) {
      *reads = atol(argv[++i]);
      if (*reads <= 0) return -1;
    } else if (strcmp(argv[i], "--link") == 0 && i + 1 < *argc) {
      *link_server = argv[++i];
      if (*link_server != "sim" && *link_server != "minimal") return -1;
    } else {
      argv[out++] = argv[i];
    }
  }
  *argc = out;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  long reads = 20000;
  std::string link_server = "sim";
  if (take_own_options(&argc, argv, &reads, &link_server) < 0) {
    fprintf(stderr, "usage: mailbox_bench [--reads N] [--link sim|minimal] [benchmark options]\n");
    return 2;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;

  sim_process sim;
  if (sim.start() < 0) {
    fprintf(stderr, "mailbox_bench: simulator: %s\n", sim.error().c_str());
    return 1;
  }
  minimal_server minimal;
  if (minimal.start() < 0) {
    fprintf(stderr, "mailbox_bench: minimal server: %s\n", minimal.error().c_str());
    return 1;
  }

  link_set_output_hook(count_link_message);
  link_params params = {};
  snprintf(params.host, sizeof(params.host), "127.0.0.1");
  params.port = link_server == "sim" ? sim.port() : minimal.port();
  link_setup(&params, nullptr);
  set_stop_actions(link_cut_connection, link_stop_wake);
  pthread_t link;
  if (pthread_create(&link, nullptr, link_thread_main, nullptr) != 0) return 1;
  if (link_wait_status() != 1) {
    fprintf(stderr, "mailbox_bench: the link thread could not connect\n");
    pthread_join(link, nullptr);
    return 1;
  }

  // Wall time per read: the time spent waiting on the server is the figure.
  std::vector<benchmark::internal::Benchmark*> runs = {
      benchmark::RegisterBenchmark(("mailbox_read/" + link_server).c_str(), mailbox_read),
      benchmark::RegisterBenchmark("direct_read/sim", direct_read, sim.port()),
      benchmark::RegisterBenchmark("direct_read/minimal", direct_read, minimal.port())};
  for (benchmark::internal::Benchmark* b : runs)
    b->Iterations(reads)->UseRealTime()->Unit(benchmark::kMicrosecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  request_stop();
  pthread_join(link, nullptr);
  link_set_output_hook(nullptr);
  // Link messages (the connection line aside) mean a poll failed during the run.
  int messages = link_messages.load();
  if (messages > 2) fprintf(stderr, "mailbox_bench: %d link messages\n", messages - 2);
  return 0;
}
