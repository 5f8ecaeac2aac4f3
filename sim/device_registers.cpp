// Start values of the simulated modulator and the calibration pairs. See device_registers.h.
#include "sim/device_registers.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// clang-format off
const sim_start_value start_values[] = {
    {5120, "MB_STATE_SET", SIM_WORD, 0, nullptr},
    {5121, "MB_LOG_IN", SIM_TEXT, 0, ""},
    {5126, "MB_FIL_SET", SIM_FLOAT, 6.3, nullptr},
    {5128, "MB_FIL_SET_2", SIM_FLOAT, 6, nullptr},
    {5130, "MB_FIL_RAMP_SPEED", SIM_FLOAT, 0.5, nullptr},
    {5132, "MB_HV_SET", SIM_FLOAT, 22000, nullptr},
    {5134, "MB_HV_RAMP_SPEED", SIM_FLOAT, 2000, nullptr},
    {5136, "MB_PULSE_WIDTH_SET", SIM_FLOAT, 3.5, nullptr},
    {5138, "MB_PRF_SET", SIM_FLOAT, 250, nullptr},
    {5140, "MB_RESET", SIM_WORD, 0, nullptr},
    {5179, "MB_SC_PASSWORD_OPERATOR", SIM_TEXT, 0, "op4711"},
    {5184, "MB_SC_PASSWORD", SIM_TEXT, 0, "svc2024x"},
    {5189, "MB_ENABLE_STANDBY_INTERLOCK", SIM_DWORD, 0x0000FFFF, nullptr},
    {5191, "MB_ENABLE_HV_INTERLOCK", SIM_DWORD, 0x00FFFFFF, nullptr},
    {5193, "MB_ENABLE_TRIG_INTERLOCK", SIM_DWORD, 0x000003FF, nullptr},
    {5195, "MB_COM_TIMEOUT_SET", SIM_WORD, 1000, nullptr},
    {5196, "MB_PEAK_POWER", SIM_FLOAT, 2500, nullptr},
    {5198, "MB_BLOCK_TIME_1", SIM_WORD, 10, nullptr},
    {5199, "MB_BLOCK_TIME_2", SIM_WORD, 60, nullptr},
    {5200, "MB_CONFIG_WORD", SIM_DWORD, 0x00000105, nullptr},
    {5202, "MB_PULSE_WIDTH_SET_H_LIM", SIM_FLOAT, 5, nullptr},
    {5204, "MB_PULSE_WIDTH_SET_L_LIM", SIM_FLOAT, 0.5, nullptr},
    {5206, "MB_HV_SET_H_LIM", SIM_FLOAT, 48000, nullptr},
    {5208, "MB_HV_SET_L_LIM", SIM_FLOAT, 0, nullptr},
    {5210, "MB_FIL_SET_H_LIM", SIM_FLOAT, 9.5, nullptr},
    {5212, "MB_FIL_SET_L_LIM", SIM_FLOAT, 0, nullptr},
    {5214, "MB_PRF_SET_H_LIM", SIM_FLOAT, 1000, nullptr},
    {5216, "MB_PRF_SET_L_LIM", SIM_FLOAT, 1, nullptr},
    {5218, "MB_HV_VOLT_READ_H_LIM", SIM_FLOAT, 49000, nullptr},
    {5220, "MB_CT_CVD_READ_DELAY", SIM_FLOAT, 12, nullptr},
    {5222, "MB_IGBT_DELAY", SIM_WORD, 8, nullptr},
    {5223, "MB_SPARE_1_U16", SIM_WORD, 0, nullptr},
    {5224, "MB_FIL_VOLT_READ_WINDOW", SIM_FLOAT, 10, nullptr},
    {5226, "MB_SPARE_2", SIM_FLOAT, 0, nullptr},
    {5228, "MB_FIL_CURR_READ_WINDOW", SIM_FLOAT, 10, nullptr},
    {5230, "MB_PRF_READ_H_LIM", SIM_FLOAT, 1050, nullptr},
    {5232, "MB_PRF_READ_L_LIM", SIM_FLOAT, 0.5, nullptr},
    {5234, "MB_FIL_WARNING_VOLT_READ_H_LIM", SIM_FLOAT, 7, nullptr},
    {5236, "MB_FIL_WARNING_VOLT_READ_L_LIM", SIM_FLOAT, 5.5, nullptr},
    {5238, "MB_FIL_WARNING_CURR_READ_H_LIM", SIM_FLOAT, 6, nullptr},
    {5240, "MB_FIL_WARNING_CURR_READ_L_LIM", SIM_FLOAT, 4, nullptr},
    {5242, "MB_MAX_ARC_CONSECUTIVE", SIM_WORD, 5, nullptr},
    {5243, "MB_MAX_ARC_SHORT_WINDOW", SIM_WORD, 10, nullptr},
    {5244, "MB_MAX_ARC_LONG_WINDOW", SIM_WORD, 100, nullptr},
    {5245, "MB_ARC_RECOVERY_START", SIM_WORD, 50, nullptr},
    {5246, "MB_ARC_RECOVERY_INC", SIM_WORD, 10, nullptr},
    {5247, "MB_A_INPUT_DELAY", SIM_WORD, 2, nullptr},
    {5248, "MB_B_INPUT_DELAY", SIM_WORD, 2, nullptr},
    {5249, "MB_C_INPUT_DELAY", SIM_WORD, 2, nullptr},
    {5250, "MB_SW_INPUT_DELAY", SIM_WORD, 4, nullptr},
    {5251, "MB_TRIG_INPUT_MAX_WIDTH", SIM_WORD, 1000, nullptr},
    {5252, "MB_MAX_AVERAGE_POWER", SIM_FLOAT, 3, nullptr},
    {5254, "MB_SWITCH_CAP", SIM_WORD, 470, nullptr},
    {5255, "MB_REAL_TIME_SET_LOW", SIM_DWORD, 0, nullptr},
    {5257, "MB_REAL_TIME_SET_HIGH", SIM_DWORD, 0, nullptr},
    {5288, "MB_FIL_SET_CAL", SIM_SET_TABLE, 0, nullptr},
    {5303, "MB_FIL_VOLT_READ_CAL", SIM_READ_TABLE, 0, nullptr},
    {5318, "MB_FIL_CURR_READ_CAL", SIM_READ_TABLE, 0, nullptr},
    {5333, "MB_FIL_RUNBACK_TABLE", SIM_SET_TABLE, 0, nullptr},
    {5348, "MB_HV_SET_CAL", SIM_SET_TABLE, 0, nullptr},
    {5363, "MB_HV_VOLT_READ_CAL", SIM_READ_TABLE, 0, nullptr},
    {5378, "MB_PULSE_WIDTH_SET_CAL", SIM_SET_TABLE, 0, nullptr},
    {5393, "MB_PULSE_WIDTH_READ_CAL", SIM_READ_TABLE, 0, nullptr},
    {5408, "MB_PULSE_WIDTH_FWHM_READ_CAL", SIM_READ_TABLE, 0, nullptr},
    {5423, "MB_CT_READ_CAL", SIM_READ_TABLE, 0, nullptr},
    {5438, "MB_CVD_READ_CAL", SIM_READ_TABLE, 0, nullptr},
    {5453, "MB_CALIB_SEQUENCE_ID", SIM_WORD, 0, nullptr},
    {5454, "MB_CALIB_SEQUENCE_POINT_NUM", SIM_WORD, 0, nullptr},
    {5455, "MB_CALIB_SEQUENCE_POINT_DATA", SIM_FLOAT, 0, nullptr},
    {5457, "MB_CALIB_SEQUENCE_DAC_ADC", SIM_WORD, 0, nullptr},
    {5458, "MB_CALIB_SEQUENCE_POINT_EXECUTE", SIM_WORD, 0, nullptr},
    {5459, "MB_CCPS_INT_LEV_HV", SIM_WORD, 900, nullptr},
    {5460, "MB_CCPS_PWM_NUM_PULSES_MAX", SIM_WORD, 2000, nullptr},
    {5461, "MB_CCPS_PWM_FIRST_ERROR_REG", SIM_WORD, 0, nullptr},
    {5462, "MB_CCPS_PWM_ERROR_REG", SIM_WORD, 0, nullptr},
    {5463, "MB_CCPS_PWM_HALF_PERIOD", SIM_WORD, 250, nullptr},
    {5464, "MB_CCPS_PWM_PULSE_LENGTH_MAX", SIM_WORD, 180, nullptr},
    {5465, "MB_CCPS_CHARGE_LIMIT", SIM_WORD, 3000, nullptr},
    {5466, "MB_CCPS_FINE_TUNE_LIMIT", SIM_WORD, 40, nullptr},
    {5467, "MB_CCPS_PWM_PULSE_LENGTH_MIN", SIM_WORD, 5, nullptr},
    {5468, "MB_CCPS_PWM_PULSE_LENGTH_INC", SIM_WORD, 2, nullptr},
    {5469, "MB_CCPS_FINE_TUNE_WAIT_TIME", SIM_WORD, 20, nullptr},
    {5470, "MB_CCPS_INT_LEV_PRIM_CT", SIM_WORD, 800, nullptr},
    {5471, "MB_CCPS_P_PAR", SIM_WORD, 120, nullptr},
    {5472, "MB_CCPS_H_PAR", SIM_WORD, 30, nullptr},
    {5473, "MB_CCPS_K_PAR", SIM_WORD, 64, nullptr},
    {5474, "MB_CCPS_I_MAX", SIM_WORD, 450, nullptr},
    {5475, "MB_CCPS_PRIM_DC_CALC", SIM_WORD, 1, nullptr},
    {5476, "MB_CCPS_K_FINE_PAR", SIM_WORD, 16, nullptr},
    {5477, "MB_CCPS_PWM_HALF_PERIOD_MAX", SIM_WORD, 400, nullptr},
    {5478, "MB_CCPS_ITUNE_TARGET", SIM_DWORD, 25000, nullptr},
    {5480, "MB_STATE_READ", SIM_WORD, 0, nullptr},
    {5481, "MB_OFF_HOURS_READ", SIM_DWORD, 1520, nullptr},
    {5483, "MB_STANDBY_HOURS_READ", SIM_DWORD, 834, nullptr},
    {5485, "MB_HV_HOURS_READ", SIM_DWORD, 412, nullptr},
    {5487, "MB_TRIG_HOURS_READ", SIM_DWORD, 367, nullptr},
    {5489, "MB_EVENT_LOG_READ", SIM_DWORDS, 0, "257 516 784 257 1058 0 0 0 0 0"},
    {5509, "MB_REMAINING_TIME", SIM_DWORD, 0, nullptr},
    {5511, "MB_TIME_SINCE_RESET", SIM_DWORD, 86400, nullptr},
    {5513, "MB_TRIG_COUNT_READ", SIM_DWORD, 123456789, nullptr},
    {5515, "MB_CT_READ", SIM_FLOAT, 98.4, nullptr},
    {5517, "MB_CVD_READ", SIM_FLOAT, 21.9, nullptr},
    {5519, "MB_FIL_VOLT_READ", SIM_FLOAT, 6.28, nullptr},
    {5521, "MB_FIL_CURR_READ", SIM_FLOAT, 5.12, nullptr},
    {5523, "MB_HV_VOLT_READ", SIM_FLOAT, 21950, nullptr},
    {5525, "MB_PULSE_WIDTH_READ", SIM_FLOAT, 3.49, nullptr},
    {5527, "MB_POWER_READ", SIM_FLOAT, 2.13, nullptr},
    {5529, "MB_PRF_READ", SIM_FLOAT, 249.9, nullptr},
    {5531, "MB_ARC_COUNT_READ", SIM_WORD, 3, nullptr},
    {5532, "MB_STANDBY_INTERLOCK", SIM_DWORD, 0x00000004, nullptr},
    {5534, "MB_HV_INTERLOCK", SIM_DWORD, 0x00010000, nullptr},
    {5536, "MB_TRIG_INTERLOCK", SIM_DWORD, 0, nullptr},
    {5556, "MB_VERSION", SIM_WORD, 0x0213, nullptr},
    {5557, "MB_FPGA_VERSION", SIM_WORD, 0x0107, nullptr},
    {5558, "MB_MESSAGE", SIM_WORD, 0, nullptr},
    {5559, "MB_ACCESS_LEVEL", SIM_WORD, 0, nullptr},
    {5560, "MB_STATUS_CODE", SIM_WORD, 0, nullptr},
    {5561, "MB_MAC_ADDRESS", SIM_BYTES, 0, "00:1A:2B:3C:4D:5E"},
    {5564, "MB_REAL_TIME_LOW", SIM_DWORD, 1700000000, nullptr},
    {5566, "MB_REAL_TIME_HIGH", SIM_DWORD, 0, nullptr},
    {5568, "MB_PULSE_WIDTH_FWHM_READ", SIM_FLOAT, 3.21, nullptr},
    {5570, "MB_SELF_TEST_STATUS", SIM_WORD, 0, nullptr},
    {5571, "MB_AUX1_READ", SIM_FLOAT, 1.25, nullptr},
    {5573, "MB_AUX2_READ", SIM_FLOAT, 0.75, nullptr},
    {5575, "MB_SELF_TEST_MIN_HV", SIM_FLOAT, 500, nullptr},
    {5577, "MB_SELF_TEST_MAX_HV", SIM_FLOAT, 1500, nullptr},
    {5579, "MB_SELF_TEST_SW_1_HV", SIM_FLOAT, 998, nullptr},
    {5581, "MB_SELF_TEST_SW_2_HV", SIM_FLOAT, 1003, nullptr},
    {5583, "MB_SELF_TEST_SW_3_HV", SIM_FLOAT, 1001, nullptr},
    {5585, "MB_ADC_1_READ", SIM_WORD, 2048, nullptr},
    {5586, "MB_ADC_2_READ", SIM_WORD, 1980, nullptr},
    {5587, "MB_CT_FWHM_PW_READ", SIM_FLOAT, 3.3, nullptr},
    {5589, "MB_CVD_TOP_PW_READ", SIM_FLOAT, 3.1, nullptr},
    {5591, "MB_TACHO_COUNT_A", SIM_WORD, 2850, nullptr},
    {5593, "MB_TACHO_COUNT_B", SIM_WORD, 2870, nullptr},
    {5595, "MB_TACHO_COUNT_C", SIM_WORD, 2840, nullptr},
    {5597, "MB_TACHO_COUNT_D", SIM_WORD, 2860, nullptr},
    {6000, "MB_ARC_COUNT_ACCUMULATED", SIM_DWORD, 1274, nullptr},
    {6002, "MB_DISABLE_TRIG_INT_SUM_OUTPUT", SIM_DWORD, 0, nullptr},
    {6004, "MB_DISABLE_HV_INT_SUM_OUTPUT", SIM_DWORD, 0, nullptr},
    {6006, "MB_DISABLE_STANDBY_INT_SUM_OUTPUT", SIM_DWORD, 0, nullptr},
    {6008, "MB_ARC_RECOVERY_DELAY", SIM_WORD, 100, nullptr},
    {6009, "MB_AUX1_READ_CAL", SIM_READ_TABLE, 0, nullptr},
    {6024, "MB_AUX2_READ_CAL", SIM_READ_TABLE, 0, nullptr},
    {6039, "MB_OIL_PUMP_DUTY_CYCLE", SIM_WORD, 60, nullptr},
    {6040, "MB_FIL_INTERLOCK_CURR_READ_H_LIM", SIM_FLOAT, 6.5, nullptr},
    {6042, "MB_FIL_INTERLOCK_CURR_READ_L_LIM", SIM_FLOAT, 3.5, nullptr},
    {6044, "MB_IGBT_DELAY_1", SIM_WORD, 8, nullptr},
    {6045, "MB_IGBT_DELAY_2", SIM_WORD, 8, nullptr},
    {6046, "MB_IGBT_DELAY_3", SIM_WORD, 9, nullptr},
    {6047, "MB_IGBT_DELAY_4", SIM_WORD, 9, nullptr},
    {6048, "MB_IGBT_DELAY_5", SIM_WORD, 10, nullptr},
    {6049, "MB_IGBT_DELAY_6", SIM_WORD, 10, nullptr},
    {6050, "MB_NUMBER_OF_IGBT", SIM_WORD, 6, nullptr},
    {6051, "MB_SELF_TEST_CONTROL", SIM_WORD, 0, nullptr},
    {6052, "MB_IGBT_TRIG_PWM_CTRL", SIM_WORD, 1, nullptr},
    {6053, "TIP1N", SIM_WORD, 1025, nullptr},
    {6054, "TIP1F", SIM_WORD, 2025, nullptr},
    {6055, "TIP2N", SIM_WORD, 1050, nullptr},
    {6056, "TIP2F", SIM_WORD, 2050, nullptr},
    {6057, "TIP3N", SIM_WORD, 1075, nullptr},
    {6058, "TIP3F", SIM_WORD, 2075, nullptr},
    {6059, "TIP4N", SIM_WORD, 1100, nullptr},
    {6060, "TIP4F", SIM_WORD, 2100, nullptr},
    {6061, "TIP5N", SIM_WORD, 1125, nullptr},
    {6062, "TIP5F", SIM_WORD, 2125, nullptr},
    {6063, "TIP6N", SIM_WORD, 1150, nullptr},
    {6064, "TIP6F", SIM_WORD, 2150, nullptr},
    {6065, "TIP7N", SIM_WORD, 1175, nullptr},
    {6066, "TIP7F", SIM_WORD, 2175, nullptr},
    {6067, "TIP8N", SIM_WORD, 1200, nullptr},
    {6068, "TIP8F", SIM_WORD, 2200, nullptr},
    {6069, "TIP9N", SIM_WORD, 1225, nullptr},
    {6070, "TIP9F", SIM_WORD, 2225, nullptr},
    {6071, "TIP10N", SIM_WORD, 1250, nullptr},
    {6072, "TIP10F", SIM_WORD, 2250, nullptr},
    {6073, "TIP11N", SIM_WORD, 1275, nullptr},
    {6074, "TIP11F", SIM_WORD, 2275, nullptr},
    {6075, "TIP12N", SIM_WORD, 1300, nullptr},
    {6076, "TIP12F", SIM_WORD, 2300, nullptr},
    {6077, "TIP13N", SIM_WORD, 1325, nullptr},
    {6078, "TIP13F", SIM_WORD, 2325, nullptr},
    {6079, "TIP14N", SIM_WORD, 1350, nullptr},
    {6080, "TIP14F", SIM_WORD, 2350, nullptr},
    {6081, "TIP15N", SIM_WORD, 1375, nullptr},
    {6082, "TIP15F", SIM_WORD, 2375, nullptr},
    {6083, "TIP16N", SIM_WORD, 1400, nullptr},
    {6084, "TIP16F", SIM_WORD, 2400, nullptr},
    {6085, "TIP17N", SIM_WORD, 1425, nullptr},
    {6086, "TIP17F", SIM_WORD, 2425, nullptr},
    {6087, "TIP18N", SIM_WORD, 1450, nullptr},
    {6088, "TIP18F", SIM_WORD, 2450, nullptr},
    {6089, "TIP19N", SIM_WORD, 1475, nullptr},
    {6090, "TIP19F", SIM_WORD, 2475, nullptr},
    {6091, "TIP20N", SIM_WORD, 1500, nullptr},
    {6092, "TIP20F", SIM_WORD, 2500, nullptr},
    {6093, "MB_CCPS_DU_DT_LIMIT_LO", SIM_FLOAT, 100, nullptr},
    {6095, "MB_CCPS_DU_DT_LIMIT_HI", SIM_FLOAT, 2000, nullptr},
    {6097, "MB_CCPS_DU_DT_NUM_PWM", SIM_WORD, 4, nullptr},
    {6098, "MB_PULSE_SERVO_SET", SIM_FLOAT, 95, nullptr},
    {6100, "MB_PULSE_SERVO_I", SIM_FLOAT, 0.02, nullptr},
    {6102, "MB_PULSE_SERVO_P", SIM_FLOAT, 0.5, nullptr},
    {6104, "MB_PULSE_SERVO_MAX", SIM_FLOAT, 1.2, nullptr},
    {6106, "MB_PULSE_SERVO_MIN", SIM_FLOAT, 0.8, nullptr},
    // 6109 shares a word with 6108, and 6114 with 6113: the later row sets the shared word,
    // so each pair is listed upper register first and both read as plausible numbers.
    {6109, "MB_DUTY_FACTOR_INT_LEVEL", SIM_FLOAT, 10, nullptr},
    {6108, "M050_MB_DUTY_FACTOR_READ", SIM_FLOAT, 0.0875, nullptr},
    {6111, "MB_CT_AVG", SIM_FLOAT, 24.6, nullptr},
    {6116, "MB_RF_AVERAGE_READ", SIM_FLOAT, -12.5, nullptr},
    {6114, "MB_FORWARD_POW_READ ", SIM_FLOAT, 33.5, nullptr},
    {6113, "MB_DAVARER_BALANCE ", SIM_FLOAT, 0.98, nullptr},
    {6121, "MB_REFLECTED_POW_CORRECTION ", SIM_FLOAT, 1, nullptr},
    {6123, "MB_REFLECTED_POW_READ ", SIM_FLOAT, -28.3, nullptr},
    {6125, "MB_PT100_A", SIM_FLOAT, 31.5, nullptr},
    {6127, "MB_PT100_B", SIM_FLOAT, 33, nullptr},
    {6129, "M050_MB_PT100_C", SIM_FLOAT, 41.2, nullptr},
    {6129, "M060_MB_PT100_MAG_TEMP", SIM_FLOAT, 41.2, nullptr},
    {6131, "M050_MB_PT100_D", SIM_FLOAT, 38.7, nullptr},
    {6131, "M060_MB_PT100_TANK_TEMP", SIM_FLOAT, 38.7, nullptr},
    {6133, "MB_VSWR", SIM_FLOAT, 1.12, nullptr},
    {6135, "MB_MAX_VSWR", SIM_FLOAT, 2, nullptr},
    {6137, "MB_MAG_UP_TEMP_LIM", SIM_FLOAT, 65, nullptr},
    {6139, "MB_ARC_DETECT_TRIP_LIMIT", SIM_DWORD, 200, nullptr},
    {6141, "MB_ARC_DETECT_TRIP_LIMIT_SHADOW", SIM_DWORD, 200, nullptr},
    {6143, "MB_FAN_CONTROL_PC", SIM_FLOAT, 45, nullptr},
    {6145, "MB_TANK_TEMP_TRIP_LIMIT", SIM_FLOAT, 60, nullptr},
    {6147, "MB_MAGFIL_CABLE_N_AVERAGE", SIM_WORD, 16, nullptr},
    {6148, "MB_MAGFIL_CABLE_V_H_LIM", SIM_FLOAT, 1.5, nullptr},
    {6150, "MB_MAGFIL_CABLE_A_L_LIM", SIM_FLOAT, 0.2, nullptr},
    {6153, "MB_TRIG_VOLT_H_LIM", SIM_FLOAT, 15, nullptr},
    {6155, "MB_TRIG_VOLT_L_LIM", SIM_FLOAT, 3, nullptr},
    {6157, "MB_TRIG_VOLT_ARC_H_LIM", SIM_FLOAT, 18, nullptr},
    {6159, "MB_TRIG_VOLT_ARC_L_LIM", SIM_FLOAT, 1, nullptr},
    {6161, "MB_TRIG_COUNT_K_READ", SIM_FLOAT, 123456.8, nullptr},
    {6163, "MB_DUTY_FACTOR_READ", SIM_FLOAT, 0.0875, nullptr},
    {6165, "MB_RF_FWD_POW_READ", SIM_FLOAT, 2100, nullptr},
    {6167, "MB_FAN_INTERLOCK_FILTER", SIM_FLOAT, 5, nullptr},
    {6169, "MB_PT100_MAG_INTERLOCK_FILTER", SIM_FLOAT, 10, nullptr},
    {6171, "MB_PT100_TANK_INTERLOCK_FILTER", SIM_FLOAT, 10, nullptr},
    {6173, "MB_CT_CVD_AVG_PULSES", SIM_WORD, 8, nullptr},
    {6174, "MB_CT_CVD_AVG_POINTS", SIM_WORD, 16, nullptr},
    {6175, "MB_RF_AVG_PULSES", SIM_WORD, 8, nullptr},
    {6176, "MB_RF_AVG_POINTS", SIM_WORD, 16, nullptr},
    {6177, "MB_CT_PC_OF_MAX", SIM_WORD, 50, nullptr},
    {6178, "MB_RF_FWD_READ_MIN", SIM_FLOAT, -30, nullptr},
    {6180, "MB_CT_READ_MAX", SIM_FLOAT, 150, nullptr},
    {6182, "MB_PULSE_WIDTH_DIFF_FLAT", SIM_FLOAT, 0.2, nullptr},
    {6184, "MB_PULSE_WIDTH_DIFF_MULT", SIM_FLOAT, 0.1, nullptr},
    {6186, "MB_FAN_CONTROL_PC_READ", SIM_FLOAT, 44.5, nullptr},
};
// clang-format on

