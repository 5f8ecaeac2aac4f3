// Editing and transfer of the point table: EDIT (normal mode), STEP, PRINT and SEND, and the
// point line of the interactive mode.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "calibration/calibration.h"
#include "calibration/calibration_history.h"
#include "calibration/interactive_edit.h"
#include "calibration/table_check.h"
#include "core/input.h"
#include "core/shared_messages.h"
#include "link/link.h"
#include "registers/values.h"

namespace {

// EDIT parameter words, tried in this order; DAC and ADC both set the count.
enum edit_param { EDIT_ACTUAL, EDIT_DAC, EDIT_ADC, EDIT_INTERACTIVE, EDIT_PARAM_COUNT };
const char* const edit_param_words[EDIT_PARAM_COUNT] = {"ACTUAL", "DAC", "ADC", "-I"};

// A SET definition (type 0) pairs actual value with DAC count; every other type is READ.
calib_layout layout_of(const cal_definition* def) {
  return def->iType == 0 ? CALIB_LAYOUT_SET : CALIB_LAYOUT_READ;
}

const char* count_label(const cal_definition* def) { return def->iType == 0 ? "dac" : "adc"; }

// Integer with automatic base (decimal, 0x hexadecimal, leading 0 octal); the whole token must
// be a number.
bool parse_auto_base(const char* token, long long* value) {
  char* end = nullptr;
  long long n = strtoll(token, &end, 0);
  if (end == token || *end != '\0') return false;
  *value = n;
  return true;
}

int edit_param_of(const char* token) {
  for (int i = 0; i < EDIT_PARAM_COUNT; i++) {
    const char* word = edit_param_words[i];
    if (strncmp(token, word, strlen(word)) == 0) return i;
  }
  return -1;
}

// The new value is args[2], after the entry and the parameter.
command_status edit_normal(calib_point* point, int param, const command_args& args) {
  if (args.size() < 3) {
    printf("Missing new value.\n");
    return CMD_FAILED;
  }
  std::string token = args[2];
  if (param == EDIT_ACTUAL) {
    float value = 0;
    if (parse_float(token.data(), FLOAT_EMPTY_REFUSED, &value) != 0) {
      msg_invalid_data(token.c_str());
      return CMD_FAILED;
    }
    point->fActual = value;
  } else {
    long long value = 0;
    if (!parse_auto_base(token.c_str(), &value)) {
      msg_invalid_data(token.c_str());
      return CMD_FAILED;
    }
    point->wDacAdc = static_cast<uint16_t>(value & 0xFFFF);
  }
  return CMD_OK;
}

}  // namespace

command_status calib_edit(const command_args& args) {
  std::string token = args[0];
  uint32_t n = 0;
  if (parse_unsigned(token.data(), 10, &n) != 0) {
    printf("Invalid point: %s\n", token.c_str());
    return CMD_FAILED;
  }
  if (n < 1 || n > CALIB_POINTS) {
    printf("Point out-of-range: %d\n", static_cast<int>(n));
    return CMD_FAILED;
  }
  if (args.size() < 2) {
    printf("Missing parameter.\n");
    return CMD_FAILED;
  }
  std::string word = upper_cased(args[1]);
  int param = edit_param_of(word.c_str());
  if (param < 0) {
    printf("Invalid parameter: %s\n", word.c_str());
    return CMD_FAILED;
  }
  int entry = static_cast<int>(n);
  if (param == EDIT_INTERACTIVE) return calib_interactive_edit(entry, calib_send_to_device);
  return edit_normal(&calib_session.points[entry - 1], param, args);
}

command_status calib_step(const command_args& args) {
  if (args.empty()) {
    printf("Step = %d\n", calib_session.iCurStep);
    return CMD_OK;
  }
  const char* token = args[0].c_str();
  long long value = 0;
  if (!parse_auto_base(token, &value)) {
    msg_invalid_data(token);
    return CMD_FAILED;
  }
  calib_session.iCurStep = static_cast<int>(value & 0xFFFF);
  return CMD_OK;
}

command_status calib_print_tables() {
  if (!calib_session_gate()) return CMD_FAILED;
  const cal_definition* def = calib_selected_definition();
  uint16_t words[CALIB_TABLE_WORDS];
  if (modbus_cmd_read(static_cast<uint16_t>(def->iRegCal), CALIB_TABLE_WORDS, words) < 0) {
    msg_error_read();
    return CMD_FAILED;
  }
  calib_point device[CALIB_POINTS];
  calib_table_decode(words, layout_of(def), device);
  const char* label = count_label(def);
  for (int k = 1; k <= CALIB_POINTS; k++) {
    const calib_point& dev = device[k - 1];
    const calib_point& mine = calib_session.points[k - 1];
    printf("device  : %d : ____________, %-7s=%7.2f, %-4s=%6d\n", k, "actual", dev.fActual, label,
           dev.wDacAdc);
    printf("to write: %d : %-4s=%7.2f, %-7s=%7.2f, %-4s=%6d\n", k, "set", mine.fSet, "actual",
           mine.fActual, label, mine.wDacAdc);
  }
  calib_warn_order(calib_session.points, label);
  return CMD_OK;
}

command_status calib_send_to_device(bool confirm) {
  if (!calib_session_gate()) return CMD_FAILED;
  const cal_definition* def = calib_selected_definition();
  uint16_t words[CALIB_TABLE_WORDS];
  calib_table_encode(calib_session.points, layout_of(def), words);
  uint16_t address = static_cast<uint16_t>(def->iRegCal);

  if (!confirm) {
    if (modbus_cmd_write(address, CALIB_TABLE_WORDS, words) < 0) {
      printf("Fail sending calibration!\n");
      calib_history_note_interactive_send(calib_session.points, words, link_last_write_outcome());
      return CMD_FAILED;
    }
    calib_history_note_interactive_send(calib_session.points, words, link_last_write_outcome());
    return CMD_OK;
  }

  // The operator may still send a table the check dislikes (a deliberate test table, say).
  calib_warn_order(calib_session.points, count_label(def));
  for (int i = 0; i < CALIB_TABLE_WORDS; i++)
    printf("%04X (%u)%s", static_cast<unsigned>(words[i]), static_cast<unsigned>(words[i]),
           i % 3 == 2 ? ", " : " ");
  // Any answer but y cancels, as the question says.
  yes_no_answer answer = ask_yes_no(" send? (y=send, other-key=cancel) ", 1, OTHER_IS_NO);
  if (answer != ANSWER_YES) {
    printf("not sent.\n");
    return answer == ANSWER_NO ? CMD_DECLINED : CMD_FAILED;
  }
  command_status status = CMD_OK;
  if (modbus_cmd_write(address, CALIB_TABLE_WORDS, words) < 0) {
    printf(" --> NOK!!!\n");
    status = CMD_FAILED;
  } else {
    printf(" --> OK\n");
  }
  calib_session.iPoint = 0;
  calib_history_record_send(*def, calib_session.iSelected, calib_session.points, words,
                            link_last_write_outcome());
  return status;
}

command_status cmd_cal_edit(const command_args& args) { return calib_edit(args); }
command_status cmd_cal_step(const command_args& args) { return calib_step(args); }
command_status cmd_cal_send(const command_args&) { return calib_send_to_device(true); }
command_status cmd_cal_print(const command_args&) { return calib_print_tables(); }
