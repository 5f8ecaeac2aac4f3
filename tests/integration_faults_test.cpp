// The tool under faults: Ctrl-C in interactive editing, a slow dump and the startup replay (at
// the prompt and in each question: tests/transcripts/interrupt.txt), a device that drops the
// connection, answers late or answers with exceptions, and one session of commands, interlock
// reports and Ctrl-C that must run clean under ThreadSanitizer.
//
// After Ctrl-C the tool must end promptly with "Exit." as the end of its output and status 0,
// without asking the interrupted question again and without writing to the device. The time
// from the signal to the end is checked only against a generous bound; the tool aims at well
// under a second.
#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "registers/catalogue.h"
#include "tests/child_process.h"
#include "tests/console_fixture.h"
#include "tests/raw_device.h"

namespace {

// Loose bound for the end after Ctrl-C, also for sanitizer builds.
constexpr long long INTERRUPT_BOUND_MS = 3000;

// The bound against a device that does not answer in time: the signal cuts the transfer under
// way, so the tool ends in milliseconds; a wait for any device time-out would exceed it.
constexpr long long CUT_BOUND_MS = 1000;

size_t count_of(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
  return n;
}

const std::string menu_text =
    "Calibration menu:\n"
    "1 : Filament Set\n"
    "Press D to delete calibration\n"
    "Press A to add new calibration\n"
    "Press V to add view calibration setting\n"
    "Press Q to exit\n"
    "Select by entering menu number or option: ";

const std::vector<uint16_t> empty_table(15, 0xFFFF);

// How a run that got Ctrl-C ended.
struct interrupted_run {
  tool_result result;
  long long ms = 0;               // from the signal to the end
  std::vector<sim_write> before;  // the device's writes when the signal went out
  std::vector<sim_write> after;   // and at the end
};

class FaultSession : public ConsoleSession {
 protected:
  // Keeps collecting the tool's output for ms milliseconds.
  void collect_for(int ms) { tool.wait_for_output("\x01never printed\x01", ms); }

  // Waits until the device has seen more than n writes; returns the list then.
  std::vector<sim_write> wait_for_writes_beyond(size_t n) {
    long long deadline = monotonic_ms() + VT_WAIT_MS;
    std::vector<sim_write> w = sim.writes();
    while (w.size() <= n && monotonic_ms() < deadline) {
      tool.wait_for_output("\x01never printed\x01", 5);
      w = sim.writes();
    }
    EXPECT_GT(w.size(), n) << tool.out();
    return w;
  }

  // Sends Ctrl-C and waits for the end.
  interrupted_run interrupt(std::vector<sim_write> before = {}, bool have_before = false) {
    interrupted_run run;
    run.before = have_before ? before : sim.writes();
    long long t0 = monotonic_ms();
    EXPECT_EQ(tool.send_signal(SIGINT), 0);
    run.result = tool.finish();
    run.ms = monotonic_ms() - t0;
    run.after = sim.writes();
    RecordProperty("interrupt_to_exit_ms", static_cast<int>(run.ms));
    return run;
  }

