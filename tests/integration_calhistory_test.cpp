// The record of every calibration sent, against the simulator: what SEND and EDIT -i leave in
// calibrations.jsonl, checked against the device's table and its write list, and CALHISTORY's
// listing of the records.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "calibration/calibration_record.h"
#include "tests/console_fixture.h"

namespace {

const std::string session_start = "CALIBRATE\n1\n";

// The device's table: (actual, count) for each point, the float's low word first; actual 1.5,
// 2.5, .. 5.5 with counts 100, 200, .. 500.
const std::vector<uint16_t> found_words = {0,   0x3FC0, 100,    0,   0x4020, 200,    0,  0x4060,
                                           300, 0,      0x4090, 400, 0,      0x40B0, 500};

std::vector<uint16_t> words_of(const calib_record_table& table) {
  return std::vector<uint16_t>(table.words.begin(), table.words.end());
}

class CalHistory : public ConsoleSession {
 protected:
  void SetUp() override {
    ConsoleSession::SetUp();
    // Every case of this program shares the state directory: start each with no records.
    unlink(record_path().c_str());
    apply({{5480, {3}}, {5288, found_words}});
  }

  static std::string record_path() {
    return test_state_home() + "/veltrona_tool/calibrations.jsonl";
  }

  // The records in the file, every line of which must be one.
  std::vector<calib_record> records() {
    std::string text;
    if (read_text_file(record_path(), &text) != 0) return {};
    std::vector<calib_record> all;
    for (const std::string& line : lines_of(text)) {
      calib_record r;
      EXPECT_EQ(calib_record_from_json(line, &r), 0) << line;
      all.push_back(r);
    }
    return all;
  }