// Set calibrations follow their set register with a 16-bit DAC; read calibrations follow the set
// register that drives the measured quantity, with a 12-bit ADC (counts up to 4000 at five steps).
const sim_calib_pair calib_pairs[] = {
    {5288, 5126, 1000, 2},      // MB_FIL_SET_CAL <- MB_FIL_SET
    {5303, 5126, 400, 2},       // MB_FIL_VOLT_READ_CAL <- MB_FIL_SET
    {5318, 5126, 300, 2},       // MB_FIL_CURR_READ_CAL <- MB_FIL_SET
    {5333, 5128, 1000, 2},      // MB_FIL_RUNBACK_TABLE <- MB_FIL_SET_2
    {5348, 5132, 1, 10000},     // MB_HV_SET_CAL <- MB_HV_SET
    {5363, 5132, 0.08, 10000},  // MB_HV_VOLT_READ_CAL <- MB_HV_SET
    {5378, 5136, 10000, 1},     // MB_PULSE_WIDTH_SET_CAL <- MB_PULSE_WIDTH_SET
    {5393, 5136, 800, 1},       // MB_PULSE_WIDTH_READ_CAL <- MB_PULSE_WIDTH_SET
    {5408, 5136, 750, 1},       // MB_PULSE_WIDTH_FWHM_READ_CAL <- MB_PULSE_WIDTH_SET
    {5423, 5132, 0.06, 10000},  // MB_CT_READ_CAL <- MB_HV_SET
    {5438, 5132, 0.07, 10000},  // MB_CVD_READ_CAL <- MB_HV_SET
    {6009, 5571, 400, 2},       // MB_AUX1_READ_CAL <- MB_AUX1_READ
    {6024, 5573, 400, 2},       // MB_AUX2_READ_CAL <- MB_AUX2_READ
};

