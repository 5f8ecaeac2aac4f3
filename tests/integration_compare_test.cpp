// COMPARE and RESTORE where a transcript can't go: an edited dump file, registers changed through
// the simulator, a refused write, input ending at the question. See
// tests/transcripts/compare_restore.txt.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "calibration/calibration_record.h"
#include "registers/catalogue.h"
#include "tests/console_fixture.h"

namespace {

// The filament set table as dumped, and with the DAC count of point 2 changed to 210.
std::vector<uint16_t> fil_table(uint16_t point2_dac) {
  const float x[] = {0.5f, 1, 1.5f, 2, 6.3f};
  const uint16_t y[] = {100, point2_dac, 300, 400, 65535};
  std::vector<uint16_t> words;
  for (int i = 0; i < 5; i++) {
    for (uint16_t w : float_words(x[i])) words.push_back(w);
    words.push_back(y[i]);
  }
  return words;
}
const char FIL_TABLE_TEXT[] =
    "X1=0.5,Y1=100; X2=1,Y2=200; X3=1.5,Y3=300; X4=2,Y4=400; X5=6.3,Y5=65535; ";
const char FIL_TABLE_CHANGED[] =
    "X1=0.5,Y1=100; X2=1,Y2=210; X3=1.5,Y3=300; X4=2,Y4=400; X5=6.3,Y5=65535; ";

class CompareRestore : public ConsoleSession {
 protected:
  // Dumps the device with a known filament table into before.txt, then changes the filament
  // set value to 6.5, point 2 of its table and MB_CT_PC_OF_MAX (WORD, 80 in the dump) to 75.
  void SetUp() override {
    ConsoleSession::SetUp();
    if (HasFatalFailure()) return;
    apply({{5288, fil_table(200)}, {6177, {80}}});
    tool_result r = run("DUMP before.txt\n");
    ASSERT_EQ(r.out, connected() + ">> Dumped to before.txt\n>> Exit.\n");
    apply({{5126, float_words(6.5f)}, {5288, fil_table(210)}, {6177, {75}}});
    ASSERT_EQ(sim.clear_writes(), 0);
    ASSERT_EQ(sim.clear_reads(), 0);
  }

  std::string file(const std::string& name) {
    std::string text;
    EXPECT_EQ(read_text_file(dir.file(name), &text), 0);
    return text;
  }

  // Output of one session between the connection line and "Exit.".
  std::string session(const std::string& script) {
    std::string out = without_poll_failures(run(script).out);
    std::string head = connected();
    EXPECT_EQ(out.substr(0, head.size()), head);
    EXPECT_EQ(out.substr(out.size() - 6), "Exit.\n");
    return out.substr(head.size(), out.size() - head.size() - 6);
  }

