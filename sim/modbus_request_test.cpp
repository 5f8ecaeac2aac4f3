// Decoding of raw Modbus TCP requests.
#include "sim/modbus_request.h"

#include <gtest/gtest.h>

namespace {

// A Modbus TCP header: transaction 1, protocol 0, length (ignored here), unit 0xFF.
std::vector<uint8_t> frame(std::vector<uint8_t> pdu) {
  std::vector<uint8_t> adu(7 + pdu.size());
  adu[1] = 1;
  adu[5] = static_cast<uint8_t>(pdu.size() + 1);
  adu[6] = 0xFF;
  for (size_t k = 0; k < pdu.size(); ++k) adu[7 + k] = pdu[k];
  return adu;
}

modbus_request_info decode(const std::vector<uint8_t>& adu) {
  return modbus_decode_request(adu.data(), static_cast<int>(adu.size()), 7);
}

TEST(ModbusRequest, ReadHoldingRegisters) {
  modbus_request_info info = decode(frame({3, 0x15, 0x68, 0x00, 0x01}));
  EXPECT_EQ(info.function, 3);
  EXPECT_EQ(info.read_address, 5480);
  EXPECT_EQ(info.read_count, 1);
  EXPECT_EQ(info.write_count, 0);
}

TEST(ModbusRequest, WriteMultipleRegisters) {
  modbus_request_info info =
      decode(frame({16, 0x14, 0x01, 0x00, 0x02, 0x04, 0x30, 0x34, 0x31, 0x37}));
  EXPECT_EQ(info.function, 16);
  EXPECT_EQ(info.write_address, 5121);
  EXPECT_EQ(info.write_count, 2);
  EXPECT_EQ(info.write_values, (std::vector<uint16_t>{0x3034, 0x3137}));
}

TEST(ModbusRequest, WriteSingleRegister) {
  modbus_request_info info = decode(frame({6, 0x14, 0x00, 0x00, 0x03}));
  EXPECT_EQ(info.write_address, 5120);
  EXPECT_EQ(info.write_values, std::vector<uint16_t>{3});
}

TEST(ModbusRequest, ReadWriteRegisters) {
  modbus_request_info info =
      decode(frame({23, 0x15, 0x68, 0x00, 0x01, 0x14, 0x00, 0x00, 0x01, 0x02, 0x00, 0x06}));
  EXPECT_EQ(info.read_address, 5480);
  EXPECT_EQ(info.read_count, 1);
  EXPECT_EQ(info.write_address, 5120);
  EXPECT_EQ(info.write_values, std::vector<uint16_t>{6});
}

TEST(ModbusRequest, ShortRequestGivesFunctionOnly) {
  modbus_request_info info = decode(frame({16, 0x14, 0x01, 0x00, 0x02, 0x04, 0x30}));
  EXPECT_EQ(info.function, 16);
  EXPECT_EQ(info.write_count, 0);
  EXPECT_TRUE(info.write_values.empty());
  EXPECT_EQ(decode({0, 1, 0, 0}).function, 0);
}

}  // namespace
