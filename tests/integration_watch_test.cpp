// WATCH against the simulator with piped input: one line per wall-clock second while the
// device's value changes, the end at the next input line (which then runs as a command), the
// refusals, the marker of a failed read and never a write. Ctrl-C in a watch is in
// tests/transcripts/interrupt.txt, the watch at a terminal in integration_terminal_test.cpp.
#include <gtest/gtest.h>

#include <cctype>
#include <regex>
#include <string>
#include <vector>

#include "tests/console_fixture.h"

namespace {

// Loose bounds for sanitizer builds and a busy machine; the tool aims well below them.
constexpr long long END_BOUND_MS = 1500;

// Whether a line begins with a time HH:MM:SS and two blanks, as watch lines do.
bool timed(const std::string& line) {
  if (line.size() < 10 || line.compare(8, 2, "  ") != 0) return false;
  for (int k : {0, 1, 3, 4, 6, 7})
    if (!isdigit(static_cast<unsigned char>(line[k]))) return false;
  return line[2] == ':' && line[5] == ':';
}

// A watch line without its time.
std::string untimed(const std::string& line) { return line.substr(8); }

// Seconds since midnight of a watch line's HH:MM:SS.
int seconds_of(const std::string& line) {
  return std::stoi(line.substr(0, 2)) * 3600 + std::stoi(line.substr(3, 2)) * 60 +
         std::stoi(line.substr(6, 2));
}

class WatchSession : public ConsoleSession {
 protected:
  // The watch lines (those that begin with a time) of the output so far.
  std::vector<std::string> watch_lines() {
    std::vector<std::string> found;
    for (const std::string& line : lines_of(tool.out()))
      if (timed(line)) found.push_back(line);
    return found;
  }

  // Waits until at least n watch lines have been printed.
  void wait_for_lines(size_t n) {
    long long deadline = monotonic_ms() + VT_WAIT_MS;
    while (watch_lines().size() < n && monotonic_ms() < deadline)
      tool.wait_for_output("\x01never printed\x01", 20);
    ASSERT_GE(watch_lines().size(), n) << tool.out();
  }
};

// Two registers, one a float whose value the device changes while the watch runs. The watch
// shows each value with its unit once a second, ends as soon as the next line arrives, and that
// line runs as the next command.
TEST_F(WatchSession, ShowsTheValueOncePerSecondUntilTheNextLine) {
  apply({{5132, float_words(1.5f)}, {5480, {3}}});
  start();
  long long t0 = monotonic_ms();
  ASSERT_EQ(tool.write_input("WATCH hv_set 5480\n"), 0);
  wait_for_lines(2);
  ASSERT_EQ(sim.set_registers(5132, float_words(2.25f)), 0);
  size_t before_change = watch_lines().size();
  wait_for_lines(before_change + 3);

  long long asked = monotonic_ms();
  ASSERT_EQ(tool.write_input("READ 5120\n"), 0);
  ASSERT_EQ(tool.wait_for_output("0 (0x0000)\n>> "), 0) << tool.out();
  EXPECT_LT(monotonic_ms() - asked, END_BOUND_MS);
  long long watched = asked - t0;
  tool.close_input();
  tool_result r = tool.finish();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");

  std::vector<std::string> shown = watch_lines();
  std::string head = connected() + ">> MB_HV_SET (5132, FLOAT)\nMB_STATE_READ (5480, WORD)\n";
  std::string tail = ">> MB_STATE_SET (5120, WORD)\n0 (0x0000)\n>> Exit.\n";
  std::string expected = head;
  for (const std::string& line : shown) expected += line + "\n";
  EXPECT_EQ(r.out, expected + tail);

  // Each value line shows the old value, then from some second on the new one.
  const std::string old_value = "  MB_HV_SET=1.5V  MB_STATE_READ=3 (0x0003)";
  const std::string new_value = "  MB_HV_SET=2.25V  MB_STATE_READ=3 (0x0003)";
  size_t k = 0;
  while (k < shown.size() && untimed(shown[k]) == old_value) k++;
  EXPECT_GE(k, 2u);
  EXPECT_GE(shown.size() - k, 2u);
  for (; k < shown.size(); k++) EXPECT_EQ(untimed(shown[k]), new_value);

  // One line per second: every line a later second than the one before, and about as many
  // lines as seconds passed.
  for (size_t i = 1; i < shown.size(); i++) {
    int step = (seconds_of(shown[i]) - seconds_of(shown[i - 1]) + 86400) % 86400;
    EXPECT_GE(step, 1) << shown[i - 1] << " / " << shown[i];
    EXPECT_LE(step, 2) << shown[i - 1] << " / " << shown[i];
  }
  long long seconds = watched / 1000;
  EXPECT_GE(static_cast<long long>(shown.size()), seconds - 1);
  EXPECT_LE(static_cast<long long>(shown.size()), seconds + 2);
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{});
}

