// The harness itself: child processes with timeouts, and the simulator driven through its control
// channel and reached by a plain libmodbus client, as the tool reaches it.
#include "tests/harness.h"

#include <gtest/gtest.h>
#include <modbus.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace {

// --- child_process ---------------------------------------------------------------------------

TEST(ChildProcess, BatchInputReachesOutput) {
  child_process cat;
  ASSERT_EQ(cat.start({"/bin/cat"}, "/"), 0) << cat.error();
  std::string big(200000, 'x');  // more than a pipe holds, so writing and reading interleave
  ASSERT_EQ(cat.write_input(big, VT_WAIT_MS), 0);
  cat.close_input();
  ASSERT_EQ(cat.wait_exit(VT_WAIT_MS), 0);
  EXPECT_EQ(cat.out(), big);
  EXPECT_EQ(cat.exit_status(), 0);
}

TEST(ChildProcess, OutputStreamsAreSeparateAndStatusIsKept) {
  child_process sh;
  ASSERT_EQ(sh.start({"/bin/sh", "-c", "pwd; echo problem >&2; exit 3"}, "/tmp"), 0);
  ASSERT_EQ(sh.wait_exit(VT_WAIT_MS), 0);
  EXPECT_EQ(sh.out(), "/tmp\n");
  EXPECT_EQ(sh.err(), "problem\n");
  EXPECT_EQ(sh.exit_status(), 3);
}

TEST(ChildProcess, WaitTimesOutAndKillReaps) {
  child_process cat;
  ASSERT_EQ(cat.start({"/bin/cat"}, "/"), 0);
  long long start = monotonic_ms();
  EXPECT_EQ(cat.wait_exit(200), -1);
  EXPECT_GE(monotonic_ms() - start, 200);
  EXPECT_TRUE(cat.running());
  cat.kill_and_reap();
  EXPECT_FALSE(cat.running());
  EXPECT_EQ(cat.exit_status(), 128 + SIGKILL);
}

TEST(ChildProcess, WaitForOutputThenSignal) {
  child_process sh;
  ASSERT_EQ(sh.start({"/bin/sh", "-c", "echo ready; exec cat"}, "/"), 0);
  ASSERT_EQ(sh.wait_for_output("ready", VT_WAIT_MS), 0);
  EXPECT_EQ(sh.wait_for_output("never printed", 100), -1);
  ASSERT_EQ(sh.send_signal(SIGINT), 0);
  ASSERT_EQ(sh.wait_exit(VT_WAIT_MS), 0);
  EXPECT_EQ(sh.exit_status(), 128 + SIGINT);
}

TEST(ChildProcess, MissingProgramEndsWith127) {
  child_process none;
  ASSERT_EQ(none.start({"/nonexistent/program"}, "/"), 0);
  ASSERT_EQ(none.wait_exit(VT_WAIT_MS), 0);
  EXPECT_EQ(none.exit_status(), 127);
}

// --- simulator through the harness ------------------------------------------------------------

struct modbus_deleter {
  void operator()(modbus_t* ctx) const {
    modbus_close(ctx);
    modbus_free(ctx);
  }
};
using modbus_ptr = std::unique_ptr<modbus_t, modbus_deleter>;

modbus_ptr connect_client(int port) {
  modbus_ptr ctx(modbus_new_tcp("127.0.0.1", port));
  if (ctx == nullptr || modbus_connect(ctx.get()) < 0) return nullptr;
  modbus_set_response_timeout(ctx.get(), 5, 0);
  return ctx;
}

class SimCase : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sim.start(), 0) << sim.error();
    client = connect_client(sim.port());
    ASSERT_NE(client, nullptr) << modbus_strerror(errno);
  }

  // One register read through Modbus; -1 on failure.
  int read_word(int address) {
    uint16_t value = 0;
    return modbus_read_registers(client.get(), address, 1, &value) == 1 ? value : -1;
  }

  sim_process sim;
  modbus_ptr client;
};

TEST_F(SimCase, StateRequestMovesStateAndIsRecordedAsSent) {
  EXPECT_EQ(read_word(5480), 0);
  ASSERT_EQ(modbus_write_register(client.get(), 5120, 6), 1);  // function 6
  EXPECT_EQ(read_word(5480), 6);
  uint16_t nine = 9;
  ASSERT_EQ(modbus_write_registers(client.get(), 5120, 1, &nine), 1);  // function 16
  EXPECT_EQ(read_word(5480), 9);
  EXPECT_EQ(sim.writes(), (std::vector<sim_write>{{6, 5120, {6}}, {16, 5120, {9}}}));
  EXPECT_EQ(sim.reads(), (std::vector<sim_read>{{3, 5480, 1}, {3, 5480, 1}, {3, 5480, 1}}));
}

