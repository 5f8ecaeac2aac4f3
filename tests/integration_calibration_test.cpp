// Calibration against the simulator: the definitions menu, sessions, point capture, table
// editing and transfer, with exact output and the exact writes the device saw.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/console_fixture.h"
#include "tests/terminal_tool.h"

namespace {

// ---- Expected texts

const std::string menu_tail =
    "Press D to delete calibration\n"
    "Press A to add new calibration\n"
    "Press V to add view calibration setting\n"
    "Press Q to exit\n"
    "Select by entering menu number or option: ";

// The menu with the given list lines ("1 : Filament Set\n" ...).
std::string menu(const std::string& list) { return "Calibration menu:\n" + list + menu_tail; }

const std::string default_list = "1 : Filament Set\n";

// Session start on the default definition (menu 1) with the device in state 3.
const std::string filament_start =
    "5453 is set to 5288\n"
    "Reg 5126 with value 6.3 V,A is backed up\n"
    "Calibration started.\n";

std::string prompt(int point) { return "[Filament Set," + std::to_string(point) + "]>> "; }

const std::string add_prompts =
    "Message/Description: "
    "Type (0:SET, 1:READ): "
    "Calibration register (integer): "
    "Pairing set register (integer): "
    "Read register (integer): "
    "Required state (0:OFF, ..., 9:TRIG): "
    "DAC/ADC Step for interactive mode (integer): ";

const std::string gate_refused =
    "Precondition: Current state is 0, required is 3.\n"
    "Change state using STATE 3 command.\n";

const std::string empty_word_listing = "FFFF (65535) FFFF (65535) FFFF (65535), ";
const std::string send_question = " send? (y=send, other-key=cancel) ";

const sim_write sequence_id_5288 = {16, 5453, {5288}};

// ---- Device tables

std::vector<uint16_t> empty_table() { return std::vector<uint16_t>(15, 0xFFFF); }

// Five triples of (float actual, count) in the SET layout, or (count, float actual) in READ.
std::vector<uint16_t> table(bool read_layout, const std::vector<std::pair<float, uint16_t>>& pts) {
  std::vector<uint16_t> words;
  for (const auto& [actual, count] : pts) {
    std::vector<uint16_t> f = float_words(actual);
    if (read_layout) words.push_back(count);
    words.insert(words.end(), f.begin(), f.end());
    if (!read_layout) words.push_back(count);
  }
  return words;
}

const std::string interactive_keys =
    "Press V : increase ADC/DAC\n      v : decrease ADC/DAC\n"
    "    r/R : re-read calibration read register\n    q/Q : exit\n";

// Interactive mode's write of an otherwise empty table whose point `point` holds `count` (SET
// layout: the count is the third word of its triple).
sim_write point_write(int point, uint16_t count) {
  std::vector<uint16_t> words = empty_table();
  words[static_cast<size_t>(point) * 3 - 1] = count;
  return {16, 5288, words};
}

// SEND's listing of table words, without the question.
std::string word_listing(const std::vector<uint16_t>& words) {
  std::string text;
  for (size_t i = 0; i < words.size(); i++) {
    char item[32];
    snprintf(item, sizeof(item), "%04X (%u)%s", words[i], words[i], i % 3 == 2 ? ", " : " ");
    text += item;
  }
  return text;
}

// Configuration lines of one calibration definition.
std::vector<std::string> definition(int slot, int type, const std::string& msg, int reg_cal,
                                    int reg_set, int reg_read, int state, int step) {
  std::string k = "cal[" + std::to_string(slot) + "].";
  return {k + "use = 1",
          k + "iType = " + std::to_string(type),
          k + "sMsg = \"" + msg + "\"",
          k + "iRegCal = " + std::to_string(reg_cal),
          k + "iRegSet = " + std::to_string(reg_set),
          k + "iRegRead = " + std::to_string(reg_read),
          k + "iState = " + std::to_string(state),
          k + "iStep = " + std::to_string(step)};
}

std::vector<std::string> joined(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// ---- Cases run in batch: script in, exact output and writes out

struct calib_case {
  const char* name;
  std::vector<std::string> config;
  std::vector<preset> presets;
  std::string script;
  std::string output;  // between the connection line and "Exit.\n"
  std::vector<sim_write> writes;
};

// The default definition's session in state 3 with an empty device table.
const std::vector<preset> standby_empty = {{5480, {3}}, {5288, empty_table()}};

std::vector<calib_case> calib_cases() {
  const std::string start = ">> " + menu(default_list) + filament_start;
  // A device table in good order, the same with 1.0 typed for 10 at point 4, and with the DAC
  // count of point 2 equal to point 1's.
  const std::vector<uint16_t> ordered_table =
      table(false, {{2.5f, 100}, {5.0f, 200}, {7.5f, 300}, {10.0f, 400}, {12.5f, 500}});
  const std::vector<uint16_t> typo_table =
      table(false, {{2.5f, 100}, {5.0f, 200}, {7.5f, 300}, {1.0f, 400}, {12.5f, 500}});
  const std::vector<uint16_t> equal_count_table =
      table(false, {{2.5f, 100}, {5.0f, 100}, {7.5f, 300}, {10.0f, 400}, {12.5f, 500}});
  return {
      {"MenuListsDefinitionsWithGaps",
       definition(2, 1, "Third", 5303, 5126, 0, 3, 1),
       {},
       "CALIBRATE extra tokens\nq\n",
       ">> " + menu("1 : Filament Set\n3 : Third\n") + ">> ",
       {}},
      {"MenuAnswerRules",
       definition(4, 0, "Fifth", 5288, 5126, 0, 0, 1),
       {},
       "CALIBRATE\nadd\nCALIBRATE\nQ1\nCALIBRATE\n\nCALIBRATE\n17\nCALIBRATE\n2\n"
       "CALIBRATE\n5x\nQ\n",
       ">> " + menu(default_list + "5 : Fifth\n") + "Invalid selection!\n" +  //
           ">> " + menu(default_list + "5 : Fifth\n") + "Invalid selection!\n" + ">> " +
           menu(default_list + "5 : Fifth\n") + "Invalid selection!\n" + ">> " +
           menu(default_list + "5 : Fifth\n") + "Invalid selection!\n" + ">> " +
           menu(default_list + "5 : Fifth\n") + "Calibration menu 2 is not used!\n" + ">> " +
           menu(default_list + "5 : Fifth\n") +
           "5453 is set to 5288\nReg 5126 with value 6.3 V,A is backed up\n"
           "Calibration started.\n[Fifth,1]>> >> ",
       {sequence_id_5288}},
      {"AddAnswersAnEmptyTypeAndFailsAtAnEmptyRegister",
       {},
       {},
       "CALIBRATE\nA\nNew one\n\n\nCALIBRATE\na\nNew\n0\n5288\n5126\n6201\nCALIBRATE\nq\n",
       ">> " + menu(default_list) +
           "Message/Description: Type (0:SET, 1:READ): Calibration register (integer): "
           "Out of range: 0.\nError in getting cal register.\n" +
           ">> " + menu(default_list) +
           "Message/Description: Type (0:SET, 1:READ): Calibration register (integer): "
           "Pairing set register (integer): Read register (integer): "
           "Out of range: 6201.\nError in getting read register.\n" +
           ">> " + menu(default_list) + ">> ",
       {}},
      {"ViewAndDeleteOfAFreeNumber",
       {},
       {},
       "CALIBRATE\nV\n3\nCALIBRATE\nD\n3\nCALIBRATE\nv\n1\n",
       ">> " + menu(default_list) +
           "Enter calibration menu number to view: Calibration item 2 is not used.\n" + ">> " +
           menu(default_list) +
           "Enter calibration menu number to delete: Calibration menu 3 is not used!\n" + ">> " +
           menu(default_list) +
           "Enter calibration menu number to view: Description: Filament Set\n"
           "Type: 0 (0: Set, 1: Read)\nRegCal: 5288\nRegSet: 5126\nRegRead: 0\n"
           "Required State: 3\nDAC/ADC Step: 1\n>> ",
       {}},
      {"DeleteConfirmationAnswers",
       {},
       {},
       "CALIBRATE\nD\n1\nx\nCALIBRATE\nd\n1\nn\nCALIBRATE\nq\n",
       ">> " + menu(default_list) +
           "Enter calibration menu number to delete: "
           "Delete calibration menu 1 [Filament Set]? (y/n): Error in getting answer.\n" +
           ">> " + menu(default_list) +
           "Enter calibration menu number to delete: "
           "Delete calibration menu 1 [Filament Set]? (y/n): Calibration menu 1 not deleted.\n" +
           ">> " + menu(default_list) + ">> ",
       {}},
      {"SessionInTheWrongStateStillStarts",
       {},
       {},
       "CALIBRATE\n1\n",
       ">> " + menu(default_list) + "Precondition: Current state is 0, required is 3.\n" +
           filament_start + prompt(1),
       {sequence_id_5288}},
      {"DefaultDefinitionStartsAndQuitsSilentlyWhenUnchanged",
       {},
       {{5480, {3}}},
       "CALIBRATE\n1\nQ\n",
       start + prompt(1) + ">> ",
       {sequence_id_5288}},
      {"QuitRestoresAChangedSetRegisterOnYes",
       {},
       {{5480, {3}}},
       "CALIBRATE\n1\nSET 12\nQ\ny\n",
       start + prompt(1) + "Write 12.000000 to 5126.\n" + prompt(1) +
           "Restore reg 5126 value from 12 V,A to 6.3 V,A? (y/n) Restored.\n>> ",
       {sequence_id_5288, {16, 5126, float_words(12.0f)}, {16, 5126, float_words(6.3f)}}},
      {"QuitKeepsAChangedSetRegisterOnNo",
       {},
       {{5480, {3}}},
       "CALIBRATE\n1\nSET 12\nQ\nn\n",
       start + prompt(1) + "Write 12.000000 to 5126.\n" + prompt(1) +
           "Restore reg 5126 value from 12 V,A to 6.3 V,A? (y/n) Restore cancelled.\n>> ",
       {sequence_id_5288, {16, 5126, float_words(12.0f)}}},
      {"CalibrateDuringASessionEndsItWithoutAsking",
       {},
       {{5480, {3}}},
       "CALIBRATE\n1\nSET 12\nCALIBRATE\nq\nSET 1\n",
       start + prompt(1) + "Write 12.000000 to 5126.\n" + prompt(1) + menu(default_list) +
           ">> No calibration is selected! Select using CALIBRATE.\n>> ",
       {sequence_id_5288, {16, 5126, float_words(12.0f)}}},
      {"EndOfInputInASessionEndsTheToolWithoutAsking",
       {},
       {{5480, {3}}},
       "CALIBRATE\n1\nSET 12\n",
       start + prompt(1) + "Write 12.000000 to 5126.\n" + prompt(1),
       {sequence_id_5288, {16, 5126, float_words(12.0f)}}},
      {"BothTableLayoutsLoadByCatalogueType",
       joined({definition(1, 1, "Fil Read", 5303, 5126, 0, 3, 1),
               definition(2, 0, "Odd", 5120, 5127, 0, 3, 1)}),
       {{5480, {3}},
        {5288, table(false, {{1.5f, 100}, {2.5f, 200}, {3.5f, 300}, {4.5f, 400}, {5.5f, 500}})},
        {5303, table(true, {{1.5f, 100}, {2.5f, 200}, {3.5f, 300}, {4.5f, 400}, {5.5f, 500}})},
        {5126, {0, 0, 0}}},  // MB_FIL_SET 0, and 0 in the two words from 5127
       "CALIBRATE\n1\nPRINT\nCALIBRATE\n2\nPRINT\nCALIBRATE\n3\n",
       ">> " + menu("1 : Filament Set\n2 : Fil Read\n3 : Odd\n") +
           "5453 is set to 5288\nReg 5126 with value 0 V,A is backed up\nCalibration started.\n" +
           prompt(1) +
           "device  : 1 : ____________, actual =   1.50, dac =   100\n"
           "to write: 1 : set =   -nan, actual =   1.50, dac =   100\n"
           "device  : 2 : ____________, actual =   2.50, dac =   200\n"
           "to write: 2 : set =   -nan, actual =   2.50, dac =   200\n"
           "device  : 3 : ____________, actual =   3.50, dac =   300\n"
           "to write: 3 : set =   -nan, actual =   3.50, dac =   300\n"
           "device  : 4 : ____________, actual =   4.50, dac =   400\n"
           "to write: 4 : set =   -nan, actual =   4.50, dac =   400\n"
           "device  : 5 : ____________, actual =   5.50, dac =   500\n"
           "to write: 5 : set =   -nan, actual =   5.50, dac =   500\n" +
           prompt(1) + menu("1 : Filament Set\n2 : Fil Read\n3 : Odd\n") +
           "5453 is set to 5303\nReg 5126 with value 0 V,A is backed up\n"
           "Calibration started.\n[Fil Read,1]>> "
           "device  : 1 : ____________, actual =   1.50, adc =   100\n"
           "to write: 1 : set =   -nan, actual =   1.50, adc =   100\n"
           "device  : 2 : ____________, actual =   2.50, adc =   200\n"
           "to write: 2 : set =   -nan, actual =   2.50, adc =   200\n"
           "device  : 3 : ____________, actual =   3.50, adc =   300\n"
           "to write: 3 : set =   -nan, actual =   3.50, adc =   300\n"
           "device  : 4 : ____________, actual =   4.50, adc =   400\n"
           "to write: 4 : set =   -nan, actual =   4.50, adc =   400\n"
           "device  : 5 : ____________, actual =   5.50, adc =   500\n"
           "to write: 5 : set =   -nan, actual =   5.50, adc =   500\n"
           "[Fil Read,1]>> " +
           menu("1 : Filament Set\n2 : Fil Read\n3 : Odd\n") +
           "5453 is set to 5120\nReg 5127 with value 0  is backed up\nCalibration started.\n"
           "calib_load_from_device: reg_cal (5120) type (2) not supported.\n"
           "Error in loading calibration data from device.\n[Odd,1]>> ",
       {sequence_id_5288, {16, 5453, {5303}}, {16, 5453, {5120}}}},

      // ---- Point capture
      {"SetWritesTheFloatAndActualRefusesABadToken",
       {},
       standby_empty,
       "CALIBRATE\n1\nSET 12.5\nSET\nSET 1e\nACTUAL 9.01x\nACTUAL 9.01\nDAC-ADC\n",
       start + prompt(1) + "Write 12.500000 to 5126.\n" + prompt(1) + "Missing data.\n" +
           prompt(1) + "Invalid data float: 1e\n" + prompt(1) + "Invalid data float: 9.01x\n" +
           prompt(1) + "Actual(1) = 9.010000\n" + prompt(1) + "0x30D4\n" + prompt(1),
       {sequence_id_5288, {16, 5126, float_words(12.5f)}}},
      {"ValuesThatAreNotFiniteAreRefusedAndNothingIsStored",
       {},
       standby_empty,
       "CALIBRATE\n1\nSET nan\nSET -inf\nSET 1e40\nACTUAL inf\nACTUAL NAN\n"
       "EDIT 1 ACTUAL nan\nEDIT 1 ACTUAL -1e99999\nADD\ny\nSEND\nn\n",
       start + prompt(1) + "Invalid data float: nan\n" + prompt(1) + "Invalid data float: -inf\n" +
           prompt(1) + "Invalid data float: 1e40\n" + prompt(1) + "Invalid data float: inf\n" +
           prompt(1) + "Invalid data float: NAN\n" + prompt(1) + "Invalid data: nan\n" + prompt(1) +
           "Invalid data: -1e99999\n" + prompt(1) +
           "Set is empty. Do you want to continue? (y/n): "
           "Incomplete entry: set=0xFFFFFFFF actual=0xFFFFFFFF\n" +
           prompt(1) + empty_word_listing + empty_word_listing + empty_word_listing +
           empty_word_listing + empty_word_listing + send_question + "not sent.\n" + prompt(1),
       {sequence_id_5288}},
      {"AddWithAnEmptySetAndIncompleteEntries",
       {},
       standby_empty,
       "CALIBRATE\n1\nADD\nn\nADD\ny\nSET 12.5\nADD\nADD\nx\n",
       start + prompt(1) + "Set is empty. Do you want to continue? (y/n): " +
           "Calibration point 1 not added.\n" + prompt(1) +
           "Set is empty. Do you want to continue? (y/n): "
           "Incomplete entry: set=0xFFFFFFFF actual=0xFFFFFFFF\n" +
           prompt(1) + "Write 12.500000 to 5126.\n" + prompt(1) +
           "Incomplete entry: set=0x41480000 actual=0xFFFFFFFF\n" + prompt(1) +
           "Incomplete entry: set=0x41480000 actual=0xFFFFFFFF\n" + prompt(1) +
           "Error: Unknown command.\nError parsing cmd.\n" + prompt(1),
       {sequence_id_5288, {16, 5126, float_words(12.5f)}}},
      {"FiveAddsFillTheTableAndWrapToPointOne",
       {},
       standby_empty,
       "CALIBRATE\n1\n"
       "SET 1\nACTUAL 1.5\nADD\nSET 2\nACTUAL 2.5\nADD\nSET 3\nACTUAL 3.5\nADD\n"
       "SET 4\nACTUAL 4.5\nADD\nSET 5\nACTUAL 5.5\nADD\nSET 6\nACTUAL 6.5\nADD\nPRINT\nQ\ny\n",
       start + prompt(1) +  //
           "Write 1.000000 to 5126.\n" + prompt(1) + "Actual(1) = 1.500000\n" + prompt(1) +
           "Added to point 1\n" + prompt(2) +  //
           "Write 2.000000 to 5126.\n" + prompt(2) + "Actual(2) = 2.500000\n" + prompt(2) +
           "Added to point 2\n" + prompt(3) +  //
           "Write 3.000000 to 5126.\n" + prompt(3) + "Actual(3) = 3.500000\n" + prompt(3) +
           "Added to point 3\n" + prompt(4) +  //
           "Write 4.000000 to 5126.\n" + prompt(4) + "Actual(4) = 4.500000\n" + prompt(4) +
           "Added to point 4\n" + prompt(5) +  //
           "Write 5.000000 to 5126.\n" + prompt(5) + "Actual(5) = 5.500000\n" + prompt(5) +
           "Added to point 5\n" + prompt(1) +  //
           "Write 6.000000 to 5126.\n" + prompt(1) + "Actual(1) = 6.500000\n" + prompt(1) +
           "Added to point 1\n" + prompt(2) +
           "device  : 1 : ____________, actual =   -nan, dac = 65535\n"
           "to write: 1 : set =   6.00, actual =   6.50, dac =  6000\n"
           "device  : 2 : ____________, actual =   -nan, dac = 65535\n"
           "to write: 2 : set =   2.00, actual =   2.50, dac =  2000\n"
           "device  : 3 : ____________, actual =   -nan, dac = 65535\n"
           "to write: 3 : set =   3.00, actual =   3.50, dac =  3000\n"
           "device  : 4 : ____________, actual =   -nan, dac = 65535\n"
           "to write: 4 : set =   4.00, actual =   4.50, dac =  4000\n"
           "device  : 5 : ____________, actual =   -nan, dac = 65535\n"
           "to write: 5 : set =   5.00, actual =   5.50, dac =  5000\n"
           "Warning: not strictly increasing or decreasing: actual value at point 1, dac count "
           "at point 1.\n" +
           prompt(2) + "Restore reg 5126 value from 6 V,A to 6.3 V,A? (y/n) Restored.\n>> ",
       {sequence_id_5288,
        {16, 5126, float_words(1.0f)},
        {16, 5126, float_words(2.0f)},
        {16, 5126, float_words(3.0f)},
        {16, 5126, float_words(4.0f)},
        {16, 5126, float_words(5.0f)},
        {16, 5126, float_words(6.0f)},
        {16, 5126, float_words(6.3f)}}},
      {"AddAndDelWithEntryNumbers",
       {},
       standby_empty,
       "CALIBRATE\n1\nSET 1\nACTUAL 1.5\nADD 3\nSET 2\nACTUAL 2.5\nADD 5\n"
       "ADD 0\nADD 6\nADD x\nADD 2x\nDEL 9\n"
       "SET 3\nACTUAL 3.5\nADD\nDEL\nDEL 3\nSEND\ny\n",
       start + prompt(1) + "Write 1.000000 to 5126.\n" + prompt(1) + "Actual(1) = 1.500000\n" +
           prompt(1) + "Added to point 3\n" + prompt(4) + "Write 2.000000 to 5126.\n" + prompt(4) +
           "Actual(4) = 2.500000\n" + prompt(4) + "Added to point 5\n" + prompt(1) +
           "Index out-of-range: 0\n" + prompt(1) + "Index out-of-range: 6\n" + prompt(1) +
           "Invalid index: x\n" + prompt(1) + "Invalid index: 2x\n" + prompt(1) +
           "Index out-of-range: 9\n" + prompt(1) + "Write 3.000000 to 5126.\n" + prompt(1) +
           "Actual(1) = 3.500000\n" + prompt(1) + "Added to point 1\n" + prompt(2) +
           "Removed from point 2\n" + prompt(2) + "Removed from point 3\n" + prompt(3) +
           "0000 (0) 4060 (16480) 0BB8 (3000), " + empty_word_listing + empty_word_listing +
           empty_word_listing + "0000 (0) 4020 (16416) 07D0 (2000), " + send_question +
           " --> OK\n" + prompt(1),
       {sequence_id_5288,
        {16, 5126, float_words(1.0f)},
        {16, 5126, float_words(2.0f)},
        {16, 5126, float_words(3.0f)},
        {16,
         5288,
         {0x0000, 0x4060, 3000, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
          0xFFFF, 0x0000, 0x4020, 2000}}}},
      {"StateGateOnEveryCommandLiftsAfterState",
       {},
       {{5288, empty_table()}},
       "CALIBRATE\n1\nSET 1\nACTUAL 1\nDAC-ADC\nADD\nDEL\nREAD\nWRITE\n"
       "STATE 3\nDAC-ADC\nSTATE 0\nDAC-ADC\n",
       ">> " + menu(default_list) + "Precondition: Current state is 0, required is 3.\n" +
           filament_start + prompt(1) + gate_refused + prompt(1) + gate_refused + prompt(1) +
           gate_refused + prompt(1) + gate_refused + prompt(1) + gate_refused + prompt(1) +
           gate_refused + prompt(1) + gate_refused + prompt(1) +
           "Write State = 3 (STANDBY) is OK.\n" + prompt(1) + "0x189C\n" + prompt(1) +
           "Write State = 0 (OFF) is OK.\n" + prompt(1) + "0x189C\n" + prompt(1),
       {sequence_id_5288, {16, 5120, {3}}, {16, 5120, {0}}}},
      {"ReadShortcutWithoutReadRegister",
       {},
       standby_empty,
       "CALIBRATE\n1\nREAD\nWRITE\n",
       start + prompt(1) + "Read Reg (0) is not used.\n" + prompt(1) +
           "Read Reg (0) is not used.\n" + prompt(1),
       {sequence_id_5288}},
      {"ReadShortcutWithAFloatReadRegister",
       {"cal[0].iRegRead = 5519"},
       {{5480, {3}}, {5288, empty_table()}, {5519, float_words(6.25f)}},
       "CALIBRATE\n1\nREAD\nwrite\n",
       start + prompt(1) + "MB_FIL_VOLT_READ (5519, FLOAT)\n6.25V\n" + prompt(1) +
           "MB_FIL_VOLT_READ (5519, FLOAT)\n6.25V\n" + prompt(1),
       {sequence_id_5288}},

      // ---- Table editing and transfer
      {"EditNormalModeValues",
       {},
       standby_empty,
       "CALIBRATE\n1\nEDIT 5 ACTUAL 9.01\nEDIT 5 DAC 0x3DF1\nEDIT 4 ADC 70000\nEDIT 6 ACTUAL 1\n"
       "EDIT 1 SET 2\nEDIT 2\nEDIT 2 dac\nEDIT 2 actual 1x\nEDIT x\nEDIT\nPRINT\n",
       start + prompt(1) + prompt(1) + prompt(1) + prompt(1) + "Point out-of-range: 6\n" +
           prompt(1) + "Invalid parameter: SET\n" + prompt(1) + "Missing parameter.\n" + prompt(1) +
           "Missing new value.\n" + prompt(1) + "Invalid data: 1x\n" + prompt(1) +
           "Invalid point: x\n" + prompt(1) + "Missing point.\n" + prompt(1) +
           "device  : 1 : ____________, actual =   -nan, dac = 65535\n"
           "to write: 1 : set =   -nan, actual =   -nan, dac = 65535\n"
           "device  : 2 : ____________, actual =   -nan, dac = 65535\n"
           "to write: 2 : set =   -nan, actual =   -nan, dac = 65535\n"
           "device  : 3 : ____________, actual =   -nan, dac = 65535\n"
           "to write: 3 : set =   -nan, actual =   -nan, dac = 65535\n"
           "device  : 4 : ____________, actual =   -nan, dac = 65535\n"
           "to write: 4 : set =   -nan, actual =   -nan, dac =  4464\n"
           "device  : 5 : ____________, actual =   -nan, dac = 65535\n"
           "to write: 5 : set =   -nan, actual =   9.01, dac = 15857\n" +
           prompt(1),
       {sequence_id_5288}},
      {"EditWithoutSessionChangesTheTableSilently",
       {},
       {},
       "EDIT 1 ACTUAL 2\nSEND\nPRINT\nEDIT 1 -i\nVq\n",
       ">> >> No calibration is selected! Select using CALIBRATE.\n"
       ">> No calibration is selected! Select using CALIBRATE.\n"
       ">> Press V : increase ADC/DAC\n      v : decrease ADC/DAC\n"
       "    r/R : re-read calibration read register\n    q/Q : exit\n"
       "Point 1: 0, \nNo calibration is selected! Select using CALIBRATE.\nPoint 1: 0, \n>> >> ",
       {}},
      {"InteractiveModeByPipedBytes",
       {"cal[0].iRegRead = 5519", "cal[0].iStep = 16"},
       {{5480, {3}}, {5288, empty_table()}, {5519, float_words(6.25f)}},
       "CALIBRATE\n1\nEDIT 2 DAC 5\nEDIT 2 -i\nVvvxrq\nQ\n",
       start + prompt(1) + prompt(1) + interactive_keys +
           "Point 2: 5, 6.25V\nPoint 2: 21, 6.25V\nPoint 2: 5, 6.25V\n"
           "Point 2: 5 (lower limit), 6.25V\nPoint 2: 5, 6.25V\n" +
           prompt(1) + prompt(1) + ">> ",
       {sequence_id_5288, point_write(2, 21), point_write(2, 5)}},
      // A count never wraps: a step past 65534 (65535 is the empty marker) or below 0 changes
      // nothing and sends nothing; a key on an empty count sends nothing either.
      {"InteractiveModeStopsAtTheUpperLimit",
       {"cal[0].iStep = 16"},
       standby_empty,
       "CALIBRATE\n1\nEDIT 2 DAC 65518\nEDIT 2 -i\nVVvq\n",
       start + prompt(1) + prompt(1) + interactive_keys +
           "Point 2: 65518, \nPoint 2: 65534, \nPoint 2: 65534 (upper limit), \n"
           "Point 2: 65518, \n" +
           prompt(1) + prompt(1),
       {sequence_id_5288, point_write(2, 65534), point_write(2, 65518)}},
      // At the exact edges a step of 16 would reach -1 or the empty marker: refused, not sent.
      {"InteractiveModeRefusesAStepPastEitherEdge",
       {"cal[0].iStep = 16"},
       standby_empty,
       "CALIBRATE\n1\nEDIT 2 DAC 15\nEDIT 2 -i\nvq\nEDIT 2 DAC 65519\nEDIT 2 -i\nVq\n",
       start + prompt(1) + prompt(1) + interactive_keys +
           "Point 2: 15, \nPoint 2: 15 (lower limit), \n" + prompt(1) + prompt(1) + prompt(1) +
           interactive_keys + "Point 2: 65519, \nPoint 2: 65519 (upper limit), \n" + prompt(1) +
           prompt(1),
       {sequence_id_5288}},
      {"InteractiveModeLeavesAnEmptyCount",
       {"cal[0].iStep = 16"},
       standby_empty,
       "CALIBRATE\n1\nEDIT 3 -i\nVvq\n",
       start + prompt(1) + interactive_keys +
           "Point 3: 65535, \nPoint 3: 65535 (empty), \nPoint 3: 65535 (empty), \n" + prompt(1) +
           prompt(1),
       {sequence_id_5288}},
      {"StepForms",
       {},
       standby_empty,
       "STEP\nSTEP 0x20\nSTEP\nSTEP 10x\nSTEP 70000\nSTEP\nCALIBRATE\n1\nSTEP\n",
       ">> Step = 0\n>> >> Step = 32\n>> Invalid data: 10x\n>> >> Step = 4464\n>> " +
           menu(default_list) + filament_start + prompt(1) + "Step = 1\n" + prompt(1),
       {sequence_id_5288}},
      {"PrintAfterALoadAndWithEmptyEntries",
       {},
       {{5480, {3}},
        {5288, table(false, {{1.25f, 111}, {2.5f, 222}, {3.75f, 333}, {5.0f, 444}, {6.25f, 555}})}},
       "CALIBRATE\n1\nPRINT\nDEL 1\nDEL 2\nDEL 3\nDEL 4\nDEL 5\nPRINT\n",
       start + prompt(1) +
           "device  : 1 : ____________, actual =   1.25, dac =   111\n"
           "to write: 1 : set =   -nan, actual =   1.25, dac =   111\n"
           "device  : 2 : ____________, actual =   2.50, dac =   222\n"
           "to write: 2 : set =   -nan, actual =   2.50, dac =   222\n"
           "device  : 3 : ____________, actual =   3.75, dac =   333\n"
           "to write: 3 : set =   -nan, actual =   3.75, dac =   333\n"
           "device  : 4 : ____________, actual =   5.00, dac =   444\n"
           "to write: 4 : set =   -nan, actual =   5.00, dac =   444\n"
           "device  : 5 : ____________, actual =   6.25, dac =   555\n"
           "to write: 5 : set =   -nan, actual =   6.25, dac =   555\n" +
           prompt(1) + "Removed from point 1\n" + prompt(1) + "Removed from point 2\n" + prompt(2) +
           "Removed from point 3\n" + prompt(3) + "Removed from point 4\n" + prompt(4) +
           "Removed from point 5\n" + prompt(5) +
           "device  : 1 : ____________, actual =   1.25, dac =   111\n"
           "to write: 1 : set =   -nan, actual =   -nan, dac = 65535\n"
           "device  : 2 : ____________, actual =   2.50, dac =   222\n"
           "to write: 2 : set =   -nan, actual =   -nan, dac = 65535\n"
           "device  : 3 : ____________, actual =   3.75, dac =   333\n"
           "to write: 3 : set =   -nan, actual =   -nan, dac = 65535\n"
           "device  : 4 : ____________, actual =   5.00, dac =   444\n"
           "to write: 4 : set =   -nan, actual =   -nan, dac = 65535\n"
           "device  : 5 : ____________, actual =   6.25, dac =   555\n"
           "to write: 5 : set =   -nan, actual =   -nan, dac = 65535\n" +
           prompt(5),
       {sequence_id_5288}},
      {"SendASetTableDeclinedThenConfirmed",
       {},
       standby_empty,
       "CALIBRATE\n1\nEDIT 1 ACTUAL 1.5\nEDIT 1 DAC 100\nDEL 3\nSEND\nn\nSEND\nx\nSEND\ny\n",
       start + prompt(1) + prompt(1) + prompt(1) + "Removed from point 3\n" + prompt(3) +
           "0000 (0) 3FC0 (16320) 0064 (100), " + empty_word_listing + empty_word_listing +
           empty_word_listing + empty_word_listing + send_question + "not sent.\n" + prompt(3) +
           "0000 (0) 3FC0 (16320) 0064 (100), " + empty_word_listing + empty_word_listing +
           empty_word_listing + empty_word_listing + send_question + "not sent.\n" + prompt(3) +
           "0000 (0) 3FC0 (16320) 0064 (100), " + empty_word_listing + empty_word_listing +
           empty_word_listing + empty_word_listing + send_question + " --> OK\n" + prompt(1),
       {sequence_id_5288,
        {16,
         5288,
         {0x0000, 0x3FC0, 100, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
          0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}}}},
      {"SendAReadTable",
       definition(1, 1, "Fil Read", 5303, 5126, 0, 3, 1),
       {{5480, {3}}, {5303, empty_table()}},
       "CALIBRATE\n2\nEDIT 1 ACTUAL 1.5\nEDIT 1 ADC 100\nSEND\ny\n",
       ">> " + menu("1 : Filament Set\n2 : Fil Read\n") +
           "5453 is set to 5303\nReg 5126 with value 6.3 V,A is backed up\n"
           "Calibration started.\n[Fil Read,1]>> [Fil Read,1]>> [Fil Read,1]>> "
           "0064 (100) 0000 (0) 3FC0 (16320), " +
           empty_word_listing + empty_word_listing + empty_word_listing + empty_word_listing +
           send_question + " --> OK\n[Fil Read,1]>> ",
       {{16, 5453, {5303}},
        {16,
         5303,
         {100, 0x0000, 0x3FC0, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
          0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}}}},
      {"UnorderedTableWarnsAtPrintAndBeforeSend",
       {},
       {{5480, {3}}, {5288, ordered_table}},
       "CALIBRATE\n1\nEDIT 4 ACTUAL 1.0\nPRINT\nSEND\nn\nEDIT 4 ACTUAL 10\nEDIT 2 DAC 100\n"
       "SEND\ny\n",
       start + prompt(1) + prompt(1) +
           "device  : 1 : ____________, actual =   2.50, dac =   100\n"
           "to write: 1 : set =   -nan, actual =   2.50, dac =   100\n"
           "device  : 2 : ____________, actual =   5.00, dac =   200\n"
           "to write: 2 : set =   -nan, actual =   5.00, dac =   200\n"
           "device  : 3 : ____________, actual =   7.50, dac =   300\n"
           "to write: 3 : set =   -nan, actual =   7.50, dac =   300\n"
           "device  : 4 : ____________, actual =  10.00, dac =   400\n"
           "to write: 4 : set =   -nan, actual =   1.00, dac =   400\n"
           "device  : 5 : ____________, actual =  12.50, dac =   500\n"
           "to write: 5 : set =   -nan, actual =  12.50, dac =   500\n"
           "Warning: not strictly increasing or decreasing: actual value at point 4.\n" +
           prompt(1) +
           "Warning: not strictly increasing or decreasing: actual value at point 4.\n" +
           word_listing(typo_table) + send_question + "not sent.\n" + prompt(1) + prompt(1) +
           prompt(1) +
           "Warning: not strictly increasing or decreasing: dac count at points 1 and 2.\n" +
           word_listing(equal_count_table) + send_question + " --> OK\n" + prompt(1),
       {sequence_id_5288, {16, 5288, equal_count_table}}},
      {"OrderedTableSendsWithoutWarning",
       {},
       {{5480, {3}}, {5288, ordered_table}},
       "CALIBRATE\n1\nSEND\ny\n",
       start + prompt(1) + word_listing(ordered_table) + send_question + " --> OK\n" + prompt(1),
       {sequence_id_5288, {16, 5288, ordered_table}}},
  };
}

class CalibrationTest : public ConsoleSession, public ::testing::WithParamInterface<calib_case> {};

TEST_P(CalibrationTest, OutputAndWrites) {
  const calib_case& c = GetParam();
  configure(c.config);
  apply(c.presets);
  tool_result r = run(c.script);
  EXPECT_EQ(r.out, connected() + c.output + "Exit.\n");
  EXPECT_EQ(writes_after_login(), c.writes);
}

std::string case_name(const ::testing::TestParamInfo<calib_case>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Calibration, CalibrationTest, ::testing::ValuesIn(calib_cases()),
                         case_name);

// ---- Cases that need more than one run or a changed device

std::string read_file(const std::string& path) {
  std::string text;
  EXPECT_EQ(read_text_file(path, &text), 0) << path;
  return text;
}

bool has_line(const std::string& text, const std::string& line) {
  return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

TEST_F(ConsoleSession, AddGoesToTheLowestFreeSlotAndIsSaved) {
  configure(definition(2, 1, "Third", 5303, 5126, 0, 3, 1));
  tool_result r = run("CALIBRATE\nA\nHV Set\n0\n5348\n5132\n5523\n6\n100\nCALIBRATE\nq\n");
  EXPECT_EQ(r.out, connected() + ">> " + menu("1 : Filament Set\n3 : Third\n") + add_prompts +
                       "Calibration menu 2 added.\n>> " +
                       menu("1 : Filament Set\n2 : HV Set\n3 : Third\n") + ">> Exit.\n");
  std::string file = read_file(dir.file("veltrona_tool.conf"));
  EXPECT_TRUE(has_line(file, "cal[1].use = 1")) << file;
  EXPECT_TRUE(has_line(file, "cal[1].sMsg = \"HV Set\"")) << file;
  EXPECT_TRUE(has_line(file, "cal[1].iRegCal = 5348")) << file;
  EXPECT_TRUE(has_line(file, "cal[1].iRegSet = 5132")) << file;
  EXPECT_TRUE(has_line(file, "cal[1].iRegRead = 5523")) << file;
  EXPECT_TRUE(has_line(file, "cal[1].iState = 6")) << file;
  EXPECT_TRUE(has_line(file, "cal[1].iStep = 100")) << file;
  EXPECT_TRUE(has_line(file, "cal[2].sMsg = \"Third\"")) << file;

  r = run("CALIBRATE\nv\n2\n");
  EXPECT_EQ(r.out, connected() + ">> " + menu("1 : Filament Set\n2 : HV Set\n3 : Third\n") +
                       "Enter calibration menu number to view: Description: HV Set\n"
                       "Type: 0 (0: Set, 1: Read)\nRegCal: 5348\nRegSet: 5132\nRegRead: 5523\n"
                       "Required State: 6\nDAC/ADC Step: 100\n>> Exit.\n");
  // The menu writes nothing to the device: only the two runs' logins.
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{session_start_login()});
}

TEST_F(ConsoleSession, AddKeepsThirtyOneCharactersOfTheDescription) {
  tool_result r =
      run("CALIBRATE\nA\n0123456789012345678901234567890123456789\n1\n5303\n5126\n5519\n3\n1\n");
  EXPECT_EQ(r.out, connected() + ">> " + menu(default_list) + add_prompts +
                       "Calibration menu 2 added.\n>> Exit.\n");
  std::string file = read_file(dir.file("veltrona_tool.conf"));
  EXPECT_TRUE(has_line(file, "cal[1].sMsg = \"0123456789012345678901234567890\"")) << file;
  EXPECT_TRUE(has_line(file, "cal[1].iType = 1")) << file;
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{});
}

// The last answer of the input counts whole without its line end: the step is 10, not 1.
TEST_F(ConsoleSession, AddTakesALastNumberWithoutItsLineEnd) {
  tool_result r = run("CALIBRATE\nA\nNew\n0\n5288\n5126\n5120\n3\n10");
  EXPECT_EQ(r.out, connected() + ">> " + menu(default_list) + add_prompts +
                       "Calibration menu 2 added.\n>> Exit.\n");
  std::string file = read_file(dir.file("veltrona_tool.conf"));
  EXPECT_TRUE(has_line(file, "cal[1].iStep = 10")) << file;
  EXPECT_TRUE(has_line(file, "cal[1].iState = 3")) << file;
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{});
}

