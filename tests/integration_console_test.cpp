// The console against the simulator: command matching, HELP and the register access commands,
// with the exact output and every write the simulator saw.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/child_process.h"
#include "tests/console_fixture.h"

namespace {

std::vector<uint16_t> zeros(int n) { return std::vector<uint16_t>(static_cast<size_t>(n), 0); }

std::vector<transcript_case> console_cases() {
  return {
      {"q quits", {}, "q\nREAD 5120\n", ">> ", {}},
      {"quit quits", {}, "quit\n", ">> ", {}},
      {"Quit quits", {}, "Quit\n", ">> ", {}},
      {"end of input quits", {}, "", ">> ", {}},
      {"stat is no command",
       {},
       "stat\n",
       ">> Error: Unknown command.\nError parsing cmd.\n>> ",
       {}},
      {"log and cal are no commands",
       {},
       "log\ncal\n",
       ">> Error: Unknown command.\nError parsing cmd.\n"
       ">> Error: Unknown command.\nError parsing cmd.\n>> ",
       {}},
      {"blank lines prompt again", {}, "   \n\n  \nq\n", ">> >> >> >> ", {}},
      {"a tab is part of the command word", {}, "READ\t5120\n", ">> Missing Address.\n>> ", {}},
      {"setbit is SETBIT, not SET",
       {{5120, {0x0003}}},
       "setbit 5120\n",
       ">> MB_STATE_SET (5120, WORD)\n"
       "    00 01 02 03 04 05 06 07 08 09 10 11 12 13 14 15\n"
       "    __ __ __ __ __ __ __ __ __ __ __ __ __ __ __ __\n"
       " 0:  1  1  0  0  0  0  0  0  0  0  0  0  0  0  0  0 \n>> ",
       {}},
      {"an over-long line is dropped whole",
       {},
       "WRITE STATE 3 " + std::string(600, 'y') + "\ny\n",
       ">> Error: command line too long.\n>> Error: Unknown command.\nError parsing cmd.\n>> ",
       {}},
      {"a line of 511 characters still runs",
       {},
       "READ 5120" + std::string(502, ' ') + "\n",
       ">> MB_STATE_SET (5120, WORD)\n0 (0x0000)\n>> ",
       {}},
  };
}

std::vector<transcript_case> register_cases() {
  return {
      {"READ by address",
       {{5120, {7}}},
       "READ 5120\n",
       ">> MB_STATE_SET (5120, WORD)\n7 (0x0007)\n>> ",
       {}},
      {"READ by partial name in any case",
       {{5120, {7}}},
       "READ state\n",
       ">> MB_STATE_SET (5120, WORD)\n7 (0x0007)\n>> ",
       {}},
      {"READ STATE_READ",
       {{5480, {3}}},
       "READ STATE_READ\n",
       ">> MB_STATE_READ (5480, WORD)\n3 (0x0003)\n>> ",
       {}},
      {"READ SET is MB_RESET", {}, "READ SET\n", ">> MB_RESET (5140, WORD)\n0 (0x0000)\n>> ", {}},
      {"READ the last entry with its unit",
       {{6186, float_words(12.5f)}},
       "READ 6186\n",
       ">> MB_FAN_CONTROL_PC_READ (6186, FLOAT)\n12.5%\n>> ",
       {}},
      {"READ of an address with no entry",
       {},
       "READ 5133\n",
       ">> Invalid address name: 5133\nInvalid address: 5133\n>> ",
       {}},
      {"READ of a hexadecimal address fails as a name",
       {},
       "READ 0x1400\n",
       ">> Invalid reg name: 0X1400\nInvalid address: 0X1400\n>> ",
       {}},
      {"READ without argument", {}, "READ\n", ">> Missing Address.\n>> ", {}},
      {"WRITE asks again, then n writes nothing",
       {},
       "WRITE STATE 3\nx\nn\n",
       ">> MB_STATE_SET (5120, WORD)\nConfirm write \"3\"? (Y/N): Confirm write \"3\"? (Y/N): "
       "No write.\n>> ",
       {}},
      {"WRITE confirmed with y",
       {},
       "WRITE STATE 3\ny\n",
       ">> MB_STATE_SET (5120, WORD)\nConfirm write \"3\"? (Y/N): Write 1 words OK\n>> ",
       {{16, 5120, {3}}}},
      {"WRITE asks three times at most",
       {},
       "WRITE STATE 3\nx\nx\nx\ny\n",
       ">> MB_STATE_SET (5120, WORD)\n" + repeat("Confirm write \"3\"? (Y/N): ", 3) +
           "No write.\n>> Error: Unknown command.\nError parsing cmd.\n>> ",
       {}},
      {"WRITE of a float with its unit refused without a question",
       {},
       "WRITE MB_HV_SET 1.5V\n",
       ">> MB_HV_SET (5132, FLOAT)\nInvalid data.\n>> ",
       {}},
      {"WRITE of values that are not finite refused without a question",
       {},
       "WRITE MB_FIL_SET 1e99999\nWRITE MB_FIL_SET nan\nWRITE MB_FIL_SET -inf\n"
       "WRITE MB_FIL_SET 1e40\n",
       repeat(">> MB_FIL_SET (5126, FLOAT)\nInvalid data.\n", 4) + ">> ",
       {}},
      {"WRITE of the largest finite float and of a denormal",
       {},
       "WRITE MB_FIL_SET 3.4e38\ny\nWRITE MB_FIL_SET 1e-40\ny\n",
       ">> MB_FIL_SET (5126, FLOAT)\nConfirm write \"3.4e38\"? (Y/N): Write 2 words OK\n"
       ">> MB_FIL_SET (5126, FLOAT)\nConfirm write \"1e-40\"? (Y/N): Write 2 words OK\n>> ",
       {{16, 5126, float_words(3.4e38f)}, {16, 5126, float_words(1e-40f)}}},
      {"WRITE of a calibration table refused",
       {},
       "WRITE 5303 1\n",
       ">> MB_FIL_VOLT_READ_CAL (5303, READ_CALIB)\nWrite is not supported via WRITE.\n>> ",
       {}},
      {"WRITE with lower-case 0x is invalid data",
       {},
       "WRITE STATE 0x1F\n",
       ">> MB_STATE_SET (5120, WORD)\nInvalid data.\n>> ",
       {}},
      {"WRITE with capital 0X",
       {},
       "WRITE STATE 0X1F\nyes\n",
       ">> MB_STATE_SET (5120, WORD)\nConfirm write \"0X1F\"? (Y/N): Write 1 words OK\n>> ",
       {{16, 5120, {0x1F}}}},
      {"WRITE of a float writes low half first",
       {},
       "WRITE MAX_AVERAGE 0.93\nY\n",
       ">> MB_MAX_AVERAGE_POWER (5252, FLOAT)\nConfirm write \"0.93\"? (Y/N): Write 2 words "
       "OK\n>> ",
       {{16, 5252, float_words(0.93f)}}},
      {"WRITE without data",
       {},
       "WRITE STATE\n",
       ">> MB_STATE_SET (5120, WORD)\nMissing data.\n>> ",
       {}},
      {"RR DWORD prints the high word first",
       {{5532, {0x0004, 0x0001}}},
       "RR dword 0x159c\n",
       ">> 0x00010004 (65540)\n>> ",
       {}},
      {"RR FLOAT", {{5126, float_words(2.5f)}}, "RR FLOAT 5126\n", ">> 2.500000\n>> ", {}},
      {"RR WORD", {{5120, {9}}}, "RR word 5120 7\n", ">> 0x0009 \n>> ", {}},
      {"RR RAW without a count reads nothing",
       {},
       "RR RAW 5120\n",
       ">> Missing word size.\n>> ",
       {}},
      {"RR RAW with count 0 prints nothing", {}, "RR RAW 5120 0\n", ">> >> ", {}},
      {"RR RAW above 1024 words", {}, "RR RAW 5120 1025\n", ">> Invalid word size: 1025.\n>> ", {}},
      {"RR RAW with a bad count", {}, "RR RAW 5120 1x\n", ">> Invalid word size: 1x.\n>> ", {}},
      {"RR type and address errors",
       {},
       "RR\nRR LONG 5120\nRR WORD\nRR WORD 0xZZ\n",
       ">> Missing Type (RAW, FLOAT, WORD, or DWORD).\n>> Invalid Type (RAW, FLOAT, WORD, or "
       "DWORD).\n>> Missing Address.\n>> Invalid address: 0XZZ.\n>> ",
       {}},
      {"RW RAW writes every word at once",
       {},
       "RW RAW 5200 1 2 3\n",
       ">> Write 3 words OK\n>> ",
       {{16, 5200, {1, 2, 3}}}},
      {"RW RAW takes 32 words at most",
       {},
       "RW RAW 5000" + repeat(" 0xabcd", 33) + "\n",
       ">> Write 32 words OK\n>> ",
       {{16, 5000, std::vector<uint16_t>(32, 0xABCD)}}},
      {"RW RAW with an invalid word writes nothing",
       {},
       "RW RAW 5200 12 3G\n",
       ">> Invalid data at 1: 0003\nNo write.\n>> ",
       {}},
      {"RW WORD with lower-case 0x", {}, "RW WORD 5120 0x3\n", ">> Invalid data: 0x3\n>> ", {}},
      {"RW WORD with 0X", {}, "RW WORD 5120 0X3\n", ">> Write OK\n>> ", {{16, 5120, {3}}}},
      {"RW WORD keeps the low 16 bits",
       {},
       "RW WORD 5120 70000\n",
       ">> Write OK\n>> ",
       {{16, 5120, {4464}}}},
      {"RW DWORD low half first",
       {},
       "RW DWORD 5200 0X12345678\n",
       ">> Write OK\n>> ",
       {{16, 5200, {0x5678, 0x1234}}}},
      {"RW FLOAT",
       {},
       "RW FLOAT 5126 2.5\n",
       ">> Write 2.500000 OK\n>> ",
       {{16, 5126, float_words(2.5f)}}},
      {"RW FLOAT with a tail", {}, "RW FLOAT 5126 2.5x\n", ">> Invalid data float: 2.5x\n>> ", {}},
      {"RW without data", {}, "RW WORD 5120\n", ">> Missing data.\n>> ", {}},
      {"RW FLOAT of values that are not finite",
       {},
       "RW FLOAT 5126 nan\nRW FLOAT 5126 inf\nRW FLOAT 5126 -1e40\n",
       ">> Invalid data float: nan\n>> Invalid data float: inf\n>> Invalid data float: -1e40\n>> ",
       {}},
      {"SETBIT grid of a two-word register",
       {{5200, {0x0805, 0x8000}}},
       "SETBIT 5200\n",
       ">> MB_CONFIG_WORD (5200, DWORD)\n"
       "    00 01 02 03 04 05 06 07 08 09 10 11 12 13 14 15\n"
       "    __ __ __ __ __ __ __ __ __ __ __ __ __ __ __ __\n"
       " 0:  1  0  1  0  0  0  0  0  0  0  0  1  0  0  0  0 \n"
       "16:  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  1 \n>> ",
       {}},
      {"SETBIT clears one bit",
       {{5200, {0x0805, 0x0000}}},
       "SETBIT 5200 11 0\n",
       ">> MB_CONFIG_WORD (5200, DWORD)\n2053 (0x00000805)\nWrite 2 words OK\n>> ",
       {{16, 5200, {0x0005, 0x0000}}}},
      {"SETBIT sets a bit of the high word",
       {{5200, {0x0000, 0x0000}}},
       "SETBIT 5200 17 1\n",
       ">> MB_CONFIG_WORD (5200, DWORD)\n0 (0x00000000)\nWrite 2 words OK\n>> ",
       {{16, 5200, {0x0000, 0x0002}}}},
      {"SETBIT position out of range",
       {},
       "SETBIT 5200 32 1\nSETBIT 5120 -1 1\n",
       ">> MB_CONFIG_WORD (5200, DWORD)\nBit position should be between 0 and 32, provided is 32.\n"
       ">> MB_STATE_SET (5120, WORD)\nBit position should be between 0 and 16, provided is "
       "-1.\n>> ",
       {}},
      {"SETBIT value errors",
       {},
       "SETBIT 5120 1\nSETBIT 5120 1 x\nSETBIT 5120 1 2\nSETBIT 5120 z 1\n",
       ">> MB_STATE_SET (5120, WORD)\nMissing bit value.\n"
       ">> MB_STATE_SET (5120, WORD)\nInvalid bit value: x.\n"
       ">> MB_STATE_SET (5120, WORD)\nBit value should be 0 or 1, provided is 2.\n"
       ">> MB_STATE_SET (5120, WORD)\nInvalid bit position: z.\n>> ",
       {}},
      {"SETBIT in a 15-word table",
       {{5303, zeros(15)}},
       "SETBIT 5303 40 1\n",
       ">> MB_FIL_VOLT_READ_CAL (5303, READ_CALIB)\n"
       "1: 0 (0x0000),       0\n2: 0 (0x0000),       0\n"
       "3: 0 (0x0000),       0\n4: 0 (0x0000),       0\n5: 0 (0x0000),       0\n"
       "Write 15 words OK\n>> ",
       {{16, 5303, {0, 0, 0x0100, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}}},
  };
}

class TranscriptTest : public transcript_session {};

TEST_P(TranscriptTest, OutputAndWrites) { check_transcript(); }

INSTANTIATE_TEST_SUITE_P(Console, TranscriptTest, ::testing::ValuesIn(console_cases()),
                         transcript_case_name);
INSTANTIATE_TEST_SUITE_P(Registers, TranscriptTest, ::testing::ValuesIn(register_cases()),
                         transcript_case_name);

TEST_F(ConsoleSession, HelpText) {
  tool_result r = run("HELP\n");
  std::string prefix = connected() + ">> ";
  ASSERT_EQ(r.out.compare(0, prefix.size(), prefix), 0);
  std::string help = r.out.substr(prefix.size(), r.out.size() - prefix.size() - 9);
  ASSERT_EQ(r.out.substr(r.out.size() - 9), ">> Exit.\n");
  std::vector<std::string> lines;
  std::istringstream in(help);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  // The original 127 lines, then the section of the added commands.
  ASSERT_EQ(lines.size(), 160u);
  EXPECT_EQ(lines[0], "Calibration and Chat utility for Veltrona modulator");
  EXPECT_EQ(lines[1], "-----------------------------------------------------");
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[3], "\033[31mGeneric commands\033[0m:");
  EXPECT_EQ(lines[5], "  \033[32mHELP\033[0m      : Print this help.");
  EXPECT_EQ(lines[35],
            "              RW <FLOAT/WORD/DWORD/RAW> <address,hex/dec> "
            "<data,float/word/dword/word-array>");
  EXPECT_EQ(lines[36],
            "              <data> : according to data type. For ROW, each hex words "
            "are separated by a space.");
  EXPECT_EQ(lines[67],
            "  \033[32mSTARTUP\033[0m   : Configure startup registers. Startup "
            "registers are loaded during tool startup.");
  EXPECT_EQ(lines[73], "\033[31mCalibration commands\033[0m:");
  EXPECT_EQ(lines[97],
            "              With <entry number>, remove specific entry, e.g. REMOVE 4 to "
            "remove/invalidate fourth entry.");
  EXPECT_EQ(lines[125], "  \033[32mSEND\033[0m      : Send calibration table to the device.");
  EXPECT_EQ(lines[126], "");
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 127, lines.end()),
            (std::vector<std::string>{
                "\033[31mFurther commands\033[0m:",
                "",
                "  \033[32mRECONNECT\033[0m : Close the connection and connect again, e.g. "
                "after a device restart.",
                "              Logs in and writes the startup registers again, as at tool "
                "start.",
                "              A running calibration session is kept.",
                "",
                "  \033[32mWATCH\033[0m     : Show registers live, one line per second.",
                "              WATCH <<address,dec> or <name,string>> [...] [-o <filepath,string>]",
                "              Up to 8 FLOAT, WORD or DWORD registers, chosen as in READ.",
                "              Any key ends the watch; with piped input, the next input line.",
                "              -o appends one CSV row per second to the file: UTC time, then each "
                "value.",
                "",
                "  \033[32mCOMPARE\033[0m   : Compare registers with a dump file.",
                "              COMPARE <filepath,string> [<pattern> ...]",
                "              Reads the registers a DUMP file holds and shows those whose "
                "values differ from the file.",
                "              <pattern> : part of a register name, e.g. _CAL for the "
                "calibration tables.",
                "",
                "  \033[32mRESTORE\033[0m   : Restore registers from a dump file.",
                "              RESTORE <filepath,string> <<address,dec> or <name,string>> [...]",
                "              Writes up to 16 registers, chosen as in READ, back to their "
                "values in a DUMP file,",
                "              after showing what changes and asking. FLOAT, WORD, DWORD and "
                "calibration registers.",
                "              A dump keeps floats to 6 significant digits: a restored FLOAT is "
                "that rounded value.",
                "              Never a command register, nor a read-back one (measurements and "
                "status): 5480 to 5598",
                "              and every name ending in _READ; never two registers that share a "
                "word.",
                "",
                "  \033[32mCALHISTORY\033[0m : Show the last 10 recorded calibrations of a table, "
                "oldest first.",
                "              CALHISTORY [<<address,dec> or <name,string>>]",
                "              A SET_CALIB or READ_CALIB register, chosen as in READ; without it, "
                "the",
                "              session's calibration register, or outside a session every table.",
                "              Every SEND, every interactive edit that sent and every table "
                "RESTORE wrote is",
                "              recorded, as found and as left, in "
                "$XDG_STATE_HOME/veltrona_tool/calibrations.jsonl",
                "              (~/.local/state/...).",
                "",
            }));
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{});
}

