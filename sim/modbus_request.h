// What a Modbus request asks of the register file: the range it reads and the range and values
// it writes. Decoded from the raw request that libmodbus's modbus_receive delivers.
#pragma once

#include <cstdint>
#include <vector>

struct modbus_request_info {
  int function = 0;
  int read_address = 0;
  int read_count = 0;  // 0 when the request reads no registers
  int write_address = 0;
  int write_count = 0;                 // registers changed; 0 when the request writes none
  std::vector<uint16_t> write_values;  // as sent; for function 22 the AND and the OR mask
};

// Decodes a request of length bytes whose function code follows a header of header_length bytes
// (7 for Modbus TCP). Functions other than 3, 4, 6, 16, 22 and 23, and requests too short for
// their function, give an info with only the function set (0 when even that is missing).
modbus_request_info modbus_decode_request(const uint8_t* request, int length, int header_length);
