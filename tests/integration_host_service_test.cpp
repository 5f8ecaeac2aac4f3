// Coordination with the host control service, end to end: the real tool runs in a private mount
// namespace where a scratch directory stands in for the service's configuration directory, and
// stand-in ps_lumo, sudo and systemctl programs first on PATH log every call. The real sed edits
// the stand-in configuration file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/harness.h"

namespace {

const char* const service_dir = "/etc/norvane/lumorda";
const std::string enabled_line = "qpx8_nv.bveltrona_modulator_inuse = 1";
const std::string disabled_line = "qpx8_nv.bveltrona_modulator_inuse = 0";

bool made_etc_norvane = false;
bool made_service_dir = false;

bool namespaces_work() { return system("unshare --mount true >/dev/null 2>&1") == 0; }

class HostService : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (getuid() != 0 || !namespaces_work()) return;
    // The mount point must exist; it stays empty outside the tests' namespaces.
    made_etc_norvane = mkdir("/etc/norvane", 0755) == 0;
    made_service_dir = mkdir(service_dir, 0755) == 0;
  }
  static void TearDownTestSuite() {
    if (made_service_dir) rmdir(service_dir);
    if (made_etc_norvane) rmdir("/etc/norvane");
  }

  void SetUp() override {
    struct stat st;
    if (getuid() != 0 || !namespaces_work() || stat(service_dir, &st) != 0)
      GTEST_SKIP() << "private mount namespaces are not available here";
    ASSERT_EQ(sim.start(), 0) << sim.error();
    ASSERT_EQ(dir.create("vt_service_"), 0);
    ASSERT_EQ(mkdir(dir.file("bin").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("etc").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("work").c_str(), 0755), 0);
    stub("ps_lumo",
         "echo ps_lumo >> \"$QPX_LOG\"\n"
         "[ -e \"$QPX_STATE/running\" ] && echo '  812 ?  00:00:01 qpx8'\n"
         "echo '  901 ?  00:00:00 bash'\n");
    stub("sudo", "echo \"sudo $*\" >> \"$QPX_LOG\"\nexec \"$@\"\n");
    // With QPX_SLOW set, starting or restarting takes that many seconds; with QPX_WAIT_FOR set,
    // each call waits until that file exists.
    stub("systemctl",
         "echo \"systemctl $*\" >> \"$QPX_LOG\"\n"
         "case \"$1\" in start|restart) touch \"$QPX_STATE/running\";; "
         "stop) rm -f \"$QPX_STATE/running\";; esac\n"
         "case \"$1\" in start|restart) if [ -n \"$QPX_SLOW\" ]; then sleep \"$QPX_SLOW\"; "
         "echo \"systemctl $1 done\" >> \"$QPX_LOG\"; fi;; esac\n"
         "[ -z \"$QPX_WAIT_FOR\" ] || while [ ! -e \"$QPX_WAIT_FOR\" ]; do sleep 0.01; done\n");
    std::vector<std::string> items = tool_config_lines(sim.port());
    items.push_back("iStopOnQpxRun = 1");
    ASSERT_EQ(write_tool_config(dir.file("work"), items), 0);
    setenv("QPX_LOG", dir.file("calls.log").c_str(), 1);
    setenv("QPX_STATE", dir.path().c_str(), 1);
    unsetenv("QPX_SLOW");
    unsetenv("QPX_WAIT_FOR");
  }

  void stub(const std::string& name, const std::string& body) {
    std::string path = dir.file("bin/" + name);
    ASSERT_EQ(write_text_file(path, "#!/bin/sh\n" + body), 0);
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
  }

  void service(bool running, bool thread_enabled) {
    unlink(dir.file("running").c_str());
    if (running) {
      ASSERT_EQ(write_text_file(dir.file("running"), ""), 0);
    }
    ASSERT_EQ(
        write_text_file(dir.file("etc/qpx8.conf"),
                        "# service settings\n\n" + (thread_enabled ? enabled_line : disabled_line) +
                            "\nqpx8_nv.iother = 2\n"),
        0);
  }

  int start_tool() {
    std::string script = "mount --bind \"$1\" " + std::string(service_dir) +
                         " && PATH=\"$2:$PATH\" && export PATH && cd \"$3\" && exec \"$4\"";
    return tool.start({"/usr/bin/unshare", "--mount", "/bin/sh", "-c", script, "sh",
                       dir.file("etc"), dir.file("bin"), dir.file("work"), VT_TOOL_PATH},
                      dir.path());
  }

  tool_result run(const std::string& input) {
    tool_result r;
    if (start_tool() != 0) {
      ADD_FAILURE() << tool.error();
      return r;
    }
    EXPECT_EQ(tool.write_input(input, VT_WAIT_MS), 0);
    tool.close_input();
    r.timed_out = tool.wait_exit(VT_WAIT_MS) != 0;
    if (r.timed_out) tool.kill_and_reap();
    r.out = tool.out();
    r.err = tool.err();
    r.status = tool.exit_status();
    return r;
  }

  std::string calls() {
    std::string text;
    read_text_file(dir.file("calls.log"), &text);
    return text;
  }
  // Waits until the stand-ins have logged text.
  bool wait_for_calls(const std::string& text) {
    long long deadline = monotonic_ms() + VT_WAIT_MS;
    while (calls().find(text) == std::string::npos) {
      if (monotonic_ms() >= deadline) return false;
      usleep(5000);
    }
    return true;
  }
  std::string service_config() {
    std::string text;
    read_text_file(dir.file("etc/qpx8.conf"), &text);
    return text;
  }
  std::string connected() { return connect_ok_line(sim.port()); }

  sim_process sim;
  scratch_dir dir;
  child_process tool;
};

