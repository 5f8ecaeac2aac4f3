// RECONNECT against the simulator: after the device dropped the connection, while it refuses
// connections, inside a calibration session, and Ctrl-C during an attempt. Each case checks the
// output (without the poll failure lines, which land wherever the poll falls) and the complete
// list of writes the device saw: a reconnect writes the login and the startup registers again,
// and nothing reconnects by itself.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/child_process.h"
#include "tests/console_fixture.h"
#include "tests/raw_device.h"

namespace {

const sim_write login = session_start_login();

const std::string read_5120 = "MB_STATE_SET (5120, WORD)\n";

class ReconnectSession : public ConsoleSession {
 protected:
  // Quits and returns the whole output without poll failures; expects a clean end.
  std::string quit() {
    EXPECT_EQ(tool.write_input("Q\n"), 0);
    tool_result r = tool.finish();
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    return without_poll_failures(r.out);
  }

  // The simulator's count of accepted connections.
  std::string accepted() {
    std::vector<std::string> lines;
    EXPECT_EQ(sim.command("STATUS", &lines), 0);
    return lines.size() > 1 ? lines[1] : "";
  }
};

// The device went away and came back: nothing reconnects until RECONNECT, which logs in and
// replays the startup registers again; then the commands work again.
TEST_F(ReconnectSession, AfterADroppedConnection) {
  configure(
      {"startup[0].iReg = 5136", "startup[0].raw_value = " + std::to_string(float_bits(0.5f))});
  apply({{5120, {3}}});
  const std::string startup = "Startup: Reg MB_PULSE_WIDTH_SET (5136) set to 0.5us\n";
  start();
  ASSERT_EQ(sim.command("DROP"), 0);
  type_until("READ 5120\n", "Error read.\n>> ");
  tool.wait_for_output("\x01never printed\x01", 1500);  // polls fail, no one reconnects
  EXPECT_EQ(accepted(), "accepted 1");
  type_until("RECONNECT\n", startup + ">> ");
  EXPECT_EQ(accepted(), "accepted 2");
  type_until("READ 5120\n", "3 (0x0003)\n>> ");
  EXPECT_EQ(quit(), connected() + startup + ">> " + read_5120 + "Error read.\n>> " + connected() +
                        startup + ">> " + read_5120 + "3 (0x0003)\n>> Exit.\n");
  sim_write startup_write = {16, 5136, float_words(0.5f)};
  EXPECT_EQ(sim.writes(), (std::vector<sim_write>{login, startup_write, login, startup_write}));
}

// RECONNECT also works on a link that is still up.
TEST_F(ReconnectSession, WhileConnected) {
  start();
  type_until("RECONNECT\n", connected() + ">> ");
  EXPECT_EQ(quit(), connected() + ">> " + connected() + ">> Exit.\n");
  EXPECT_EQ(sim.writes(), (std::vector<sim_write>{login, login}));
}

// While the device refuses connections: the connection line and the error line, the prompt
// stays, requests fail and polls report; once it listens again a second RECONNECT succeeds.
TEST_F(ReconnectSession, WhileTheDeviceRefusesConnections) {
  apply({{5120, {3}}});
  start();
  ASSERT_EQ(sim.command("DROP"), 0);
  ASSERT_EQ(sim.command("REFUSE ON"), 0);
  const std::string failed = "Connect to 127.0.0.1:" + std::to_string(sim.port()) +
                             " is FAIL.\nModbus Connection failed! ERRNO:[Connection refused]\n";
  type_until("RECONNECT\n", failed + ">> ");
  type_until("READ 5120\n", "Error read.\n>> ");
  size_t from = tool.out().size();
  // A poll after the READ fails too (one may also have come before it).
  EXPECT_EQ(tool.wait_for_output("Polling fail: -1\n", 3000, from), 0) << tool.out();
  ASSERT_EQ(sim.command("REFUSE OFF"), 0);
  type_until("RECONNECT\n", connected() + ">> ");
  type_until("READ 5120\n", "3 (0x0003)\n>> ");
  EXPECT_EQ(quit(), connected() + ">> " + failed + ">> " + read_5120 + "Error read.\n>> " +
                        connected() + ">> " + read_5120 + "3 (0x0003)\n>> Exit.\n");
  EXPECT_EQ(sim.writes(), (std::vector<sim_write>{login, login}));
}

// The calibration session, its points, its prompt and its backup survive a reconnect.
TEST_F(ReconnectSession, InsideACalibrationSession) {
  apply({{5480, {3}}, {5288, std::vector<uint16_t>(15, 0xFFFF)}});
  start();
  const std::string prompt = "[Filament Set,2]>> ";
  type_until("CALIBRATE\n1\nSET 7\nDAC-ADC\nACTUAL 7.1\nADD\n", prompt);
  size_t from = tool.out().size();
  type_until("PRINT\n", prompt);
  std::string table = without_poll_failures(tool.out().substr(from));
  ASSERT_NE(table.find("to write: 1 : set =   7.00, actual =   7.10"), std::string::npos) << table;
  ASSERT_EQ(sim.command("DROP"), 0);
  type_until("RECONNECT\n", connected() + prompt);
  from = tool.out().size();
  type_until("PRINT\n", prompt);
  EXPECT_EQ(without_poll_failures(tool.out().substr(from)), table);
  const std::string question = "Restore reg 5126 value from 7 V,A to 6.3 V,A? (y/n) ";
  type_until("Q\n", question);
  type_until("y\n", "Restored.\n>> ");
  std::string out = quit();
  EXPECT_TRUE(
      out.ends_with(table + connected() + prompt + table + question + "Restored.\n>> Exit.\n"))
      << out;
  EXPECT_EQ(sim.writes(), (std::vector<sim_write>{login,
                                                  {16, 5453, {5288}},
                                                  {16, 5126, float_words(7.0f)},
                                                  login,
                                                  {16, 5126, float_words(6.3f)}}));
}

// A device whose server is stuck takes no new connection: Ctrl-C during the attempt ends the
// tool at once, without a login.
TEST_F(ReconnectSession, CtrlCDuringAnAttempt) {
  raw_device device;
  ASSERT_EQ(device.start(raw_device::NOT_ACCEPTING), 0);
  ASSERT_EQ(write_tool_config(dir.path(), tool_config_lines(device.port())), 0);
  start();  // after the login's time-out
  const std::string line = "Connect to 127.0.0.1:" + std::to_string(device.port()) + " is ";
  type_until("RECONNECT\n", line);
  long long t0 = monotonic_ms();
  ASSERT_EQ(tool.send_signal(SIGINT), 0);
  tool_result r = tool.finish();
  long long ms = monotonic_ms() - t0;
  RecordProperty("interrupt_to_exit_ms", static_cast<int>(ms));
  printf("Ctrl-C during a reconnect attempt: ended after %lld ms\n", ms);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 0);
  EXPECT_LT(ms, 1000);
  EXPECT_TRUE(r.out.ends_with("Exit.\n")) << r.out;
  EXPECT_EQ(r.out.find("Login fail!", r.out.rfind(line)), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find("ThreadSanitizer"), std::string::npos) << r.err;
}

}  // namespace
