// A simulator, a scratch directory with a configuration pointing at it, and batch runs of the
// tool there; shared by the console integration tests.
#ifndef VELTRONA_TESTS_CONSOLE_FIXTURE_H_
#define VELTRONA_TESTS_CONSOLE_FIXTURE_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "tests/harness.h"

// One register preset given to the simulator before the tool starts.
struct preset {
  int address;
  std::vector<uint16_t> values;
};

class console_session : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sim.start(), 0) << sim.error();
    ASSERT_EQ(dir.create("vt_console_"), 0);
    ASSERT_EQ(write_tool_config(dir.path(), tool_config_lines(sim.port())), 0);
  }

  void configure(const std::vector<std::string>& extra) {
    std::vector<std::string> items = tool_config_lines(sim.port());
    items.insert(items.end(), extra.begin(), extra.end());
    ASSERT_EQ(write_tool_config(dir.path(), items), 0);
  }

  void apply(const std::vector<preset>& presets) {
    for (const preset& p : presets) ASSERT_EQ(sim.set_registers(p.address, p.values), 0);
  }

  std::string connected() const {
    return "Connect to 127.0.0.1:" + std::to_string(sim.port()) + " is OK.\n";
  }

  // Runs the script to its end; expects a clean exit.
  tool_result run(const std::string& script) {
    tool_result r = run_tool_batch(dir.path(), script);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0);
    return r;
  }

  // The writes the simulator saw after the session-start login, which must come first.
  std::vector<sim_write> writes_after_login() {
    std::vector<sim_write> all = sim.writes();
    sim_write login = {16, 5121, access_code_words("40716253")};
    if (all.empty() || !(all[0] == login)) {
      ADD_FAILURE() << "the first write is not the session-start login";
      return all;
    }
    all.erase(all.begin());
    return all;
  }

  sim_process sim;
  scratch_dir dir;
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

class transcript_session : public console_session,
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

// Sets an environment variable, which the tools started meanwhile inherit, and puts back its
// old value when it goes out of scope.
class scoped_env {
 public:
  scoped_env(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    setenv(name, value, 1);
  }
  ~scoped_env() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  scoped_env(const scoped_env&) = delete;
  scoped_env& operator=(const scoped_env&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// text without its colour escape sequences (ESC [ digits m).
inline std::string without_colours(std::string text) {
  for (size_t at; (at = text.find("\033[")) != std::string::npos;) {
    size_t end = text.find('m', at);
    text.erase(at, end == std::string::npos ? std::string::npos : end - at + 1);
  }
  return text;
}

#endif  // VELTRONA_TESTS_CONSOLE_FIXTURE_H_