// Characters packed low byte first, NUL padded, into words registers.
void put_text(std::span<uint16_t> regs, int address, const char* text, int words) {
  size_t length = std::strlen(text);
  for (int k = 0; k < words; ++k) {
    unsigned low = 2 * k < static_cast<int>(length) ? static_cast<unsigned char>(text[2 * k]) : 0;
    unsigned high =
        2 * k + 1 < static_cast<int>(length) ? static_cast<unsigned char>(text[2 * k + 1]) : 0;
    regs[address + k] = static_cast<uint16_t>(low | high << 8);
  }
}

// Six hexadecimal byte pairs separated by colons, low byte first in each word.
void put_bytes(std::span<uint16_t> regs, int address, const char* text) {
  const char* p = text;
  for (int k = 0; k < 6; ++k) {
    char* end = nullptr;
    unsigned byte = static_cast<unsigned>(std::strtoul(p, &end, 16)) & 0xFF;
    p = *end == ':' ? end + 1 : end;
    if (k % 2 == 0) {
      regs[address + k / 2] = static_cast<uint16_t>(byte);
    } else {
      regs[address + k / 2] |= static_cast<uint16_t>(byte << 8);
    }
  }
}

// Ten blank-separated numbers, 32 bits each.
void put_dwords(std::span<uint16_t> regs, int address, const char* text) {
  const char* p = text;
  for (int k = 0; k < 10; ++k) {
    char* end = nullptr;
    sim_put_u32(regs, address + 2 * k, static_cast<uint32_t>(std::strtoul(p, &end, 0)));
    p = end;
  }
}

