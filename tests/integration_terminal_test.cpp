// The tool at a terminal: the real binary on a pseudo-terminal against the simulator, typing
// keys as an operator would. Line editing, completion, history across runs, link lines printed
// while a line is half typed, Ctrl-C and Ctrl-D; and plain output whenever input is piped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tests/console_fixture.h"
#include "tests/terminal_tool.h"

namespace {

std::string without_carriage_returns(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '\r') out += c;
  return out;
}

// The tool on a terminal in the fixture's directory, with a home directory of its own for the
// history file.
class TerminalSession : public ConsoleSession {
 protected:
  void SetUp() override {
    ConsoleSession::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(home.create("vt_terminal_home_"), 0);
  }

  // Starts the tool and waits for its first prompt.
  void start(terminal_tool& tool) {
    ASSERT_EQ(tool.start(dir.path(), home.path()), 0);
    ASSERT_NE(tool.wait_for(">> "), std::string::npos) << tool.out();
    ASSERT_TRUE(tool.wait_editing()) << tool.out();
  }

  // Opens a calibration session on definition 1 and starts interactive editing of point 2;
  // *at is left at the point line.
  void enter_interactive_edit(terminal_tool& tool, size_t* at) {
    ASSERT_EQ(tool.type("CALIBRATE\r"), 0);
    *at = tool.wait_for("Select by entering menu number or option: ");
    ASSERT_NE(*at, std::string::npos) << tool.out();
    ASSERT_EQ(tool.type("1\r"), 0);
    *at = tool.wait_for("[Filament Set,1]>> ", *at);
    ASSERT_NE(*at, std::string::npos) << tool.out();
    ASSERT_TRUE(tool.wait_editing());
    ASSERT_EQ(tool.type("EDIT 2 -i\r"), 0);
    *at = tool.wait_for("Point 2: 65535, \r\n", *at);
    ASSERT_NE(*at, std::string::npos) << tool.out();
  }

  // Types q and expects a clean end.
  void quit(terminal_tool& tool) {
    ASSERT_EQ(tool.type("q\r"), 0);
    EXPECT_EQ(tool.wait_exit(), 0) << tool.out();
    EXPECT_NE(tool.out().find("Exit."), std::string::npos) << tool.out();
    EXPECT_TRUE(tool.modes_restored());
  }

  std::string history_file() const { return home.file(".veltrona_tool_history"); }

  // The device's complete write log when the runs only read: each run's session-start login.
  void expect_only_logins(int runs) {
    EXPECT_EQ(sim.writes(),
              std::vector<sim_write>(static_cast<size_t>(runs), session_start_login()));
  }

  scratch_dir home;
};

TEST_F(TerminalSession, TabCompletesACommandWord) {
  terminal_tool tool;
  start(tool);
  // Without the completion, "rea" is no command.
  ASSERT_EQ(tool.type("rea\t"), 0);
  ASSERT_NE(tool.wait_for("READ "), std::string::npos) << tool.out();
  ASSERT_EQ(tool.type("5120\r"), 0);
  size_t mark = tool.wait_for("MB_STATE_SET (5120, WORD)\r\n0 (0x0000)\r\n");
  ASSERT_NE(mark, std::string::npos) << tool.out();
  EXPECT_EQ(tool.out().find("Unknown command"), std::string::npos);
  ASSERT_NE(tool.wait_for(">> ", mark), std::string::npos) << tool.out();

  mark = tool.mark();
  ASSERT_EQ(tool.type("sta\t"), 0);
  EXPECT_NE(tool.wait_for("STATUS   STATE    STARTUP", mark), std::string::npos) << tool.out();
  ASSERT_EQ(tool.type("\x15"), 0);  // Ctrl-U empties the line
  quit(tool);
  expect_only_logins(1);
}