// A read that fails shows the marker for that register only, and the watch goes on; once the
// device answers again the value is back.
TEST_F(WatchSession, FailedReadShowsTheMarkerAndTheWatchGoesOn) {
  apply({{5132, float_words(1.5f)}});
  ASSERT_EQ(sim.fail_reads(5132), 0);
  start();
  ASSERT_EQ(tool.write_input("WATCH 5120 5132\n"), 0);
  wait_for_lines(2);
  ASSERT_EQ(sim.command("CLEAR FAILS"), 0);
  size_t failed = watch_lines().size();
  wait_for_lines(failed + 1);
  tool.close_input();
  tool_result r = tool.finish();
  EXPECT_EQ(r.status, 0);

  std::vector<std::string> shown = watch_lines();
  const std::string marked = "  MB_STATE_SET=0 (0x0000)  MB_HV_SET=----";
  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ(untimed(shown[0]), marked);
  EXPECT_EQ(untimed(shown[1]), marked);
  EXPECT_EQ(untimed(shown.back()), "  MB_STATE_SET=0 (0x0000)  MB_HV_SET=1.5V");
  EXPECT_EQ(r.out.substr(r.out.size() - 9), ">> Exit.\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{});
}

// Input that is already waiting ends the watch after its first line: a script that does not
// pause sees one sample.
TEST_F(WatchSession, WaitingInputEndsTheWatchAfterOneLine) {
  apply({{5485, {0x019C, 0}}});
  tool_result r = run("WATCH MB_HV_HOURS 5120\nREAD 5120\n");
  std::string head = connected() + ">> MB_HV_HOURS_READ (5485, DWORD)\nMB_STATE_SET (5120, WORD)\n";
  ASSERT_EQ(r.out.compare(0, head.size(), head), 0) << r.out;
  std::string rest = r.out.substr(head.size());
  ASSERT_TRUE(timed(rest)) << rest;
  EXPECT_EQ(untimed(rest),
            "  MB_HV_HOURS_READ=412 (0x0000019C)  MB_STATE_SET=0 (0x0000)\n"
            ">> MB_STATE_SET (5120, WORD)\n0 (0x0000)\n>> Exit.\n");
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{});
}

// Every refusal is one or two lines, and nothing is watched or read.
TEST_F(WatchSession, RefusalsWatchNothing) {
  tool_result r =
      run("WATCH\n"
          "WATCH 5303\n"
          "WATCH 5120 fil_volt_read_cal\n"
          "WATCH 5120 5120 5120 5120 5120 5120 5120 5120 5120\n"
          "WATCH nosuchname\n"
          "WATCH 5120 5133\n"
          "WATCH MB_LOG_IN\n");
  EXPECT_EQ(r.out, connected() +
                       ">> Missing Address.\n"
                       ">> Cannot watch MB_FIL_VOLT_READ_CAL (READ_CALIB): FLOAT, WORD and DWORD "
                       "registers only.\n"
                       ">> Cannot watch MB_FIL_VOLT_READ_CAL (READ_CALIB): FLOAT, WORD and DWORD "
                       "registers only.\n"
                       ">> Too many registers: WATCH shows at most 8.\n"
                       ">> Invalid reg name: NOSUCHNAME\nInvalid address: NOSUCHNAME\n"
                       ">> Invalid address name: 5133\nInvalid address: 5133\n"
                       ">> Cannot watch MB_LOG_IN (CHAR_ARRAY_10): FLOAT, WORD and DWORD "
                       "registers only.\n"
                       ">> Exit.\n");
  EXPECT_EQ(r.err, "");
  for (const sim_read& read : sim.reads()) EXPECT_EQ(read.address, 5480) << read;
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{});
}

// Eight registers are the most, and each may be given twice.
TEST_F(WatchSession, EightRegistersInOneLine) {
  tool_result r = run("WATCH 5120 5120 5120 5120 5120 5120 5120 5120\n");
  std::string head = connected() + ">> ", line;
  for (int i = 0; i < 8; i++) {
    head += "MB_STATE_SET (5120, WORD)\n";
    line += "  MB_STATE_SET=0 (0x0000)";
  }
  ASSERT_EQ(r.out.compare(0, head.size(), head), 0) << r.out;
  std::string rest = r.out.substr(head.size());
  ASSERT_TRUE(timed(rest)) << rest;
  EXPECT_EQ(untimed(rest), line + "\n>> Exit.\n");
}

