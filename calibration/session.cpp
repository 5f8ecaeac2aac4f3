// The calibration session: start (state check, sequence register, backup of the set
// register, device table), end with the restore question, and reset.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "calibration/calibration.h"
#include "calibration/calibration_history.h"
#include "core/input.h"
#include "core/lifecycle.h"
#include "core/shared_messages.h"
#include "link/link.h"
#include "registers/catalogue.h"
#include "registers/values.h"

// Console thread only.
calib_session_t calib_session;

namespace {

// Unit of a register for messages; an address outside the catalogue has none.
const char* unit_of(int address) {
  int index = reg_find_by_address(address);
  return index < 0 ? "" : modbus_reg_table[index].unit;
}

// The set register is handled as a float whatever its catalogue type.
int read_float(int address, float* value) {
  uint16_t words[2];
  if (modbus_cmd_read(static_cast<uint16_t>(address), 2, words) < 0) return -1;
  *value = bits_to_float(join_words(words));
  return 0;
}

int write_float(int address, float value) {
  uint16_t words[2];
  split_words(float_to_bits(value), words);
  return modbus_cmd_write(static_cast<uint16_t>(address), 2, words) < 0 ? -1 : 0;
}

}  // namespace

void calib_console_start() {
  calib_session.iSelected = 0;
  calib_session.iPrecondition = -1;
}

cal_definition* calib_selected_definition() {
  int n = calib_session.iSelected;
  if (n < 1 || n > CAL_DEFINITIONS) return nullptr;
  return &work_cal[n - 1];
}

bool calib_session_running() {
  return calib_session.iActive && calib_selected_definition() != nullptr;
}

bool calib_session_gate() {
  if (calib_session_running()) return true;
  printf("No calibration is selected! Select using CALIBRATE.\n");
  return false;
}

int calib_check_precondition() {
  const cal_definition* def = calib_selected_definition();
  if (def == nullptr) return calib_session.iPrecondition = -1;
  uint16_t state = 0;
  if (modbus_cmd_read(MB_STATE_READ_ADDR, 1, &state) < 0) {
    printf("calib_check_precondition: modbus_cmd_read error!\n");
    calib_session.iPrecondition = -2;
  } else if (state != def->iState) {
    printf("Precondition: Current state is %d, required is %d.\n", state, def->iState);
    calib_session.iPrecondition = -1;
  } else {
    calib_session.iPrecondition = 0;
  }
  return calib_session.iPrecondition;
}

int calib_load_from_device() {
  const cal_definition* def = calib_selected_definition();
  if (def == nullptr) return -1;
  int index = reg_find_by_address(def->iRegCal);
  if (index < 0) {
    printf("calib_load_from_device: reg_cal (%d) not found in modbus_reg_table.\n", def->iRegCal);
    msg_calib_load_failed();
    return -1;
  }
  uint16_t words[CALIB_TABLE_WORDS];
  if (modbus_cmd_read(static_cast<uint16_t>(def->iRegCal), CALIB_TABLE_WORDS, words) < 0) {
    msg_error_read();
    msg_calib_load_failed();
    return -1;
  }
  // The layout follows what the catalogue says the register is, not the definition's type.
  int32_t type = modbus_reg_table[index].type;
  if (type == SET_CALIB) {
    calib_table_decode(words, CALIB_LAYOUT_SET, calib_session.points);
  } else if (type == READ_CALIB) {
    calib_table_decode(words, CALIB_LAYOUT_READ, calib_session.points);
  } else {
    printf("calib_load_from_device: reg_cal (%d) type (%d) not supported.\n", def->iRegCal, type);
    msg_calib_load_failed();
    return -1;
  }
  calib_history_note_found(words, calib_session.points);
  return 0;
}