TEST_F(ConsoleSession, ConfirmedDeleteIsSaved) {
  configure(definition(2, 1, "Third", 5303, 5126, 0, 3, 1));
  tool_result r = run("CALIBRATE\nD\n3\ny\nCALIBRATE\nq\n");
  EXPECT_EQ(r.out, connected() + ">> " + menu("1 : Filament Set\n3 : Third\n") +
                       "Enter calibration menu number to delete: "
                       "Delete calibration menu 3 [Third]? (y/n): Calibration menu 3 deleted.\n"
                       ">> " +
                       menu(default_list) + ">> Exit.\n");
  std::string file = read_file(dir.file("veltrona_tool.conf"));
  EXPECT_TRUE(has_line(file, "cal[2].use = 0")) << file;
  EXPECT_TRUE(has_line(file, "cal[2].sMsg = \"\"")) << file;
  r = run("CALIBRATE\nq\n");
  EXPECT_EQ(r.out, connected() + ">> " + menu(default_list) + ">> Exit.\n");
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{session_start_login()});
}

// A directory in place of the configuration file can't be saved to, whoever runs the test.
TEST_F(ConsoleSession, FailedSaveLeavesMenuAndFileAsBefore) {
  configure(definition(2, 1, "Third", 5303, 5126, 0, 3, 1));
  const std::string conf = dir.file("veltrona_tool.conf");
  const std::string kept = dir.file("kept.conf");
  const std::string before = read_file(conf);
  const std::string list = "1 : Filament Set\n3 : Third\n";

  tool_process tool;
  ASSERT_EQ(tool.start(dir.path()), 0) << tool.error();
  ASSERT_EQ(tool.wait_for_output(">> "), 0) << tool.out();
  ASSERT_EQ(rename(conf.c_str(), kept.c_str()), 0);
  ASSERT_EQ(mkdir(conf.c_str(), 0755), 0);
  ASSERT_EQ(tool.write_input("CALIBRATE\nA\nNew\n0\n5288\n5126\n5120\n3\n1\nCALIBRATE\nq\n"
                             "CALIBRATE\nD\n3\ny\nCALIBRATE\nV\n3\n"),
            0);
  tool.close_input();
  tool_result r = tool.finish();
  ASSERT_EQ(rmdir(conf.c_str()), 0) << "the tool left something in place of the file";
  ASSERT_EQ(rename(kept.c_str(), conf.c_str()), 0);

  EXPECT_EQ(r.status, 0);
  const std::string menu_out = menu(list);
  const std::string add_part = ">> " + menu_out + add_prompts;
  size_t at = r.out.find(add_part);
  ASSERT_NE(at, std::string::npos) << r.out;
  size_t failed = r.out.find("Error in saving config file.\n", at);
  ASSERT_NE(failed, std::string::npos) << r.out;
  size_t after = failed + std::string("Error in saving config file.\n").size();
  const std::string delete_part =
      ">> " + menu_out + ">> " + menu_out +
      "Enter calibration menu number to delete: Delete calibration menu 3 [Third]? (y/n): ";
  ASSERT_EQ(r.out.compare(after, delete_part.size(), delete_part), 0) << r.out.substr(after);
  size_t failed2 = r.out.find("Error in saving config file.\n", after);
  ASSERT_NE(failed2, std::string::npos) << r.out;
  EXPECT_TRUE(r.out.ends_with("Error in saving config file.\n>> " + menu_out +
                              "Enter calibration menu number to view: Description: Third\n"
                              "Type: 1 (0: Set, 1: Read)\nRegCal: 5303\nRegSet: 5126\n"
                              "RegRead: 0\nRequired State: 3\nDAC/ADC Step: 1\n>> Exit.\n"))
      << r.out;
  EXPECT_EQ(read_file(conf), before);

  r = run("CALIBRATE\nq\n");
  EXPECT_EQ(r.out, connected() + ">> " + menu_out + ">> Exit.\n");
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{session_start_login()});
}

