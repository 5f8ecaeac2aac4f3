// Control commands against a device, without sockets.
#include "sim/control.h"

#include <gtest/gtest.h>

namespace {

// Runs one line; returns the whole reply.
std::string run(sim_state& state, const std::string& line) {
  std::string reply;
  sim_control_execute(line, state, &reply);
  return reply;
}

TEST(Control, SetAndGetWords) {
  sim_state state;
  EXPECT_EQ(run(state, "SET 5480 6"), "OK\n");
  EXPECT_EQ(run(state, "get 5480"), "6\nOK\n");
  EXPECT_EQ(run(state, "SET 5532 0x0004 1"), "OK\n");
  EXPECT_EQ(run(state, "GET 5532 2"), "4 1\nOK\n");
  EXPECT_EQ(run(state, "SET 100 -1"), "OK\n");
  EXPECT_EQ(run(state, "GET 100"), "65535\nOK\n");
}

TEST(Control, SetStoresWithoutDeviceReaction) {
  sim_state state;
  EXPECT_EQ(run(state, "SET 5120 9"), "OK\n");
  EXPECT_EQ(run(state, "GET 5480"), "0\nOK\n");
}

TEST(Control, Floats) {
  sim_state state;
  EXPECT_EQ(run(state, "SETF 5126 12.5 1e3"), "OK\n");
  EXPECT_EQ(run(state, "GET 5126 2"), "0 16712\nOK\n");
  EXPECT_EQ(run(state, "GETF 5126 2"), "12.5 1000\nOK\n");
}

TEST(Control, BadArgumentsGiveErr) {
  struct {
    const char* line;
    const char* reply;
  } cases[] = {
      {"SET", "ERR usage: SET addr v1 [v2 ...]\n"},
      {"SET 5120 x", "ERR bad value x\n"},
      {"SET 5120 65536", "ERR bad value 65536\n"},
      {"SET 6399 1 2", "ERR range beyond the register file\n"},
      {"GET 7000", "ERR bad address 7000\n"},
      {"GET 5120 0", "ERR bad count 0\n"},
      {"SETF 5126 1.5V", "ERR bad value 1.5V\n"},
      {"FAIL BOTH 5120", "ERR usage: FAIL READ|WRITE addr [count [code]]\n"},
      {"DELAY -5", "ERR usage: DELAY ms\n"},
      {"CLEAR ALL", "ERR usage: CLEAR FAILS|WRITES|READS\n"},
      {"FROB", "ERR unknown command FROB\n"},
  };
  for (const auto& c : cases) {
    sim_state state;
    std::string reply;
    EXPECT_EQ(sim_control_execute(c.line, state, &reply), -1) << c.line;
    EXPECT_EQ(reply, c.reply) << c.line;
  }
}

TEST(Control, BlankAndCommentLinesAreAnswered) {
  sim_state state;
  EXPECT_EQ(run(state, ""), "OK\n");
  EXPECT_EQ(run(state, "# a note"), "OK\n");
}

TEST(Control, FailRules) {
  sim_state state;
  EXPECT_EQ(run(state, "FAIL READ 5480"), "OK\n");
  EXPECT_EQ(run(state, "fail write 5121 5 4"), "OK\n");
  EXPECT_EQ(state.device.fault_for(false, 5480, 1), 2);
  EXPECT_EQ(state.device.fault_for(true, 5123, 1), 4);
  EXPECT_EQ(run(state, "CLEAR FAILS"), "OK\n");
  EXPECT_EQ(state.device.fault_for(false, 5480, 1), 0);
}

TEST(Control, WritesAndReadsLists) {
  sim_state state;
  state.device.record_write({16, 5121, {12340, 0}});
  state.device.record_write({6, 5120, {3}});
  state.device.record_read({3, 5480, 1});
  EXPECT_EQ(run(state, "WRITES"), "16 5121 12340 0\n6 5120 3\nOK\n");
  EXPECT_EQ(run(state, "READS"), "3 5480 1\nOK\n");
  EXPECT_EQ(run(state, "CLEAR WRITES"), "OK\n");
  EXPECT_EQ(run(state, "WRITES"), "OK\n");
  EXPECT_EQ(run(state, "CLEAR READS"), "OK\n");
  EXPECT_EQ(run(state, "READS"), "OK\n");
}

TEST(Control, DelayDropQuitStatus) {
  sim_state state;
  EXPECT_EQ(run(state, "DELAY 250"), "OK\n");
  EXPECT_EQ(state.delay_ms, 250);
  EXPECT_EQ(run(state, "DROP"), "OK\n");
  EXPECT_TRUE(state.drop_requested);
  EXPECT_EQ(run(state, "STATUS"), "clients 0\naccepted 0\nrequests 0\ndelay 250\nOK\n");
  EXPECT_EQ(run(state, "QUIT"), "OK\n");
  EXPECT_TRUE(state.quit_requested);
}

TEST(Control, RefuseOnAndOff) {
  sim_state state;
  EXPECT_EQ(run(state, "REFUSE ON"), "OK\n");
  EXPECT_TRUE(state.refusing);
  EXPECT_EQ(run(state, "refuse on"), "OK\n");
  EXPECT_TRUE(state.refusing);
  EXPECT_EQ(run(state, "REFUSE OFF"), "OK\n");
  EXPECT_FALSE(state.refusing);
  for (const char* line : {"REFUSE", "REFUSE YES", "REFUSE ON OFF"})
    EXPECT_EQ(run(state, line), "ERR usage: REFUSE ON|OFF\n") << line;
  EXPECT_FALSE(state.refusing);
}

TEST(Control, HelpListsEveryCommand) {
  sim_state state;
  std::string reply = run(state, "HELP");
  for (const char* word : {"SET ", "SETF", "GET ", "GETF", "FAIL", "CLEAR", "DELAY", "DROP",
                           "REFUSE", "WRITES", "READS", "STATUS", "PING", "QUIT"}) {
    EXPECT_NE(reply.find(word), std::string::npos) << word;
  }
  EXPECT_EQ(reply.substr(reply.size() - 3), "OK\n");
}

}  // namespace
