// The write log against the simulator: one line for every write the link carried out, whatever
// asked for it (the login at start, the startup replay, commands, a calibration send and the
// restore at the end of the session), OK or FAIL as the device answered and UNKNOWN when it did
// not, the access codes and passwords masked; where the log lives, a line cut short healed, and
// a session that goes on when it can't be kept.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "tests/console_fixture.h"

namespace {

std::string user_name() {
  const passwd* pw = getpwuid(getuid());
  return pw ? pw->pw_name : std::to_string(getuid());
}

// Words as the log shows them: each as a blank and four hexadecimal digits.
std::string hex_words(const std::vector<uint16_t>& words) {
  std::string text;
  char word[8];
  for (uint16_t w : words) {
    snprintf(word, sizeof word, " %04X", w);
    text += word;
  }
  return text;
}

int mode_of(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

class WriteLogSession : public ConsoleSession {
 protected:
  void SetUp() override {
    ConsoleSession::SetUp();
    // Each case reads the lines of its own sessions only.
    std::remove(tool_write_log_path().c_str());
    mkdir((test_state_home() + "/veltrona_tool").c_str(), 0700);
  }

  std::string log_text(const std::string& path = tool_write_log_path()) {
    std::string text;
    EXPECT_EQ(read_text_file(path, &text), 0) << "no write log at " << path;
    return text;
  }

  // The lines of the log, each checked for its date, time, user and device and given without
  // them, from the start address on.
  std::vector<std::string> logged(const std::string& path = tool_write_log_path()) {
    // d a digit, s the sign of the UTC offset.
    const std::string stamp = "dddd-dd-dd dd:dd:dd.ddd sdddd ";
    const std::string who = user_name() + " 127.0.0.1:" + std::to_string(sim.port()) + " ";
    std::vector<std::string> rest;
    for (const std::string& line : lines_of(log_text(path))) {
      bool ok = line.size() > stamp.size() + who.size() &&
                line.compare(stamp.size(), who.size(), who) == 0;
      for (size_t k = 0; ok && k < stamp.size(); k++) {
        char c = line[k];
        ok = stamp[k] == 'd'   ? isdigit(static_cast<unsigned char>(c)) != 0
             : stamp[k] == 's' ? (c == '+' || c == '-')
                               : c == stamp[k];
      }
      if (ok) {
        rest.push_back(line.substr(stamp.size() + who.size()));
      } else {
        ADD_FAILURE() << "malformed log line: " << line;
      }
    }
    return rest;
  }
};

const std::string login_line = "5121 MB_LOG_IN 5 **** **** **** **** **** OK";

// The log and the calibration record name the device the session used (logged() checks each
// line's): -H over the configuration's address.
TEST_F(WriteLogSession, LinesAndTheRecordNameTheHostGivenOnTheCommandLine) {
  configure({"sIpAddr = \"127.0.0.2\""});
  apply({{5480, {3}}});
  const std::string records = test_state_home() + "/veltrona_tool/calibrations.jsonl";
  std::remove(records.c_str());
  EXPECT_EQ(
      run_tool_batch(dir.path(), "CALIBRATE\n1\nSEND\ny\n", VT_WAIT_MS, {"-H", "127.0.0.1"}).err,
      "");
  EXPECT_EQ(logged().size(), 3u);  // the login, the send's menu choice and its table
  const std::string device = "\"device\":{\"address\":\"127.0.0.1:" + std::to_string(sim.port());
  EXPECT_NE(log_text(records).find(device + "\""), std::string::npos);
}

// A whole session: the login and the startup replay at start, WRITE, an RW that touches the
// login register's words, a calibration send, the restore at the end of the session, and a
// write the device refuses. Every write the device saw is one line, in order.
TEST_F(WriteLogSession, EveryWriteOfASessionIsOneLine) {
  configure({"startup[0].iReg = 5136", "startup[0].raw_value = 1056964608"});
  apply({{5480, {3}}, {5288, std::vector<uint16_t>(15, 0xFFFF)}});
  ASSERT_EQ(sim.fail_writes(5200), 0);
  tool_result r =
      run("WRITE STATE 3\ny\n"
          "RW RAW 5120 1 2 3\n"
          "CALIBRATE\n1\nSET 2\nEDIT 1 ACTUAL 1.5\nEDIT 1 DAC 100\nSEND\ny\nQ\ny\n"
          "RW WORD 5200 7\n"
          "q\n");
  EXPECT_NE(r.out.find(" --> OK\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Restored.\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(">> Error write.\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");

  std::string table = " 0000 3FC0 0064";
  for (int k = 0; k < 12; k++) table += " FFFF";
  std::vector<std::string> expected = {
      login_line,
      "5136 MB_PULSE_WIDTH_SET 2 0000 3F00 OK",
      "5120 MB_STATE_SET 1 0003 OK",
      "5120 MB_STATE_SET 3 0001 **** **** OK",
      "5453 MB_CALIB_SEQUENCE_ID 1 14A8 OK",
      "5126 MB_FIL_SET 2 0000 4000 OK",
      "5288 MB_FIL_SET_CAL 15" + table + " OK",
      "5126 MB_FIL_SET 2" + hex_words(float_words(6.3f)) + " OK",
      "5200 MB_CONFIG_WORD 1 0007 FAIL",
  };
  EXPECT_EQ(logged(), expected);

  // The device saw the same writes, unmasked.
  std::vector<sim_write> seen = sim.writes();
  ASSERT_EQ(seen.size(), expected.size());
  EXPECT_EQ(seen[0], (sim_write{16, 5121, access_code_words("40716253")}));
  EXPECT_EQ(seen[3], (sim_write{16, 5120, {1, 2, 3}}));
  EXPECT_EQ(seen[7], (sim_write{16, 5126, float_words(6.3f)}));

  // The codes never reach the file, in any form.
  std::string text = log_text();
  EXPECT_EQ(text.find("40716253"), std::string::npos);
  EXPECT_EQ(text.find("3034"), std::string::npos);  // "40" as the login's first word
}

// LOGIN and LOGOUT are masked too; a second session appends to the same log. Reads (READ,
// STATUS and the link's poll) leave no line.
TEST_F(WriteLogSession, SessionsAppendAndReadsAreNotLogged) {
  run("READ 5120\nSTATUS\nLOGIN\nLOGOUT\n");
  run("DUMP dump.txt\n");
  EXPECT_EQ(logged(), (std::vector<std::string>{login_line, login_line, login_line, login_line}));
  EXPECT_EQ(sim.writes().size(), 4u);
}

// Without XDG_STATE_HOME (or with a relative one, which does not count) the log is kept under
// the home directory; the directories the tool makes are private, and so is the file.
TEST_F(WriteLogSession, HomeIsTheFallbackAndTheFilesArePrivate) {
  scratch_dir home;
  ASSERT_EQ(home.create("vt_home_"), 0);
  scoped_env home_env("HOME", home.path());
  std::string log = home.file(".local/state/veltrona_tool/writes.log");
  {
    scoped_env state_env("XDG_STATE_HOME", std::nullopt);
    run("");
  }
  {
    scoped_env state_env("XDG_STATE_HOME", "relative/state");
    run("");
  }
  EXPECT_EQ(logged(log), (std::vector<std::string>{login_line, login_line}));
  EXPECT_EQ(mode_of(home.file(".local")), 0700);
  EXPECT_EQ(mode_of(home.file(".local/state")), 0700);
  EXPECT_EQ(mode_of(home.file(".local/state/veltrona_tool")), 0700);
  EXPECT_EQ(mode_of(log), 0600);
  EXPECT_NE(access(dir.file("relative").c_str(), F_OK), 0);
}

// A log that can't be opened is reported once on standard error; the session works as ever
// and its standard output is untouched.
TEST_F(WriteLogSession, UnwritableLocationIsReportedOnceAndTheSessionGoesOn) {
  ASSERT_EQ(write_text_file(dir.file("blocker"), "a file where a directory should be\n"), 0);
  scoped_env state_env("XDG_STATE_HOME", dir.file("blocker"));
  tool_result r = run("WRITE STATE 3\ny\nREAD 5120\n");
  EXPECT_EQ(r.out, connected() +
                       ">> MB_STATE_SET (5120, WORD)\nConfirm write \"3\"? (Y/N): "
                       "Write 1 words OK\n"
                       ">> MB_STATE_SET (5120, WORD)\n3 (0x0003)\n>> Exit.\n");
  EXPECT_EQ(r.err, "Write log not kept: " + dir.file("blocker") +
                       "/veltrona_tool/writes.log: Not a directory\n");
  EXPECT_EQ(writes_after_login(), (std::vector<sim_write>{{16, 5120, {3}}}));
}

// A log at the file-size limit (ulimit -f) is reported once, like a full disk, and the tool
// works on: the calibration session's restore still runs, and a DUMP past the limit fails
// with its own message.
TEST_F(WriteLogSession, FileSizeLimitIsReportedOnceAndTheSessionGoesOn) {
  apply({{5480, {3}}, {5288, std::vector<uint16_t>(15, 0xFFFF)}, {5126, float_words(6.5f)}});
  std::string log = tool_write_log_path();
  mkdir(log.substr(0, log.rfind('/')).c_str(), 0700);
  // At 512 bytes, the limit of `ulimit -f 1`: the first line added goes past it.
  std::string kept = std::string(511, '#') + "\n";
  ASSERT_EQ(write_text_file(log, kept), 0);
  child_process tool;
  ASSERT_EQ(tool.start({"/bin/sh", "-c", "ulimit -f 1; exec \"$0\"", VT_TOOL_PATH}, dir.path()), 0)
      << tool.error();
  ASSERT_EQ(tool.write_input("CALIBRATE\n1\nSET 2\nDUMP dump.txt\nQ\ny\nq\n", VT_WAIT_MS), 0);
  tool.close_input();
  ASSERT_EQ(tool.wait_exit(VT_WAIT_MS), 0);
  EXPECT_EQ(tool.exit_status(), 0);
  EXPECT_NE(tool.out().find("Error writing file: dump.txt [errno=27]\n"), std::string::npos)
      << tool.out();
  EXPECT_NE(tool.out().find("Restored.\n>> Exit.\n"), std::string::npos) << tool.out();
  EXPECT_EQ(tool.err(), "Write log not kept any more: " + log + ": File too large\n");
  EXPECT_EQ(log_text(), kept);
  EXPECT_EQ(writes_after_login(),
            (std::vector<sim_write>{
                {16, 5453, {5288}}, {16, 5126, float_words(2.0f)}, {16, 5126, float_words(6.5f)}}));
}

// A write whose answer comes after the time-out may well have been carried out (the device got
// it): the log says UNKNOWN, never FAIL, which stays for what the device refused.
TEST_F(WriteLogSession, WriteWithoutAnAnswerIsUnknown) {
  start();
  ASSERT_EQ(sim.set_delay_ms(700), 0);
  type_until("WRITE 5120 3\ny\n", "Error write.\n");
  ASSERT_EQ(sim.set_delay_ms(0), 0);
  tool.close_input();
  tool_result r = tool.finish();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(logged(), (std::vector<std::string>{login_line, "5120 MB_STATE_SET 1 0003 UNKNOWN"}));
  EXPECT_EQ(writes_after_login(), (std::vector<sim_write>{{16, 5120, {3}}}));
}

// The passwords are secrets as the access codes are: their words never reach the file.
TEST_F(WriteLogSession, PasswordWordsAreMasked) {
  run("RW RAW 5178 1 2\nRW DWORD 5183 0X00070006\nRW WORD 5189 9\n");
  EXPECT_EQ(logged(),
            (std::vector<std::string>{login_line, "5178 - 2 0001 **** OK", "5183 - 2 **** **** OK",
                                      "5189 MB_ENABLE_STANDBY_INTERLOCK 1 0009 OK"}));
}

// A log whose last line a full disk cut short: the next session's first line starts on a line
// of its own instead of finishing the cut one.
TEST_F(WriteLogSession, LineAfterACutLineStartsOnItsOwn) {
  const std::string cut = "2026-12-08 14:03:12.345 +0100 anna 127.0.0.1:4";
  ASSERT_EQ(write_text_file(tool_write_log_path(), cut), 0);
  run("");
  run("");
  std::vector<std::string> lines = lines_of(log_text());
  ASSERT_EQ(lines.size(), 3u) << log_text();
  EXPECT_EQ(lines[0], cut);
  EXPECT_EQ(lines[1].substr(lines[1].size() - login_line.size()), login_line);
  EXPECT_EQ(lines[2].substr(lines[2].size() - login_line.size()), login_line);
}

// Anything but a regular file at the log's path is no log: the tool says so once, does not wait
// for a reader of a FIFO, and works as ever.
TEST_F(WriteLogSession, OnlyARegularFileIsALog) {
  const std::string path = tool_write_log_path();
  const std::string target = path + ".elsewhere";
  for (const std::string kind : {"fifo", "directory", "link"}) {
    SCOPED_TRACE(kind);
    std::remove(path.c_str());
    ASSERT_EQ(kind == "fifo"   ? mkfifo(path.c_str(), 0600)
              : kind == "link" ? symlink(target.c_str(), path.c_str())
                               : mkdir(path.c_str(), 0700),
              0);
    ASSERT_EQ(sim.clear_writes(), 0);
    tool_result r = run("WRITE STATE 3\ny\n");
    EXPECT_EQ(r.out, connected() + ">> MB_STATE_SET (5120, WORD)\nConfirm write \"3\"? (Y/N): " +
                         "Write 1 words OK\n>> Exit.\n");
    EXPECT_EQ(r.err, "Write log not kept: " + path + ": " +
                         (kind == "link" ? "a symbolic link, not followed" : "not a regular file") +
                         "\n");
    EXPECT_EQ(writes_after_login(), (std::vector<sim_write>{{16, 5120, {3}}}));
    EXPECT_NE(access(target.c_str(), F_OK), 0);
    rmdir(path.c_str());
  }
  std::remove(path.c_str());
}

}  // namespace
