// Device behaviour of the simulated modulator, without sockets.
#include "sim/device_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

namespace {

// Writes words as a client would and lets the device react.
void client_write(sim_device& device, int address, std::vector<uint16_t> values) {
  std::copy(values.begin(), values.end(), device.registers().begin() + address);
  device.after_write(address, static_cast<int>(values.size()));
}

// "40716253" and "59283746", low byte first, then two NUL bytes.
const std::vector<uint16_t> session_start_code = {0x3034, 0x3137, 0x3236, 0x3335, 0x0000};
const std::vector<uint16_t> logout_code = {0x3935, 0x3832, 0x3733, 0x3634, 0x0000};

TEST(DeviceModel, StateRequestMovesStateRead) {
  struct {
    uint16_t request;
    uint16_t expected;
  } cases[] = {{3, 3}, {6, 6}, {9, 9}, {0, 0}, {4, 0}, {12, 0}, {65535, 0}};
  sim_device device;
  for (const auto& c : cases) {
    client_write(device, MB_STATE_SET, {c.request});
    EXPECT_EQ(device.registers()[MB_STATE_READ], c.expected) << "request " << c.request;
  }
}

TEST(DeviceModel, LoginAndLogoutCodesSetAccessLevel) {
  sim_device device;
  EXPECT_EQ(device.registers()[MB_ACCESS_LEVEL], 0);
  client_write(device, MB_LOG_IN, session_start_code);
  EXPECT_EQ(device.registers()[MB_ACCESS_LEVEL], 1);
  for (int k = 0; k < MB_LOG_IN_WORDS; ++k) EXPECT_EQ(device.registers()[MB_LOG_IN + k], 0);
  client_write(device, MB_LOG_IN, {0x3131, 0x3131, 0x3131, 0x3131, 0});  // a wrong code
  EXPECT_EQ(device.registers()[MB_ACCESS_LEVEL], 1);
  client_write(device, MB_LOG_IN, logout_code);
  EXPECT_EQ(device.registers()[MB_ACCESS_LEVEL], 0);
}

TEST(DeviceModel, CodeWithoutNulTailIsNoLogin) {
  sim_device device;
  client_write(device, MB_LOG_IN, {0x3034, 0x3137, 0x3236, 0x3335, 0x0031});
  EXPECT_EQ(device.registers()[MB_ACCESS_LEVEL], 0);
}

TEST(DeviceModel, ResetClearsTheThreeInterlockWords) {
  sim_device device;
  sim_put_u32(device.registers(), 5532, 0x00010004);
  sim_put_u32(device.registers(), 5534, 0xFFFFFFFF);
  sim_put_u32(device.registers(), 5536, 0x80000001);
  device.registers()[5538] = 77;  // beyond the interlock words
  client_write(device, MB_RESET, {1});
  for (int address = 5532; address < 5538; ++address) EXPECT_EQ(device.registers()[address], 0);
  EXPECT_EQ(device.registers()[5538], 77);
  EXPECT_EQ(device.registers()[MB_RESET], 0);
}

TEST(DeviceModel, ResetValueOtherThanOneKeepsInterlocks) {
  sim_device device;
  sim_put_u32(device.registers(), 5532, 5);
  client_write(device, MB_RESET, {2});
  EXPECT_EQ(sim_get_u32(device.registers(), 5532), 5u);
}

TEST(DeviceModel, DacFollowsSetRegisterOfSelectedCalibration) {
  sim_device device;
  sim_put_float(device.registers(), 5126, 6.5f);
  client_write(device, MB_CALIB_SEQUENCE_ID, {5288});  // MB_FIL_SET_CAL <- MB_FIL_SET, 1000/V
  EXPECT_EQ(device.registers()[MB_CALIB_SEQUENCE_DAC_ADC], 6500);
  uint16_t words[2];
  float value = 7.25f;
  std::memcpy(words, &value, sizeof words);
  client_write(device, 5126, {words[0], words[1]});
  EXPECT_EQ(device.registers()[MB_CALIB_SEQUENCE_DAC_ADC], 7250);
  client_write(device, MB_CALIB_SEQUENCE_ID, {5348});  // MB_HV_SET_CAL <- MB_HV_SET, 1/V
  EXPECT_EQ(device.registers()[MB_CALIB_SEQUENCE_DAC_ADC], 22000);
}

TEST(DeviceModel, UnknownCalibrationLeavesDac) {
  sim_device device;
  device.registers()[MB_CALIB_SEQUENCE_DAC_ADC] = 1234;
  client_write(device, MB_CALIB_SEQUENCE_ID, {5120});
  EXPECT_EQ(device.registers()[MB_CALIB_SEQUENCE_DAC_ADC], 1234);
}

TEST(DeviceModel, CalibCountIsClamped) {
  const sim_calib_pair* pair = sim_find_calib_pair(5288);
  ASSERT_NE(pair, nullptr);
  EXPECT_EQ(sim_calib_count(*pair, -1.0f), 0);
  EXPECT_EQ(sim_calib_count(*pair, 1000.0f), 65535);
  EXPECT_EQ(sim_calib_count(*pair, std::nanf("")), 0);
}

TEST(DeviceModel, FaultsMatchOverlappingRangesByDirection) {
  sim_device device;
  device.add_fault({false, 5480, 1, 2});
  device.add_fault({true, 5121, 5, 4});
  EXPECT_EQ(device.fault_for(false, 5480, 1), 2);
  EXPECT_EQ(device.fault_for(false, 5470, 11), 2);
  EXPECT_EQ(device.fault_for(false, 5470, 10), 0);
  EXPECT_EQ(device.fault_for(false, 5481, 2), 0);
  EXPECT_EQ(device.fault_for(true, 5480, 1), 0);
  EXPECT_EQ(device.fault_for(true, 5125, 1), 4);
  EXPECT_EQ(device.fault_for(false, 5121, 5), 0);
  device.clear_faults();
  EXPECT_EQ(device.fault_for(true, 5125, 1), 0);
}

TEST(DeviceModel, LogsKeepArrivalOrder) {
  sim_device device;
  device.record_write({16, 5121, {1, 2}});
  device.record_write({6, 5120, {3}});
  device.record_read({3, 5480, 1});
  ASSERT_EQ(device.writes().size(), 2u);
  EXPECT_EQ(device.writes()[0].function, 16);
  EXPECT_EQ(device.writes()[1].function, 6);
  EXPECT_EQ(device.writes()[1].values, std::vector<uint16_t>{3});
  ASSERT_EQ(device.reads().size(), 1u);
  EXPECT_EQ(device.reads()[0].address, 5480);
  device.clear_writes();
  EXPECT_TRUE(device.writes().empty());
}

TEST(DeviceRegisters, StartValuesCoverEveryRegisterOncePerName) {
  std::set<std::string> names;
  for (const sim_start_value& v : sim_start_values()) {
    EXPECT_TRUE(names.insert(v.name).second) << v.name;
    EXPECT_GE(v.address, 5120);
    EXPECT_LE(v.address, 6186);
  }
  EXPECT_EQ(names.size(), 248u);
}

TEST(DeviceRegisters, StartValuesLookLikeADevice) {
  sim_device device;
  auto regs = device.registers();
  EXPECT_EQ(regs[MB_STATE_READ], 0);
  EXPECT_FLOAT_EQ(sim_get_float(regs, 5126), 6.3f);
  EXPECT_FLOAT_EQ(sim_get_float(regs, 5529), 249.9f);
  EXPECT_EQ(sim_get_u32(regs, 5532), 0x00000004u);
  EXPECT_EQ(sim_get_u32(regs, 5534), 0x00010000u);
  // MAC 00:1A:2B:3C:4D:5E, low byte first.
  EXPECT_EQ(regs[5561], 0x1A00);
  EXPECT_EQ(regs[5562], 0x3C2B);
  EXPECT_EQ(regs[5563], 0x5E4D);
  // "op4711" in the operator password.
  EXPECT_EQ(regs[5179], 'o' | 'p' << 8);
  EXPECT_EQ(regs[5182], 0);
  // MB_FIL_SET_CAL, a set table: point 1 is 2 V at 2000 counts.
  EXPECT_FLOAT_EQ(sim_get_float(regs, 5288), 2.0f);
  EXPECT_EQ(regs[5290], 2000);
  // MB_HV_VOLT_READ_CAL, a read table: point 5 is 4000 counts at 50000 V.
  EXPECT_EQ(regs[5363 + 12], 4000);
  EXPECT_FLOAT_EQ(sim_get_float(regs, 5363 + 13), 50000.0f);
  // The overlapping pairs both read as plausible numbers.
  EXPECT_NEAR(sim_get_float(regs, 6108), 0.0875f, 1e-6);
  EXPECT_NEAR(sim_get_float(regs, 6109), 10.0f, 0.1);
}

}  // namespace
