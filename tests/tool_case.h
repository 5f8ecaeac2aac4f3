// GoogleTest fixture for integration cases: a fresh simulator and a scratch directory with a
// configuration that points the tool at it, per test.
//
//   TEST_F(tool_case, state_request_is_written) {
//     tool_result r = run("STATE 3\n");
//     EXPECT_EQ(r.status, 0);
//     EXPECT_EQ(writes()[1], (sim_write{16, 5120, {3}}));
//   }
//
// configure() rewrites the configuration with more items; run() is a batch run; interactive
// cases use tool_process on dir() directly.
#ifndef VELTRONA_TESTS_TOOL_CASE_H_
#define VELTRONA_TESTS_TOOL_CASE_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/harness.h"

class tool_case : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sim.start(), 0) << sim.error();
    ASSERT_EQ(scratch.create("vt_tool_"), 0);
    configure({});
  }

  // Writes the configuration: host and port of the simulator, then items (later lines win).
  void configure(const std::vector<std::string> &items) {
    std::vector<std::string> lines = tool_config_lines(sim.port());
    lines.insert(lines.end(), items.begin(), items.end());
    ASSERT_EQ(write_tool_config(scratch.path(), lines), 0);
  }

  // Batch run of the tool in dir() with script on its standard input; fails the test when the
  // tool does not end in time.
  tool_result run(std::string_view script, int timeout_ms = VT_WAIT_MS) {
    tool_result result = run_tool_batch(scratch.path(), script, timeout_ms);
    EXPECT_FALSE(result.timed_out) << "tool killed after " << timeout_ms << " ms; stdout:\n"
                                   << result.out;
    return result;
  }

  // The simulator's write log; fails the test when it can't be read.
  std::vector<sim_write> writes() {
    std::vector<sim_write> w = sim.writes();
    EXPECT_EQ(sim.error(), "");
    return w;
  }

  const std::string &dir() const { return scratch.path(); }

  sim_process sim;
  scratch_dir scratch;
};

// The login the tool writes at every start: the session-start code to MB_LOG_IN (5121).
inline sim_write session_start_login() { return {16, 5121, access_code_words("40716253")}; }

#endif  // VELTRONA_TESTS_TOOL_CASE_H_