TEST_F(SimCase, LoginAndLogoutCodes) {
  std::vector<uint16_t> login = access_code_words("40716253");
  EXPECT_EQ(login, (std::vector<uint16_t>{0x3034, 0x3137, 0x3236, 0x3335, 0x0000}));
  ASSERT_EQ(modbus_write_registers(client.get(), 5121, 5, login.data()), 5);
  EXPECT_EQ(read_word(5559), 1);
  std::vector<uint16_t> logout = access_code_words("59283746");
  ASSERT_EQ(modbus_write_registers(client.get(), 5121, 5, logout.data()), 5);
  EXPECT_EQ(read_word(5559), 0);
  EXPECT_EQ(sim.writes(), (std::vector<sim_write>{{16, 5121, login}, {16, 5121, logout}}));
}

TEST_F(SimCase, ResetClearsInterlocks) {
  ASSERT_EQ(sim.set_registers(5532, {4, 0, 0, 1, 8, 0}), 0) << sim.error();
  uint16_t words[6] = {};
  ASSERT_EQ(modbus_read_registers(client.get(), 5532, 6, words), 6);
  EXPECT_EQ(words[3], 1);
  ASSERT_EQ(modbus_write_register(client.get(), 5140, 1), 1);
  ASSERT_EQ(modbus_read_registers(client.get(), 5532, 6, words), 6);
  for (uint16_t w : words) EXPECT_EQ(w, 0);
}

TEST_F(SimCase, DacFollowsTheSetRegisterOfTheCalibration) {
  ASSERT_EQ(modbus_write_register(client.get(), 5453, 5288), 1);  // MB_FIL_SET_CAL
  std::vector<uint16_t> set = float_words(4.5f);
  ASSERT_EQ(modbus_write_registers(client.get(), 5126, 2, set.data()), 2);
  EXPECT_EQ(read_word(5457), 4500);
}

TEST_F(SimCase, ControlSetAndGetMeetModbus) {
  ASSERT_EQ(sim.set_registers(6000, {11, 22}), 0);
  uint16_t words[2] = {};
  ASSERT_EQ(modbus_read_registers(client.get(), 6000, 2, words), 2);
  EXPECT_EQ(words[0], 11);
  EXPECT_EQ(words[1], 22);
  ASSERT_EQ(modbus_write_register(client.get(), 6001, 33), 1);
  std::vector<uint16_t> got;
  ASSERT_EQ(sim.get_registers(6000, 2, &got), 0);
  EXPECT_EQ(got, (std::vector<uint16_t>{11, 33}));
  EXPECT_EQ(sim.command("GET 9999"), -1);
  EXPECT_NE(sim.error().find("ERR"), std::string::npos);
}

TEST_F(SimCase, InjectedExceptionsFailTouchingRequestsOnly) {
  ASSERT_EQ(sim.fail_reads(5481, 2), 0);
  EXPECT_EQ(read_word(5480), 0);  // ends below the range
  uint16_t words[2] = {};
  EXPECT_EQ(modbus_read_registers(client.get(), 5479, 3, words), -1);
  EXPECT_EQ(errno, EMBXILADD);
  ASSERT_EQ(sim.command("FAIL WRITE 5120 1 4"), 0);
  EXPECT_EQ(modbus_write_register(client.get(), 5120, 3), -1);
  EXPECT_EQ(errno, EMBXSFAIL);
  EXPECT_EQ(read_word(5480), 0);  // the refused write moved nothing
  EXPECT_EQ(sim.writes(), (std::vector<sim_write>{{6, 5120, {3}}}));  // but it was recorded
  ASSERT_EQ(sim.command("CLEAR FAILS"), 0);
  EXPECT_EQ(modbus_write_register(client.get(), 5120, 3), 1);
  EXPECT_EQ(read_word(5480), 3);
}

TEST_F(SimCase, DelayHoldsEachReply) {
  ASSERT_EQ(sim.set_delay_ms(300), 0);
  long long start = monotonic_ms();
  EXPECT_EQ(read_word(5480), 0);
  EXPECT_GE(monotonic_ms() - start, 300);
  ASSERT_EQ(sim.set_delay_ms(0), 0);
  start = monotonic_ms();
  EXPECT_EQ(read_word(5480), 0);
  EXPECT_LT(monotonic_ms() - start, 300);
}

