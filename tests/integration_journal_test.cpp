// The host's journal, end to end: the real tool runs in a private mount namespace where a scratch
// directory stands in for /run, and the test's own datagram socket sits at the journal's socket
// path. What the real libsystemd sends is decoded as the journal decodes it (its native
// protocol), so the fields of each write and calibration record are checked as they would be
// stored.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

#include "tests/console_fixture.h"

namespace {

using entry = std::map<std::string, std::string>;

// One datagram of the native protocol: FIELD=value lines, or FIELD, a line end, the value's
// length as 64-bit little endian, the value and a line end for a value that holds line ends.
entry decode(const std::string& d) {
  entry e;
  for (size_t at = 0, end; (end = d.find('\n', at)) != std::string::npos;) {
    if (size_t eq = d.find('=', at); eq < end) {
      e[d.substr(at, eq - at)] = d.substr(eq + 1, end - eq - 1);
      at = end + 1;
      continue;
    }
    uint64_t len = 0;
    if (end + 9 > d.size()) break;
    memcpy(&len, d.data() + end + 1, 8);  // the host is little endian, as the journal's
    e[d.substr(at, end - at)] = d.substr(end + 9, len);
    at = end + 9 + len + 1;
  }
  return e;
}

class Journal : public ConsoleSession {
 protected:
  void SetUp() override {
    if (getuid() != 0 || system("unshare --mount true >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "private mount namespaces are not available here";
    ConsoleSession::SetUp();
    ASSERT_EQ(run_dir.create("vt_journal_"), 0);
    ASSERT_EQ(system(("mkdir -p " + run_dir.file("run/systemd/journal")).c_str()), 0);
  }
  void TearDown() override { stop_listening(); }

  // Binds the stand-in journal socket; a reader thread collects what arrives, so that a sender
  // never blocks on a full queue. Without it (read false) the queue fills up, as that of a
  // journald that is stuck. The entries are small: libsystemd sends each as one datagram.
  void listen(bool read = true) {
    sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un sa = {AF_UNIX, {}};
    snprintf(sa.sun_path, sizeof sa.sun_path, "%s", run_dir.file(socket_path).c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0) << strerror(errno);
    timeval tv = {0, 100 * 1000};
    setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (read)
      reader = std::thread([this] {
        char buf[65536];
        for (ssize_t n; !done.load();)
          if ((n = recv(sock, buf, sizeof buf, 0)) > 0)
            entries.push_back(decode({buf, static_cast<size_t>(n)}));
      });
  }
  void stop_listening() {
    done.store(true);
    if (reader.joinable()) reader.join();
    if (sock >= 0) close(sock);
    sock = -1;
    done.store(false);
  }

  tool_result run_in_namespace(const std::string& input, std::vector<std::string> args = {}) {
    scoped_env on("VELTRONA_TOOL_NO_JOURNAL", std::nullopt);
    args.insert(args.begin(), {"/usr/bin/unshare", "--mount", "/bin/sh", "-c",
                               "mount --bind \"$1\" /run && shift && exec \"$@\"", "sh",
                               run_dir.file("run"), VT_TOOL_PATH});
    child_process child;
    EXPECT_EQ(child.start(args, dir.path()), 0) << child.error();
    EXPECT_EQ(child.write_input(input, VT_WAIT_MS), 0);
    child.close_input();
    EXPECT_EQ(child.wait_exit(VT_WAIT_MS), 0);
    return {.out = child.out(), .err = child.err(), .status = child.exit_status()};
  }

  // The entries with this VT_COMMAND.
  std::vector<entry> of(const std::string& command) {
    std::vector<entry> found;
    for (const entry& e : entries)
      if (e.count("VT_COMMAND") && e.at("VT_COMMAND") == command) found.push_back(e);
    return found;
  }

  const std::string socket_path = "run/systemd/journal/socket";
  const std::string session =
      "WRITE STATE 3\ny\nLOGIN\nCALIBRATE\n1\nSET 1\nACTUAL 1.25\nADD\nSEND\ny\nQ\nn\n";
  scratch_dir run_dir;
  int sock = -1;
  std::thread reader;
  std::atomic<bool> done{false};
  std::vector<entry> entries;
};

TEST_F(Journal, EveryWriteAndTheRecordReachTheJournalAndNothingChangesWithoutOne) {
  apply({{5480, {3}}});
  listen();
  tool_result heard = run_in_namespace(session);
  stop_listening();
  std::string device = "127.0.0.1:" + std::to_string(sim.port());
  ASSERT_EQ(heard.status, 0) << heard.err;
  EXPECT_EQ(heard.err, "");

  std::vector<entry> writes = of("WRITE");
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0], decode("MESSAGE=" + writes[0]["MESSAGE"] +
                              "\nMESSAGE_ID=582a3203c2ec4f4d95b59141e2f9275a\nPRIORITY=6\n"
                              "SYSLOG_IDENTIFIER=veltrona_tool\nVT_DEVICE=" +
                              device +
                              "\nVT_ADDRESS=5120\nVT_REGISTER=MB_STATE_SET\nVT_WORDS=0003\n"
                              "VT_OUTCOME=OK\nVT_COMMAND=WRITE\n"));
  EXPECT_TRUE(writes[0]["MESSAGE"].ends_with(" " + device + " 5120 MB_STATE_SET 1 0003 OK"));
  for (const char* command : {"START", "LOGIN"}) {
    ASSERT_EQ(of(command).size(), 1u) << command;
    EXPECT_TRUE(
        of(command)[0]["MESSAGE"].ends_with(" 5121 MB_LOG_IN 5 **** **** **** **** **** OK"));
    EXPECT_EQ(of(command)[0]["VT_WORDS"], "**** **** **** **** ****");
  }
  std::vector<entry> sends = of("SEND");
  ASSERT_EQ(sends.size(), 2u);  // the table, then its record
  EXPECT_EQ(sends[0]["VT_REGISTER"], "MB_FIL_SET_CAL");
  EXPECT_EQ(sends[0]["VT_WORDS"].size(), 15u * 5 - 1);
  EXPECT_EQ(sends[1]["MESSAGE_ID"], "972b2dfecc5c4eecb953ca80c1f0abb4");
  EXPECT_EQ(sends[1]["MESSAGE"],
            "Calibration of MB_FIL_SET_CAL (5288) on " + device + ": OK (send)");
  EXPECT_EQ(sends[1]["VT_RECORD"].rfind("{\"time\":", 0), 0u);
  EXPECT_NE(sends[1]["VT_RECORD"].find("\"result\":\"OK\""), std::string::npos);