  // Registers read by the tool, the link's state polls left out.
  std::vector<int> read_addresses() {
    std::vector<int> out;
    for (const sim_read& r : sim.reads())
      if (!(r.address == MB_STATE_READ_ADDR && r.count == 1)) out.push_back(r.address);
    return out;
  }
};

const std::string FIL_TABLE_DIFF = std::string("MB_FIL_SET_CAL\n  file:   ") + FIL_TABLE_TEXT +
                                   "\n  device: " + FIL_TABLE_CHANGED + "\n";

int names_containing(const char* pattern) {
  int n = 0;
  for (const modbus_reg_entry& e : modbus_reg_table) n += strstr(e.name, pattern) != nullptr;
  return n;
}

// A line removed from the file and one the catalogue doesn't know; a register whose read fails.
TEST_F(CompareRestore, CompareCountsMissingLinesUnreadRegistersAndListsUnknownNames) {
  std::string text = file("before.txt");
  size_t at = text.find("MB_FIL_SET = ");
  ASSERT_NE(at, std::string::npos);
  text.erase(at, text.find('\n', at) + 1 - at);
  text += "MB_NEW_FEATURE = 1 \n";
  ASSERT_EQ(write_text_file(dir.file("edited.txt"), text), 0);
  ASSERT_EQ(sim.fail_reads(6177), 0);
  EXPECT_EQ(session("COMPARE edited.txt\n"),
            ">> " + FIL_TABLE_DIFF +
                "Error read MB_CT_PC_OF_MAX\n"
                "Not in the catalogue, ignored: MB_NEW_FEATURE\n"
                "Compared 248 registers: 1 differ, 1 not in the file, 1 not read.\n>> ");
  for (int a : read_addresses()) EXPECT_NE(a, 5126);
}

// A float that only rounds to the dump's six digits prints as the file's text: equal.
TEST_F(CompareRestore, FloatRoundingIsNoDifference) {
  apply({{5126, float_words(std::nextafter(6.3f, 7.0f))}, {5288, fil_table(200)}, {6177, {80}}});
  std::string count = std::to_string(names_containing("FIL_SET"));
  EXPECT_EQ(session("COMPARE before.txt FIL_SET\nRESTORE before.txt fil_set\n"),
            ">> Compared " + count +
                " registers: 0 differ, 0 not in the file, 0 not read.\n"
                ">> MB_FIL_SET: unchanged.\nNothing to restore.\n>> ");
  EXPECT_EQ(writes(), std::vector<sim_write>{session_start_login()});
}

// A register the file lacks and a text that doesn't parse back refuse the whole list.
TEST_F(CompareRestore, RestoreRefusesWhatTheFileCannotGive) {
  std::string text = file("before.txt");
  size_t at = text.find("MB_HV_SET = ");
  ASSERT_NE(at, std::string::npos);
  text.erase(at, text.find('\n', at) + 1 - at);
  size_t pw = text.find("MB_PULSE_WIDTH_SET = ");
  ASSERT_NE(pw, std::string::npos);
  text.replace(pw, text.find('\n', pw) - pw, "MB_PULSE_WIDTH_SET = 12,5 us");
  ASSERT_EQ(write_text_file(dir.file("edited.txt"), text), 0);
  EXPECT_EQ(session("RESTORE edited.txt fil_set MB_HV_SET pulse_width_set 6177\n"),
            ">> Cannot restore MB_HV_SET: not in edited.txt.\n"
            "Cannot restore MB_PULSE_WIDTH_SET: \"12,5 us\" is no FLOAT value.\n"
            "Nothing restored.\n>> ");
  EXPECT_EQ(read_addresses(), std::vector<int>{});
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{});
}

// A FIFO as the dump file is refused at once instead of waiting for a writer.
TEST_F(CompareRestore, FifoAsTheDumpFileIsRefusedAtOnce) {
  const std::string fifo = dir.file("fifo.txt");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(session("COMPARE fifo.txt\nRESTORE fifo.txt fil_set\n"),
            ">> fifo.txt: not a regular file\n>> fifo.txt: not a regular file\n>> ");
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{});
}

// The session ends while the question waits: nothing is written.
TEST_F(CompareRestore, RestoreWritesNothingAtEndOfInput) {
  EXPECT_EQ(session("RESTORE before.txt MB_CT_PC_OF_MAX\n"),
            ">> MB_CT_PC_OF_MAX\n  device: 75 %\n  file:   80 %\n"
            "Restore 1 register? (y/n) Restore cancelled.\n>> ");
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{});
}

TEST_F(CompareRestore, RestoreReportsAFailedWriteAndGoesOn) {
  ASSERT_EQ(sim.fail_writes(5126), 0);
  EXPECT_EQ(session("RESTORE before.txt fil_set MB_CT_PC_OF_MAX\ny\n"),
            ">> MB_FIL_SET\n  device: 6.5 V,A\n  file:   6.3 V,A\n"
            "MB_CT_PC_OF_MAX\n  device: 75 %\n  file:   80 %\n"
            "Restore 2 registers? (y/n) MB_FIL_SET: Error write.\n"
            "MB_CT_PC_OF_MAX: Write 1 word OK\n>> ");
  // The simulator logs the refused request too.
  EXPECT_EQ(writes_after_login(),
            (std::vector<sim_write>{{16, 5126, float_words(6.3f)}, {16, 6177, {80}}}));
}

