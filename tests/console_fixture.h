// GoogleTest fixture of the integration cases: per test a fresh simulator and a scratch
// directory whose configuration points the tool at it.
//
//   TEST_F(ConsoleSession, StateRequestIsWritten) {
//     tool_result r = run("STATE 3\n");
//     EXPECT_EQ(r.out, connected() + ">> Write State = 3 (STANDBY) is OK.\n>> Exit.\n");
//     EXPECT_EQ(writes_after_login(), (std::vector<sim_write>{{16, 5120, {3}}}));
//   }
//
// configure() rewrites the configuration with more items and apply() sets registers before the
// tool starts. run() is a batch run that must end cleanly (for other ends, run_tool_batch on
// dir.path()); start() runs the tool as `tool` for cases that type while it runs, with
// type_until() and wait_until() to wait and finish_clean() to end it.
// transcript_session turns a table of scripted sessions into one case each.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "tests/harness.h"

// One register preset given to the simulator before the tool starts.
struct preset {
  int address;
  std::vector<uint16_t> values;
};

class ConsoleSession : public ::testing::Test {
 protected:
  void SetUp() override {
    // A ThreadSanitizer report fails the tool's exit status (a no-op in other builds).
    setenv("TSAN_OPTIONS", "halt_on_error=1", 0);
    ASSERT_EQ(sim.start(), 0) << sim.error();
    ASSERT_EQ(dir.create("vt_tool_"), 0);
    configure({});
  }

  // Writes the configuration: host and port of the simulator, then extra (later lines win).
  void configure(const std::vector<std::string>& extra) {
    std::vector<std::string> items = tool_config_lines(sim.port());
    items.insert(items.end(), extra.begin(), extra.end());
    ASSERT_EQ(write_tool_config(dir.path(), items), 0);
  }

  void apply(const std::vector<preset>& presets) {
    for (const preset& p : presets) ASSERT_EQ(sim.set_registers(p.address, p.values), 0);
  }

  std::string connected() const { return connect_ok_line(sim.port()); }

  // Batch run of the tool in dir with script on its standard input; fails the test unless the
  // tool ends in time with status 0.
  tool_result run(std::string_view script, int timeout_ms = VT_WAIT_MS) {
    tool_result r = run_tool_batch(dir.path(), script, timeout_ms);
    if (r.timed_out) {
      ADD_FAILURE() << "tool killed after " << timeout_ms << " ms; stdout:\n" << r.out;
    } else {
      EXPECT_EQ(r.status, 0) << "stderr:\n" << r.err;
    }
    return r;
  }

  // Starts the tool in dir as `tool` and waits for its first prompt.
  void start() {
    ASSERT_EQ(tool.start(dir.path()), 0) << tool.error();
    ASSERT_EQ(tool.wait_for_output(">> "), 0) << tool.out();
  }

  // Waits up to timeout_ms until condition() holds, reading the started tool's output meanwhile.
  // ASSERT_TRUE(wait_until([&] { return sim.reads().size() >= 20; }));
  template <typename F>
  ::testing::AssertionResult wait_until(F condition, int timeout_ms = VT_WAIT_MS) {
    long long deadline = monotonic_ms() + timeout_ms;
    while (!condition()) {
      if (monotonic_ms() >= deadline)
        return ::testing::AssertionFailure() << "not within " << timeout_ms << " ms; stdout:\n"
                                             << tool.out();
      // Up to 20 ms of the tool's output; a tool that is not running returns at once.
      long long pause_end = monotonic_ms() + 10;
      tool.wait_for_output("\x01never printed\x01", 20);
      if (monotonic_ms() < pause_end) usleep(10000);
    }
    return ::testing::AssertionSuccess();
  }

  // Types input into the started tool and waits until the output printed after it, poll
  // failures left out, contains text (text printed earlier doesn't count).
  void type_until(const std::string& input, const std::string& text) {
    size_t from = tool.out().size();
    ASSERT_EQ(tool.write_input(input), 0);
    ASSERT_TRUE(wait_until([&] {
      return without_poll_failures(tool.out().substr(from)).find(text) != std::string::npos;
    })) << "waiting for: "
        << text;
  }

  // Ends the started tool's input and waits for its end, which must be clean: in time, status 0,
  // nothing on standard error, and after the session-start login exactly the writes declared
  // (none unless given). Returns how it ended, for the checks of its output.
  tool_result finish_clean(const std::vector<sim_write>& declared = {}) {
    tool.close_input();
    tool_result r = tool.finish();
    EXPECT_FALSE(r.timed_out) << "stdout:\n" << r.out;
    EXPECT_EQ(r.status, 0) << "stderr:\n" << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(writes_after_login(), declared);
    return r;
  }

  // Every write the simulator saw; fails the test when its log can't be read.
  std::vector<sim_write> writes() {
    std::vector<sim_write> all = sim.writes();
    EXPECT_EQ(sim.error(), "");
    return all;
  }

  // The writes the simulator saw after the session-start login, which must come first.
  std::vector<sim_write> writes_after_login() {
    std::vector<sim_write> all = writes();
    if (all.empty() || !(all[0] == session_start_login())) {
      ADD_FAILURE() << "the first write is not the session-start login";
      return all;
    }
    all.erase(all.begin());
    return all;
  }

  sim_process sim;
  scratch_dir dir;
  tool_process tool;
};

// One scripted session: presets, the input, the output between the connection line and
// "Exit.\n", and every write after the session-start login.
struct transcript_case {
  const char* name;
  std::vector<preset> presets;
  std::string script;
  std::string output;
  std::vector<sim_write> writes;
};

class transcript_session : public ConsoleSession,
                           public ::testing::WithParamInterface<transcript_case> {
 protected:
  void check_transcript() {
    const transcript_case& c = GetParam();
    apply(c.presets);
    tool_result r = run(c.script);
    EXPECT_EQ(r.out, connected() + c.output + "Exit.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(writes_after_login(), c.writes);
  }
};

// A test name made of the case's name: letters and digits kept, the rest '_'.
inline std::string transcript_case_name(const ::testing::TestParamInfo<transcript_case>& info) {
  std::string name;
  for (const char* p = info.param.name; *p; p++)
    name += (isalnum(static_cast<unsigned char>(*p)) ? *p : '_');
  return name;
}

// text without its colour escape sequences (ESC [ digits m).
inline std::string without_colours(std::string text) {
  for (size_t at; (at = text.find("\033[")) != std::string::npos;) {
    size_t end = text.find('m', at);
    text.erase(at, end == std::string::npos ? std::string::npos : end - at + 1);
  }
  return text;
}