// The login the tool writes at every start, the only write these sessions make.
std::vector<sim_write> logins(int runs) {
  return std::vector<sim_write>(static_cast<size_t>(runs), session_start_login());
}

const std::string restart_question =
    "QPX is running with veltrona thread. Restart QPX with veltrona thread disabled? (y/n) ";
const std::string start_question =
    "QPX is not running. Launch QPX with veltrona thread disabled? (y/n) ";

TEST_F(HostService, RunningWithThreadRestartedAndRestored) {
  for (const char* yes : {"y\n", "Y\n", "yes\n"}) {
    service(true, true);
    ASSERT_EQ(write_text_file(dir.file("calls.log"), ""), 0);
    tool_result r = run(std::string(yes) + "q\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, restart_question + "Disabling veltrona in qpx8.conf.\nQPX restarted.\n" +
                         connected() +
                         ">> Enabling veltrona in qpx8.conf.\nRestarting QPX.\nExit.\n");
    EXPECT_EQ(calls(),
              "ps_lumo\nsudo systemctl restart qpx8\nsystemctl restart qpx8\nps_lumo\n"
              "sudo systemctl restart qpx8\nsystemctl restart qpx8\n");
    EXPECT_EQ(service_config(), "# service settings\n\n" + enabled_line + "\nqpx8_nv.iother = 2\n");
  }
  EXPECT_EQ(sim.writes(), logins(3));
}

TEST_F(HostService, DeclinedRestartChangesNothing) {
  for (const char* answer : {"n\n", "N\n", "\n", "maybe\n"}) {
    service(true, true);
    ASSERT_EQ(write_text_file(dir.file("calls.log"), ""), 0);
    tool_result r = run(std::string(answer) + "q\n");
    EXPECT_EQ(r.out, restart_question + "QPX not restarted.\n" + connected() + ">> Exit.\n");
    EXPECT_EQ(calls(), "ps_lumo\n");
    EXPECT_EQ(service_config(), "# service settings\n\n" + enabled_line + "\nqpx8_nv.iother = 2\n");
  }
  EXPECT_EQ(sim.writes(), logins(4));
}

TEST_F(HostService, RunningWithoutThreadGoodToGo) {
  service(true, false);
  tool_result r = run("q\n");
  EXPECT_EQ(r.out,
            "QPX is running without veltrona thread. Good to go!\n" + connected() + ">> Exit.\n");
  EXPECT_EQ(calls(), "ps_lumo\n");
  EXPECT_EQ(sim.writes(), logins(1));
}