  // The promises of Ctrl-C: a prompt, clean end whose output ends with tail, nothing written
  // after the signal.
  void expect_clean_interrupt(const interrupted_run& run, const std::string& tail) {
    EXPECT_FALSE(run.result.timed_out);
    EXPECT_EQ(run.result.status, 0);
    EXPECT_LT(run.ms, INTERRUPT_BOUND_MS);
    EXPECT_TRUE(run.result.out.ends_with(tail)) << "expected the end:\n"
                                                << tail << "\ngot:\n"
                                                << run.result.out;
    EXPECT_TRUE(run.result.out.ends_with("Exit.\n")) << run.result.out;
    EXPECT_EQ(run.after, run.before);
    EXPECT_EQ(run.result.err.find("ThreadSanitizer"), std::string::npos) << run.result.err;
  }
};

// ---- Ctrl-C inside a calibration session

class CtrlCInSession : public FaultSession {
 protected:
  // A session on the default definition (menu 1) with the device in state 3 and an empty
  // device table.
  void start_session() {
    apply({{5480, {3}}, {5288, empty_table}});
    start();
    type_until("CALIBRATE\n1\n", "[Filament Set,1]>> ");
  }
  std::vector<sim_write> session_writes() { return {session_start_login(), {16, 5453, {5288}}}; }
};

// A key that was acted on before the signal wrote its table; nothing follows the signal.
TEST_F(CtrlCInSession, InInteractiveEditingAfterAKey) {
  start_session();
  type_until("EDIT 1 DAC 0\n", "]>> ");
  type_until("EDIT 1 -i\n", "Point 1: 0, \n");
  type_until("V", "Point 1: 1, \n");
  interrupted_run run = interrupt();
  expect_clean_interrupt(run, "Point 1: 0, \nPoint 1: 1, \nExit.\n");
  std::vector<uint16_t> table = empty_table;
  table[2] = 1;
  std::vector<sim_write> expected = session_writes();
  expected.push_back({16, 5288, table});
  EXPECT_EQ(run.after, expected);
}

// Keys queued faster than the device answers: the write in progress at the signal is the last.
TEST_F(CtrlCInSession, InInteractiveEditingWithKeysQueued) {
  start_session();
  type_until("EDIT 1 DAC 0\n", "]>> ");
  type_until("EDIT 1 -i\n", "Point 1: 0, \n");
  ASSERT_EQ(sim.set_delay_ms(150), 0);
  ASSERT_EQ(tool.write_input(std::string(40, 'V')), 0);
  // Signal right after the device has seen the third table write; the next can't come before
  // its reply, 150 ms later.
  std::vector<sim_write> seen = wait_for_writes_beyond(session_writes().size() + 2);
  interrupted_run run = interrupt(seen, true);
  expect_clean_interrupt(run, "Exit.\n");
}

// ---- Ctrl-C while requests are under way

TEST_F(FaultSession, CtrlCDuringASlowDump) {
  start();
  ASSERT_EQ(sim.set_delay_ms(50), 0);
  ASSERT_EQ(sim.clear_reads(), 0);
  ASSERT_EQ(tool.write_input("DUMP regs.txt\n"), 0);
  long long deadline = monotonic_ms() + VT_WAIT_MS;
  while (sim.reads().size() < 10 && monotonic_ms() < deadline) collect_for(20);
  interrupted_run run = interrupt();
  expect_clean_interrupt(run, ">> Exit.\n");
  EXPECT_EQ(run.result.out, connected() + ">> Exit.\n");
  EXPECT_EQ(run.after, std::vector<sim_write>{session_start_login()});
}

// Every read of the dump runs into the library's response time-out.
TEST_F(FaultSession, CtrlCDuringADumpOfLateAnswers) {
  start();
  ASSERT_EQ(sim.set_delay_ms(700), 0);
  type_until("DUMP regs.txt\n", "Error read MB_LOG_IN\n");
  interrupted_run run = interrupt();
  expect_clean_interrupt(run, "Exit.\n");
  EXPECT_EQ(run.result.out.find("Dumped to"), std::string::npos) << run.result.out;
  EXPECT_EQ(run.after, std::vector<sim_write>{session_start_login()});
}

// Startup writes left when the signal comes are not made.
TEST_F(FaultSession, CtrlCDuringTheStartupReplay) {
  configure({"startup[0].iReg = 5136", "startup[0].raw_value = " + std::to_string(float_bits(0.5f)),
             "startup[1].iReg = 5126", "startup[1].raw_value = " + std::to_string(float_bits(6.0f)),
             "startup[2].iReg = 5252",
             "startup[2].raw_value = " + std::to_string(float_bits(0.93f))});
  ASSERT_EQ(sim.set_delay_ms(300), 0);
  ASSERT_EQ(tool.start(dir.path()), 0) << tool.error();
  std::vector<sim_write> seen = wait_for_writes_beyond(1);
  interrupted_run run = interrupt(seen, true);
  expect_clean_interrupt(run, "Exit.\n");
  EXPECT_EQ(run.result.out.find(">> "), std::string::npos) << run.result.out;
  EXPECT_EQ(run.after,
            (std::vector<sim_write>{session_start_login(), {16, 5136, float_words(0.5f)}}));
}

// ---- Launched with a standard descriptor closed

// How many requests the simulator has received, of any kind; -1 when it can't tell.
long requests_received(sim_process& sim) {
  std::vector<std::string> lines;
  if (sim.command("STATUS", &lines) != 0) return -1;
  for (const std::string& line : lines)
    if (line.rfind("requests ", 0) == 0) return std::stol(line.substr(9));
  return -1;
}

// A closed standard input or output must not become the device's socket: input then reads as
// ended, output goes nowhere, and the device sees only the session's own requests.
TEST_F(FaultSession, ClosedStandardInputOrOutput) {
  struct {
    const char* redirect;
    std::string input, out;
  } cases[] = {
      {">&-", "READ 5120\nq\n", ""},
      {"0<&-", "", connected() + ">> Exit.\n"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(sim.clear_writes(), 0);
    ASSERT_EQ(sim.clear_reads(), 0);
    long requests_before = requests_received(sim);
    child_process closed;
    ASSERT_EQ(
        closed.start({"/bin/sh", "-c", std::string("exec \"$0\" ") + c.redirect, VT_TOOL_PATH},
                     dir.path()),
        0)
        << closed.error();
    ASSERT_EQ(closed.write_input(c.input, VT_WAIT_MS), 0);
    closed.close_input();
    ASSERT_EQ(closed.wait_exit(VT_WAIT_MS), 0) << c.redirect << "\n" << closed.out();
    EXPECT_EQ(closed.exit_status(), 0) << c.redirect;
    EXPECT_EQ(closed.out(), c.out) << c.redirect;
    EXPECT_EQ(closed.err(), "") << c.redirect;
    EXPECT_EQ(sim.writes(), std::vector<sim_write>{session_start_login()}) << c.redirect;
    // Every request was a read or a write the simulator understood.
    EXPECT_EQ(requests_received(sim) - requests_before,
              static_cast<long>(sim.reads().size() + sim.writes().size()))
        << c.redirect;
    // The command typed was read as a command.
    std::vector<sim_read> reads = sim.reads();
    bool read_seen = std::find(reads.begin(), reads.end(), sim_read{3, 5120, 1}) != reads.end();
    EXPECT_EQ(read_seen, !c.input.empty()) << c.redirect;
  }
}

// Endless input without a line end: the tool discards the over-long command line for as long as
// it comes, and each of the stop signals still ends it at once.
TEST_F(FaultSession, EndlessLineEndsAtTheStopSignal) {
  struct {
    const char* input;
    int sig;
  } cases[] = {
      {"exec \"$0\" </dev/zero", SIGINT},
      {"exec \"$0\" </dev/full", SIGTERM},
      {"mkfifo in && { { yes | tr -d '\\n' >in; } 2>/dev/null & } && exec \"$0\" <in", SIGHUP},
  };
  for (const auto& c : cases) {
    unlink(dir.file("in").c_str());
    child_process endless;
    ASSERT_EQ(endless.start({"/bin/sh", "-c", c.input, VT_TOOL_PATH}, dir.path()), 0)
        << endless.error();
    ASSERT_EQ(endless.wait_for_output(connected() + ">> ", VT_WAIT_MS), 0) << c.input;
    endless.wait_for_output("\x01never printed\x01", 300);
    long long t0 = monotonic_ms();
    ASSERT_EQ(endless.send_signal(c.sig), 0);
    ASSERT_EQ(endless.wait_exit(VT_WAIT_MS), 0) << c.input;
    EXPECT_LT(monotonic_ms() - t0, CUT_BOUND_MS) << c.input;
    EXPECT_EQ(endless.exit_status(), 0) << c.input;
    EXPECT_EQ(endless.out(), connected() + ">> Exit.\n") << c.input;
    EXPECT_EQ(endless.err(), "") << c.input;
  }
  // Each run's login, and nothing else.
  EXPECT_EQ(sim.writes(), std::vector<sim_write>(3, session_start_login()));
}

// WATCH whose output has lost its reader ends, and the tool with it, as at a prompt: the reader
// takes the connection line and the first prompt, then goes; standard input stays open.
TEST_F(FaultSession, WatchEndsWhenItsOutputHasNoReader) {
  std::string seen = connected() + ">> ";
  child_process watch;
  ASSERT_EQ(watch.start(
                {"/bin/sh", "-c", "{ \"$0\"; echo \"status $?\" >&2; } | head -c \"$1\" >/dev/null",
                 VT_TOOL_PATH, std::to_string(seen.size())},
                dir.path()),
            0)
      << watch.error();
  ASSERT_EQ(watch.write_input("WATCH 5120\n", VT_WAIT_MS), 0);
  ASSERT_EQ(watch.wait_exit(VT_WAIT_MS), 0);
  EXPECT_EQ(watch.err(), "status 0\n");
  EXPECT_EQ(sim.writes(), std::vector<sim_write>{session_start_login()});
}

// ---- Device faults

// The same commands against a failing device; each prints its own failure.
const std::string fault_script =
    "READ 5120\nWRITE 5120 3\ny\nRR WORD 5120\nRW WORD 5120 1\nSETBIT 5120 1 1\nSTATE\n"
    "STATE 3\nRESET\nLOGIN\nLOGOUT\nSTATUS\nCALIBRATE\n1\n";

const std::string fault_transcript =
    ">> MB_STATE_SET (5120, WORD)\nError read.\n"
    ">> MB_STATE_SET (5120, WORD)\nConfirm write \"3\"? (Y/N): Error write.\n"
    ">> Error read.\n"
    ">> Error write.\n"
    ">> MB_STATE_SET (5120, WORD)\nError read.\n"
    ">> Error read.\n"
    ">> Error write.\n"
    ">> Error write.\n"
    ">> Login fail!\n"
    ">> Logout fail!\n"
    ">> Error read 5480\nError read 5529\nError read 5525\nError read 5532\nError read 5534\n"
    "Error read 5536\n"
    ">> " +
    menu_text + "calib_check_precondition: modbus_cmd_read error!\nModbus comm error!\n>> ";

// The writes the script makes that reach a device which refuses or answers late.
std::vector<sim_write> fault_script_writes() {
  return {{16, 5120, {3}}, {16, 5120, {1}},       {16, 5120, {3}},
          {16, 5140, {1}}, session_start_login(), {16, 5121, access_code_words("59283746")}};
}

// One "Error read NAME" line per register of the catalogue, then the file counts as written.
std::string failed_dump(const std::string& path) {
  std::string out;
  for (const modbus_reg_entry& e : modbus_reg_table)
    if (e.address != 0) out += std::string("Error read ") + e.name + "\n";
  return out + "Dumped to " + path + "\n";
}

// Counts the poll failures printed while the tool idles for about three seconds: at most one
// per wall-clock second, and polling goes on.
void expect_poll_failures_once_a_second(tool_process* tool) {
  size_t from = tool->out().size();
  long long t0 = monotonic_ms();
  tool->wait_for_output("\x01never printed\x01", 3000);
  long long seconds = (monotonic_ms() - t0) / 1000;
  size_t n = count_of(tool->out().substr(from), "Polling fail: -1\n");
  EXPECT_LE(n, static_cast<size_t>(seconds + 2)) << tool->out().substr(from);
  EXPECT_GE(n, 1u) << tool->out().substr(from);
}

TEST_F(FaultSession, DroppedConnectionMidSession) {
  apply({{5120, {0}}});
  start();
  type_until("READ 5120\n", "0 (0x0000)\n>> ");
  ASSERT_EQ(sim.command("DROP"), 0);
  type_until(fault_script + "DUMP lost.txt\n", "Dumped to lost.txt\n");
  expect_poll_failures_once_a_second(&tool);
  ASSERT_EQ(tool.write_input("Q\n"), 0);
  tool_result r = tool.finish();
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(without_poll_failures(r.out),
            connected() + ">> MB_STATE_SET (5120, WORD)\n0 (0x0000)\n" + fault_transcript +
                failed_dump("lost.txt") + ">> Exit.\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(sim.writes(), std::vector<sim_write>{session_start_login()});
}

TEST_F(FaultSession, ModbusExceptions) {
  start();
  ASSERT_EQ(sim.command("FAIL READ 0 6400"), 0);
  ASSERT_EQ(sim.command("FAIL WRITE 0 6400 4"), 0);
  type_until(fault_script + "DUMP refused.txt\n", "Dumped to refused.txt\n");
  expect_poll_failures_once_a_second(&tool);
  ASSERT_EQ(tool.write_input("Q\n"), 0);
  tool_result r = tool.finish();
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(without_poll_failures(r.out),
            connected() + fault_transcript + failed_dump("refused.txt") + ">> Exit.\n");
  EXPECT_EQ(r.err, "");
  std::vector<sim_write> expected = {session_start_login()};
  for (const sim_write& w : fault_script_writes()) expected.push_back(w);
  EXPECT_EQ(sim.writes(), expected);
}

// Answers later than the library waits: every request fails after its time-out, and once the
// device answers in time again the link is back in step with it.
TEST_F(FaultSession, LateAnswersFailAndTheLinkRecovers) {
  start();
  ASSERT_EQ(sim.set_delay_ms(700), 0);
  type_until(fault_script, "Modbus comm error!\n");
  // The prompt after the last failure comes before the first READ below, so that READ's
  // answer is not taken for the end of that prompt.
  long long prompt_due = monotonic_ms() + VT_WAIT_MS;
  while (monotonic_ms() < prompt_due && !without_poll_failures(tool.out()).ends_with(">> "))
    collect_for(20);
  ASSERT_EQ(sim.set_delay_ms(0), 0);
  // Requests that queued up at the device while it was slow are answered first, each reply
  // costing a request of the tool until the queue is empty.
  std::string got;
  long long give_up = monotonic_ms() + VT_WAIT_MS;
  while (monotonic_ms() < give_up) {
    size_t from = tool.out().size();
    ASSERT_EQ(tool.write_input("READ 5120\n"), 0);
    while (monotonic_ms() < give_up && count_of(tool.out().substr(from), ">> ") == 0)
      collect_for(20);
    got = without_poll_failures(tool.out().substr(from));
    if (got.find("3 (0x0003)\n") != std::string::npos) break;
  }
  // The late writes were carried out: STATE 3 came last.
  EXPECT_NE(got.find("MB_STATE_SET (5120, WORD)\n3 (0x0003)\n"), std::string::npos) << tool.out();
  tool.close_input();
  tool_result r = tool.finish();
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 0);
  std::string out = without_poll_failures(r.out);
  EXPECT_EQ(out.substr(0, connected().size() + fault_transcript.size()),
            connected() + fault_transcript)
      << out;
  EXPECT_TRUE(out.ends_with("3 (0x0003)\n>> Exit.\n")) << out;
  std::vector<sim_write> expected = {session_start_login()};
  for (const sim_write& w : fault_script_writes()) expected.push_back(w);
  EXPECT_EQ(sim.writes(), expected);
}

// ---- Ctrl-C against a device that does not answer in time: the signal shuts the link's socket
// down, so the transfer under way fails at once instead of waiting for its time-out (silent) or
// for ever (a reply trickled one byte every 0.4 s, which no libmodbus time-out catches).

class CtrlCRawDevice : public FaultSession {
 protected:
  // Points the tool at the device, with the interlock monitor on, and starts it.
  void start_against(raw_device::behaviour how) {
    ASSERT_EQ(device.start(how), 0);
    std::vector<std::string> items = tool_config_lines(device.port());
    items.push_back("iPrintIlockChange = 1");
    ASSERT_EQ(write_tool_config(dir.path(), items), 0);
    ASSERT_EQ(tool.start(dir.path()), 0) << tool.error();
    ASSERT_EQ(tool.wait_for_output(" is OK.\n"), 0) << tool.out();
  }

  // Sends Ctrl-C and checks the end: in time, "Exit." last, status 0, no write after the signal.
  void interrupt_and_check(const char* where) {
    long long t0 = monotonic_ms();
    ASSERT_EQ(tool.send_signal(SIGINT), 0);
    tool_result r = tool.finish();
    long long ms = monotonic_ms() - t0;
    RecordProperty("interrupt_to_exit_ms", static_cast<int>(ms));
    printf("Ctrl-C %s: ended after %lld ms\n", where, ms);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0);
    EXPECT_LT(ms, CUT_BOUND_MS) << r.out;
    EXPECT_TRUE(r.out.ends_with("Exit.\n")) << r.out;
    EXPECT_EQ(r.err.find("ThreadSanitizer"), std::string::npos) << r.err;
    for (const raw_device::request& q : device.requests())
      EXPECT_FALSE(q.function == 16 && q.ms >= t0) << "a write after the signal";
  }

  raw_device device;
};

// Waits until the wall clock is ms into a second; the link polls on the change of the second.
void wait_until_into_second(tool_process* tool, int ms) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  long long into = now.tv_nsec / 1000000;
  long long wait = ms >= into ? ms - into : 1000 - into + ms;
  tool->wait_for_output("\x01never printed\x01", static_cast<int>(wait));
}

