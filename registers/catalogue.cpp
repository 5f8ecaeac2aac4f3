#include "registers/catalogue.h"

#include <climits>
#include <cstring>

// The modulator's register map. A few registers stand out of address order and two addresses
// carry an M050_ and an M060_ name, so the rows are kept in the device's own order rather than
// sorted; the header says where the order breaks.
const modbus_reg_entry modbus_reg_table[MODBUS_REG_COUNT] = {
    {5120, "MB_STATE_SET", WORD, ""},                        // 0
    {5121, "MB_LOG_IN", CHAR_ARRAY_10, ""},                  // 1
    {5126, "MB_FIL_SET", FLOAT, "V,A"},                      // 2
    {5128, "MB_FIL_SET_2", FLOAT, "V,A"},                    // 3
    {5130, "MB_FIL_RAMP_SPEED", FLOAT, "V/s,A/s"},           // 4
    {5132, "MB_HV_SET", FLOAT, "V"},                         // 5
    {5134, "MB_HV_RAMP_SPEED", FLOAT, "V/s"},                // 6
    {5136, "MB_PULSE_WIDTH_SET", FLOAT, "us"},               // 7
    {5138, "MB_PRF_SET", FLOAT, "Hz"},                       // 8
    {5140, "MB_RESET", WORD, ""},                            // 9
    {5179, "MB_SC_PASSWORD_OPERATOR", CHAR_ARRAY_10, ""},    // 10
    {5184, "MB_SC_PASSWORD", CHAR_ARRAY_10, ""},             // 11
    {5189, "MB_ENABLE_STANDBY_INTERLOCK", DWORD, ""},        // 12
    {5191, "MB_ENABLE_HV_INTERLOCK", DWORD, ""},             // 13
    {5193, "MB_ENABLE_TRIG_INTERLOCK", DWORD, ""},           // 14
    {5195, "MB_COM_TIMEOUT_SET", WORD, "ms"},                // 15
    {5196, "MB_PEAK_POWER", FLOAT, "kW"},                    // 16
    {5198, "MB_BLOCK_TIME_1", WORD, "s"},                    // 17
    {5199, "MB_BLOCK_TIME_2", WORD, "s"},                    // 18
    {5200, "MB_CONFIG_WORD", DWORD, ""},                     // 19
    {5202, "MB_PULSE_WIDTH_SET_H_LIM", FLOAT, "us"},         // 20
    {5204, "MB_PULSE_WIDTH_SET_L_LIM", FLOAT, "us"},         // 21
    {5206, "MB_HV_SET_H_LIM", FLOAT, "V"},                   // 22
    {5208, "MB_HV_SET_L_LIM", FLOAT, "V"},                   // 23
    {5210, "MB_FIL_SET_H_LIM", FLOAT, "V,A"},                // 24
    {5212, "MB_FIL_SET_L_LIM", FLOAT, "V,A"},                // 25
    {5214, "MB_PRF_SET_H_LIM", FLOAT, "Hz"},                 // 26
    {5216, "MB_PRF_SET_L_LIM", FLOAT, "Hz"},                 // 27
    {5218, "MB_HV_VOLT_READ_H_LIM", FLOAT, "V"},             // 28
    {5220, "MB_CT_CVD_READ_DELAY", FLOAT, "*10 ns"},         // 29
    {5222, "MB_IGBT_DELAY", WORD, "*10 ns"},                 // 30
    {5223, "MB_SPARE_1_U16", WORD, "A"},                     // 31
    {5224, "MB_FIL_VOLT_READ_WINDOW", FLOAT, "%"},           // 32
    {5226, "MB_SPARE_2", FLOAT, "A"},                        // 33
    {5228, "MB_FIL_CURR_READ_WINDOW", FLOAT, "%"},           // 34
    {5230, "MB_PRF_READ_H_LIM", FLOAT, "Hz"},                // 35
    {5232, "MB_PRF_READ_L_LIM", FLOAT, "Hz"},                // 36
    {5234, "MB_FIL_WARNING_VOLT_READ_H_LIM", FLOAT, "V"},    // 37
    {5236, "MB_FIL_WARNING_VOLT_READ_L_LIM", FLOAT, "V"},    // 38
    {5238, "MB_FIL_WARNING_CURR_READ_H_LIM", FLOAT, "A"},    // 39
    {5240, "MB_FIL_WARNING_CURR_READ_L_LIM", FLOAT, "A"},    // 40
    {5242, "MB_MAX_ARC_CONSECUTIVE", WORD, ""},              // 41
    {5243, "MB_MAX_ARC_SHORT_WINDOW", WORD, ""},             // 42
    {5244, "MB_MAX_ARC_LONG_WINDOW", WORD, ""},              // 43
    {5245, "MB_ARC_RECOVERY_START", WORD, "*10 ns"},         // 44
    {5246, "MB_ARC_RECOVERY_INC", WORD, "*10 ns"},           // 45
    {5247, "MB_A_INPUT_DELAY", WORD, "*10 ns"},              // 46
    {5248, "MB_B_INPUT_DELAY", WORD, "*10 ns"},              // 47
    {5249, "MB_C_INPUT_DELAY", WORD, "*10 ns"},              // 48
    {5250, "MB_SW_INPUT_DELAY", WORD, "*10 ns"},             // 49
    {5251, "MB_TRIG_INPUT_MAX_WIDTH", WORD, "*10 ns"},       // 50
    {5252, "MB_MAX_AVERAGE_POWER", FLOAT, "kW"},             // 51
    {5254, "MB_SWITCH_CAP", WORD, "uF"},                     // 52
    {5255, "MB_REAL_TIME_SET_LOW", DWORD, ""},               // 53
    {5257, "MB_REAL_TIME_SET_HIGH", DWORD, ""},              // 54
    {5288, "MB_FIL_SET_CAL", SET_CALIB, ""},                 // 55
    {5303, "MB_FIL_VOLT_READ_CAL", READ_CALIB, ""},          // 56
    {5318, "MB_FIL_CURR_READ_CAL", READ_CALIB, ""},          // 57
    {5333, "MB_FIL_RUNBACK_TABLE", SET_CALIB, ""},           // 58
    {5348, "MB_HV_SET_CAL", SET_CALIB, ""},                  // 59
    {5363, "MB_HV_VOLT_READ_CAL", READ_CALIB, ""},           // 60
    {5378, "MB_PULSE_WIDTH_SET_CAL", SET_CALIB, ""},         // 61
    {5393, "MB_PULSE_WIDTH_READ_CAL", READ_CALIB, ""},       // 62
    {5408, "MB_PULSE_WIDTH_FWHM_READ_CAL", READ_CALIB, ""},  // 63
    {5423, "MB_CT_READ_CAL", READ_CALIB, ""},                // 64
    {5438, "MB_CVD_READ_CAL", READ_CALIB, ""},               // 65
    {5453, "MB_CALIB_SEQUENCE_ID", WORD, ""},                // 66
    {5454, "MB_CALIB_SEQUENCE_POINT_NUM", WORD, ""},         // 67
    {5455, "MB_CALIB_SEQUENCE_POINT_DATA", FLOAT, ""},       // 68
    {5457, "MB_CALIB_SEQUENCE_DAC_ADC", WORD, ""},           // 69
    {5458, "MB_CALIB_SEQUENCE_POINT_EXECUTE", WORD, ""},     // 70
    {5459, "MB_CCPS_INT_LEV_HV", WORD, "V"},                 // 71
    {5460, "MB_CCPS_PWM_NUM_PULSES_MAX", WORD, ""},          // 72
    {5461, "MB_CCPS_PWM_FIRST_ERROR_REG", WORD, ""},         // 73
    {5462, "MB_CCPS_PWM_ERROR_REG", WORD, ""},               // 74
    {5463, "MB_CCPS_PWM_HALF_PERIOD", WORD, ""},             // 75
    {5464, "MB_CCPS_PWM_PULSE_LENGTH_MAX", WORD, ""},        // 76
    {5465, "MB_CCPS_CHARGE_LIMIT", WORD, ""},                // 77
    {5466, "MB_CCPS_FINE_TUNE_LIMIT", WORD, ""},             // 78
    {5467, "MB_CCPS_PWM_PULSE_LENGTH_MIN", WORD, ""},        // 79
    {5468, "MB_CCPS_PWM_PULSE_LENGTH_INC", WORD, ""},        // 80
    {5469, "MB_CCPS_FINE_TUNE_WAIT_TIME", WORD, ""},         // 81
    {5470, "MB_CCPS_INT_LEV_PRIM_CT", WORD, ""},             // 82
    {5471, "MB_CCPS_P_PAR", WORD, ""},                       // 83
    {5472, "MB_CCPS_H_PAR", WORD, ""},                       // 84
    {5473, "MB_CCPS_K_PAR", WORD, ""},                       // 85
    {5474, "MB_CCPS_I_MAX", WORD, ""},                       // 86
    {5475, "MB_CCPS_PRIM_DC_CALC", WORD, ""},                // 87
    {5476, "MB_CCPS_K_FINE_PAR", WORD, ""},                  // 88
    {5477, "MB_CCPS_PWM_HALF_PERIOD_MAX", WORD, ""},         // 89
    {5478, "MB_CCPS_ITUNE_TARGET", DWORD, ""},               // 90
    {5480, "MB_STATE_READ", WORD, ""},                       // 91
    {5481, "MB_OFF_HOURS_READ", DWORD, ""},                  // 92
    {5483, "MB_STANDBY_HOURS_READ", DWORD, ""},              // 93
    {5485, "MB_HV_HOURS_READ", DWORD, ""},                   // 94
    {5487, "MB_TRIG_HOURS_READ", DWORD, ""},                 // 95
    {5489, "MB_EVENT_LOG_READ", DWORD_ARRAY_10, ""},         // 96
    {5509, "MB_REMAINING_TIME", DWORD, "s"},                 // 97
    {5511, "MB_TIME_SINCE_RESET", DWORD, "s"},               // 98
    {5513, "MB_TRIG_COUNT_READ", DWORD, ""},                 // 99
    {5515, "MB_CT_READ", FLOAT, "A"},                        // 100
    {5517, "MB_CVD_READ", FLOAT, "kV"},                      // 101
    {5519, "MB_FIL_VOLT_READ", FLOAT, "V"},                  // 102
    {5521, "MB_FIL_CURR_READ", FLOAT, "A"},                  // 103
    {5523, "MB_HV_VOLT_READ", FLOAT, "V"},                   // 104
    {5525, "MB_PULSE_WIDTH_READ", FLOAT, "us"},              // 105
    {5527, "MB_POWER_READ", FLOAT, "kW"},                    // 106
    {5529, "MB_PRF_READ", FLOAT, "Hz"},                      // 107
    {5531, "MB_ARC_COUNT_READ", WORD, ""},                   // 108
    {5532, "MB_STANDBY_INTERLOCK", DWORD, ""},               // 109
    {5534, "MB_HV_INTERLOCK", DWORD, ""},                    // 110
    {5536, "MB_TRIG_INTERLOCK", DWORD, ""},                  // 111
    {5556, "MB_VERSION", WORD, ""},                          // 112
    {5557, "MB_FPGA_VERSION", WORD, ""},                     // 113
    {5558, "MB_MESSAGE", WORD, ""},                          // 114
    {5559, "MB_ACCESS_LEVEL", WORD, ""},                     // 115
    {5560, "MB_STATUS_CODE", WORD, ""},                      // 116
    {5561, "MB_MAC_ADDRESS", BYTE_ARRAY_06, ""},             // 117
    {5564, "MB_REAL_TIME_LOW", DWORD, ""},                   // 118
    {5566, "MB_REAL_TIME_HIGH", DWORD, ""},                  // 119
    {5568, "MB_PULSE_WIDTH_FWHM_READ", FLOAT, ""},           // 120
    {5570, "MB_SELF_TEST_STATUS", WORD, ""},                 // 121
    {5571, "MB_AUX1_READ", FLOAT, ""},                       // 122
    {5573, "MB_AUX2_READ", FLOAT, ""},                       // 123
    {5575, "MB_SELF_TEST_MIN_HV", FLOAT, "V"},               // 124
    {5577, "MB_SELF_TEST_MAX_HV", FLOAT, "V"},               // 125
    {5579, "MB_SELF_TEST_SW_1_HV", FLOAT, "V"},              // 126
    {5581, "MB_SELF_TEST_SW_2_HV", FLOAT, "V"},              // 127
    {5583, "MB_SELF_TEST_SW_3_HV", FLOAT, "V"},              // 128
    {5585, "MB_ADC_1_READ", WORD, ""},                       // 129
    {5586, "MB_ADC_2_READ", WORD, ""},                       // 130
    {5587, "MB_CT_FWHM_PW_READ", FLOAT, "us"},               // 131
    {5589, "MB_CVD_TOP_PW_READ", FLOAT, "us"},               // 132
    {5591, "MB_TACHO_COUNT_A", WORD, ""},                    // 133
    {5593, "MB_TACHO_COUNT_B", WORD, ""},                    // 134
    {5595, "MB_TACHO_COUNT_C", WORD, ""},                    // 135
    {5597, "MB_TACHO_COUNT_D", WORD, ""},                    // 136
    {6000, "MB_ARC_COUNT_ACCUMULATED", DWORD, ""},           // 137
    {6002, "MB_DISABLE_TRIG_INT_SUM_OUTPUT", DWORD, ""},     // 138
    {6004, "MB_DISABLE_HV_INT_SUM_OUTPUT", DWORD, ""},       // 139
    {6006, "MB_DISABLE_STANDBY_INT_SUM_OUTPUT", DWORD, ""},  // 140
    {6008, "MB_ARC_RECOVERY_DELAY", WORD, ""},               // 141
    {6009, "MB_AUX1_READ_CAL", READ_CALIB, ""},              // 142
    {6024, "MB_AUX2_READ_CAL", READ_CALIB, ""},              // 143
    {6039, "MB_OIL_PUMP_DUTY_CYCLE", WORD, "%"},             // 144
    {6040, "MB_FIL_INTERLOCK_CURR_READ_H_LIM", FLOAT, "A"},  // 145
    {6042, "MB_FIL_INTERLOCK_CURR_READ_L_LIM", FLOAT, "A"},  // 146
    {6044, "MB_IGBT_DELAY_1", WORD, "*10 ns"},               // 147
    {6045, "MB_IGBT_DELAY_2", WORD, "*10 ns"},               // 148
    {6046, "MB_IGBT_DELAY_3", WORD, "*10 ns"},               // 149
    {6047, "MB_IGBT_DELAY_4", WORD, "*10 ns"},               // 150
    {6048, "MB_IGBT_DELAY_5", WORD, "*10 ns"},               // 151
    {6049, "MB_IGBT_DELAY_6", WORD, "*10 ns"},               // 152
    {6050, "MB_NUMBER_OF_IGBT", WORD, ""},                   // 153
    {6051, "MB_SELF_TEST_CONTROL", WORD, ""},                // 154
    {6052, "MB_IGBT_TRIG_PWM_CTRL", WORD, ""},               // 155
    {6053, "TIP1N", WORD, ""},                               // 156
    {6054, "TIP1F", WORD, ""},                               // 157
    {6055, "TIP2N", WORD, ""},                               // 158
    {6056, "TIP2F", WORD, ""},                               // 159
    {6057, "TIP3N", WORD, ""},                               // 160
    {6058, "TIP3F", WORD, ""},                               // 161
    {6059, "TIP4N", WORD, ""},                               // 162
    {6060, "TIP4F", WORD, ""},                               // 163
    {6061, "TIP5N", WORD, ""},                               // 164
    {6062, "TIP5F", WORD, ""},                               // 165
    {6063, "TIP6N", WORD, ""},                               // 166
    {6064, "TIP6F", WORD, ""},                               // 167
    {6065, "TIP7N", WORD, ""},                               // 168
    {6066, "TIP7F", WORD, ""},                               // 169
    {6067, "TIP8N", WORD, ""},                               // 170
    {6068, "TIP8F", WORD, ""},                               // 171
    {6069, "TIP9N", WORD, ""},                               // 172
    {6070, "TIP9F", WORD, ""},                               // 173
    {6071, "TIP10N", WORD, ""},                              // 174
    {6072, "TIP10F", WORD, ""},                              // 175
    {6073, "TIP11N", WORD, ""},                              // 176
    {6074, "TIP11F", WORD, ""},                              // 177
    {6075, "TIP12N", WORD, ""},                              // 178
    {6076, "TIP12F", WORD, ""},                              // 179
    {6077, "TIP13N", WORD, ""},                              // 180
    {6078, "TIP13F", WORD, ""},                              // 181
    {6079, "TIP14N", WORD, ""},                              // 182
    {6080, "TIP14F", WORD, ""},                              // 183
    {6081, "TIP15N", WORD, ""},                              // 184
    {6082, "TIP15F", WORD, ""},                              // 185
    {6083, "TIP16N", WORD, ""},                              // 186
    {6084, "TIP16F", WORD, ""},                              // 187
    {6085, "TIP17N", WORD, ""},                              // 188
    {6086, "TIP17F", WORD, ""},                              // 189
    {6087, "TIP18N", WORD, ""},                              // 190
    {6088, "TIP18F", WORD, ""},                              // 191
    {6089, "TIP19N", WORD, ""},                              // 192
    {6090, "TIP19F", WORD, ""},                              // 193
    {6091, "TIP20N", WORD, ""},                              // 194
    {6092, "TIP20F", WORD, ""},                              // 195
    {6093, "MB_CCPS_DU_DT_LIMIT_LO", FLOAT, "V/t"},          // 196
    {6095, "MB_CCPS_DU_DT_LIMIT_HI", FLOAT, "V/t"},          // 197
    {6097, "MB_CCPS_DU_DT_NUM_PWM", WORD, ""},               // 198
    {6098, "MB_PULSE_SERVO_SET", FLOAT, "A"},                // 199
    {6100, "MB_PULSE_SERVO_I", FLOAT, ""},                   // 200
    {6102, "MB_PULSE_SERVO_P", FLOAT, ""},                   // 201
    {6104, "MB_PULSE_SERVO_MAX", FLOAT, ""},                 // 202
    {6106, "MB_PULSE_SERVO_MIN", FLOAT, ""},                 // 203
    {6108, "M050_MB_DUTY_FACTOR_READ", FLOAT, "%"},          // 204
    {6109, "MB_DUTY_FACTOR_INT_LEVEL", FLOAT, "%"},          // 205
    {6111, "MB_CT_AVG", FLOAT, "mA"},                        // 206
    {6116, "MB_RF_AVERAGE_READ", FLOAT, "dBm"},              // 207
    {6113, "MB_DAVARER_BALANCE ", FLOAT, ""},                // 208, the name ends in a space
    {6114, "MB_FORWARD_POW_READ ", FLOAT, ""},               // 209, the name ends in a space
    {6121, "MB_REFLECTED_POW_CORRECTION ", FLOAT, ""},       // 210, the name ends in a space
    {6123, "MB_REFLECTED_POW_READ ", FLOAT, "dBm"},          // 211, the name ends in a space
    {6125, "MB_PT100_A", FLOAT, "°C"},                       // 212
    {6127, "MB_PT100_B", FLOAT, "°C"},                       // 213
    {6129, "M050_MB_PT100_C", FLOAT, "°C"},                  // 214
    {6129, "M060_MB_PT100_MAG_TEMP", FLOAT, "°C"},           // 215
    {6131, "M050_MB_PT100_D", FLOAT, "°C"},                  // 216
    {6131, "M060_MB_PT100_TANK_TEMP", FLOAT, "°C"},          // 217
    {6133, "MB_VSWR", FLOAT, ""},                            // 218
    {6135, "MB_MAX_VSWR", FLOAT, ""},                        // 219
    {6137, "MB_MAG_UP_TEMP_LIM", FLOAT, "°C"},               // 220
    {6139, "MB_ARC_DETECT_TRIP_LIMIT", DWORD, ""},           // 221
    {6141, "MB_ARC_DETECT_TRIP_LIMIT_SHADOW", DWORD, ""},    // 222
    {6143, "MB_FAN_CONTROL_PC", FLOAT, "%"},                 // 223
    {6145, "MB_TANK_TEMP_TRIP_LIMIT", FLOAT, "°C"},          // 224
    {6147, "MB_MAGFIL_CABLE_N_AVERAGE", WORD, ""},           // 225
    {6148, "MB_MAGFIL_CABLE_V_H_LIM", FLOAT, "V"},           // 226
    {6150, "MB_MAGFIL_CABLE_A_L_LIM", FLOAT, "A"},           // 227
    {6153, "MB_TRIG_VOLT_H_LIM", FLOAT, "V"},                // 228
    {6155, "MB_TRIG_VOLT_L_LIM", FLOAT, "V"},                // 229
    {6157, "MB_TRIG_VOLT_ARC_H_LIM", FLOAT, "V"},            // 230
    {6159, "MB_TRIG_VOLT_ARC_L_LIM", FLOAT, "V"},            // 231
    {6161, "MB_TRIG_COUNT_K_READ", FLOAT, ""},               // 232
    {6163, "MB_DUTY_FACTOR_READ", FLOAT, "%"},               // 233
    {6165, "MB_RF_FWD_POW_READ", FLOAT, "W"},                // 234
    {6167, "MB_FAN_INTERLOCK_FILTER", FLOAT, "s"},           // 235
    {6169, "MB_PT100_MAG_INTERLOCK_FILTER", FLOAT, "s"},     // 236
    {6171, "MB_PT100_TANK_INTERLOCK_FILTER", FLOAT, "s"},    // 237
    {6173, "MB_CT_CVD_AVG_PULSES", WORD, ""},                // 238
    {6174, "MB_CT_CVD_AVG_POINTS", WORD, ""},                // 239
    {6175, "MB_RF_AVG_PULSES", WORD, ""},                    // 240
    {6176, "MB_RF_AVG_POINTS", WORD, ""},                    // 241
    {6177, "MB_CT_PC_OF_MAX", WORD, "%"},                    // 242
    {6178, "MB_RF_FWD_READ_MIN", FLOAT, "dB"},               // 243
    {6180, "MB_CT_READ_MAX", FLOAT, "A"},                    // 244
    {6182, "MB_PULSE_WIDTH_DIFF_FLAT", FLOAT, "us"},         // 245
    {6184, "MB_PULSE_WIDTH_DIFF_MULT", FLOAT, "*pw"},        // 246
    {6186, "MB_FAN_CONTROL_PC_READ", FLOAT, "%"},            // 247
};

