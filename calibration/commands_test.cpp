// The calibration commands without a device: the link thread is not running, so every device
// request fails at once and the paths after a failed request can be checked.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "calibration/calibration.h"
#include "core/input.h"
#include "core/lifecycle.h"
#include "core/tool_config.h"
#include "registers/values.h"
#include "tests/stream_capture.h"

namespace {

std::string rest_of_stdin() {
  std::string text;
  char line[256];
  for (int n; (n = read_line_bytes(line, sizeof line)) > 0;) text.append(line, n);
  return text;
}

cal_definition filament_set() {
  cal_definition d = {};
  d.use = 1;
  snprintf(d.sMsg, sizeof(d.sMsg), "%s", "Filament Set");
  d.iRegCal = 5288;
  d.iRegSet = 5126;
  d.iState = 3;
  d.iStep = 16;
  return d;
}

// Each case runs in its own scratch directory (the menu saves veltrona_tool.conf there) with
// fresh definitions and session state.
class CalibrationCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vt_calib_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ASSERT_NE(getcwd(old_cwd_, sizeof(old_cwd_)), nullptr);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    memset(&tool_config, 0, sizeof(tool_config));
    memset(work_cal, 0, sizeof(work_cal));
    memset(&calib_session, 0, sizeof(calib_session));
    calib_console_start();
  }
  void TearDown() override {
    ASSERT_EQ(chdir(old_cwd_), 0);
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }

  void define(int slot, const cal_definition& d) {
    work_cal[slot] = d;
    tool_config.cal[slot] = d;
  }

  // A running session on slot 0 whose state check has passed.
  void run_session() {
    define(0, filament_set());
    calib_session.iActive = 1;
    calib_session.iSelected = 1;
    calib_session.iPrecondition = 0;
    calib_session.iCurStep = 16;
    for (calib_point& p : calib_session.points) calib_point_make_empty(&p);
    calib_point_make_empty(&calib_session.pending);
  }

  std::string dir_;
  char old_cwd_[4096];
};

std::string read_shortcut() {
  return run_handler([](const command_args&) { return calib_read_shortcut(); }, "");
}

TEST_F(CalibrationCommands, EditNormalModeValues) {
  struct example {
    const char* args;
    const char* out;
  };
  const example examples[] = {
      {"x", "Invalid point: x\n"},
      {"2x ACTUAL 1", "Invalid point: 2x\n"},
      {"6 ACTUAL 1", "Point out-of-range: 6\n"},
      {"0 ACTUAL 1", "Point out-of-range: 0\n"},
      {"2", "Missing parameter.\n"},
      {"1 SET 2", "Invalid parameter: SET\n"},
      {"1 dac", "Missing new value.\n"},
      {"1 ACTUAL 9.01x", "Invalid data: 9.01x\n"},
      {"1 DAC 10x", "Invalid data: 10x\n"},
  };
  for (const example& e : examples) {
    calib_point before = calib_session.points[0];
    EXPECT_EQ(run_handler(calib_edit, e.args), e.out) << e.args;
    EXPECT_EQ(memcmp(&before, &calib_session.points[0], sizeof(before)), 0) << e.args;
  }

  EXPECT_EQ(run_handler(calib_edit, "5 ACTUAL 9.01"), "");
  EXPECT_EQ(calib_session.points[4].fActual, 9.01f);
  EXPECT_EQ(run_handler(calib_edit, "5 DAC 0x3DF1"), "");
  EXPECT_EQ(calib_session.points[4].wDacAdc, 15857);
  EXPECT_EQ(run_handler(calib_edit, "5 ADC 70000"), "");
  EXPECT_EQ(calib_session.points[4].wDacAdc, 4464);
  EXPECT_EQ(run_handler(calib_edit, "5 adc 010"), "");  // a leading 0 is octal
  EXPECT_EQ(calib_session.points[4].wDacAdc, 8);
  EXPECT_EQ(run_handler(calib_edit, "1 Actuals 2.5"), "");
  EXPECT_EQ(calib_session.points[0].fActual, 2.5f);
}