TEST_F(HostService, StoppedServiceStartedAndStoppedAgain) {
  service(false, true);
  tool_result r = run("y\nq\n");
  EXPECT_EQ(r.out, start_question + "Disabling veltrona in qpx8.conf.\nQPX started.\n" +
                       connected() + ">> Enabling veltrona in qpx8.conf.\nStopping QPX.\nExit.\n");
  EXPECT_EQ(calls(),
            "ps_lumo\nsudo systemctl start qpx8\nsystemctl start qpx8\nps_lumo\n"
            "sudo systemctl stop qpx8\nsystemctl stop qpx8\n");
  EXPECT_EQ(service_config(), "# service settings\n\n" + enabled_line + "\nqpx8_nv.iother = 2\n");
  EXPECT_EQ(sim.writes(), logins(1));
}

TEST_F(HostService, StoppedServiceWithoutThreadOnlyStopped) {
  service(false, false);
  tool_result r = run("yes\n");
  EXPECT_EQ(r.out, start_question + "Disabling veltrona in qpx8.conf.\nQPX started.\n" +
                       connected() + ">> Stopping QPX.\nExit.\n");
  EXPECT_EQ(calls(),
            "ps_lumo\nsudo systemctl start qpx8\nsystemctl start qpx8\nps_lumo\n"
            "sudo systemctl stop qpx8\nsystemctl stop qpx8\n");
  EXPECT_EQ(sim.writes(), logins(1));
}

TEST_F(HostService, EndOfInputAtTheQuestionDeclines) {
  service(false, true);
  tool_result r = run("");
  EXPECT_EQ(r.out, start_question + "QPX not started.\n" + connected() + ">> Exit.\n");
  EXPECT_EQ(r.err, "Error reading answer.\n");
  EXPECT_EQ(calls(), "ps_lumo\n");
  EXPECT_EQ(sim.writes(), logins(1));
}

TEST_F(HostService, CtrlCAtTheQuestionEndsWithoutConnecting) {
  service(false, true);
  ASSERT_EQ(start_tool(), 0) << tool.error();
  ASSERT_EQ(tool.wait_for_output(start_question, VT_WAIT_MS), 0) << tool.out();
  ASSERT_EQ(tool.send_signal(SIGINT), 0);
  ASSERT_EQ(tool.wait_exit(VT_WAIT_MS), 0);
  EXPECT_EQ(tool.exit_status(), 0);
  EXPECT_EQ(tool.out(), start_question + "QPX not started.\nExit.\n");
  EXPECT_EQ(calls(), "ps_lumo\n");
  EXPECT_EQ(sim.writes(), std::vector<sim_write>{});
}

// SIGTERM and SIGHUP mean the same as Ctrl-C.
TEST_F(HostService, CtrlCAtThePromptStillRestores) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    service(false, false);
    ASSERT_EQ(start_tool(), 0) << tool.error();
    ASSERT_EQ(tool.write_input("y\n", VT_WAIT_MS), 0);
    ASSERT_EQ(tool.wait_for_output(">> ", VT_WAIT_MS), 0) << tool.out();
    ASSERT_EQ(tool.send_signal(sig), 0);
    ASSERT_EQ(tool.wait_exit(VT_WAIT_MS), 0);
    EXPECT_EQ(tool.exit_status(), 0) << sig;
    EXPECT_EQ(tool.out(), start_question + "Disabling veltrona in qpx8.conf.\nQPX started.\n" +
                              connected() + ">> Stopping QPX.\nExit.\n");
  }
  EXPECT_EQ(sim.writes(), logins(3));
}