// An editor elsewhere saved the dump with a byte-order mark and CR LF line ends: the same file
// to COMPARE and RESTORE. A table put back is a calibration: its record holds the device's table
// as found, the file's as left and the file's name.
TEST_F(CompareRestore, DumpWithBomAndCrlfReadsAsTheSameAndARestoredTableLeavesARecord) {
  std::string edited = "\xEF\xBB\xBF";
  for (const std::string& line : lines_of(file("before.txt"))) edited += line + "\r\n";
  ASSERT_EQ(write_text_file(dir.file("edited.txt"), edited), 0);
  std::string same = session("COMPARE before.txt\n");
  EXPECT_EQ(session("COMPARE edited.txt\n"), same);
  std::string path = test_state_home() + "/veltrona_tool/calibrations.jsonl";
  unlink(path.c_str());
  EXPECT_EQ(session("RESTORE edited.txt 6113 5288\ny\n"),
            ">> MB_DAVARER_BALANCE: unchanged.\nMB_FIL_SET_CAL\n  device: " +
                std::string(FIL_TABLE_CHANGED) + "\n  file:   " + FIL_TABLE_TEXT +
                "\nRestore 1 register? (y/n) MB_FIL_SET_CAL: Write 15 words OK\n>> ");
  std::string text;
  ASSERT_EQ(read_text_file(path, &text), 0);
  std::vector<std::string> lines = lines_of(text);
  ASSERT_EQ(lines.size(), 1u);
  calib_record r;
  ASSERT_EQ(calib_record_from_json(lines[0], &r), 0) << lines[0];
  EXPECT_EQ(r.mode, "restore");
  EXPECT_EQ(r.result, "OK");
  EXPECT_EQ(r.file, "edited.txt");
  EXPECT_EQ(r.calibration_register, (calib_record_register{5288, "MB_FIL_SET_CAL"}));
  ASSERT_TRUE(r.as_found);
  auto words = [](const calib_record_table& t) {
    return std::vector<uint16_t>(t.words.begin(), t.words.end());
  };
  EXPECT_EQ(words(*r.as_found), fil_table(210));
  EXPECT_EQ(words(r.as_left), fil_table(200));
  EXPECT_EQ(r.as_left.points[1].count, 200);
}

// The device refuses any read touching 6177, as a device with an unmapped word would: the block
// around it (6153 to 6187) is asked once, then its registers one by one, with the summary of a
// register read alone. The next COMPARE on the connection asks those registers alone at once;
// after RECONNECT the block is tried again.
TEST_F(CompareRestore, RefusedBlockIsReadRegisterByRegisterAndRememberedUntilReconnect) {
  ASSERT_EQ(sim.fail_reads(6177), 0);
  std::vector<sim_read> alone;
  for (const modbus_reg_entry& e : modbus_reg_table)
    if (e.address >= 6153 && e.address < 6188)
      alone.push_back({3, e.address, reg_words_of_type(e.type)});
  const std::string compared = ">> MB_FIL_SET\n  file:   6.3 V,A\n  device: 6.5 V,A\n" +
                               FIL_TABLE_DIFF +
                               "Error read MB_CT_PC_OF_MAX\n"
                               "Compared 248 registers: 2 differ, 0 not in the file, 1 not read.\n";
  EXPECT_EQ(session("COMPARE before.txt\nCOMPARE before.txt\nRECONNECT\nCOMPARE before.txt\n"),
            compared + compared + ">> " + connected() + compared + ">> ");
  std::vector<sim_read> seen;
  for (const sim_read& r : sim.reads())
    if (r.address >= 6153 && r.address < 6188) seen.push_back(r);
  // The block on the first pass and after RECONNECT only; every pass then reads each alone.
  std::vector<sim_read> block = {{3, 6153, 35}}, expected;
  for (const std::vector<sim_read>* part : {&block, &alone, &alone, &block, &alone})
    expected.insert(expected.end(), part->begin(), part->end());
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(read_addresses().size(), 3 * 11 + 3 * alone.size() + 2);
}

// A block that times out is not asked again register by register: its registers are not read.
TEST_F(CompareRestore, TimedOutBlockCountsItsRegistersNotRead) {
  start();
  ASSERT_EQ(sim.set_delay_ms(700), 0);
  type_until("COMPARE before.txt MB_FIL_SET\n",
             "Error read MB_FIL_SET\nError read MB_FIL_SET_2\nError read MB_FIL_SET_H_LIM\n"
             "Error read MB_FIL_SET_L_LIM\nError read MB_FIL_SET_CAL\n"
             "Compared 5 registers: 0 differ, 0 not in the file, 5 not read.\n>> ");
  ASSERT_EQ(sim.set_delay_ms(0), 0);
  finish_clean();
  for (const sim_read& r : sim.reads())
    EXPECT_TRUE(r.address == 5480 || r.count == 4 || r.count == 15) << r;
}

}  // namespace