const char reg_type_names[REG_TYPE_COUNT][16] = {
    "RAW",       "FLOAT",         "WORD",          "DWORD",          "READ_CALIB",
    "SET_CALIB", "BYTE_ARRAY_06", "CHAR_ARRAY_10", "DWORD_ARRAY_10",
};

// A calibration table is five points of one 16-bit count and one float (3 words each); the event
// log is ten 32-bit values, hence 20 words and not 10.
const int reg_type_words[REG_TYPE_COUNT] = {0, 2, 1, 2, 15, 15, 3, 5, 20};

const char* reg_type_name(int32_t type) {
  if (type < 0 || type >= REG_TYPE_COUNT) return "";
  return reg_type_names[type];
}

int reg_words_of_type(int32_t type) {
  if (type < 0 || type >= REG_TYPE_COUNT) return 0;
  return reg_type_words[type];
}

int reg_find_by_name(const char* pattern, int count) {
  if (pattern == nullptr || count <= 0) return -1;
  if (count > MODBUS_REG_COUNT) count = MODBUS_REG_COUNT;

  int best = -1;
  int best_pos = INT_MAX;
  int best_len = INT_MAX;
  for (int i = 0; i < count; ++i) {
    const char* name = modbus_reg_table[i].name;
    const char* hit = std::strstr(name, pattern);
    if (hit == nullptr) continue;
    int pos = static_cast<int>(hit - name);
    int len = static_cast<int>(std::strlen(name));
    if (pos < best_pos) {
      best = i;
      best_pos = pos;
      best_len = len;
    } else if (pos == best_pos && len < best_len) {
      best = i;
      best_len = len;
    }
  }
  return best;
}

