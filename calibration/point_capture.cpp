// Point capture inside a calibration session: SET drives the set register, ACTUAL takes the
// measured value, DAC-ADC reads the device's count, ADD stores the collected point, DEL
// clears one, and READ without argument shows the definition's read register.
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
int float_arg(char** args, float* value) {
  char* token = next_token(args);
  if (token == nullptr) {
    msg_missing_data();
    return -1;
  }
  if (parse_float(token, FLOAT_EMPTY_REFUSED, value) != 0) {
    msg_invalid_float(token);
    return -1;
  }
  return 0;
}

// Optional entry number of ADD and DEL: makes it current. Returns 0, or -1 after the message.
int entry_arg(char** args) {
  char* token = next_token(args);
  if (token == nullptr) return 0;
  uint32_t n = 0;
  if (parse_unsigned(token, 10, &n) != 0) {
    printf("Invalid index: %s\n", token);
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

void point_set(const cal_definition* def, char** args) {
  float value = 0;
  if (float_arg(args, &value) < 0) return;
  uint16_t words[2];
  split_words(float_to_bits(value), words);
  if (modbus_cmd_write(static_cast<uint16_t>(def->iRegSet), 2, words) < 0) {
    msg_error_write();
    return;
  }
  printf("Write %f to %d.\n", value, def->iRegSet);
  calib_session.pending.fSet = value;
}

void point_actual(char** args) {
  float value = 0;
  if (float_arg(args, &value) < 0) return;
  printf("Actual(%d) = %f\n", calib_session.iPoint + 1, value);
  calib_session.pending.fActual = value;
}

void point_dac_adc() {
  uint16_t count = 0;
  if (read_dac_adc(&count) < 0) {
    msg_error_read();
    return;
  }
  printf("0x%04X\n", count);
  calib_session.pending.wDacAdc = count;
}

void point_add(char** args) {
  if (entry_arg(args) < 0) return;
  calib_point& pending = calib_session.pending;
  if (calib_float_is_empty(pending.fSet)) {
    printf("Set is empty. Do you want to continue? (y/n): ");
    fflush(stdout);
    int answer = read_yes_no();
    if (answer < 0) {
      msg_answer_failed();
      return;
    }
    if (answer == 0) {
      printf("Calibration point %d not added.\n", calib_session.iPoint + 1);
      return;
    }
  }
  if (calib_float_is_empty(pending.fActual)) {
    uint16_t set[2];
    split_words(float_to_bits(pending.fSet), set);
    printf("Incomplete entry: set=0x%04X%04X actual=0x%04X%04X\n", set[1], set[0], CALIB_EMPTY_WORD,
           CALIB_EMPTY_WORD);
    return;
  }
  // A failed read keeps the count of an earlier DAC-ADC, or the empty marker.
  uint16_t count = 0;
  if (read_dac_adc(&count) < 0) {
    msg_error_read();
  } else {
    pending.wDacAdc = count;
  }
  calib_session.points[calib_session.iPoint] = pending;
  printf("Added to point %d\n", calib_session.iPoint + 1);
  calib_point_make_empty(&pending);
  calib_session.iPoint = (calib_session.iPoint + 1) % CALIB_POINTS;
}

void point_del(char** args) {
  if (entry_arg(args) < 0) return;
  calib_point_make_empty(&calib_session.pending);
  calib_point_make_empty(&calib_session.points[calib_session.iPoint]);
  printf("Removed from point %d\n", calib_session.iPoint + 1);
}

void read_shortcut(const cal_definition* def) {
  int index = reg_find_by_address(def->iRegRead);
  if (def->iRegRead == 0 || index < 0) {
    printf("Read Reg (%d) is not used.\n", def->iRegRead);
    return;
  }
  const modbus_reg_entry* row = &modbus_reg_table[index];
  printf("%s (%d, %s)\n", row->name, row->address, reg_type_name(row->type));
  uint16_t words[MAX_VALUE_WORDS] = {};
  int count = reg_words_of_type(row->type);
  if (modbus_cmd_read(row->address, count, words) < 0) {
    printf("Error read reg-%d.\n", row->address);
    return;
  }
  print_value_by_type(row, words, count);
}

}  // namespace

void calib_read_shortcut() {
  const cal_definition* def = nullptr;
  if (gate_passes(&def)) read_shortcut(def);
}

void cmd_cal_set(char** args) {
  const cal_definition* def = nullptr;
  if (gate_passes(&def)) point_set(def, args);
}

void cmd_cal_actual(char** args) {
  const cal_definition* def = nullptr;
  if (gate_passes(&def)) point_actual(args);
}

void cmd_cal_dac_adc(char**) {
  const cal_definition* def = nullptr;
  if (gate_passes(&def)) point_dac_adc();
}

void cmd_cal_add(char** args) {
  const cal_definition* def = nullptr;
  if (gate_passes(&def)) point_add(args);
}

void cmd_cal_del(char** args) {
  const cal_definition* def = nullptr;
  if (gate_passes(&def)) point_del(args);
}