// Five points of the pair's law. A set table holds (actual, DAC count), a read table
// (ADC count, actual).
void put_table(std::span<uint16_t> regs, int address, bool read_table) {
  const sim_calib_pair* pair = sim_find_calib_pair(address);
  if (pair == nullptr) return;
  for (int j = 0; j < 5; ++j) {
    float actual = static_cast<float>(pair->step * (j + 1));
    uint16_t count = sim_calib_count(*pair, actual);
    int triple = address + 3 * j;
    if (read_table) {
      regs[triple] = count;
      sim_put_float(regs, triple + 1, actual);
    } else {
      sim_put_float(regs, triple, actual);
      regs[triple + 2] = count;
    }
  }
}

}  // namespace

std::span<const sim_start_value> sim_start_values() { return start_values; }

std::span<const sim_calib_pair> sim_calib_pairs() { return calib_pairs; }

const sim_calib_pair* sim_find_calib_pair(int calib_address) {
  for (const sim_calib_pair& pair : calib_pairs) {
    if (pair.calib_address == calib_address) return &pair;
  }
  return nullptr;
}

uint16_t sim_calib_count(const sim_calib_pair& pair, float value) {
  double count = std::round(pair.gain * static_cast<double>(value));
  if (!(count >= 0)) return 0;  // negative or NaN
  if (count > 65535) return 65535;
  return static_cast<uint16_t>(count);
}