  // Nobody listening, and a listener told off by --no-journal: the same session, the same output.
  entries.clear();
  unlink(run_dir.file(socket_path).c_str());
  const preset set_value_at_start = {5126, float_words(6.3f)};  // the session changed it
  apply({set_value_at_start});
  tool_result silent = run_in_namespace(session);
  EXPECT_EQ(silent.out, heard.out);
  EXPECT_EQ(silent.err, "");
  apply({set_value_at_start});
  listen();
  tool_result off = run_in_namespace(session, {"--no-journal"});
  stop_listening();
  EXPECT_EQ(off.out, heard.out);
  EXPECT_TRUE(entries.empty());
}

// A journal that takes nothing more holds no command: every write is answered, and the end waits
// for it no longer than its bound.
TEST_F(Journal, AJournalThatTakesNothingHoldsNoWrite) {
  listen(false);
  std::string writes;
  for (int k = 0; k < 30; k++) writes += "RW WORD 5136 " + std::to_string(k) + "\n";
  tool_result r = run_in_namespace(writes);
  EXPECT_EQ(r.status, 0) << r.err;
  size_t answered = 0;
  for (size_t at = 0; (at = r.out.find("Write OK\n", at)) != std::string::npos; at++) answered++;
  EXPECT_EQ(answered, 30u) << r.out;
  EXPECT_TRUE(r.out.ends_with("Exit.\n")) << r.out;
}

}  // namespace