TEST_F(CalibrationCommands, StepForms) {
  EXPECT_EQ(run_handler(calib_step, "0x20"), "");
  EXPECT_EQ(calib_session.iCurStep, 32);
  EXPECT_EQ(run_handler(calib_step, "10x"), "Invalid data: 10x\n");
  EXPECT_EQ(calib_session.iCurStep, 32);
  EXPECT_EQ(run_handler(calib_step, ""), "Step = 32\n");
  EXPECT_EQ(run_handler(calib_step, "70000"), "");
  EXPECT_EQ(calib_session.iCurStep, 4464);
}

TEST_F(CalibrationCommands, EveryPointCommandNeedsASession) {
  for (command_status (*handler)(const command_args&) :
       {cmd_cal_set, cmd_cal_actual, cmd_cal_dac_adc, cmd_cal_add, cmd_cal_del})
    EXPECT_EQ(run_handler(handler, "1"), "No calibration is selected! Select using CALIBRATE.\n");
  EXPECT_EQ(read_shortcut(), "No calibration is selected! Select using CALIBRATE.\n");
  EXPECT_EQ(run_handler([](const command_args&) { return calib_print_tables(); }, ""),
            "No calibration is selected! Select using CALIBRATE.\n");
  EXPECT_EQ(run_handler([](const command_args&) { return calib_send_to_device(true); }, ""),
            "No calibration is selected! Select using CALIBRATE.\n");
}

TEST_F(CalibrationCommands, StateGateRepeatsTheCheck) {
  run_session();
  calib_session.iPrecondition = -1;
  EXPECT_EQ(run_handler(cmd_cal_del, ""),
            "calib_check_precondition: modbus_cmd_read error!\n"
            "Change state using STATE 3 command.\n");
  EXPECT_EQ(calib_session.iPrecondition, -2);
  EXPECT_EQ(run_handler(cmd_cal_actual, "1"),
            "calib_check_precondition: modbus_cmd_read error!\n"
            "Change state using STATE 3 command.\n");
  EXPECT_TRUE(calib_float_is_empty(calib_session.pending.fActual));
}

TEST_F(CalibrationCommands, FloatArguments) {
  run_session();
  EXPECT_EQ(run_handler(cmd_cal_actual, ""), "Missing data.\n");
  EXPECT_EQ(run_handler(cmd_cal_actual, "9.01x"), "Invalid data float: 9.01x\n");
  EXPECT_TRUE(calib_float_is_empty(calib_session.pending.fActual));
  EXPECT_EQ(run_handler(cmd_cal_actual, "2.5 ignored"), "Actual(1) = 2.500000\n");
  EXPECT_EQ(calib_session.pending.fActual, 2.5f);
  // Without the device the write fails and the pending set stays empty.
  EXPECT_EQ(run_handler(cmd_cal_set, "12.5"), "Error write.\n");
  EXPECT_TRUE(calib_float_is_empty(calib_session.pending.fSet));
  EXPECT_EQ(run_handler(cmd_cal_dac_adc, ""), "Error read.\n");
}

TEST_F(CalibrationCommands, AddAsksAboutAnEmptySet) {
  run_session();
  calib_session.pending.fActual = 1.5f;
  feed_stdin("n\nx\ny\n");
  EXPECT_EQ(run_handler(cmd_cal_add, ""),
            "Set is empty. Do you want to continue? (y/n): Calibration point 1 not added.\n");
  EXPECT_EQ(run_handler(cmd_cal_add, ""),
            "Set is empty. Do you want to continue? (y/n): Error in getting answer.\n");
  // The count read fails: the pending count (empty) is stored.
  EXPECT_EQ(run_handler(cmd_cal_add, ""),
            "Set is empty. Do you want to continue? (y/n): Error read.\nAdded to point 1\n");
  EXPECT_EQ(calib_session.points[0].fActual, 1.5f);
  EXPECT_EQ(calib_session.points[0].wDacAdc, 0xFFFF);
  EXPECT_EQ(calib_session.iPoint, 1);
  EXPECT_TRUE(calib_float_is_empty(calib_session.pending.fActual));
}