TEST_F(TerminalSession, TabCompletesARegisterName) {
  terminal_tool tool;
  start(tool);
  ASSERT_EQ(tool.type("read mb_state_r\t\r"), 0);
  size_t mark = tool.wait_for("MB_STATE_READ (5480, WORD)\r\n");
  ASSERT_NE(mark, std::string::npos) << tool.out();
  ASSERT_NE(tool.wait_for(">> ", mark), std::string::npos) << tool.out();

  mark = tool.mark();
  ASSERT_EQ(tool.type("READ MB_STATE_\t"), 0);
  ASSERT_NE(tool.wait_for("MB_STATE_READ  MB_STATE_SET\r\n", mark), std::string::npos)
      << tool.out();
  ASSERT_EQ(tool.type("S\t\r"), 0);
  ASSERT_NE(tool.wait_for("MB_STATE_SET (5120, WORD)\r\n", mark), std::string::npos) << tool.out();

  mark = tool.mark();
  ASSERT_EQ(tool.type("state \t"), 0);
  EXPECT_NE(tool.wait_for("OFF      STANDBY  HV       TRIGGER\r\n", mark), std::string::npos)
      << tool.out();
  ASSERT_EQ(tool.type("\x15"), 0);
  quit(tool);
  expect_only_logins(1);
}

TEST_F(TerminalSession, EmacsKeysEditTheLine) {
  terminal_tool tool;
  start(tool);
  // Ctrl-W drops the last word, Ctrl-A and Ctrl-E move to the ends, Ctrl-U empties the line.
  ASSERT_EQ(tool.type("EAD 5120 junk\x17\x01R\x05\r"), 0);
  size_t mark = tool.wait_for("MB_STATE_SET (5120, WORD)\r\n");
  ASSERT_NE(mark, std::string::npos) << tool.out();
  ASSERT_NE(tool.wait_for(">> ", mark), std::string::npos) << tool.out();
  ASSERT_TRUE(tool.wait_editing());
  ASSERT_EQ(tool.type("garbage\x15READ 5480\r"), 0);
  ASSERT_NE(tool.wait_for("MB_STATE_READ (5480, WORD)\r\n", mark), std::string::npos) << tool.out();
  EXPECT_EQ(tool.out().find("Unknown command"), std::string::npos) << tool.out();
  quit(tool);
  expect_only_logins(1);
}

TEST_F(TerminalSession, HistoryIsRecalledAfterARestart) {
  {
    terminal_tool tool;
    start(tool);
    ASSERT_EQ(tool.type("READ 5120\r   \rREAD 5120\rREAD 5480\r"), 0);
    ASSERT_NE(tool.wait_for("MB_STATE_READ (5480, WORD)"), std::string::npos) << tool.out();
    quit(tool);
  }
  std::string saved;
  ASSERT_EQ(read_text_file(history_file(), &saved), 0);
  // Blank lines and a repeat of the previous line are not kept.
  EXPECT_EQ("_HiStOrY_V2_\nREAD\\0405120\nREAD\\0405480\nq\n", saved);

  terminal_tool tool;
  start(tool);
  size_t mark = tool.mark();
  ASSERT_EQ(tool.type("\033[A\033[A\r"), 0);  // Up twice: past q to READ 5480
  mark = tool.wait_for("MB_STATE_READ (5480, WORD)", mark);
  ASSERT_NE(mark, std::string::npos) << tool.out();
  ASSERT_NE(tool.wait_for(">> ", mark), std::string::npos) << tool.out();
  ASSERT_TRUE(tool.wait_editing());
  mark = tool.mark();
  ASSERT_EQ(tool.type("\x12"
                      "5120\r"),
            0);  // Ctrl-R searches backwards; Enter runs the line found
  ASSERT_NE(tool.wait_for("MB_STATE_SET (5120, WORD)", mark), std::string::npos) << tool.out();
  quit(tool);
  expect_only_logins(2);
}

TEST_F(TerminalSession, HistoryKeepsTheLast1000Lines) {
  std::string text = "_HiStOrY_V2_\n";
  for (int i = 1; i <= 1100; i++) text += "c" + std::to_string(i) + "\n";
  ASSERT_EQ(write_text_file(history_file(), text), 0);
  terminal_tool tool;
  start(tool);
  quit(tool);
  std::string saved;
  ASSERT_EQ(read_text_file(history_file(), &saved), 0);
  std::string expected = "_HiStOrY_V2_\n";
  for (int i = 102; i <= 1100; i++) expected += "c" + std::to_string(i) + "\n";
  expected += "q\n";
  EXPECT_EQ(expected, saved);
  expect_only_logins(1);
}