TEST_F(ConsoleSession, FailedStateReadStartsNoSession) {
  ASSERT_EQ(sim.fail_reads(5480), 0);
  tool_result r = run("CALIBRATE\n1\nSET 1\n");
  EXPECT_EQ(without_poll_failures(r.out),
            connected() + ">> " + menu(default_list) +
                "calib_check_precondition: modbus_cmd_read error!\nModbus comm error!\n"
                ">> No calibration is selected! Select using CALIBRATE.\n>> Exit.\n");
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{});
}

TEST_F(ConsoleSession, QuitAfterAFailedBackupRestoresNothing) {
  apply({{5480, {3}}, {5288, empty_table()}});
  ASSERT_EQ(sim.fail_reads(5126, 2), 0);
  tool_result r = run("CALIBRATE\n1\nSET 7\nQ\n");
  EXPECT_EQ(r.out, connected() + ">> " + menu(default_list) +
                       "5453 is set to 5288\nError read.\nCalibration started.\n" + prompt(1) +
                       "Write 7.000000 to 5126.\n" + prompt(1) +
                       "No backup of reg 5126 to restore.\n>> Exit.\n");
  EXPECT_EQ(writes_after_login(),
            (std::vector<sim_write>{sequence_id_5288, {16, 5126, float_words(7.0f)}}));
}