TEST_F(SimCase, ControlAnswersWhileAReplyIsHeld) {
  ASSERT_EQ(sim.set_delay_ms(1000), 0);
  const uint8_t read_state[] = {0xFF, 3, 0x15, 0x68, 0x00, 0x01};  // 1 register at 5480
  long long start = monotonic_ms();
  ASSERT_GT(modbus_send_raw_request(client.get(), read_state, sizeof read_state), 0);
  ASSERT_EQ(sim.command("PING"), 0);
  EXPECT_LT(monotonic_ms() - start, 1000);
  uint8_t response[MODBUS_TCP_MAX_ADU_LENGTH];
  ASSERT_GT(modbus_receive_confirmation(client.get(), response), 0);
  EXPECT_GE(monotonic_ms() - start, 1000);
}

TEST_F(SimCase, DropClosesConnectionsAndNewOnesAreServed) {
  modbus_ptr second = connect_client(sim.port());
  ASSERT_NE(second, nullptr);
  uint16_t value = 0;
  ASSERT_EQ(modbus_read_registers(second.get(), 5480, 1, &value), 1);
  EXPECT_EQ(read_word(5480), 0);
  std::vector<std::string> status;
  ASSERT_EQ(sim.command("STATUS", &status), 0);
  EXPECT_EQ(status[0], "clients 2");
  ASSERT_EQ(sim.command("DROP"), 0);
  EXPECT_EQ(read_word(5480), -1);
  modbus_ptr third = connect_client(sim.port());
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(modbus_read_registers(third.get(), 5480, 1, &value), 1);
}

TEST_F(SimCase, RefuseTurnsConnectionsAwayUntilOff) {
  ASSERT_EQ(sim.command("REFUSE ON"), 0);
  modbus_ptr refused(modbus_new_tcp("127.0.0.1", sim.port()));
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(modbus_connect(refused.get()), -1);
  EXPECT_EQ(errno, ECONNREFUSED);
  EXPECT_EQ(read_word(5480), 0);  // a connection made before goes on
  ASSERT_EQ(sim.command("REFUSE ON"), 0);
  ASSERT_EQ(sim.command("REFUSE OFF"), 0);
  modbus_ptr again = connect_client(sim.port());
  ASSERT_NE(again, nullptr);
  uint16_t value = 0;
  EXPECT_EQ(modbus_read_registers(again.get(), 5480, 1, &value), 1);
}

TEST_F(SimCase, ReadsBeyondTheRegisterFileAreRefused) {
  uint16_t words[4] = {};
  EXPECT_EQ(modbus_read_registers(client.get(), 6398, 4, words), -1);
  EXPECT_EQ(errno, EMBXILADD);
}

TEST_F(SimCase, ListensOn127001Only) {
  modbus_ptr other(modbus_new_tcp("127.0.0.2", sim.port()));
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(modbus_connect(other.get()), -1);
}

TEST_F(SimCase, StopIsCleanAndRemovesItsFiles) {
  std::string dir = sim.dir();
  ASSERT_EQ(access((dir + "/port").c_str(), F_OK), 0);
  ASSERT_EQ(access((dir + "/control.sock").c_str(), F_OK), 0);
  EXPECT_EQ(sim.stop(), 0);
  EXPECT_NE(access((dir + "/port").c_str(), F_OK), 0);
  EXPECT_NE(access((dir + "/control.sock").c_str(), F_OK), 0);
}

TEST(SimProcess, ConfigFileHelpers) {
  scratch_dir dir;
  ASSERT_EQ(dir.create("vt_harness_"), 0);
  ASSERT_EQ(write_tool_config(dir.path(), tool_config_lines(1502)), 0);
  std::string text;
  ASSERT_EQ(read_text_file(dir.file("veltrona_tool.conf"), &text), 0);
  EXPECT_EQ(text, "[velt_tool_config]\nsIpAddr = \"127.0.0.1\"\niPort = 1502\n");
}

TEST(SimProcess, ScratchDirIsRemovedWithItsFiles) {
  std::string path;
  {
    scratch_dir dir;
    ASSERT_EQ(dir.create("vt_harness_"), 0);
    path = dir.path();
    ASSERT_EQ(write_text_file(dir.file("some_file"), "text"), 0);
  }
  EXPECT_NE(access(path.c_str(), F_OK), 0);
}

TEST(SimProcess, ClosedPortRefuses) {
  closed_port closed;
  ASSERT_NE(closed.port(), 0);
  modbus_ptr ctx(modbus_new_tcp("127.0.0.1", closed.port()));
  EXPECT_EQ(modbus_connect(ctx.get()), -1);
  EXPECT_EQ(errno, ECONNREFUSED);
}

}  // namespace
