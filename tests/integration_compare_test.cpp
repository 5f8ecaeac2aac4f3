// COMPARE and RESTORE where a transcript can't go: an edited dump file, registers changed through
// the simulator, a refused write, input ending at the question. See
// tests/transcripts/compare_restore.txt.
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

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
            "Restore 1 registers? (y/n) Restore cancelled.\n>> ");
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{});
}

TEST_F(CompareRestore, RestoreReportsAFailedWriteAndGoesOn) {
  ASSERT_EQ(sim.fail_writes(5126), 0);
  EXPECT_EQ(session("RESTORE before.txt fil_set MB_CT_PC_OF_MAX\ny\n"),
            ">> MB_FIL_SET\n  device: 6.5 V,A\n  file:   6.3 V,A\n"
            "MB_CT_PC_OF_MAX\n  device: 75 %\n  file:   80 %\n"
            "Restore 2 registers? (y/n) MB_FIL_SET: Error write.\n"
            "MB_CT_PC_OF_MAX: Write 1 words OK\n>> ");
  // The simulator logs the refused request too.
  EXPECT_EQ(writes_after_login(),
            (std::vector<sim_write>{{16, 5126, float_words(6.3f)}, {16, 6177, {80}}}));
}

}  // namespace