// The history keeps command lines only: not a line that writes the access codes or a password
// (by name, by address, typed in any case), nor the answer to a question. The file is private.
TEST_F(TerminalSession, HistoryLeavesOutSecretsAndAnswers) {
  terminal_tool tool;
  start(tool);
  // Each line, then what the output shows once the tool has dealt with it.
  const std::pair<const char*, const char*> lines[] = {
      {"WRITE LOG_IN 40716253\r", "Write is not supported via WRITE.\r\n"},
      {"rw raw 0x1401 3131\r", "Write 1 words OK\r\n"},
      {"RW DWORD 5177 1\r", "Write OK\r\n"},
      {"RW FLOAT 5178 1\r", "Write 1.000000 OK\r\n"},
      {"WRITE STATE 3\r", "Confirm write \"3\"? (Y/N): "},
      {"y\r", "Write 1 words OK\r\n"},
      {"READ MB_SC_PASSWORD\r", "MB_SC_PASSWORD (5184, CHAR_ARRAY_10)\r\n"},
  };
  for (const auto& [keys, shown] : lines) {
    size_t mark = tool.mark();
    ASSERT_EQ(tool.type(keys), 0);
    mark = tool.wait_for(shown, mark);
    ASSERT_NE(mark, std::string::npos) << keys << tool.out();
    if (std::string_view(shown).back() == '\n') {
      ASSERT_NE(tool.wait_for(">> ", mark), std::string::npos) << tool.out();
      ASSERT_TRUE(tool.wait_editing());
    }
  }
  quit(tool);
  std::string saved;
  ASSERT_EQ(read_text_file(history_file(), &saved), 0);
  EXPECT_EQ(saved,
            "_HiStOrY_V2_\nRW\\040DWORD\\0405177\\0401\nWRITE\\040STATE\\0403\n"
            "READ\\040MB_SC_PASSWORD\nq\n");
  struct stat st;
  ASSERT_EQ(stat(history_file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0077, 0u);
  EXPECT_EQ(sim.writes(), (std::vector<sim_write>{session_start_login(),
                                                  {16, 5121, {0x3131}},
                                                  {16, 5177, {1, 0}},
                                                  {16, 5178, float_words(1.0f)},
                                                  {16, 5120, {3}}}));
}

TEST_F(TerminalSession, InterlockChangeWhileALineIsHalfTyped) {
  configure({"iPrintIlockChange = 1"});
  terminal_tool tool;
  ASSERT_EQ(tool.start(dir.path(), home.path()), 0);
  // The simulator starts with standby bit 2 set: reported at the first poll.
  ASSERT_NE(tool.wait_for("Customer Interface Standby 1 Interlock"), std::string::npos)
      << tool.out();
  ASSERT_NE(tool.wait_for(">> "), std::string::npos) << tool.out();
  ASSERT_TRUE(tool.wait_editing());
  ASSERT_EQ(tool.type("READ 51"), 0);
  size_t typed = tool.wait_for("READ 51");
  ASSERT_NE(typed, std::string::npos) << tool.out();

  ASSERT_EQ(sim.set_registers(5532, {0x0005, 0x0000}), 0) << sim.error();
  std::string change = "Standby ilock change: \033[31m0->1: Filament Voltage Interlock\033[0m\r\n";
  size_t at = tool.wait_for(change, typed);
  ASSERT_NE(at, std::string::npos) << tool.out();
  // The half-typed line was erased before the message, and drawn again below it.
  EXPECT_EQ("\033[J", tool.out().substr(at - 3, 3)) << tool.out();
  ASSERT_NE(tool.wait_for(">> READ 51", at), std::string::npos) << tool.out();

  // The typed text survives and runs as typed.
  ASSERT_EQ(tool.type("20\r"), 0);
  ASSERT_NE(tool.wait_for("MB_STATE_SET (5120, WORD)\r\n0 (0x0000)\r\n", at), std::string::npos)
      << tool.out();
  quit(tool);
  expect_only_logins(1);
}

// The interactive key mode reads keys through core/input's buffer; what it read ahead beyond its
// q is the next command line, as with plain line reading.
TEST_F(TerminalSession, KeysTypedAheadInTheKeyModeAreTheNextLine) {
  ASSERT_EQ(sim.set_registers(5480, {3}), 0);
  ASSERT_EQ(sim.set_registers(5288, std::vector<uint16_t>(15, 0xFFFF)), 0);
  terminal_tool tool;
  start(tool);
  size_t at = 0;
  enter_interactive_edit(tool, &at);
  if (HasFatalFailure()) return;
  ASSERT_EQ(tool.type("qREAD 5480\r"), 0);  // one read of the terminal
  ASSERT_NE(tool.wait_for("MB_STATE_READ (5480, WORD)\r\n3 (0x0003)\r\n", at), std::string::npos)
      << tool.out();
  ASSERT_EQ(tool.type("q\r"), 0);
  ASSERT_NE(tool.wait_for(">> ", at), std::string::npos) << tool.out();
  quit(tool);
  // The session start names the table being calibrated; the key q writes nothing.
  EXPECT_EQ(sim.writes(), (std::vector<sim_write>{{16, 5121, access_code_words("40716253")},
                                                  {16, 5453, {5288}}}));
}

TEST_F(TerminalSession, CtrlCAtAnEditedLineEndsTheTool) {
  terminal_tool tool;
  start(tool);
  ASSERT_EQ(tool.type("READ 51"), 0);
  ASSERT_NE(tool.wait_for("READ 51"), std::string::npos) << tool.out();
  ASSERT_EQ(tool.type("\x03"), 0);
  EXPECT_EQ(tool.wait_exit(), 0) << tool.out();
  std::string out = without_carriage_returns(tool.out());
  EXPECT_NE(out.find("\nExit.\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Error reading cmd."), std::string::npos) << out;
  EXPECT_EQ(out.find("MB_STATE_SET"), std::string::npos) << out;
  EXPECT_TRUE(tool.modes_restored());
  expect_only_logins(1);
}

// Ctrl-C just after the key wait has seen typed-ahead keys and before the first is read: the
// terminal discards the keys, so that read would wait for the next key press. The tool stops
// itself at that instant (a test hook), Ctrl-C is pressed, and the tool goes on from there.
TEST_F(TerminalSession, CtrlCBeforeATypedAheadKeyIsReadEndsTheTool) {
  setenv("VT_TEST_STOP_BEFORE_KEY_READ", "1", 1);
  terminal_tool tool;
  start(tool);
  unsetenv("VT_TEST_STOP_BEFORE_KEY_READ");
  ASSERT_EQ(tool.type("READ 5120\r"), 0);
  ASSERT_TRUE(tool.wait_stopped()) << tool.out();
  ASSERT_EQ(tool.type("\x03"), 0);
  ASSERT_TRUE(tool.wait_pending(SIGINT));
  long long t0 = monotonic_ms();
  ASSERT_EQ(tool.send(SIGCONT), 0);
  EXPECT_EQ(tool.wait_exit(), 0) << tool.out();
  long long ms = monotonic_ms() - t0;
  RecordProperty("continue_to_exit_ms", static_cast<int>(ms));
  EXPECT_LT(ms, 1000);
  std::string out = without_carriage_returns(tool.out());
  EXPECT_NE(out.find("\nExit.\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("MB_STATE_SET"), std::string::npos) << out;
  EXPECT_TRUE(tool.modes_restored());
  expect_only_logins(1);
}

// SIGTERM and SIGHUP end the tool as Ctrl-C does; SIGQUIT ends it as SIGQUIT does. Each leaves
// the terminal as it found it, from the edited line and from interactive editing.
TEST_F(TerminalSession, OtherSignalsRestoreTheTerminal) {
  ASSERT_EQ(sim.set_registers(5480, {3}), 0);
  ASSERT_EQ(sim.set_registers(5288, std::vector<uint16_t>(15, 0xFFFF)), 0);
  for (bool interactive : {false, true}) {
    for (int sig : {SIGTERM, SIGHUP, SIGQUIT}) {
      SCOPED_TRACE(std::string(strsignal(sig)) + (interactive ? " in interactive editing" : ""));
      terminal_tool tool;
      start(tool);
      if (interactive) {
        size_t at = 0;
        enter_interactive_edit(tool, &at);
        if (HasFatalFailure()) return;
        ASSERT_TRUE(tool.wait_editing());
      } else {
        ASSERT_EQ(tool.type("READ 51"), 0);
        ASSERT_NE(tool.wait_for("READ 51"), std::string::npos) << tool.out();
      }
      long long t0 = monotonic_ms();
      ASSERT_EQ(tool.send(sig), 0);
      int status = tool.wait_exit();
      long long ms = monotonic_ms() - t0;
      RecordProperty(std::string(sigabbrev_np(sig)) + (interactive ? "_interactive" : "") + "_ms",
                     static_cast<int>(ms));
      EXPECT_LT(ms, 1000);
      if (sig == SIGQUIT) {
        EXPECT_EQ(status, 128 + SIGQUIT) << tool.out();
        EXPECT_EQ(tool.out().find("Exit."), std::string::npos) << tool.out();
      } else {
        EXPECT_EQ(status, 0) << tool.out();
        EXPECT_NE(without_carriage_returns(tool.out()).find("\nExit.\n"), std::string::npos)
            << tool.out();
      }
      EXPECT_TRUE(tool.modes_restored());
    }
  }
  // Each run's login, and the session start of the three that calibrate.
  std::vector<sim_write> expected(3, sim_write{16, 5121, access_code_words("40716253")});
  for (int i = 0; i < 3; i++) {
    expected.push_back({16, 5121, access_code_words("40716253")});
    expected.push_back({16, 5453, {5288}});
  }
  EXPECT_EQ(sim.writes(), expected);
}

// Ctrl-Z at a half-typed line gives the terminal back in the modes the shell had; fg (a
// continue) puts line editing back and draws the prompt and the line again, which then edit
// and run as typed.
TEST_F(TerminalSession, CtrlZAndFgRedrawTheHalfTypedLine) {
  terminal_tool tool;
  ASSERT_EQ(tool.start(dir.path(), home.path(), false, "xterm", true), 0);
  ASSERT_NE(tool.wait_for(">> "), std::string::npos) << tool.out();
  ASSERT_TRUE(tool.wait_editing()) << tool.out();
  ASSERT_EQ(tool.type("READ 51"), 0);
  ASSERT_NE(tool.wait_for("READ 51"), std::string::npos) << tool.out();
  ASSERT_EQ(tool.type("\x1a"), 0);
  ASSERT_TRUE(tool.wait_job_stopped(true)) << tool.out();
  EXPECT_TRUE(tool.modes_restored());

  size_t mark = tool.mark();
  ASSERT_EQ(tool.send_job(SIGCONT), 0);
  ASSERT_NE(tool.wait_for("\r\033[J>> READ 51", mark), std::string::npos) << tool.out();
  ASSERT_TRUE(tool.wait_editing());
  // Ctrl-A and Ctrl-E move as ever, rather than landing in the line.
  ASSERT_EQ(tool.type("2\x01\x05"
                      "0\r"),
            0);
  ASSERT_NE(tool.wait_for("MB_STATE_SET (5120, WORD)\r\n0 (0x0000)\r\n", mark), std::string::npos)
      << tool.out();
  quit(tool);
  expect_only_logins(1);
}

// Interactive editing stopped with Ctrl-Z: the keys typed while it was stopped are dropped at
// the continue, never sent as a burst; the point line is shown again, and the key mode is back.
TEST_F(TerminalSession, KeysTypedWhileInteractiveEditingIsStoppedAreDropped) {
  ASSERT_EQ(sim.set_registers(5480, {3}), 0);
  ASSERT_EQ(sim.set_registers(5288, std::vector<uint16_t>(15, 0xFFFF)), 0);
  terminal_tool tool;
  ASSERT_EQ(tool.start(dir.path(), home.path(), false, "xterm", true), 0);
  ASSERT_NE(tool.wait_for(">> "), std::string::npos) << tool.out();
  ASSERT_TRUE(tool.wait_editing());
  ASSERT_EQ(tool.type("CALIBRATE\r"), 0);
  size_t at = tool.wait_for("Select by entering menu number or option: ");
  ASSERT_NE(at, std::string::npos) << tool.out();
  ASSERT_EQ(tool.type("1\r"), 0);
  at = tool.wait_for("[Filament Set,1]>> ", at);
  ASSERT_NE(at, std::string::npos) << tool.out();
  ASSERT_TRUE(tool.wait_editing());
  ASSERT_EQ(tool.type("EDIT 2 -i\r"), 0);
  at = tool.wait_for("Point 2: 65535, \r\n", at);
  ASSERT_NE(at, std::string::npos) << tool.out();
  ASSERT_TRUE(tool.wait_editing());

  ASSERT_EQ(tool.type("\x1a"), 0);
  ASSERT_TRUE(tool.wait_job_stopped(true)) << tool.out();
  EXPECT_TRUE(tool.modes_restored());
  ASSERT_EQ(tool.type("VVVV"), 0);
  size_t mark = tool.mark();
  ASSERT_EQ(tool.send_job(SIGCONT), 0);
  mark = tool.wait_for("Point 2: 65535, \r\n", mark);
  ASSERT_NE(mark, std::string::npos) << tool.out();
  ASSERT_TRUE(tool.wait_editing());
  ASSERT_EQ(tool.type("r"), 0);  // one key, one line: none of the four went through
  mark = tool.wait_for("Point 2: 65535, \r\n", mark + 1);
  ASSERT_NE(mark, std::string::npos) << tool.out();
  ASSERT_EQ(tool.type("q"), 0);
  ASSERT_NE(tool.wait_for("[Filament Set,1]>> ", mark), std::string::npos) << tool.out();
  ASSERT_TRUE(tool.wait_editing());
  ASSERT_EQ(tool.type("Q\r"), 0);
  ASSERT_NE(tool.wait_for("\n>> ", mark), std::string::npos) << tool.out();
  ASSERT_TRUE(tool.wait_editing());
  EXPECT_EQ(tool.out().find("Point 2: 0,", at), std::string::npos) << tool.out();
  EXPECT_EQ(tool.out().find("Point 2: 3,", at), std::string::npos) << tool.out();
  quit(tool);
  EXPECT_EQ(sim.writes(), (std::vector<sim_write>{{16, 5121, access_code_words("40716253")},
                                                  {16, 5453, {5288}}}));
}

// WATCH stopped with Ctrl-Z: a key typed while it was stopped does not end it; after the
// continue it samples on in the key mode, and the next key ends it.
TEST_F(TerminalSession, AKeyTypedWhileWatchIsStoppedDoesNotEndIt) {
  terminal_tool tool;
  ASSERT_EQ(tool.start(dir.path(), home.path(), false, "xterm", true), 0);
  ASSERT_NE(tool.wait_for(">> "), std::string::npos) << tool.out();
  ASSERT_TRUE(tool.wait_editing());
  ASSERT_EQ(tool.type("watch 5120\r"), 0);
  const std::string sample = "  MB_STATE_SET=0 (0x0000)\r\n";
  ASSERT_NE(tool.wait_for(sample), std::string::npos) << tool.out();
  ASSERT_EQ(tool.type("\x1a"), 0);
  ASSERT_TRUE(tool.wait_job_stopped(true)) << tool.out();
  EXPECT_TRUE(tool.modes_restored());
  ASSERT_EQ(tool.type("x"), 0);
  size_t mark = tool.mark();
  ASSERT_EQ(tool.send_job(SIGCONT), 0);
  size_t first = tool.wait_for(sample, mark);
  ASSERT_NE(first, std::string::npos) << tool.out();
  ASSERT_NE(tool.wait_for(sample, first + 1), std::string::npos) << tool.out();
  ASSERT_TRUE(tool.wait_editing());
  EXPECT_EQ(tool.out().find(">> ", mark), std::string::npos) << tool.out();
  ASSERT_EQ(tool.type("y"), 0);
  ASSERT_NE(tool.wait_for(">> ", mark), std::string::npos) << tool.out();
  ASSERT_TRUE(tool.wait_editing());
  quit(tool);
  expect_only_logins(1);
}

// A window made narrower while a line is edited: the line is drawn again at once, and libedit
// moves by rows of the new width (Ctrl-A on a line of two rows goes up one).
TEST_F(TerminalSession, AResizeWhileEditingTakesTheNewWidthAtOnce) {
  terminal_tool tool;
  start(tool);
  std::string line = "READ" + std::string(44, ' ') + "5120";
  ASSERT_EQ(tool.type(line), 0);
  ASSERT_NE(tool.wait_for("5120"), std::string::npos) << tool.out();
  size_t mark = tool.mark();
  ASSERT_EQ(tool.resize(30, 40), 0);
  ASSERT_NE(tool.wait_for("\033[J>> READ", mark), std::string::npos) << tool.out();
  mark = tool.wait_for("5120", mark);
  ASSERT_NE(mark, std::string::npos) << tool.out();
  ASSERT_EQ(tool.type("\x01"), 0);
  EXPECT_NE(tool.wait_for("\033[A", mark), std::string::npos) << tool.out();
  ASSERT_EQ(tool.type("\r"), 0);
  ASSERT_NE(tool.wait_for("MB_STATE_SET (5120, WORD)\r\n0 (0x0000)\r\n", mark), std::string::npos)
      << tool.out();
  quit(tool);
  expect_only_logins(1);
}

TEST_F(TerminalSession, CtrlDOnAnEmptyLineEndsTheTool) {
  terminal_tool tool;
  start(tool);
  ASSERT_EQ(tool.type("\x04"), 0);
  EXPECT_EQ(tool.wait_exit(), 0) << tool.out();
  EXPECT_NE(tool.out().find("Exit."), std::string::npos) << tool.out();
  EXPECT_TRUE(tool.modes_restored());
  expect_only_logins(1);
}

TEST_F(TerminalSession, EditedLinesObeyTheLengthRule) {
  terminal_tool tool;
  start(tool);
  size_t mark = tool.mark();
  ASSERT_EQ(tool.type("READ 5120" + std::string(502, ' ') + "\r"), 0);
  ASSERT_NE(tool.wait_for("MB_STATE_SET (5120, WORD)", mark), std::string::npos) << tool.out();
  mark = tool.mark();
  ASSERT_EQ(tool.type("READ 5120" + std::string(503, ' ') + "\r"), 0);
  ASSERT_NE(tool.wait_for("Error: command line too long.\r\n", mark), std::string::npos)
      << tool.out();
  EXPECT_EQ(tool.out().find("MB_STATE_SET", mark), std::string::npos);
  quit(tool);
  expect_only_logins(1);
}

// WATCH at a terminal: a line a second until any key. The key is read and dropped, all of an
// arrow key's escape sequence with it, so the next line is edited as if it had never been
// pressed; line editing is back at once, and the modes are restored at the end.
TEST_F(TerminalSession, WatchEndsOnAnyKeyAndDropsIt) {
  terminal_tool tool;
  start(tool);
  ASSERT_EQ(tool.type("watch 5120\r"), 0);
  size_t mark = tool.wait_for("MB_STATE_SET (5120, WORD)\r\nPress any key to end the watch.\r\n");
  ASSERT_NE(mark, std::string::npos) << tool.out();
  size_t first = tool.wait_for("  MB_STATE_SET=0 (0x0000)\r\n", mark);
  ASSERT_NE(first, std::string::npos) << tool.out();
  ASSERT_NE(tool.wait_for("  MB_STATE_SET=0 (0x0000)\r\n", first + 1), std::string::npos)
      << tool.out();

  long long pressed = monotonic_ms();
  ASSERT_EQ(tool.type("\033[A"), 0);
  ASSERT_NE(tool.wait_for(">> ", first), std::string::npos) << tool.out();
  ASSERT_TRUE(tool.wait_editing()) << tool.out();
  EXPECT_LT(monotonic_ms() - pressed, 1500);

  mark = tool.mark();
  ASSERT_EQ(tool.type("READ 5120\r"), 0);
  size_t read = tool.wait_for("\r\nMB_STATE_SET (5120, WORD)\r\n0 (0x0000)\r\n", mark);
  ASSERT_NE(read, std::string::npos) << tool.out();
  EXPECT_EQ(tool.out().find("Unknown command"), std::string::npos) << tool.out();
  ASSERT_NE(tool.wait_for(">> ", read), std::string::npos) << tool.out();
  quit(tool);
  expect_only_logins(1);
}

TEST_F(TerminalSession, CtrlCDuringWatchRestoresTheTerminal) {
  terminal_tool tool;
  start(tool);
  ASSERT_EQ(tool.type("WATCH 5480 MB_STATE_SET\r"), 0);
  ASSERT_NE(tool.wait_for("  MB_STATE_READ=0 (0x0000)  MB_STATE_SET=0 (0x0000)\r\n"),
            std::string::npos)
      << tool.out();
  ASSERT_EQ(tool.type("\003"), 0);
  EXPECT_EQ(tool.wait_exit(), 0) << tool.out();
  std::string plain = without_carriage_returns(tool.out());
  ASSERT_GE(plain.size(), 6u);
  EXPECT_EQ(plain.substr(plain.size() - 6), "Exit.\n") << plain;
  EXPECT_TRUE(tool.modes_restored());
  expect_only_logins(1);
}

// A DUMP that takes seconds says how far it is on the terminal, redrawn in place, and leaves no
// trace of it once done: the line is blanked before "Dumped to", and before a line the link
// thread prints meanwhile (a failed poll), which so starts at the line's beginning.
TEST_F(TerminalSession, ALongDumpShowsItsProgressAndErasesIt) {
  terminal_tool tool;
  start(tool);
  // Whether the progress line was blanked right before what starts at `at`: CR, a blank for
  // each of its characters, CR.
  auto blanked_before = [&tool](size_t at) {
    const std::string& out = tool.out();
    size_t line = out.rfind(" registers...", at);
    size_t start = line == std::string::npos ? line : out.rfind('\r', line);
    if (start == std::string::npos) return false;
    std::string blanks = "\r" + std::string(line + strlen(" registers...") - start - 1, ' ') + "\r";
    return at >= blanks.size() && out.compare(at - blanks.size(), blanks.size(), blanks) == 0;
  };
  ASSERT_EQ(sim.set_delay_ms(10), 0);
  ASSERT_EQ(tool.type("DUMP slow.txt\r"), 0);
  size_t shown = tool.wait_for(" of 248 registers...");
  ASSERT_NE(shown, std::string::npos) << tool.out();
  ASSERT_EQ(sim.fail_reads(5480), 0);
  size_t poll = tool.wait_for("Polling fail: -1\r\n", shown);
  ASSERT_NE(poll, std::string::npos) << tool.out();
  EXPECT_TRUE(blanked_before(poll)) << tool.out();
  size_t done = tool.wait_for("Dumped to slow.txt\r\n", poll);
  ASSERT_NE(done, std::string::npos) << tool.out();
  EXPECT_TRUE(blanked_before(done)) << tool.out();
  ASSERT_EQ(sim.set_delay_ms(0), 0);
  quit(tool);
  expect_only_logins(1);
}

// Standard output on the terminal but input from a pipe: plain reading, plain prompts, no
// history, and the exact output of a piped run.
TEST_F(TerminalSession, PipedInputKeepsThePlainTranscript) {
  terminal_tool tool;
  ASSERT_EQ(tool.start(dir.path(), home.path(), true), 0);
  ASSERT_EQ(tool.type("READ 5120\nrea\t5120\nq\n"), 0);
  tool.close_input();
  EXPECT_EQ(tool.wait_exit(), 0) << tool.out();
  EXPECT_EQ(connected() +
                ">> MB_STATE_SET (5120, WORD)\n0 (0x0000)\n"
                ">> Error: Unknown command.\nError parsing cmd.\n>> Exit.\n",
            without_carriage_returns(tool.out()));
  EXPECT_NE(0, access(history_file().c_str(), F_OK));
  expect_only_logins(1);
}

TEST_F(TerminalSession, FullyPipedTranscriptIsUnchanged) {
  setenv("HOME", home.path().c_str(), 1);
  tool_result r = run_tool_batch(dir.path(), "READ 5120\nrea\t5120\n   \nq\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(connected() +
                ">> MB_STATE_SET (5120, WORD)\n0 (0x0000)\n"
                ">> Error: Unknown command.\nError parsing cmd.\n>> >> Exit.\n",
            r.out);
  EXPECT_EQ("", r.err);
  EXPECT_NE(0, access(history_file().c_str(), F_OK));
  expect_only_logins(1);
}

}  // namespace