TEST_F(CalibrationCommands, AddStopsAtAnIncompleteEntry) {
  run_session();
  calib_session.pending.fSet = 12.5f;
  EXPECT_EQ(run_handler(cmd_cal_add, ""), "Incomplete entry: set=0x41480000 actual=0xFFFFFFFF\n");
  calib_point_make_empty(&calib_session.pending);
  feed_stdin("y\n");
  EXPECT_EQ(run_handler(cmd_cal_add, ""),
            "Set is empty. Do you want to continue? (y/n): "
            "Incomplete entry: set=0xFFFFFFFF actual=0xFFFFFFFF\n");
  EXPECT_EQ(calib_session.iPoint, 0);
}

TEST_F(CalibrationCommands, EntryNumbers) {
  run_session();
  EXPECT_EQ(run_handler(cmd_cal_add, "0"), "Index out-of-range: 0\n");
  EXPECT_EQ(run_handler(cmd_cal_add, "6"), "Index out-of-range: 6\n");
  EXPECT_EQ(run_handler(cmd_cal_add, "x"), "Invalid index: x\n");
  EXPECT_EQ(run_handler(cmd_cal_del, "2x"), "Invalid index: 2x\n");
  EXPECT_EQ(calib_session.iPoint, 0);

  calib_session.pending = {1.0f, 2.0f, 7};
  EXPECT_EQ(run_handler(cmd_cal_add, "5"), "Error read.\nAdded to point 5\n");
  EXPECT_EQ(calib_session.points[4].wDacAdc, 7);
  EXPECT_EQ(calib_session.iPoint, 0);  // after point 5 comes point 1

  // An entry number moves the point even when ADD then stops.
  feed_stdin("n\n");
  EXPECT_EQ(run_handler(cmd_cal_add, "3"),
            "Set is empty. Do you want to continue? (y/n): Calibration point 3 not added.\n");
  EXPECT_EQ(calib_session.iPoint, 2);
}

TEST_F(CalibrationCommands, DelClearsTheCurrentPointOrTheNumberedOne) {
  run_session();
  calib_session.pending = {1.0f, 2.0f, 7};
  EXPECT_EQ(run_handler(cmd_cal_add, ""), "Error read.\nAdded to point 1\n");
  calib_session.points[1] = {3.0f, 4.0f, 8};
  calib_session.pending = {5.0f, 6.0f, 9};
  // The current point after the ADD is point 2.
  EXPECT_EQ(run_handler(cmd_cal_del, ""), "Removed from point 2\n");
  EXPECT_EQ(calib_session.iPoint, 1);
  EXPECT_EQ(calib_session.points[1].wDacAdc, 0xFFFF);
  EXPECT_TRUE(calib_float_is_empty(calib_session.pending.fSet));
  EXPECT_EQ(calib_session.points[0].wDacAdc, 7);
  EXPECT_EQ(run_handler(cmd_cal_del, "1"), "Removed from point 1\n");
  EXPECT_EQ(calib_session.iPoint, 0);
  EXPECT_TRUE(calib_float_is_empty(calib_session.points[0].fActual));
}

TEST_F(CalibrationCommands, ReadShortcutWithoutReadRegister) {
  run_session();
  EXPECT_EQ(read_shortcut(), "Read Reg (0) is not used.\n");
  work_cal[0].iRegRead = 5119;
  EXPECT_EQ(read_shortcut(), "Read Reg (5119) is not used.\n");
  work_cal[0].iRegRead = 5126;
  EXPECT_EQ(read_shortcut(), "MB_FIL_SET (5126, FLOAT)\nError read reg-5126.\n");
}

