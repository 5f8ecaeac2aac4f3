// CALIBRATE: the menu of calibration definitions. Lists the working table, adds, views and
// deletes definitions (saving the configuration file after each change, undoing the change
// in memory when the save fails) and starts a session on the chosen definition.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "calibration/calibration.h"
#include "core/input.h"
#include "core/lifecycle.h"
#include "core/shared_messages.h"
#include "core/tool_config.h"
#include "registers/values.h"

namespace {

// Answer line of the menu prompt: up to 255 characters.
constexpr int MENU_ANSWER_SIZE = 256;

void clear_definition(cal_definition* def) { memset(def, 0, sizeof(*def)); }

// The addresses a definition's registers may have: from the first register of the map to a
// round bound above its last. Whether the catalogue knows the register is checked when a session
// starts.
constexpr int32_t CAL_REG_LOWEST = 5120;
constexpr int32_t CAL_REG_HIGHEST = 6200;

// An integer answer to one question; prints the failure message when the answer fails.
struct int_question {
  const char* prompt;
  int32_t cal_definition::*field;
  int32_t lowest;
  int32_t highest;
  const char* failure;
};

const int_question add_questions[] = {
    {"Type (0:SET, 1:READ): ", &cal_definition::iType, 0, 1, "Error in getting type."},
    {"Calibration register (integer): ", &cal_definition::iRegCal, CAL_REG_LOWEST, CAL_REG_HIGHEST,
     "Error in getting cal register."},
    {"Pairing set register (integer): ", &cal_definition::iRegSet, CAL_REG_LOWEST, CAL_REG_HIGHEST,
     "Error in getting set register."},
    {"Read register (integer): ", &cal_definition::iRegRead, CAL_REG_LOWEST, CAL_REG_HIGHEST,
     "Error in getting read register."},
    {"Required state (0:OFF, ..., 9:TRIG): ", &cal_definition::iState, 0, 9,
     "Error in getting state."},
    {"DAC/ADC Step for interactive mode (integer): ", &cal_definition::iStep, 0, 65535,
     "Error in getting step."},
};

// The description keeps its first 31 characters; the rest of an over-long line is discarded
// rather than read as the next answer.
int ask_description(cal_definition* def) {
  printf("Message/Description: ");
  fflush(stdout);
  char line[sizeof(def->sMsg)];
  if (read_answer_line(line, sizeof(line)) < 0) {
    def->sMsg[0] = '\0';
    msg_answer_read_error();
    printf("Error in getting message.\n");
    return -1;
  }
  cut_at_line_end(line);
  snprintf(def->sMsg, sizeof(def->sMsg), "%s", line);
  return 0;
}

command_status add_definition() {
  int slot = -1;
  for (int i = 0; i < CAL_DEFINITIONS && slot < 0; i++)
    if (!work_cal[i].use) slot = i;
  if (slot < 0) {
    printf("No more calibration menu available.\n");
    return CMD_FAILED;
  }
  cal_definition& def = work_cal[slot];
  clear_definition(&def);
  if (ask_description(&def) < 0) return CMD_FAILED;
  for (const int_question& q : add_questions) {
    printf("%s", q.prompt);
    fflush(stdout);
    if (read_int_in_range(&(def.*q.field), q.lowest, q.highest) < 0) {
      printf("%s\n", q.failure);
      return CMD_FAILED;
    }
  }

  cal_definition before = tool_config.cal[slot];
  tool_config.cal[slot] = def;
  tool_config.cal[slot].use = 1;
  if (tool_config_save() < 0) {
    msg_save_failed();
    tool_config.cal[slot] = before;
    def.use = 0;
    return CMD_FAILED;
  }
  def.use = 1;
  printf("Calibration menu %d added.\n", slot + 1);
  return CMD_OK;
}

// Reads a menu number 1 to 16 for View and Delete and stores it as the selected number.
int ask_menu_number(const char* prompt, int* n) {
  printf("%s", prompt);
  fflush(stdout);
  int32_t value = 0;
  if (read_int_in_range(&value, 1, CAL_DEFINITIONS) < 0) {
    printf("Error in getting menu number.\n");
    return -1;
  }
  calib_session.iSelected = value;
  *n = value;
  return 0;
}

command_status view_definition() {
  int n = 0;
  if (ask_menu_number("Enter calibration menu number to view: ", &n) < 0) return CMD_FAILED;
  const cal_definition& def = tool_config.cal[n - 1];
  if (!def.use) {
    printf("Calibration item %d is not used.\n", n - 1);
    return CMD_FAILED;
  }
  printf("Description: %s\n", def.sMsg);
  printf("Type: %d (0: Set, 1: Read)\n", def.iType);
  printf("RegCal: %d\n", def.iRegCal);
  printf("RegSet: %d\n", def.iRegSet);
  printf("RegRead: %d\n", def.iRegRead);
  printf("Required State: %d\n", def.iState);
  printf("DAC/ADC Step: %d\n", def.iStep);
  return CMD_OK;
}

command_status delete_definition() {
  int n = 0;
  if (ask_menu_number("Enter calibration menu number to delete: ", &n) < 0) return CMD_FAILED;
  cal_definition& def = work_cal[n - 1];
  if (!def.use) {
    printf("Calibration menu %d is not used!\n", n);
    return CMD_FAILED;
  }
  char question[128];
  snprintf(question, sizeof question, "Delete calibration menu %d [%s]? (y/n): ", n, def.sMsg);
  yes_no_answer answer = ask_yes_no(question, 1, OTHER_IS_NONE);
  if (answer == ANSWER_NONE || answer == ANSWER_STOPPED) {
    msg_answer_failed();
    return CMD_FAILED;
  }
  if (answer == ANSWER_NO) {
    printf("Calibration menu %d not deleted.\n", n);
    return CMD_DECLINED;
  }
  cal_definition before = tool_config.cal[n - 1];
  clear_definition(&tool_config.cal[n - 1]);
  if (tool_config_save() < 0) {
    msg_save_failed();
    tool_config.cal[n - 1] = before;
    return CMD_FAILED;
  }
  printf("Calibration menu %d deleted.\n", n);
  clear_definition(&def);
  return CMD_OK;
}

// Any answer that is not a single option letter selects by its leading decimal number
// (leading blanks and a sign accepted; no digits gives 0).
command_status select_definition(const char* answer) {
  long n = strtol(answer, nullptr, 10);
  if (n < 1 || n > CAL_DEFINITIONS) {
    printf("Invalid selection!\n");
    return CMD_FAILED;
  }
  if (!work_cal[n - 1].use) {
    printf("Calibration menu %ld is not used!\n", n);
    return CMD_FAILED;
  }
  calib_session.iSelected = static_cast<int>(n);
  return calib_start_session(static_cast<int>(n)) < 0 ? CMD_FAILED : CMD_OK;
}

}  // namespace

command_status calib_menu(const command_args&) {
  calib_reset_session();
  printf("Calibration menu:\n");
  for (int i = 0; i < CAL_DEFINITIONS; i++)
    if (work_cal[i].use) printf("%d : %s\n", i + 1, work_cal[i].sMsg);
  printf("Press D to delete calibration\n");
  printf("Press A to add new calibration\n");
  printf("Press V to add view calibration setting\n");
  printf("Press Q to exit\n");
  printf("Select by entering menu number or option: ");
  fflush(stdout);

  char answer[MENU_ANSWER_SIZE];
  if (read_answer_line(answer, sizeof(answer)) < 0) {
    msg_answer_read_error();
    printf("Error in getting answer!");
    fflush(stdout);
    return CMD_FAILED;
  }
  cut_at_line_end(answer);
  if (strlen(answer) == 1) {
    switch (answer[0]) {
      case 'Q':
      case 'q':
        return CMD_OK;
      case 'D':
      case 'd':
        return delete_definition();
      case 'A':
      case 'a':
        return add_definition();
      case 'V':
      case 'v':
        return view_definition();
      default:
        break;
    }
  }
  return select_definition(answer);
}

command_status cmd_calibrate(const command_args& args) { return calib_menu(args); }