int reg_find_by_address(int address) {
  // Entries 0 and 247 bound the map; the table is not sorted in between, so the search is linear
  // and the first of two entries sharing an address is the one found.
  if (address < modbus_reg_table[0].address ||
      address > modbus_reg_table[MODBUS_REG_COUNT - 1].address) {
    return -1;
  }
  for (int i = 0; i < MODBUS_REG_COUNT; ++i) {
    if (modbus_reg_table[i].address == address) return i;
  }
  return -1;
}

bool reg_words_hold_secret(int address, int count) {
  if (count <= 0) return false;
  static const uint16_t secret_registers[] = {MB_LOG_IN_ADDR, MB_SC_PASSWORD_OPERATOR_ADDR,
                                              MB_SC_PASSWORD_ADDR};
  for (uint16_t first : secret_registers) {
    int index = reg_find_by_address(first);
    int words = index < 0 ? 0 : reg_words_of_type(modbus_reg_table[index].type);
    if (address < first + words && first < address + count) return true;
  }
  return false;
}

int reg_name_length(const char* name) {
  int n = static_cast<int>(strlen(name));
  while (n > 0 && name[n - 1] == ' ') n--;
  return n;
}

bool reg_is_read_back(const modbus_reg_entry* entry) {
  if (entry->address >= MB_READ_BACK_FIRST_ADDR && entry->address <= MB_READ_BACK_LAST_ADDR)
    return true;
  static const char suffix[] = "_READ";
  int n = reg_name_length(entry->name);
  int k = static_cast<int>(sizeof suffix) - 1;
  return n >= k && strncmp(entry->name + n - k, suffix, static_cast<size_t>(k)) == 0;
}

std::string reg_trimmed_name(const char* name) {
  return std::string(name, static_cast<size_t>(reg_name_length(name)));
}