TEST_F(CalibrationCommands, InteractiveModeOnPipedBytesWithoutSession) {
  calib_session.iCurStep = 16;
  calib_session.points[1].wDacAdc = 5;
  feed_stdin("Vvvxrq\nrest\n");
  const char* no_session = "No calibration is selected! Select using CALIBRATE.\n";
  EXPECT_EQ(run_handler(calib_edit, "2 -i"),
            std::string("Press V : increase ADC/DAC\n"
                        "      v : decrease ADC/DAC\n"
                        "    r/R : re-read calibration read register\n"
                        "    q/Q : exit\n"
                        "Point 2: 5, \n") +
                no_session + "Point 2: 21, \n" + no_session + "Point 2: 5, \n" +
                "Point 2: 5 (lower limit), \n" + "Point 2: 5, \n");
  EXPECT_EQ(calib_session.points[1].wDacAdc, 5);
  EXPECT_EQ(rest_of_stdin(), "\nrest\n");
}

TEST_F(CalibrationCommands, InteractiveModeEndsAtEndOfInput) {
  calib_session.iCurStep = 0x10010;  // only the low 16 bits count
  calib_session.points[0].wDacAdc = 1;
  feed_stdin("V");
  std::string out = run_handler(calib_edit, "1 -I");
  EXPECT_NE(out.find("Point 1: 17, \n"), std::string::npos) << out;
  EXPECT_EQ(calib_session.points[0].wDacAdc, 17);
  EXPECT_TRUE(input_ready());  // at end of input
}

TEST_F(CalibrationCommands, PrintAndSendFailWithoutDevice) {
  run_session();
  EXPECT_EQ(run_handler([](const command_args&) { return calib_print_tables(); }, ""),
            "Error read.\n");
  feed_stdin("n\ny\n");
  std::string listing;
  for (int k = 0; k < 5; k++) listing += "FFFF (65535) FFFF (65535) FFFF (65535), ";
  calib_session.iPoint = 3;
  EXPECT_EQ(run_handler([](const command_args&) { return calib_send_to_device(true); }, ""),
            listing + " send? (y=send, other-key=cancel) not sent.\n");
  EXPECT_EQ(calib_session.iPoint, 3);
  EXPECT_EQ(run_handler([](const command_args&) { return calib_send_to_device(true); }, ""),
            listing + " send? (y=send, other-key=cancel)  --> NOK!!!\n");
  EXPECT_EQ(calib_session.iPoint, 0);
  EXPECT_EQ(run_handler([](const command_args&) { return calib_send_to_device(false); }, ""),
            "Fail sending calibration!\n");
}

TEST_F(CalibrationCommands, SendListsTheWordsOfEachLayout) {
  run_session();
  calib_session.points[0] = {0.0f, 1.5f, 100};
  feed_stdin("n\nn\n");
  std::string out = run_handler([](const command_args&) { return calib_send_to_device(true); }, "");
  EXPECT_EQ(out.rfind("0000 (0) 3FC0 (16320) 0064 (100), FFFF (65535) ", 0), 0u) << out;
  work_cal[0].iType = 1;
  out = run_handler([](const command_args&) { return calib_send_to_device(true); }, "");
  EXPECT_EQ(out.rfind("0064 (100) 0000 (0) 3FC0 (16320), FFFF (65535) ", 0), 0u) << out;
}

