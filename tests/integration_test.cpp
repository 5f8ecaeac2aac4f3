// The real veltrona_tool against the simulator: exact output, exit status and the writes the
// device saw. Later features add their cases here or in files of their own using ConsoleSession.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/console_fixture.h"

namespace {

TEST_F(ConsoleSession, ConnectsLogsInAndExitsAtEndOfInput) {
  tool_result r = run("");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out.starts_with(connect_ok_line(sim.port()))) << r.out;
  EXPECT_TRUE(r.out.ends_with("Exit.\n")) << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(writes(), (std::vector<sim_write>{
                          {16, 5121, {0x3034, 0x3137, 0x3236, 0x3335, 0x0000}},
                      }));
}

TEST_F(ConsoleSession, LoginSetsDeviceAccessLevel) {
  tool_result r = run("");
  EXPECT_EQ(r.status, 0);
  std::vector<uint16_t> level;
  ASSERT_EQ(sim.get_registers(5559, 1, &level), 0) << sim.error();
  EXPECT_EQ(level, std::vector<uint16_t>{1});
  EXPECT_EQ(writes(), std::vector<sim_write>{session_start_login()});
}

// Only a script run with -e is told the connection failed.
TEST_F(ConsoleSession, RefusedConnectionReportsAndExitsNormally) {
  closed_port closed;
  ASSERT_NE(closed.port(), 0);
  configure({"iPort = " + std::to_string(closed.port())});
  for (int exit_on_error : {0, 1}) {
    std::vector<std::string> args;
    if (exit_on_error) args.push_back("-e");
    tool_result r = run_tool_batch(dir.path(), "READ 5120\n", VT_WAIT_MS, args);
    EXPECT_EQ(r.status, exit_on_error);
    EXPECT_EQ(r.out, "Connect to 127.0.0.1:" + std::to_string(closed.port()) +
                         " is FAIL.\n"
                         "Modbus Connection failed! ERRNO:[Connection refused]\n"
                         "Exit.\n");
  }
  EXPECT_EQ(writes(), std::vector<sim_write>{});
}

// With -e a failed login at start ends the script before its first command.
TEST_F(ConsoleSession, FailedLoginEndsAScriptWithExitOnError) {
  ASSERT_EQ(sim.command("FAIL WRITE 5121"), 0) << sim.error();
  tool_result r = run_tool_batch(dir.path(), "WRITE STATE 3\ny\n", VT_WAIT_MS, {"-e"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, connect_ok_line(sim.port()) + "Login fail!\nExit.\n");
  // The refused login is all the simulator saw: the write was never asked.
  EXPECT_EQ(writes(), std::vector<sim_write>{session_start_login()});
}

TEST_F(ConsoleSession, BadConfigurationLineFailsTheLoad) {
  ASSERT_EQ(write_text_file(dir.path() + "/veltrona_tool.conf",
                            "[velt_tool_config]\n"
                            "iPort = 1502\n"
                            "this line is no item\n"),
            0);
  tool_result r = run_tool_batch(dir.path(), "");
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(r.out.ends_with("Failed to load veltrona_tool.conf")) << r.out;
  EXPECT_EQ(writes(), std::vector<sim_write>{});
}

// A FIFO where the configuration should be would hold the start until someone wrote to it.
TEST_F(ConsoleSession, ConfigurationThatIsAFifoFailsTheLoadAtOnce) {
  ASSERT_EQ(unlink((dir.path() + "/veltrona_tool.conf").c_str()), 0);
  ASSERT_EQ(mkfifo((dir.path() + "/veltrona_tool.conf").c_str(), 0600), 0);
  tool_result r = run_tool_batch(dir.path(), "");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out,
            "veltrona_tool.conf: cannot be read: not a regular file\n"
            "Failed to load veltrona_tool.conf");
  EXPECT_EQ(writes(), std::vector<sim_write>{});
}

TEST_F(ConsoleSession, OversizedConfigurationFailsTheLoad) {
  std::string big = "[velt_tool_config]\niPort = " + std::to_string(sim.port()) + "\n";
  big.resize(1024 * 1024 + 1, '\n');
  ASSERT_EQ(write_text_file(dir.path() + "/veltrona_tool.conf", big), 0);
  tool_result r = run_tool_batch(dir.path(), "");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out,
            "veltrona_tool.conf: larger than 1 MiB, not read\n"
            "Failed to load veltrona_tool.conf");
  EXPECT_EQ(writes(), std::vector<sim_write>{});
}

// The program argv[0] run in dir with standard input closed at once.
tool_result run_argv(const std::string& dir, const std::vector<std::string>& argv) {
  child_process child;
  tool_result result;
  if (child.start(argv, dir) < 0) {
    result.err = child.error();
    return result;
  }
  child.close_input();
  if (child.wait_exit(VT_WAIT_MS) < 0) {
    result.timed_out = true;
    child.kill_and_reap();
    return result;
  }
  result.out = child.out();
  result.err = child.err();
  result.status = child.exit_status();
  return result;
}

