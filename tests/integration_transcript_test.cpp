// The transcript runner: every case of tests/transcripts/*.txt (syntax in tests/transcript.h)
// as one test, named by the case. Per case a fresh simulator and directory: the configuration
// with the case's lines, its presets and simulator commands, then each run of the tool with the
// typed lines on its standard input; then the whole output after the connection line, standard
// error, the exit status, the writes after each run's session-start login and the file checks,
// each compared exactly.
//
//   build/tests/integration_transcript_test --gtest_filter='*/startup_*'
#include <signal.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/console_fixture.h"
#include "tests/transcript.h"

// A case as GoogleTest names its parameter in messages: where it is.
void PrintTo(const scripted_case& c, std::ostream* os) { *os << c.where; }

namespace {

std::string listed(const std::vector<sim_write>& writes) {
  std::string text;
  for (const sim_write& w : writes) text += "  " + writes_line(w) + "\n";
  return text.empty() ? "  (none)\n" : text;
}

class TranscriptCase : public ConsoleSession, public ::testing::WithParamInterface<scripted_case> {
 protected:
  // Runs one start of the tool and checks what it printed; adds its writes to *seen.
  void check_run(const scripted_case& c, const scripted_run& run, std::vector<sim_write>* seen) {
    ASSERT_EQ(sim.clear_writes(), 0) << sim.error();
    std::vector<std::string> args;
    bool quiet = false;
    for (const std::string& arg : c.args) {
      args.push_back(with_port(arg));
      quiet = quiet || arg.starts_with("-q") || arg == "--quiet";
    }
    tool_result r = run.interrupted ? run_interrupted(run, args, quiet)
                                    : run_tool_batch(dir.path(), run.input, VT_WAIT_MS, args);
    ASSERT_FALSE(r.timed_out) << "tool killed after " << VT_WAIT_MS << " ms; stdout:\n" << r.out;
    // The session's lines, numbered from the one after the connection line.
    std::string session = r.out;
    if (session.compare(0, connected().size(), connected()) == 0) {
      session.erase(0, connected().size());
      if (quiet) ADD_FAILURE() << "a connection line under -q";
    } else if (!quiet) {
      ADD_FAILURE() << "no connection line first";
    }
    session = match_wildcards(run.output, session);
    EXPECT_EQ(session, run.output) << "session " << first_difference(run.output, session);
    EXPECT_EQ(r.err, c.err) << "stderr " << first_difference(c.err, r.err);
    EXPECT_EQ(r.status, c.status);
    std::vector<sim_write> all = writes();
    if (all.empty() || !(all[0] == session_start_login())) {
      ADD_FAILURE() << "the first write is not the session-start login; writes:\n" << listed(all);
      return;
    }
    seen->insert(seen->end(), all.begin() + 1, all.end());
  }

  // Types run's lines one at a time, each once the output before it has come, then sends SIGINT
  // once the output before the ^C has come, and waits for the end.
  tool_result run_interrupted(const scripted_run& run, const std::vector<std::string>& args,
                              bool quiet) {
    EXPECT_EQ(tool.start(dir.path(), args), 0) << tool.error();
    std::vector<size_t> marks = run.typed_at;
    marks.push_back(run.interrupt_at);
    for (size_t k = 0, from = 0; k < marks.size(); k++) {
      std::string want = run.output.substr(0, marks[k]), out;
      auto session = [&] {
        out = tool.out();
        if (!quiet && out.starts_with(connected())) out.erase(0, connected().size());
        return (out = match_wildcards(want, out).substr(0, want.size())) == want;
      };
      if (!wait_until(session)) {
        ADD_FAILURE() << "waiting for the output before a typed line or ^C: "
                      << first_difference(want, out);
        return tool.finish(0);
      }
      if (k + 1 == marks.size()) break;
      size_t to = run.input.find('\n', from) + 1;
      EXPECT_EQ(tool.write_input(run.input.substr(from, to - from)), 0);
      from = to;
    }
    long long t0 = monotonic_ms();
    EXPECT_EQ(tool.send_signal(SIGINT), 0);
    tool_result r = tool.finish();
    RecordProperty("interrupt_to_exit_ms", static_cast<int>(monotonic_ms() - t0));
    EXPECT_LT(monotonic_ms() - t0, INTERRUPT_BOUND_MS) << "from Ctrl-C to the end";
    return r;
  }

  std::string with_port(std::string text) {
    for (size_t at; (at = text.find("${port}")) != std::string::npos;)
      text.replace(at, 7, std::to_string(sim.port()));
    return text;
  }

  std::string file_text(const std::string& name) {
    std::string text;
    if (read_text_file(dir.file(name), &text) < 0) return "<missing>";
    return text;
  }
};

TEST_P(TranscriptCase, Session) {
  const scripted_case& c = GetParam();
  ASSERT_EQ(c.error, "");
  SCOPED_TRACE(c.where);
  configure(c.config);
  for (const sim_write& p : c.presets)
    ASSERT_EQ(sim.set_registers(p.address, p.values), 0) << sim.error();
  for (const std::string& command : c.sim_commands)
    ASSERT_EQ(sim.command(command), 0) << "sim " << command << ": " << sim.error();
  for (const scripted_file_check& p : c.puts)
    ASSERT_TRUE(std::ofstream(dir.file(p.name), std::ios::app) << with_port(p.line) << "\n")
        << p.name;
  std::vector<std::string> before;
  for (const scripted_file_check& f : c.files) before.push_back(file_text(f.name));

  std::vector<sim_write> seen;
  for (const scripted_run& run : c.runs) {
    check_run(c, run, &seen);
    if (HasFatalFailure()) return;
  }
  EXPECT_EQ(seen, c.writes) << "expected:\n" << listed(c.writes) << "actual:\n" << listed(seen);
  for (size_t k = 0; k < c.files.size(); k++) {
    const scripted_file_check& f = c.files[k];
    std::string text = file_text(f.name);
    if (f.unchanged) {
      EXPECT_EQ(text, before[k]) << f.name << " changed";
    } else {
      EXPECT_NE(("\n" + text).find("\n" + f.line + "\n"), std::string::npos)
          << f.name << " has no line: " << f.line << "\n"
          << text;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Transcripts, TranscriptCase,
                         ::testing::ValuesIn(load_transcripts(VT_TRANSCRIPT_DIR)),
                         [](const ::testing::TestParamInfo<scripted_case>& info) {
                           return info.param.name;
                         });

}  // namespace