TEST_F(ConsoleSession, HelpWithNoColorIsTheSameTextWithoutColours) {
  tool_result coloured = run("HELP\n");
  tool_result plain;
  {
    scoped_env no_color("NO_COLOR", "1");
    plain = run("HELP\n");
  }
  tool_result empty_no_color;
  {
    scoped_env no_color("NO_COLOR", "");  // set but empty: colours as usual
    empty_no_color = run("HELP\n");
  }
  EXPECT_EQ(plain.out.find('\033'), std::string::npos) << plain.out;
  EXPECT_NE(plain.out.find("\nGeneric commands:\n"), std::string::npos) << plain.out;
  EXPECT_NE(plain.out.find("\n  SEND      : Send calibration table to the device.\n"),
            std::string::npos)
      << plain.out;
  EXPECT_EQ(plain.out, without_colours(coloured.out));
  EXPECT_EQ(empty_no_color.out, coloured.out);
}

TEST_F(ConsoleSession, HelpMatchesAnyTail) {
  tool_result a = run("helpme\n");
  tool_result b = run("HELP\n");
  EXPECT_EQ(a.out, b.out);
  // The second run's login.
  sim_write login = {16, 5121, access_code_words("40716253")};
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{login});
}

TEST_F(ConsoleSession, RawReadAboveMailboxSizeGoesInPieces) {
  std::vector<uint16_t> values;
  for (int i = 0; i < 100; i++) values.push_back(static_cast<uint16_t>(0x100 + i));
  apply({{5000, values}});
  ASSERT_EQ(sim.clear_reads(), 0);
  tool_result r = run("RR RAW 5000 100\n");
  std::string expected;
  for (uint16_t v : values) {
    char buf[16];
    snprintf(buf, sizeof(buf), "0x%04X ", v);
    expected += buf;
  }
  EXPECT_EQ(r.out, connected() + ">> " + expected + "\n>> Exit.\n");
  std::vector<sim_read> pieces;
  for (const sim_read& rd : sim.reads())
    if (rd.address >= 5000 && rd.address < 5100) pieces.push_back(rd);
  EXPECT_EQ(pieces, (std::vector<sim_read>{{3, 5000, 64}, {3, 5064, 36}}));
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{});
}