class CtrlCSilentDevice : public CtrlCRawDevice, public ::testing::WithParamInterface<int> {};

// The state poll, the three interlock reads and the login each wait for the response time-out;
// the signal lands somewhere among them, at several points of the wall-clock second.
TEST_P(CtrlCSilentDevice, EndsAtOnce) {
  start_against(raw_device::SILENT);
  collect_for(1000);
  wait_until_into_second(&tool, GetParam());
  interrupt_and_check(
      ("silent device, " + std::to_string(GetParam()) + " ms into the second").c_str());
  EXPECT_FALSE(device.requests().empty());
}

INSTANTIATE_TEST_SUITE_P(IntoTheSecond, CtrlCSilentDevice, ::testing::Values(50, 300, 550, 800));

TEST_F(CtrlCRawDevice, TricklingDeviceEndsAtOnce) {
  start_against(raw_device::TRICKLING);
  long long deadline = monotonic_ms() + VT_WAIT_MS;
  while (device.reply_bytes() < 2 && monotonic_ms() < deadline) collect_for(20);
  ASSERT_GE(device.reply_bytes(), 2) << tool.out();
  interrupt_and_check("trickling device, inside a reply");
}

// ---- One session for ThreadSanitizer: commands on the console thread, interlock reports on
// the link thread, Ctrl-C through the main thread.