  // The tables the simulator saw written to the calibration register.
  std::vector<std::vector<uint16_t>> table_writes() {
    std::vector<std::vector<uint16_t>> tables;
    for (const sim_write& w : writes())
      if (w.address == 5288) tables.push_back(w.values);
    return tables;
  }
};

TEST_F(CalHistory, DeclinedSendLeavesNoRecordAndASendOneOfTheTableFoundAndTheWordsWritten) {
  tool_result r = run(session_start + "SEND\nn\nSET 1\nACTUAL 1.25\nADD\nSEND\ny\n");
  EXPECT_NE(r.out.find("not sent.\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" --> OK\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "Set register 5126 left at 1 V,A; backed-up value 6.3 V,A not restored.\n");
  std::vector<calib_record> recs = records();
  ASSERT_EQ(recs.size(), 1u);
  const calib_record& rec = recs[0];
  std::vector<std::vector<uint16_t>> tables = table_writes();
  ASSERT_EQ(tables.size(), 1u);

  EXPECT_EQ(words_of(rec.as_left), tables[0]);
  EXPECT_TRUE(std::regex_match(rec.time,
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")))
      << rec.time;
  EXPECT_NE(rec.user, "");
  EXPECT_EQ(rec.device, "127.0.0.1:" + std::to_string(sim.port()));
  // The rest as written, the table found as loaded; point 1 was captured at the set value 1,
  // the others keep the loaded table without one.
  calib_record fixed = rec;
  fixed.time = fixed.user = fixed.computer = fixed.tool_version = fixed.device = "-";
  EXPECT_EQ(
      calib_record_to_json(fixed),
      R"({"time":"-","user":"-","computer":"-","tool":{"name":"veltrona_tool","version":"-"},)"
      R"("device":{"address":"-","mac":"00:1A:2B:3C:4D:5E","version":531,"fpga_version":263},)"
      R"("definition":{"menu":1,"description":"Filament Set","kind":"set","calibration_register":)"
      R"({"address":5288,"name":"MB_FIL_SET_CAL"},"set_register":{"address":5126,"name":)"
      R"("MB_FIL_SET"},"read_register":null,"state":3},"as_found":{"points":[{"actual":1.5,)"
      R"("count":100},{"actual":2.5,"count":200},{"actual":3.5,"count":300},{"actual":4.5,)"
      R"("count":400},{"actual":5.5,"count":500}],"words":"0000 3FC0 0064 0000 4020 00C8 0000 )"
      R"(4060 012C 0000 4090 0190 0000 40B0 01F4"},"as_left":{"points":[{"set":1.0,"actual":1.25,)"
      R"("count":1000},{"set":null,"actual":2.5,"count":200},{"set":null,"actual":3.5,"count":)"
      R"(300},{"set":null,"actual":4.5,"count":400},{"set":null,"actual":5.5,"count":500}],)"
      R"("words":"0000 3FA0 03E8 0000 4020 00C8 0000 4060 012C 0000 4090 0190 0000 40B0 01F4"},)"
      R"("warning":"Warning: not strictly increasing or decreasing: dac count at point 1.",)"
      R"("mode":"send","result":"OK","sends":1})");
  struct stat st;
  ASSERT_EQ(stat(record_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// An interactive edit that sent nothing leaves no record; one that sent twice leaves one.
TEST_F(CalHistory, InteractiveEditWithTwoKeysLeavesOneRecordOfTheLastTable) {
  tool_result r = run(session_start + "EDIT 2 -i\nrq\nEDIT 2 -i\nVV\nq\n");
  std::vector<std::vector<uint16_t>> tables = table_writes();
  ASSERT_EQ(tables.size(), 2u) << r.out;
  std::vector<calib_record> recs = records();
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].mode, "interactive");
  EXPECT_EQ(recs[0].sends, 2);
  EXPECT_EQ(recs[0].result, "OK");
  EXPECT_EQ(words_of(recs[0].as_left), tables[1]);
  EXPECT_EQ(recs[0].as_left.points[1].count, 202);
  EXPECT_EQ(words_of(*recs[0].as_found), found_words);
}

// The write log goes on; only the record file can't be written.
TEST_F(CalHistory, UnwritableRecordFileIsSaidOnceAndTheSendsStillHappen) {
  scratch_dir state;
  ASSERT_EQ(state.create("vt_state_"), 0);
  const std::string path = state.file("veltrona_tool/calibrations.jsonl");
  ASSERT_EQ(mkdir(state.file("veltrona_tool").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
  scoped_env env("XDG_STATE_HOME", state.path());
  tool_result r = run(session_start + "SEND\ny\nEDIT 1 ACTUAL 1\nSEND\ny\n");
  EXPECT_EQ(r.err, "Calibration record not kept: " + path + ": not a regular file\n");
  EXPECT_EQ(table_writes().size(), 2u);
  std::string log;
  EXPECT_EQ(read_text_file(state.file("veltrona_tool/writes.log"), &log), 0);
}

std::string heading(const calib_record& r) {
  return r.time + " " + r.user + " " + r.device + " " + r.result + " " + r.mode;
}

// A record cut by a full disk must not swallow the next one.
TEST_F(CalHistory, RecordAfterACutLineStartsOnItsOwn) {
  ASSERT_EQ(write_text_file(record_path(), "{\"time\":\"2026-"), 0);
  run(session_start + "SEND\ny\n");
  std::string text;
  ASSERT_EQ(read_text_file(record_path(), &text), 0);
  std::vector<std::string> lines = lines_of(text);
  ASSERT_EQ(lines.size(), 2u) << text;
  calib_record r;
  EXPECT_EQ(calib_record_from_json(lines[1], &r), 0) << lines[1];
}

// A FIFO at the record path hangs neither SEND nor CALHISTORY, and a directory others may write
// to is not written to.
TEST_F(CalHistory, FifoAtTheRecordPathAndAnOpenDirectoryAreRefusedAtOnce) {
  const std::string path = record_path(), state_dir = test_state_home() + "/veltrona_tool";
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  tool_result r = run(session_start + "SEND\ny\nCALHISTORY\n", 5000);
  const std::string refused = path + ": not a regular file\n";
  EXPECT_NE(r.out.find(" --> OK\n[Filament Set,1]>> Calibration records not readable: " + refused),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.err, "Calibration record not kept: " + refused);
  unlink(path.c_str());
  ASSERT_EQ(chmod(state_dir.c_str(), 0777), 0);
  r = run(session_start + "SEND\ny\n");
  ASSERT_EQ(chmod(state_dir.c_str(), 0700), 0);
  const std::string reason = ": its directory is not yours or is writable by others\n";
  EXPECT_EQ(r.err, "Write log not kept: " + state_dir + "/writes.log" + reason +
                       "Calibration record not kept: " + path + reason);
  EXPECT_NE(access(path.c_str(), F_OK), 0);
}

// Ctrl-C while CALHISTORY reads a large file: the tool ends at once and lists nothing.
TEST_F(CalHistory, CtrlCWhileReadingEndsTheListingAtOnce) {
  calib_record r;
  r.calibration_register.address = 5288;
  std::string text;
  for (int i = 0; i < 60000; i++) text += calib_record_to_json(r) + "\n";
  ASSERT_EQ(write_text_file(record_path(), text), 0);
  start();
  ASSERT_EQ(tool.write_input("CALHISTORY\n"), 0);
  tool.wait_for_output("\x01never printed\x01", 150);  // into the reading
  long long t0 = monotonic_ms();
  ASSERT_EQ(tool.send_signal(SIGINT), 0);
  EXPECT_EQ(tool.finish().out, connected() + ">> Exit.\n");
  EXPECT_LT(monotonic_ms() - t0, 1000);
}

// The first send is refused: its record says FAIL, with the words the device refused.
TEST_F(CalHistory, ListsTheSendsOfATableInOrderAndSkipsACutLine) {
  ASSERT_EQ(sim.fail_writes(5288, 15), 0);
  EXPECT_NE(run(session_start + "SEND\ny\n").out.find(" --> NOK!!!\n"), std::string::npos);
  ASSERT_EQ(sim.command("CLEAR FAILS"), 0);
  run(session_start + "EDIT 5 DAC 0\nEDIT 1 ACTUAL 1.123456\nSEND\ny\n");
  std::vector<calib_record> recs = records();
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].result, "FAIL");
  EXPECT_EQ(words_of(recs[0].as_left), table_writes().at(0));
  ASSERT_EQ(sim.clear_reads(), 0);

  const std::string first =
      heading(recs[0]) +
      "\n"
      "  1 : found: actual =       1.5, dac =   100 | left: actual =       1.5, dac =   100\n"
      "  2 : found: actual =       2.5, dac =   200 | left: actual =       2.5, dac =   200\n"
      "  3 : found: actual =       3.5, dac =   300 | left: actual =       3.5, dac =   300\n"
      "  4 : found: actual =       4.5, dac =   400 | left: actual =       4.5, dac =   400\n"
      "  5 : found: actual =       5.5, dac =   500 | left: actual =       5.5, dac =   500\n";
  const std::string second =
      heading(recs[1]) +
      "\n"
      "  1 : found: actual =       1.5, dac =   100 | left: actual =  1.123456, dac =   100\n"
      "  2 : found: actual =       2.5, dac =   200 | left: actual =       2.5, dac =   200\n"
      "  3 : found: actual =       3.5, dac =   300 | left: actual =       3.5, dac =   300\n"
      "  4 : found: actual =       4.5, dac =   400 | left: actual =       4.5, dac =   400\n"
      "  5 : found: actual =       5.5, dac =   500 | left: actual =       5.5, dac =     0\n"
      "  Warning: not strictly increasing or decreasing: dac count at point 5.\n";
  tool_result r = run("CALHISTORY MB_FIL_SET_CAL\nCALHISTORY 5303\nCALHISTORY 5120\n" +
                      session_start + "CALHISTORY\n");
  EXPECT_EQ(r.out, connected() + ">> Calibrations of MB_FIL_SET_CAL (5288):\n" + first + second +
                       ">> No calibration of MB_FIL_VOLT_READ_CAL (5303) recorded.\n"
                       ">> Not a calibration register: MB_STATE_SET (5120, WORD)\n"
                       ">> Calibration menu:\n1 : Filament Set\n"
                       "Press D to delete calibration\nPress A to add new calibration\n"
                       "Press V to add view calibration setting\nPress Q to exit\n"
                       "Select by entering menu number or option: 5453 is set to 5288\n"
                       "Reg 5126 with value 6.3 V,A is backed up\nCalibration started.\n"
                       "[Filament Set,1]>> Calibrations of MB_FIL_SET_CAL (5288):\n" +
                       first + second + "[Filament Set,1]>> Exit.\n");
  EXPECT_EQ(r.err, "");

  // A disk that filled while the last record was written: the line is cut.
  std::string text;
  ASSERT_EQ(read_text_file(record_path(), &text), 0);
  ASSERT_EQ(write_text_file(record_path(), text.substr(0, text.size() - 20)), 0);
  r = run("CALHISTORY\n");
  EXPECT_EQ(r.out, connected() + ">> Calibrations of every table:\n" + heading(recs[0]) +
                       " MB_FIL_SET_CAL (5288)\n" + first.substr(first.find('\n') + 1) +
                       "Skipped 1 line(s) of " + record_path() +
                       " that are no calibration record.\n>> Exit.\n");
  // CALHISTORY asks the device nothing: the reads of the listing runs are the state polls and
  // the session's own.
  for (const sim_read& rd : sim.reads())
    EXPECT_TRUE(rd.address == 5480 || rd.address == 5126 || rd.address == 5288) << rd;
}

}  // namespace