TEST_F(ConsoleSession, FailedReadsNeverLeadToWrites) {
  ASSERT_EQ(sim.fail_reads(5200, 2), 0);
  ASSERT_EQ(sim.fail_reads(5120), 0);
  tool_result r = run("SETBIT 5200 1 1\nREAD 5120\nRR WORD 5120\nSETBIT 5200\n");
  EXPECT_EQ(r.out, connected() +
                       ">> MB_CONFIG_WORD (5200, DWORD)\nError read.\n"
                       ">> MB_STATE_SET (5120, WORD)\nError read.\n"
                       ">> Error read.\n"
                       ">> MB_CONFIG_WORD (5200, DWORD)\nError read.\n>> Exit.\n");
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{});
}

TEST_F(ConsoleSession, FailedWritesReportErrorWrite) {
  ASSERT_EQ(sim.fail_writes(5120), 0);
  tool_result r = run("WRITE STATE 3\ny\nRW WORD 5120 1\nRW RAW 5120 1\n");
  EXPECT_EQ(r.out, connected() +
                       ">> MB_STATE_SET (5120, WORD)\nConfirm write \"3\"? (Y/N): Error write.\n"
                       ">> Error write.\n>> Error write.\n>> Exit.\n");
  // Refused writes are in the device's log as well.
  EXPECT_EQ(writes_after_login(),
            (std::vector<sim_write>{{16, 5120, {3}}, {16, 5120, {1}}, {16, 5120, {1}}}));
}