TEST_F(CalibrationCommands, ResetKeepsPointsAndStep) {
  run_session();
  calib_session.points[2].wDacAdc = 42;
  calib_session.fBackup = 6.3f;
  calib_session.iBackedUp = 1;
  calib_session.iPoint = 4;
  calib_reset_session();
  EXPECT_EQ(calib_session.iActive, 0);
  EXPECT_EQ(calib_session.iSelected, 0);
  EXPECT_EQ(calib_session.iPrecondition, -1);
  EXPECT_EQ(calib_session.iPoint, 0);
  EXPECT_EQ(calib_session.fBackup, 0.0f);
  EXPECT_EQ(calib_session.iBackedUp, 0);
  EXPECT_EQ(calib_session.points[2].wDacAdc, 42);
  EXPECT_EQ(calib_session.iCurStep, 16);
}

TEST_F(CalibrationCommands, QuitWithoutBackupRestoresNothing) {
  run_session();
  EXPECT_EQ(run_handler([](const command_args&) { return calib_end_session(); }, ""),
            "No backup of reg 5126 to restore.\n");
  EXPECT_EQ(calib_session.iActive, 0);
}

TEST_F(CalibrationCommands, QuitWithBackupAndFailedRead) {
  run_session();
  calib_session.iBackedUp = 1;
  calib_session.fBackup = 6.3f;
  EXPECT_EQ(run_handler([](const command_args&) { return calib_end_session(); }, ""),
            "Error read.\n");
  EXPECT_EQ(calib_session.iActive, 0);
}

const char* const menu_head = "Calibration menu:\n";
const char* const menu_tail =
    "Press D to delete calibration\n"
    "Press A to add new calibration\n"
    "Press V to add view calibration setting\n"
    "Press Q to exit\n"
    "Select by entering menu number or option: ";

std::string menu(const std::string& answers) {
  feed_stdin(answers);
  return run_handler(calib_menu, "ignored tokens");
}

TEST_F(CalibrationCommands, MenuListsUsedSlotsWithGaps) {
  define(0, filament_set());
  cal_definition third = filament_set();
  snprintf(third.sMsg, sizeof(third.sMsg), "%s", "Third");
  define(2, third);
  EXPECT_EQ(menu("q\n"), std::string(menu_head) + "1 : Filament Set\n3 : Third\n" + menu_tail);
}

TEST_F(CalibrationCommands, MenuAnswerRules) {
  define(0, filament_set());
  define(4, filament_set());
  std::string head = std::string(menu_head) + "1 : Filament Set\n5 : Filament Set\n" + menu_tail;
  struct example {
    const char* answer;
    const char* out;
  };
  const example examples[] = {
      {"add\n", "Invalid selection!\n"},
      {"Q1\n", "Invalid selection!\n"},
      {"\n", "Invalid selection!\n"},
      {"17\n", "Invalid selection!\n"},
      {"0\n", "Invalid selection!\n"},
      {"-1\n", "Invalid selection!\n"},
      {"2\n", "Calibration menu 2 is not used!\n"},
      {" +2\r\n", "Calibration menu 2 is not used!\n"},
      // No device: the state read fails and no session starts.
      {"5x\n", "calib_check_precondition: modbus_cmd_read error!\nModbus comm error!\n"},
      {"Q\n", ""},
      {"q\n", ""},
  };
  for (const example& e : examples) {
    EXPECT_EQ(menu(e.answer), head + e.out) << e.answer;
    EXPECT_EQ(calib_session.iActive, 0);
  }
  // End of input at the description ("Error reading answer." goes to stderr).
  EXPECT_EQ(menu("a\n"), head + "Message/Description: Error in getting message.\n");
  EXPECT_EQ(menu("A\nx\n"),
            head + "Message/Description: Type (0:SET, 1:READ): " + "Error in getting type.\n");
}

TEST_F(CalibrationCommands, MenuAtEndOfInput) {
  EXPECT_EQ(menu(""), std::string(menu_head) + menu_tail + "Error in getting answer!");
}

