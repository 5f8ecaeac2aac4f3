// direct_dump: the baseline of the DUMP figure. Makes the reads of one DUMP, every catalogue
// entry in order with its type's word count (entries at address 0 skipped, as DUMP does),
// directly with libmodbus on one connection, repeats them and prints the time of each dump.
//
//   direct_dump [--port N] [--dumps K] [--warmup W]
//
// Without --port it starts veltrona_sim itself as a child process (so a `taskset` on this
// program pins the server too) and reads from it.
//
// Output, one line each: "dump_us <t>" per dump after the first W, then "median_us <m>" over
// those. Exit status 1 when the connection or a read fails.
#include <modbus.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/bench_support.h"
#include "registers/catalogue.h"
#include "tests/harness.h"

int main(int argc, char** argv) {
  int port = 0;
  int dumps = 20;
  int warmup = 2;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--port") == 0) {
      port = atoi(argv[i + 1]);
    } else if (strcmp(argv[i], "--dumps") == 0) {
      dumps = atoi(argv[i + 1]);
    } else if (strcmp(argv[i], "--warmup") == 0) {
      warmup = atoi(argv[i + 1]);
    }
  }
  if (port < 0 || dumps <= 0 || warmup < 0) {
    fprintf(stderr, "usage: direct_dump [--port N] [--dumps K] [--warmup W]\n");
    return 2;
  }
  sim_process sim;
  if (port == 0) {
    if (sim.start() < 0) {
      fprintf(stderr, "direct_dump: simulator: %s\n", sim.error().c_str());
      return 1;
    }
    port = sim.port();
  }
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
  if (!ctx || modbus_connect(ctx) != 0) {
    fprintf(stderr, "direct_dump: connect: %s\n", modbus_strerror(errno));
    return 1;
  }
  std::vector<double> times;
  uint16_t words[64];
  for (int d = 0; d < warmup + dumps; ++d) {
    long long start = monotonic_ns();
    for (const modbus_reg_entry& e : modbus_reg_table) {
      if (e.address == 0) continue;
      int count = reg_words_of_type(e.type);
      if (modbus_read_registers(ctx, e.address, count, words) != count) {
        fprintf(stderr, "direct_dump: read %d: %s\n", e.address, modbus_strerror(errno));
        modbus_free(ctx);
        return 1;
      }
    }
    double us = static_cast<double>(monotonic_ns() - start) / 1000.0;
    if (d >= warmup) {
      times.push_back(us);
      printf("dump_us %.1f\n", us);
    }
  }
  printf("median_us %.1f\n", median_of(times));
  modbus_close(ctx);
  modbus_free(ctx);
  return 0;
}
