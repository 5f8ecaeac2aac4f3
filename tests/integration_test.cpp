// The real veltrona_tool against the simulator: exact output, exit status and the writes the
// device saw. Later features add their cases here or in files of their own using tool_case.
#include <signal.h>

#include <string>

#include "tests/tool_case.h"

namespace {

bool starts_with(const std::string &text, const std::string &prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool ends_with(const std::string &text, const std::string &suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string connect_ok_line(int port) {
  return "Connect to 127.0.0.1:" + std::to_string(port) + " is OK.\n";
}

TEST_F(tool_case, connects_logs_in_and_exits_at_end_of_input) {
  tool_result r = run("");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(starts_with(r.out, connect_ok_line(sim.port()))) << r.out;
  EXPECT_TRUE(ends_with(r.out, "Exit.\n")) << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(writes(), (std::vector<sim_write>{
                          {16, 5121, {0x3034, 0x3137, 0x3236, 0x3335, 0x0000}},
                      }));
}

TEST_F(tool_case, login_sets_device_access_level) {
  tool_result r = run("");
  EXPECT_EQ(r.status, 0);
  std::vector<uint16_t> level;
  ASSERT_EQ(sim.get_registers(5559, 1, &level), 0) << sim.error();
  EXPECT_EQ(level, std::vector<uint16_t>{1});
  EXPECT_EQ(writes(), std::vector<sim_write>{session_start_login()});
}

TEST_F(tool_case, refused_connection_reports_and_exits_normally) {
  closed_port closed;
  ASSERT_NE(closed.port(), 0);
  configure({"iPort = " + std::to_string(closed.port())});
  tool_result r = run("");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Connect to 127.0.0.1:" + std::to_string(closed.port()) +
                       " is FAIL.\n"
                       "Modbus Connection failed! ERRNO:[Connection refused]\n"
                       "Exit.\n");
  EXPECT_EQ(writes(), std::vector<sim_write>{});
}

TEST_F(tool_case, ctrl_c_at_the_prompt_exits_cleanly) {
  tool_process tool;
  ASSERT_EQ(tool.start(dir()), 0) << tool.error();
  // At the prompt the login is done, so the write log is known.
  ASSERT_EQ(tool.wait_for_output(">> "), 0) << tool.out();
  // Standard input stays open until the tool has ended: the signal alone must end it.
  ASSERT_EQ(tool.send_signal(SIGINT), 0);
  tool_result r = tool.finish();
  EXPECT_FALSE(r.timed_out) << r.out;
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(starts_with(r.out, connect_ok_line(sim.port()))) << r.out;
  EXPECT_TRUE(ends_with(r.out, "Exit.\n")) << r.out;
  EXPECT_EQ(writes(), std::vector<sim_write>{session_start_login()});
}

TEST_F(tool_case, bad_configuration_line_fails_the_load) {
  ASSERT_EQ(write_text_file(dir() + "/veltrona_tool.conf",
                            "[velt_tool_config]\n"
                            "iPort = 1502\n"
                            "this line is no item\n"),
            0);
  tool_result r = run("");
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(ends_with(r.out, "Failed to load veltrona_tool.conf")) << r.out;
  EXPECT_EQ(writes(), std::vector<sim_write>{});
}

TEST_F(tool_case, oversized_configuration_fails_the_load) {
  std::string big = "[velt_tool_config]\niPort = " + std::to_string(sim.port()) + "\n";
  big.resize(1024 * 1024 + 1, '\n');
  ASSERT_EQ(write_text_file(dir() + "/veltrona_tool.conf", big), 0);
  tool_result r = run("");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out,
            "veltrona_tool.conf: larger than 1 MiB, not read\n"
            "Failed to load veltrona_tool.conf");
  EXPECT_EQ(writes(), std::vector<sim_write>{});
}

}  // namespace