TEST_F(ConsoleSession, SessionStartGoesOnAfterFailedWriteAndLoad) {
  apply({{5480, {3}}});
  ASSERT_EQ(sim.fail_writes(5453), 0);
  ASSERT_EQ(sim.fail_reads(5288, 15), 0);
  tool_result r = run("CALIBRATE\n1\nPRINT\n");
  EXPECT_EQ(r.out, connected() + ">> " + menu(default_list) +
                       "Error write.\nReg 5126 with value 6.3 V,A is backed up\n"
                       "Calibration started.\nError read.\n"
                       "Error in loading calibration data from device.\n" +
                       prompt(1) + "Error read.\n" + prompt(1) + "Exit.\n");
  // The refused write is in the device's log as well.
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{sequence_id_5288});
}

TEST_F(ConsoleSession, LinkFailuresInPointCaptureAndSend) {
  apply({{5480, {3}}, {5288, empty_table()}, {5519, float_words(1.0f)}});
  configure({"cal[0].iRegRead = 5519"});
  ASSERT_EQ(sim.fail_writes(5126, 2), 0);
  ASSERT_EQ(sim.fail_reads(5457), 0);
  ASSERT_EQ(sim.fail_reads(5519, 2), 0);
  ASSERT_EQ(sim.fail_writes(5288, 15), 0);
  tool_result r =
      run("CALIBRATE\n1\nSET 1\nDAC-ADC\nREAD\nACTUAL 2\nADD\ny\nEDIT 1 DAC 0\nEDIT 1 -i\nVrq\n"
          "SEND\ny\n");
  EXPECT_EQ(r.out,
            connected() + ">> " + menu(default_list) + filament_start + prompt(1) +
                "Error write.\n" + prompt(1) + "Error read.\n" + prompt(1) +
                "MB_FIL_VOLT_READ (5519, FLOAT)\nError read reg-5519.\n" + prompt(1) +
                "Actual(1) = 2.000000\n" + prompt(1) +
                "Set is empty. Do you want to continue? (y/n): Error read.\nAdded to point 1\n" +
                prompt(2) + prompt(2) +
                "Press V : increase ADC/DAC\n      v : decrease ADC/DAC\n"
                "    r/R : re-read calibration read register\n    q/Q : exit\n"
                "Point 1: 0, \nFail sending calibration!\nPoint 1: 1, \nPoint 1: 1, \n" +
                prompt(2) + prompt(2) + "0000 (0) 4000 (16384) 0001 (1), " + empty_word_listing +
                empty_word_listing + empty_word_listing + empty_word_listing + send_question +
                " --> NOK!!!\n" + prompt(1) + "Exit.\n");
  // The device log holds refused requests too.
  std::vector<uint16_t> sent = empty_table();
  sent[0] = 0x0000;
  sent[1] = 0x4000;
  sent[2] = 1;
  EXPECT_EQ(
      writes_after_login(),
      (std::vector<sim_write>{
          sequence_id_5288, {16, 5126, float_words(1.0f)}, {16, 5288, sent}, {16, 5288, sent}}));
}

