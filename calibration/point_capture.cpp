// Point capture inside a calibration session: SET drives the set register, ACTUAL takes the
// measured value, DAC-ADC reads the device's count, ADD stores the collected point, DEL
// clears one, and READ without argument shows the definition's read register.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "calibration/calibration.h"
#include "core/input.h"
#include "core/shared_messages.h"
#include "link/link.h"
#include "registers/catalogue.h"
#include "registers/values.h"

namespace {

// The longest register value (DWORD_ARRAY_10) covers 20 words.
constexpr int MAX_VALUE_WORDS = 20;

// Session gate, then state gate. Once the state has matched it is not tested again in this
// session.
bool gate_passes(const cal_definition** def) {
  if (!calib_session_gate()) return false;
  *def = calib_selected_definition();
  if (calib_session.iPrecondition < 0 && calib_check_precondition() < 0) {
    printf("Change state using STATE %d command.\n", (*def)->iState);
    return false;
  }
  return true;
}

// Float argument of SET and ACTUAL. Returns 0 with *value, or -1 after the message.
int float_arg(const command_args& args, float* value) {
  if (args.empty()) {
    msg_missing_data();
    return -1;
  }
  std::string token = args[0];
  if (parse_float(token.data(), FLOAT_EMPTY_REFUSED, value) != 0) {
    msg_invalid_float(token.c_str());
    return -1;
  }
  return 0;
}

// Optional entry number of ADD and DEL: makes it current. Returns 0, or -1 after the message.
int entry_arg(const command_args& args) {
  if (args.empty()) return 0;
  std::string token = args[0];
  uint32_t n = 0;
  if (parse_unsigned(token.data(), 10, &n) != 0) {
    printf("Invalid index: %s\n", token.c_str());
    return -1;
  }
  if (n < 1 || n > CALIB_POINTS) {
    printf("Index out-of-range: %d\n", static_cast<int>(n));
    return -1;
  }
  calib_session.iPoint = static_cast<int>(n) - 1;
  return 0;
}

int read_dac_adc(uint16_t* count) {
  return modbus_cmd_read(MB_CALIB_SEQUENCE_DAC_ADC_ADDR, 1, count) < 0 ? -1 : 0;
}

command_status point_set(const cal_definition* def, const command_args& args) {
  float value = 0;
  if (float_arg(args, &value) < 0) return CMD_FAILED;
  uint16_t words[2];
  split_words(float_to_bits(value), words);
  if (modbus_cmd_write(static_cast<uint16_t>(def->iRegSet), 2, words) < 0) {
    msg_error_write();
    return CMD_FAILED;
  }
  printf("Write %f to %d.\n", value, def->iRegSet);
  calib_session.pending.fSet = value;
  calib_session.fLeft = value;
  calib_session.iSetWritten = 1;
  return CMD_OK;
}

command_status point_actual(const command_args& args) {
  float value = 0;
  if (float_arg(args, &value) < 0) return CMD_FAILED;
  printf("Actual(%d) = %f\n", calib_session.iPoint + 1, value);
  calib_session.pending.fActual = value;
  return CMD_OK;
}

command_status point_dac_adc() {
  uint16_t count = 0;
  if (read_dac_adc(&count) < 0) {
    msg_error_read();
    return CMD_FAILED;
  }
  printf("0x%04X\n", count);
  calib_session.pending.wDacAdc = count;
  return CMD_OK;
}

// A failed read of the count still adds the point, with the count it had; it counts as failed.
command_status point_add(const command_args& args) {
  if (entry_arg(args) < 0) return CMD_FAILED;
  calib_point& pending = calib_session.pending;
  if (calib_float_is_empty(pending.fSet)) {
    yes_no_answer answer =
        ask_yes_no("Set is empty. Do you want to continue? (y/n): ", 1, OTHER_IS_NONE);
    if (answer == ANSWER_NONE || answer == ANSWER_STOPPED) {
      msg_answer_failed();
      return CMD_FAILED;
    }
    if (answer == ANSWER_NO) {
      printf("Calibration point %d not added.\n", calib_session.iPoint + 1);
      return CMD_DECLINED;
    }
  }
  if (calib_float_is_empty(pending.fActual)) {
    uint16_t set[2];
    split_words(float_to_bits(pending.fSet), set);
    printf("Incomplete entry: set=0x%04X%04X actual=0x%04X%04X\n", set[1], set[0], CALIB_EMPTY_WORD,
           CALIB_EMPTY_WORD);
    return CMD_FAILED;
  }
  // A failed read keeps the count of an earlier DAC-ADC, or the empty marker.
  command_status status = CMD_OK;
  uint16_t count = 0;
  if (read_dac_adc(&count) < 0) {
    msg_error_read();
    status = CMD_FAILED;
  } else {
    pending.wDacAdc = count;
  }
  calib_session.points[calib_session.iPoint] = pending;
  printf("Added to point %d\n", calib_session.iPoint + 1);
  calib_point_make_empty(&pending);
  calib_session.iPoint = (calib_session.iPoint + 1) % CALIB_POINTS;
  return status;
}

command_status point_del(const command_args& args) {
  if (entry_arg(args) < 0) return CMD_FAILED;
  calib_point_make_empty(&calib_session.pending);
  calib_point_make_empty(&calib_session.points[calib_session.iPoint]);
  printf("Removed from point %d\n", calib_session.iPoint + 1);
  return CMD_OK;
}

command_status read_shortcut(const cal_definition* def) {
  int index = reg_find_by_address(def->iRegRead);
  if (def->iRegRead == 0 || index < 0) {
    printf("Read Reg (%d) is not used.\n", def->iRegRead);
    return CMD_FAILED;
  }
  const modbus_reg_entry* row = &modbus_reg_table[index];
  printf("%s (%d, %s)\n", row->name, row->address, reg_type_name(row->type));
  uint16_t words[MAX_VALUE_WORDS] = {};
  int count = reg_words_of_type(row->type);
  if (modbus_cmd_read(row->address, count, words) < 0) {
    printf("Error read reg-%d.\n", row->address);
    return CMD_FAILED;
  }
  print_value_by_type(row, words, count);
  return CMD_OK;
}

}  // namespace

command_status calib_read_shortcut() {
  const cal_definition* def = nullptr;
  return gate_passes(&def) ? read_shortcut(def) : CMD_FAILED;
}

command_status cmd_cal_read(const command_args&) { return calib_read_shortcut(); }

command_status cmd_cal_set(const command_args& args) {
  const cal_definition* def = nullptr;
  return gate_passes(&def) ? point_set(def, args) : CMD_FAILED;
}

command_status cmd_cal_actual(const command_args& args) {
  const cal_definition* def = nullptr;
  return gate_passes(&def) ? point_actual(args) : CMD_FAILED;
}

command_status cmd_cal_dac_adc(const command_args&) {
  const cal_definition* def = nullptr;
  return gate_passes(&def) ? point_dac_adc() : CMD_FAILED;
}

command_status cmd_cal_add(const command_args& args) {
  const cal_definition* def = nullptr;
  return gate_passes(&def) ? point_add(args) : CMD_FAILED;
}

command_status cmd_cal_del(const command_args& args) {
  const cal_definition* def = nullptr;
  return gate_passes(&def) ? point_del(args) : CMD_FAILED;
}