TEST_F(CalibrationCommands, ViewAndDeleteOfAFreeNumber) {
  EXPECT_EQ(menu("v\n3\n"), std::string(menu_head) + menu_tail +
                                "Enter calibration menu number to view: "
                                "Calibration item 2 is not used.\n");
  EXPECT_EQ(calib_session.iSelected, 3);
  EXPECT_EQ(menu("d\n3\n"), std::string(menu_head) + menu_tail +
                                "Enter calibration menu number to delete: "
                                "Calibration menu 3 is not used!\n");
  EXPECT_EQ(menu("V\n17\n"), std::string(menu_head) + menu_tail +
                                 "Enter calibration menu number to view: "
                                 "Out of range: 17.\nError in getting menu number.\n");
}

TEST_F(CalibrationCommands, ViewShowsTheConfigurationRecord) {
  cal_definition d = filament_set();
  d.iRegRead = 5300;
  define(0, d);
  EXPECT_EQ(menu("V\n1\n"), std::string(menu_head) + "1 : Filament Set\n" + menu_tail +
                                "Enter calibration menu number to view: "
                                "Description: Filament Set\n"
                                "Type: 0 (0: Set, 1: Read)\n"
                                "RegCal: 5288\n"
                                "RegSet: 5126\n"
                                "RegRead: 5300\n"
                                "Required State: 3\n"
                                "DAC/ADC Step: 16\n");
}

const char* const add_prompts[] = {
    "Message/Description: ",
    "Type (0:SET, 1:READ): ",
    "Calibration register (integer): ",
    "Pairing set register (integer): ",
    "Read register (integer): ",
    "Required state (0:OFF, ..., 9:TRIG): ",
    "DAC/ADC Step for interactive mode (integer): ",
};

std::string prompts(int count) {
  std::string text;
  for (int i = 0; i < count; i++) text += add_prompts[i];
  return text;
}

TEST_F(CalibrationCommands, AddUsesTheLowestFreeSlotAndSaves) {
  define(0, filament_set());
  define(2, filament_set());
  std::string head = std::string(menu_head) + "1 : Filament Set\n3 : Filament Set\n" + menu_tail;
  // The description keeps 31 characters; the rest of its line is not the next answer.
  EXPECT_EQ(menu("A\n0123456789012345678901234567890123456789\n1\n5303\n5126\n6200\n9\n"
                 "65535\n"),
            head + prompts(7) + "Calibration menu 2 added.\n");
  EXPECT_EQ(work_cal[1].use, 1);
  EXPECT_STREQ(work_cal[1].sMsg, "0123456789012345678901234567890");
  EXPECT_EQ(work_cal[1].iType, 1);
  EXPECT_EQ(work_cal[1].iRegCal, 5303);
  EXPECT_EQ(work_cal[1].iRegSet, 5126);
  EXPECT_EQ(work_cal[1].iRegRead, 6200);
  EXPECT_EQ(work_cal[1].iState, 9);
  EXPECT_EQ(work_cal[1].iStep, 65535);
  EXPECT_EQ(memcmp(&work_cal[1], &tool_config.cal[1], sizeof(cal_definition)), 0);

  FILE* f = fopen("veltrona_tool.conf", "r");
  ASSERT_NE(f, nullptr);
  std::string file;
  for (int c; (c = getc(f)) != EOF;) file += static_cast<char>(c);
  fclose(f);
  EXPECT_NE(file.find("cal[1].iRegCal"), std::string::npos) << file;
  EXPECT_NE(file.find("\"0123456789012345678901234567890\""), std::string::npos) << file;
}