// ---- Interactive mode on a terminal

bool key_mode(const termios& t) { return !(t.c_lflag & (ICANON | ECHO)) && (t.c_lflag & ISIG); }

TEST_F(ConsoleSession, TerminalIsRestoredAfterQAndAfterCtrlC) {
  apply({{5480, {3}}, {5288, empty_table()}});
  terminal_tool tool;
  // Plain line reading at the prompt: these cases watch the key mode of EDIT -i alone.
  ASSERT_EQ(tool.start(dir.path(), "", false, "dumb"), 0);
  ASSERT_NE(tool.wait_for(">> "), std::string::npos) << tool.out();
  const termios before = tool.attributes();
  ASSERT_TRUE(before.c_lflag & ICANON);
  ASSERT_TRUE(before.c_lflag & ECHO);
  // Types keys and waits until the output after them shows text.
  auto type_until = [&](const std::string& keys, const std::string& text) {
    size_t from = tool.mark();
    return tool.type(keys) == 0 && tool.wait_for(text, from) != std::string::npos;
  };

  ASSERT_TRUE(type_until("CALIBRATE\n", "Select by entering menu number or option: "))
      << tool.out();
  ASSERT_TRUE(type_until("1\n", "[Filament Set,1]>> ")) << tool.out();
  ASSERT_TRUE(type_until("EDIT 2 DAC 0\n", "[Filament Set,1]>> ")) << tool.out();
  ASSERT_TRUE(type_until("EDIT 2 -i\n", "Point 2: 0, \r\n")) << tool.out();
  ASSERT_TRUE(tool.wait_attributes(key_mode));
  ASSERT_TRUE(type_until("V", "Point 2: 1, \r\n")) << tool.out();
  ASSERT_TRUE(type_until("q", "[Filament Set,1]>> ")) << tool.out();
  termios after_q = tool.attributes();
  EXPECT_EQ(after_q.c_lflag, before.c_lflag);
  EXPECT_EQ(after_q.c_cc[VMIN], before.c_cc[VMIN]);
  EXPECT_EQ(after_q.c_cc[VTIME], before.c_cc[VTIME]);
  // Neither key was echoed.
  EXPECT_EQ(tool.out().find("Vq"), std::string::npos) << tool.out();

  ASSERT_TRUE(type_until("EDIT 2 -i\n", "Point 2: 1, \r\n")) << tool.out();
  ASSERT_TRUE(tool.wait_attributes(key_mode));
  ASSERT_TRUE(type_until("\x03", "Exit.\r\n")) << tool.out();  // Ctrl-C
  termios after_int = tool.attributes();
  EXPECT_EQ(after_int.c_lflag, before.c_lflag);
  EXPECT_EQ(after_int.c_cc[VMIN], before.c_cc[VMIN]);
  EXPECT_EQ(after_int.c_cc[VTIME], before.c_cc[VTIME]);
  EXPECT_EQ(tool.wait_exit(), 0);

  std::vector<uint16_t> one_write = empty_table();
  one_write[5] = 1;
  EXPECT_EQ(writes_after_login(),
            (std::vector<sim_write>{sequence_id_5288, {16, 5288, one_write}}));
}

}  // namespace