TEST_F(FaultSession, ThreadsSessionWithMonitorAndCtrlC) {
  configure({"iPrintIlockChange = 1"});
  apply({{5532, {0, 0, 0, 0, 0, 0}}, {5480, {3}}, {5288, empty_table}, {5200, {0, 0}}});
  start();
  type_until("READ 5120\nWRITE 5120 3\ny\n", "Write 1 words OK\n");
  ASSERT_EQ(sim.set_registers(5532, {0x0001, 0x0000}), 0);  // Filament Voltage Interlock
  type_until("STATUS SHORT\nRR RAW 5000 100\nSETBIT 5200 3 1\n", "Write 2 words OK\n");
  ASSERT_EQ(tool.wait_for_output("Standby ilock change: \033[31m0->1: Filament Voltage Interlock"),
            0)
      << tool.out();
  type_until("DUMP regs.txt\n", "Dumped to regs.txt\n");
  ASSERT_EQ(sim.set_registers(5532, {0x0000, 0x0000}), 0);
  type_until("CALIBRATE\n1\nSET 7\nDAC-ADC\nACTUAL 7.1\nADD\nPRINT\nRESET\n", "Reset sent.\n");
  ASSERT_EQ(tool.wait_for_output("Standby ilock change: \033[32m1->0: Filament Voltage Interlock"),
            0)
      << tool.out();
  interrupted_run run = interrupt();
  expect_clean_interrupt(run, "Exit.\n");
  EXPECT_EQ(run.result.err,
            "Set register 5126 left at 7 V,A; backed-up value 6.3 V,A not restored.\n");
  EXPECT_EQ(run.after, (std::vector<sim_write>{session_start_login(),
                                               {16, 5120, {3}},
                                               {16, 5200, {0x0008, 0x0000}},
                                               {16, 5453, {5288}},
                                               {16, 5126, float_words(7.0f)},
                                               {16, 5140, {1}}}));
}

}  // namespace
