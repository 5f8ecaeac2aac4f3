// Request decoding. See modbus_request.h. Modbus sends every 16-bit field high byte first.
#include "sim/modbus_request.h"

namespace {

int word_at(const uint8_t* p) { return p[0] << 8 | p[1]; }

}  // namespace

modbus_request_info modbus_decode_request(const uint8_t* request, int length, int header_length) {
  modbus_request_info info;
  if (length <= header_length) return info;
  const uint8_t* pdu = request + header_length;
  int pdu_length = length - header_length;
  info.function = pdu[0];
  switch (info.function) {
    case 3:  // read holding registers: address, count
    case 4:  // read input registers
      if (pdu_length < 5) break;
      info.read_address = word_at(pdu + 1);
      info.read_count = word_at(pdu + 3);
      break;
    case 6:  // write single register: address, value
      if (pdu_length < 5) break;
      info.write_address = word_at(pdu + 1);
      info.write_count = 1;
      info.write_values = {static_cast<uint16_t>(word_at(pdu + 3))};
      break;
    case 16: {  // write multiple registers: address, count, byte count, values
      if (pdu_length < 6) break;
      int count = word_at(pdu + 3);
      if (pdu_length < 6 + 2 * count) break;
      info.write_address = word_at(pdu + 1);
      info.write_count = count;
      for (int k = 0; k < count; ++k) {
        info.write_values.push_back(static_cast<uint16_t>(word_at(pdu + 6 + 2 * k)));
      }
      break;
    }
    case 22:  // mask write register: address, AND mask, OR mask
      if (pdu_length < 7) break;
      info.write_address = word_at(pdu + 1);
      info.write_count = 1;
      info.write_values = {static_cast<uint16_t>(word_at(pdu + 3)),
                           static_cast<uint16_t>(word_at(pdu + 5))};
      break;
    case 23: {  // read/write: read address, read count, write address, write count, bytes, values
      if (pdu_length < 10) break;
      int count = word_at(pdu + 7);
      if (pdu_length < 10 + 2 * count) break;
      info.read_address = word_at(pdu + 1);
      info.read_count = word_at(pdu + 3);
      info.write_address = word_at(pdu + 5);
      info.write_count = count;
      for (int k = 0; k < count; ++k) {
        info.write_values.push_back(static_cast<uint16_t>(word_at(pdu + 10 + 2 * k)));
      }
      break;
    }
    default:
      break;
  }
  return info;
}