void sim_load_start_values(std::span<uint16_t> regs) {
  std::fill(regs.begin(), regs.end(), 0);
  for (const sim_start_value& v : start_values) {
    switch (v.kind) {
      case SIM_WORD:
        regs[v.address] = static_cast<uint16_t>(v.number);
        break;
      case SIM_DWORD:
        sim_put_u32(regs, v.address, static_cast<uint32_t>(v.number));
        break;
      case SIM_FLOAT:
        sim_put_float(regs, v.address, static_cast<float>(v.number));
        break;
      case SIM_TEXT:
        put_text(regs, v.address, v.text, 5);
        break;
      case SIM_BYTES:
        put_bytes(regs, v.address, v.text);
        break;
      case SIM_DWORDS:
        put_dwords(regs, v.address, v.text);
        break;
      case SIM_SET_TABLE:
        put_table(regs, v.address, false);
        break;
      case SIM_READ_TABLE:
        put_table(regs, v.address, true);
        break;
    }
  }
}

void sim_put_u32(std::span<uint16_t> regs, int address, uint32_t value) {
  regs[address] = static_cast<uint16_t>(value & 0xFFFF);
  regs[address + 1] = static_cast<uint16_t>(value >> 16);
}

uint32_t sim_get_u32(std::span<const uint16_t> regs, int address) {
  return static_cast<uint32_t>(regs[address]) | static_cast<uint32_t>(regs[address + 1]) << 16;
}

void sim_put_float(std::span<uint16_t> regs, int address, float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  sim_put_u32(regs, address, bits);
}

float sim_get_float(std::span<const uint16_t> regs, int address) {
  uint32_t bits = sim_get_u32(regs, address);
  float value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}