TEST_F(ConsoleSession, EndOfInputAtConfirmationWritesNothing) {
  tool_result r = run("WRITE STATE 3\n");
  EXPECT_EQ(r.out, connected() + ">> MB_STATE_SET (5120, WORD)\n" +
                       repeat("Confirm write \"3\"? (Y/N): ", 3) + "No write.\n>> Exit.\n");
  EXPECT_EQ(r.err, repeat("Error reading answer.\n", 3));
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{});
}

// A directory as standard input fails every read (EISDIR): a few error lines, then the tool ends
// as at end of input instead of printing them forever.
TEST_F(ConsoleSession, StdinThatFailsEveryReadEndsAfterTenErrors) {
  child_process tool;
  ASSERT_EQ(
      tool.start({"/bin/sh", "-c", "exec \"$0\" < \"$1\"", VT_TOOL_PATH, dir.path()}, dir.path()),
      0)
      << tool.error();
  ASSERT_EQ(tool.wait_exit(VT_WAIT_MS), 0) << tool.out().substr(0, 2000);
  EXPECT_EQ(tool.exit_status(), 0);
  EXPECT_EQ(tool.out(), connected() + repeat(">> Error reading cmd.\n", 10) + ">> Exit.\n");
  EXPECT_EQ(tool.err(), "");
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{});
}

}  // namespace