// A device that answers every request too late: each read waits for its time-out, a sample of
// eight registers runs for seconds, and still the next line ends the watch within a second,
// looked at between two reads of the sample; the line then runs as the next command.
TEST_F(WatchSession, NextLineEndsTheWatchOfASlowDevice) {
  start();
  ASSERT_EQ(sim.set_delay_ms(700), 0);
  ASSERT_EQ(tool.write_input("WATCH 5120 5120 5120 5120 5120 5120 5120 5120\n"), 0);
  ASSERT_EQ(tool.wait_for_output(repeat("MB_STATE_SET (5120, WORD)\n", 8)), 0) << tool.out();
  // Into the first sample's reads.
  tool.wait_for_output("\x01never printed\x01", 1200);
  long long asked = monotonic_ms();
  ASSERT_EQ(tool.write_input("STEP\n"), 0);
  ASSERT_EQ(tool.wait_for_output("Step = 0\n>> "), 0) << tool.out();
  EXPECT_LT(monotonic_ms() - asked, END_BOUND_MS);
  tool.close_input();
  tool_result r = tool.finish();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(without_poll_failures(r.out).ends_with(">> Step = 0\n>> Exit.\n")) << r.out;
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{});
}

// Adjacent registers are one request per sample, given in any order and shown as given.
TEST_F(WatchSession, AdjacentRegistersAreOneReadPerSample) {
  apply({{5126, float_words(6.3f)}, {5128, float_words(1.5f)}, {5132, float_words(22000)}});
  ASSERT_EQ(sim.clear_reads(), 0);
  tool_result r = run("WATCH 5132 5126 5130 5128\n");
  std::string rest = r.out.substr(r.out.rfind("(5128, FLOAT)\n") + 14);
  ASSERT_TRUE(timed(rest)) << r.out;
  EXPECT_EQ(untimed(rest),
            "  MB_HV_SET=22000V  MB_FIL_SET=6.3V,A  MB_FIL_RAMP_SPEED=0.5V/s,A/s  "
            "MB_FIL_SET_2=1.5V,A\n>> Exit.\n");
  std::vector<sim_read> reads;
  for (const sim_read& read : sim.reads())
    if (read.address != 5480) reads.push_back(read);
  EXPECT_EQ(reads, (std::vector<sim_read>{{3, 5126, 8}}));
}

}  // namespace

namespace {

// The rows of a CSV record, each without its CRLF.
std::vector<std::string> csv_rows(const std::string& text) {
  std::vector<std::string> rows;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    rows.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return rows;
}

// WATCH -o: one row per line on screen, stamped with the second the line shows, an empty field
// while a read fails and the changed value; a later watch of the same registers appends, a watch
// of other registers is refused and reads nothing.
TEST_F(WatchSession, RecordsEverySampleToItsCsvFile) {
  apply({{5132, float_words(1.5f)}, {5480, {3}}});
  ASSERT_EQ(sim.fail_reads(5132), 0);
  start();
  ASSERT_EQ(tool.write_input("WATCH hv_set -O trend.csv 5480\n"), 0);
  wait_for_lines(1);
  ASSERT_EQ(sim.command("CLEAR FAILS"), 0);
  wait_for_lines(watch_lines().size() + 1);
  ASSERT_EQ(sim.set_registers(5132, float_words(2.25f)), 0);
  wait_for_lines(watch_lines().size() + 2);
  tool_result r = finish_clean();
  EXPECT_NE(r.out.find("MB_STATE_READ (5480, WORD)\nRecording to trend.csv.\n"), std::string::npos)
      << r.out;

  std::string text;
  ASSERT_EQ(read_text_file(dir.file("trend.csv"), &text), 0);
  std::vector<std::string> rows = csv_rows(text), shown = watch_lines();
  ASSERT_EQ(rows.size(), shown.size() + 1) << text;
  EXPECT_EQ(rows[0], "time,MB_HV_SET [V],MB_STATE_READ");
  const std::regex row(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:(\d\d)\.\d{3}Z,(.*))");
  std::vector<std::string> values;
  for (size_t i = 1; i < rows.size(); i++) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(rows[i], m, row)) << rows[i];
    EXPECT_EQ(m[1].str(), shown[i - 1].substr(6, 2)) << rows[i] << " / " << shown[i - 1];
    if (values.empty() || values.back() != m[2].str()) values.push_back(m[2].str());
  }
  EXPECT_EQ(values, (std::vector<std::string>{",3", "1.5,3", "2.25,3"})) << text;

  tool_result again = run("WATCH 5132 5480 -o trend.csv\n");
  std::string appended;
  ASSERT_EQ(read_text_file(dir.file("trend.csv"), &appended), 0);
  EXPECT_TRUE(appended.starts_with(text)) << appended;
  EXPECT_TRUE(std::regex_match(appended.substr(text.size()), std::regex(R"(\S+,2\.25,3\r\n)")))
      << appended;

  ASSERT_EQ(sim.command("CLEAR READS"), 0);
  tool_result other = run("WATCH 5132 -o trend.csv\n");
  EXPECT_EQ(other.out, connected() + ">> trend.csv: holds other columns, not appended\n>> Exit.\n");
  for (const sim_read& read : sim.reads()) EXPECT_EQ(read.address, 5480) << read;
  ASSERT_EQ(read_text_file(dir.file("trend.csv"), &text), 0);
  EXPECT_EQ(text, appended);
}

}  // namespace