int calib_start_session(int n) {
  calib_session.iSelected = n;
  const cal_definition* def = calib_selected_definition();
  if (def == nullptr) return -1;

  // A wrong state still starts the session; point capture waits until the state matches.
  if (calib_check_precondition() == -2) {
    printf("Modbus comm error!\n");
    return -1;
  }

  int rc = 0;
  uint16_t sequence_id = static_cast<uint16_t>(def->iRegCal);
  if (modbus_cmd_write(MB_CALIB_SEQUENCE_ID_ADDR, 1, &sequence_id) < 0) {
    msg_error_write();
    rc = -1;
  } else {
    printf("%d is set to %d\n", MB_CALIB_SEQUENCE_ID_ADDR, sequence_id);
  }

  float backup = 0;
  if (read_float(def->iRegSet, &backup) < 0) {
    msg_error_read();
    rc = -1;
    calib_session.fBackup = 0;
    calib_session.iBackedUp = 0;
  } else {
    calib_session.fBackup = backup;
    calib_session.iBackedUp = 1;
    printf("Reg %d with value %g %s is backed up\n", def->iRegSet, backup, unit_of(def->iRegSet));
  }

  calib_session.iActive = 1;
  calib_session.iPoint = 0;
  calib_session.iSetWritten = 0;
  for (calib_point& point : calib_session.points) calib_point_make_empty(&point);
  calib_point_make_empty(&calib_session.pending);
  printf("Calibration started.\n");

  calib_history_forget_found();
  if (calib_load_from_device() < 0) rc = -1;
  calib_session.iCurStep = def->iStep;
  return rc;
}

void calib_reset_session() {
  calib_session.iActive = 0;
  calib_session.iSelected = 0;
  calib_session.iPrecondition = -1;
  calib_session.iPoint = 0;
  calib_session.fBackup = 0;
  calib_session.iBackedUp = 0;
  calib_session.iSetWritten = 0;
}

void calib_say_left_behind() {
  const cal_definition* def = calib_selected_definition();
  if (!calib_session_running() || !calib_session.iBackedUp || !calib_session.iSetWritten) return;
  float left = calib_session.fLeft;
  float backup = calib_session.fBackup;
  if (std::fabs(backup - left) < 1e-7f) return;
  const char* unit = unit_of(def->iRegSet);
  fprintf(stderr, "Set register %d left at %g %s; backed-up value %g %s not restored.\n",
          def->iRegSet, left, unit, backup, unit);
}

command_status calib_end_session() {
  const cal_definition* def = calib_selected_definition();
  if (def == nullptr) {
    calib_reset_session();
    return CMD_OK;
  }
  // Without a backup there is nothing to put back; offering to "restore" a value that was
  // never read from the device could drive the set register to 0.
  if (!calib_session.iBackedUp) {
    printf("No backup of reg %d to restore.\n", def->iRegSet);
    calib_reset_session();
    return CMD_OK;
  }
  float now = 0;
  if (read_float(def->iRegSet, &now) < 0) {
    msg_error_read();
    calib_reset_session();
    return CMD_FAILED;
  }
  command_status status = CMD_OK;
  float backup = calib_session.fBackup;
  // A NaN on either side fails the comparison and so counts as a change.
  if (!(std::fabs(backup - now) < 1e-7f)) {
    const char* unit = unit_of(def->iRegSet);
    char question[160];
    snprintf(question, sizeof question, "Restore reg %d value from %g %s to %g %s? (y/n) ",
             def->iRegSet, now, unit, backup, unit);
    yes_no_answer answer = ask_yes_no(question, 1, OTHER_IS_NO);
    if (answer == ANSWER_YES) {
      if (write_float(def->iRegSet, backup) < 0) {
        msg_error_write();
        status = CMD_FAILED;
      } else {
        printf("Restored.\n");
      }
    } else {
      msg_restore_cancelled();
      status = answer == ANSWER_NO ? CMD_DECLINED : CMD_FAILED;
      // No answer came (end of input, Ctrl-C): the operator did not choose to keep the value
      // either, so the end says what is left, as a session ended without Q does.
      if (answer != ANSWER_NO) calib_say_left_behind();
    }
  }
  calib_reset_session();
  return status;
}
