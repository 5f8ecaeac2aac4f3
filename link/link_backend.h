// The link's way to the device: one Modbus TCP connection at a time, behind a small interface
// so that the link can be driven in-process by a test double that fails, delays or drops on
// command. The default is libmodbus's TCP client with the library's default unit identifier,
// time-outs and error recovery.
#pragma once

#include <cstdint>

// Every call is made by the link thread alone; socket() answers a descriptor that the link
// publishes for the stopping side, which may shut it down (never close it) at any moment, after
// which transfers fail at once.
class link_backend {
 public:
  virtual ~link_backend() = default;

  // Opens a connection to host:port, closing any earlier one first. Returns 0, or -1 with errno
  // set (an empty host gives EINVAL).
  virtual int connect(const char* host, int port) = 0;

  // Reads count holding registers at address into dest (function 3). Returns count, or -1 with
  // errno set; without a connection -1 with ENOTCONN.
  virtual int read_registers(int address, int count, uint16_t* dest) = 0;

  // Writes count registers from src at address (function 16, also for one register). Returns
  // count, or -1 with errno set; without a connection -1 with ENOTCONN.
  virtual int write_registers(int address, int count, const uint16_t* src) = 0;

  // Discards whatever has arrived on the connection and not been read. Returns the number of
  // bytes discarded (0 when the peer has closed), or -1.
  virtual int flush() = 0;

  // The connection's descriptor, for poll and shutdown; -1 without a connection.
  virtual int socket() = 0;

  // Closes the connection; afterwards transfers fail until the next connect.
  virtual void close() = 0;
};

// The libmodbus client, one process-wide instance.
link_backend* libmodbus_backend();