// When the reader of the tool's output goes away, the tool is not killed by SIGPIPE: it ends at
// its next prompt and still puts the service back.
TEST_F(HostService, ClosedOutputPipeStillRestores) {
  service(false, true);
  // The reader takes the question and the first line after it, then closes the pipe and leaves
  // a mark; the stand-in systemctl waits for that mark, so the tool's next line finds no reader.
  std::string seen = start_question + "Disabling veltrona in qpx8.conf.\n";
  setenv("QPX_WAIT_FOR", dir.file("reader_gone").c_str(), 1);
  std::string script = "mount --bind \"$1\" " + std::string(service_dir) +
                       " && PATH=\"$2:$PATH\" && export PATH && cd \"$3\" && "
                       "{ \"$4\"; echo \"status $?\" >&2; } | "
                       "{ head -c \"$5\" >/dev/null; exec 0<&-; touch \"$QPX_WAIT_FOR\"; }";
  ASSERT_EQ(
      tool.start({"/usr/bin/unshare", "--mount", "/bin/sh", "-c", script, "sh", dir.file("etc"),
                  dir.file("bin"), dir.file("work"), VT_TOOL_PATH, std::to_string(seen.size())},
                 dir.path()),
      0)
      << tool.error();
  // Standard input stays open: only the lost output may end the tool.
  ASSERT_EQ(tool.write_input("y\n", VT_WAIT_MS), 0);
  ASSERT_EQ(tool.wait_exit(VT_WAIT_MS), 0) << tool.err();
  EXPECT_EQ(tool.err(), "status 0\n");
  EXPECT_EQ(calls(),
            "ps_lumo\nsudo systemctl start qpx8\nsystemctl start qpx8\nps_lumo\n"
            "sudo systemctl stop qpx8\nsystemctl stop qpx8\n");
  EXPECT_EQ(service_config(), "# service settings\n\n" + enabled_line + "\nqpx8_nv.iother = 2\n");
  EXPECT_EQ(sim.writes(), logins(1));
}

// A Ctrl-C while a service command runs is not lost: the tool waits for the command, runs no
// further one and ends as at a question, without connecting, after the restore.
TEST_F(HostService, CtrlCDuringAServiceCommandWaitsForItAndRestores) {
  struct {
    bool running, thread_enabled;
    std::string command, after_restore, restore_calls;
  } cases[] = {
      {false, false, "start", "Stopping QPX.\n", "sudo systemctl stop qpx8\nsystemctl stop qpx8\n"},
      {true, true, "restart", "Enabling veltrona in qpx8.conf.\nRestarting QPX.\n",
       "sudo systemctl restart qpx8\nsystemctl restart qpx8\nsystemctl restart done\n"},
  };
  setenv("QPX_SLOW", "0.6", 1);
  for (const auto& c : cases) {
    service(c.running, c.thread_enabled);
    ASSERT_EQ(write_text_file(dir.file("calls.log"), ""), 0);
    ASSERT_EQ(start_tool(), 0) << tool.error();
    ASSERT_EQ(tool.write_input("y\n", VT_WAIT_MS), 0);
    ASSERT_TRUE(wait_for_calls("systemctl " + c.command + " qpx8\n")) << calls();
    long long t0 = monotonic_ms();
    ASSERT_EQ(tool.send_signal(SIGINT), 0);
    ASSERT_EQ(tool.wait_exit(VT_WAIT_MS), 0) << tool.out();
    RecordProperty("signal_to_exit_ms_" + c.command, static_cast<int>(monotonic_ms() - t0));
    EXPECT_EQ(tool.exit_status(), 0);
    EXPECT_EQ(tool.out(), (c.running ? restart_question : start_question) +
                              "Disabling veltrona in qpx8.conf.\n" + c.after_restore + "Exit.\n");
    // The command ended before the restore began; no check of the process list followed it.
    EXPECT_EQ(calls(), "ps_lumo\nsudo systemctl " + c.command + " qpx8\nsystemctl " + c.command +
                           " qpx8\nsystemctl " + c.command + " done\n" + c.restore_calls);
    EXPECT_EQ(service_config(), "# service settings\n\n" +
                                    (c.thread_enabled ? enabled_line : disabled_line) +
                                    "\nqpx8_nv.iother = 2\n");
  }
  EXPECT_EQ(sim.writes(), std::vector<sim_write>{});
}

}  // namespace