// The tool run in dir with arguments and standard input closed at once.
tool_result run_with_args(const std::string& dir, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {VT_TOOL_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_argv(dir, argv);
}

// How many Modbus connections the simulator has accepted and requests it has served.
std::string sim_traffic(sim_process& sim) {
  std::vector<std::string> lines;
  if (sim.command("STATUS", &lines) < 0) return sim.error();
  std::string traffic;
  for (const std::string& line : lines)
    if (line.starts_with("accepted ") || line.starts_with("requests ")) traffic += line + "\n";
  return traffic;
}

// A configuration the tool would complain about on reading shows that --help and --version
// never read it.
const char* const kUnreadConfigItem = "iNotAKey = 1";

TEST_F(ConsoleSession, HelpPrintsTheUsageAndNeitherLoadsNorConnects) {
  configure({kUnreadConfigItem});
  tool_result r = run_with_args(dir.path(), {"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(
      r.out.starts_with("Usage: veltrona_tool [OPTION]...\n\n"
                        "Calibration and Chat utility for Veltrona modulator.\n"))
      << r.out;
  for (const char* part :
       {"\n  veltrona_tool.conf\n", "working directory", "\n  ~/.veltrona_tool_history\n",
        "/veltrona_tool/writes.log", "/veltrona_tool/calibrations.jsonl", "\n  0    normal end",
        "\n  -e, --exit-on-error\n", "\n  1    with -e: a command failed", "\n  2    bad usage",
        "\n  255  the configuration", " --config FILE\n", "-H, --host ADDR\n", "-p, --port PORT\n",
        "-c, --command CMD\n", "-f, --file FILE\n", "-q, --quiet\n", "COMPARE fails when a"})
    EXPECT_NE(r.out.find(part), std::string::npos) << part;
  EXPECT_TRUE(r.out.ends_with("signal handler not installed\n")) << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(sim_traffic(sim), "accepted 0\nrequests 0\n");
}

TEST_F(ConsoleSession, VersionPrintsNameAndVersionAndNeitherLoadsNorConnects) {
  configure({kUnreadConfigItem});
  tool_result r = run_with_args(dir.path(), {"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("veltrona_tool ") + VT_VERSION + "\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(sim_traffic(sim), "accepted 0\nrequests 0\n");
}

// Text that can't be written (standard output on a full disk) is an error, said on standard
// error, with status 1.
TEST_F(ConsoleSession, HelpAndVersionOnAFullDiskFailWithStatus1) {
  for (const char* option : {"--help", "--version"}) {
    SCOPED_TRACE(option);
    tool_result r = run_argv(
        dir.path(), {"/bin/sh", "-c", "exec \"$0\" \"$1\" >/dev/full", VT_TOOL_PATH, option});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "veltrona_tool: write error: No space left on device\n");
  }
  EXPECT_EQ(sim_traffic(sim), "accepted 0\nrequests 0\n");
}

TEST_F(ConsoleSession, UnknownArgumentIsNamedWithStatus2AndNoConnection) {
  configure({kUnreadConfigItem});
  struct {
    std::vector<std::string> args;
    const char* named;
  } cases[] = {
      {{"--verbose"}, "--verbose"},
      {{"-h"}, "-h"},
      {{"veltrona_tool.conf"}, "veltrona_tool.conf"},
      {{""}, ""},
      {{"--help", "now"}, "now"},
      {{"--version", "--help", "-v"}, "-v"},
      // Bytes a terminal would act on, and what is not ASCII, are shown escaped.
      {{"\033]0;owned\a\033[2J"}, "\\x1B]0;owned\\x07\\x1B[2J"},
      {{"a\\b\tc\x7f"}, "a\\\\b\\x09c\\x7F"},
      {{"caf\xc3\xa9"}, "caf\\xC3\\xA9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.named);
    tool_result r = run_with_args(dir.path(), c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("veltrona_tool: unknown argument '") + c.named +
                         "'; try 'veltrona_tool --help'\n");
  }
  EXPECT_EQ(sim_traffic(sim), "accepted 0\nrequests 0\n");
  EXPECT_EQ(writes(), std::vector<sim_write>{});
}

// Options whose value is missing or doesn't parse, or that don't go together: one line naming
// it, status 2, and neither the configuration read nor the device reached.
TEST_F(ConsoleSession, BadOptionValuesAreNamedWithStatus2AndNoConnection) {
  configure({kUnreadConfigItem});
  const std::string help = "; try 'veltrona_tool --help'\n";
  struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-H", "10.0.0"}, "bad address '10.0.0' (an IPv4 address expected)"},
      {{"--host=modulator.local"}, "bad address 'modulator.local' (an IPv4 address expected)"},
      {{"-p", "0"}, "bad port '0' (1 to 65535 expected)"},
      {{"--port=65536"}, "bad port '65536' (1 to 65535 expected)"},
      {{"-qp", "502x"}, "bad port '502x' (1 to 65535 expected)"},
      {{"-H"}, "missing value of '-H'"},
      {{"-q", "--config"}, "missing value of '--config'"},
      {{"-eqc"}, "missing value of '-c'"},
      {{"-qz"}, "unknown argument '-z'"},
      {{"--quiet=yes"}, "unknown argument '--quiet=yes'"},
      {{"--", "-q"}, "unknown argument '-q'"},
      {{"-c", "READ 5120", "-f", "script.txt"}, "-c and -f can't be used together"},
      {{"--help", "-p", "x"}, "bad port 'x' (1 to 65535 expected)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    tool_result r = run_with_args(dir.path(), c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "veltrona_tool: " + c.err + help);
  }
  tool_result missing = run_with_args(dir.path(), {"-f", "no-such-script.txt"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "veltrona_tool: no-such-script.txt: No such file or directory\n");
  EXPECT_EQ(sim_traffic(sim), "accepted 0\nrequests 0\n");
}

// Quiet, a failed connection still says so, on standard error, and -e still fails the run.
TEST_F(ConsoleSession, QuietRefusedConnectionIsSaidOnStandardError) {
  closed_port closed;
  ASSERT_NE(closed.port(), 0);
  tool_result r = run_with_args(
      dir.path(), {"-q", "-e", "-p", std::to_string(closed.port()), "-c", "READ 5120"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Connect to 127.0.0.1:" + std::to_string(closed.port()) +
                       " is FAIL.\n"
                       "Modbus Connection failed! ERRNO:[Connection refused]\n");
}

}  // namespace