TEST_F(CalibrationCommands, AddRangeLimits) {
  struct example {
    const char* answers;
    int answered;
    const char* out;
  };
  const example examples[] = {
      {"d\n\n\n", 3, "Out of range: 0.\nError in getting cal register.\n"},
      {"d\n0\n5119\n", 3, "Out of range: 5119.\nError in getting cal register.\n"},
      {"d\n2\n", 2, "Out of range: 2.\nError in getting type.\n"},
      {"d\n0\n5120\n6201\n", 4, "Out of range: 6201.\nError in getting set register.\n"},
      {"d\n0\n5120\n5120\n5x\n", 5, "Invalid: 5x.\nError in getting read register.\n"},
      {"d\n0\n5120\n5120\n5120\n10\n", 6, "Out of range: 10.\nError in getting state.\n"},
      {"d\n0\n5120\n5120\n5120\n0\n65536\n", 7, "Out of range: 65536.\nError in getting step.\n"},
      {"d\n0\n5120\n5120\n5120\n0\n", 7, "Error in getting step.\n"},
  };
  for (const example& e : examples) {
    EXPECT_EQ(menu(std::string("a\n") + e.answers),
              std::string(menu_head) + menu_tail + prompts(e.answered) + e.out)
        << e.answers;
    EXPECT_EQ(work_cal[0].use, 0);
    EXPECT_EQ(tool_config.cal[0].use, 0);
  }
  EXPECT_NE(access("veltrona_tool.conf", F_OK), 0);
}

TEST_F(CalibrationCommands, FailedSaveUndoesAddAndDelete) {
  ASSERT_EQ(mkdir("veltrona_tool.conf", 0755), 0);  // a directory can't be saved to
  define(0, filament_set());
  std::string head = std::string(menu_head) + "1 : Filament Set\n" + menu_tail;
  // The settings library may add its own line about the file before the menu's message.
  std::string out = menu("a\nNew\n0\n5288\n5126\n5120\n3\n1\n");
  EXPECT_EQ(out.rfind(head + prompts(7), 0), 0u) << out;
  EXPECT_TRUE(out.ends_with("\nError in saving config file.\n")) << out;
  EXPECT_EQ(work_cal[1].use, 0);
  EXPECT_EQ(tool_config.cal[1].use, 0);
  EXPECT_EQ(menu("q\n"), head);

  out = menu("d\n1\ny\n");
  EXPECT_EQ(out.rfind(head + "Enter calibration menu number to delete: "
                             "Delete calibration menu 1 [Filament Set]? (y/n): ",
                      0),
            0u)
      << out;
  EXPECT_TRUE(out.ends_with("Error in saving config file.\n")) << out;
  EXPECT_EQ(work_cal[0].use, 1);
  cal_definition d = filament_set();
  EXPECT_EQ(memcmp(&tool_config.cal[0], &d, sizeof(d)), 0);
  EXPECT_EQ(menu("q\n"), head);
}

TEST_F(CalibrationCommands, DeleteConfirmation) {
  define(0, filament_set());
  std::string head = std::string(menu_head) + "1 : Filament Set\n" + menu_tail;
  std::string ask =
      "Enter calibration menu number to delete: Delete calibration menu 1 [Filament Set]? (y/n): ";
  EXPECT_EQ(menu("D\n1\nx\n"), head + ask + "Error in getting answer.\n");
  EXPECT_EQ(menu("D\n1\nno\n"), head + ask + "Calibration menu 1 not deleted.\n");
  EXPECT_EQ(work_cal[0].use, 1);
  EXPECT_EQ(menu("D\n1\nY\n"), head + ask + "Calibration menu 1 deleted.\n");
  EXPECT_EQ(work_cal[0].use, 0);
  EXPECT_EQ(tool_config.cal[0].use, 0);
  EXPECT_STREQ(tool_config.cal[0].sMsg, "");
  EXPECT_EQ(menu("q\n"), std::string(menu_head) + menu_tail);
}

TEST_F(CalibrationCommands, CalibrateEndsARunningSessionWithoutAsking) {
  run_session();
  calib_session.iBackedUp = 1;
  EXPECT_EQ(menu("q\n"), std::string(menu_head) + "1 : Filament Set\n" + menu_tail);
  EXPECT_EQ(calib_session.iActive, 0);
  EXPECT_EQ(calib_session.iSelected, 0);
  EXPECT_EQ(calib_session.iBackedUp, 0);
}

}  // namespace
