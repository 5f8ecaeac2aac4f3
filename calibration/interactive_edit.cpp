#include "calibration/interactive_edit.h"

#include <cstdint>
#include <cstdio>

#include "calibration/calibration.h"
#include "calibration/calibration_history.h"
#include "calibration/table_layout.h"
#include "core/input.h"
#include "link/link.h"
#include "registers/catalogue.h"
#include "registers/values.h"

namespace {

// The read register shown with the point: the selected definition's, when it is in the
// catalogue.
const modbus_reg_entry* read_register_row() {
  const cal_definition* def = calib_selected_definition();
  if (def == nullptr || def->iRegRead == 0) return nullptr;
  int index = reg_find_by_address(def->iRegRead);
  return index < 0 ? nullptr : &modbus_reg_table[index];
}

// Why a step from `count` up or down is refused, or nullptr when it may be taken. The count drives
// a DAC or reads an ADC of the high-voltage supply: it never wraps (from near zero to near full
// scale in one key), and it never becomes or leaves the empty marker, which no device count is.
const char* step_refusal(uint16_t count, bool up) {
  const int step = calib_session.iCurStep & 0xFFFF;
  if (count == CALIB_EMPTY_WORD) return "empty";
  if (up && count + step > CALIB_EMPTY_WORD - 1) return "upper limit";
  if (!up && count - step < 0) return "lower limit";
  return nullptr;
}

// One point line: "Point <entry>: <count>, " and the value of the read register (reg_read 0:
// none; row is its catalogue row). A note, when given, follows the count in brackets:
// "Point <entry>: <count> (<note>), ".
void calib_print_point(int entry, int reg_read, const modbus_reg_entry* row,
                       const char* note = nullptr) {
  if (note == nullptr) {
    printf("Point %d: %d, ", entry, calib_session.points[entry - 1].wDacAdc);
  } else {
    printf("Point %d: %d (%s), ", entry, calib_session.points[entry - 1].wDacAdc, note);
  }
  uint16_t words[2];
  if (reg_read == 0 || row == nullptr ||
      modbus_cmd_read(static_cast<uint16_t>(reg_read), 2, words) < 0) {
    printf("\n");
  } else {
    print_value_by_type(row, words, 2);
  }
  fflush(stdout);
}

}  // namespace

command_status calib_interactive_edit(int entry, command_status (*send_table)(bool confirm)) {
  printf("Press %c : increase ADC/DAC\n", 'V');
  printf("      %c : decrease ADC/DAC\n", 'v');
  printf("    r/R : re-read calibration read register\n");
  printf("    q/Q : exit\n");

  const modbus_reg_entry* row = read_register_row();
  int reg_read = row ? row->address : 0;
  calib_point& point = calib_session.points[entry - 1];
  calib_print_point(entry, reg_read, row);

  command_status status = CMD_OK;
  key_mode mode;
  for (;;) {
    // Ctrl-C ends the read at once (LINE_INTERRUPTED), also after a send the stop cut short.
    int c = read_key_byte(&mode);
    // Back from Ctrl-Z: the shell's lines stand below the point line.
    if (c == LINE_CONTINUED) {
      calib_print_point(entry, reg_read, row);
      continue;
    }
    if (c < 0) break;
    if (c == 'q' || c == 'Q') break;
    if (c == 'r' || c == 'R') {
      calib_print_point(entry, reg_read, row);
    } else if (c == 'V' || c == 'v') {
      const char* refused = step_refusal(point.wDacAdc, c == 'V');
      if (refused != nullptr) {
        calib_print_point(entry, reg_read, row, refused);
        continue;
      }
      uint16_t step = static_cast<uint16_t>(calib_session.iCurStep & 0xFFFF);
      point.wDacAdc = static_cast<uint16_t>(c == 'V' ? point.wDacAdc + step : point.wDacAdc - step);
      if (send_table(false) == CMD_FAILED) status = CMD_FAILED;
      calib_print_point(entry, reg_read, row);
    }
  }
  calib_history_end_interactive(calib_selected_definition(), calib_session.iSelected);
  return status;
}
