#include "link/link_backend.h"

#include <modbus.h>

#include <cerrno>

namespace {

// A fresh libmodbus context for every connection: after a failed connect or a close nothing of
// the old one is left to get in the way.
class modbus_backend : public link_backend {
 public:
  ~modbus_backend() override { close(); }

  int connect(const char* host, int port) override {
    close();
    // An empty host names no device: a failed connection, as when no context can be made.
    if (host[0] == '\0') {
      errno = EINVAL;
      return -1;
    }
    ctx_ = modbus_new_tcp(host, port);
    if (!ctx_) return -1;
    if (modbus_connect(ctx_) == -1) {
      int err = errno;
      modbus_free(ctx_);
      ctx_ = nullptr;
      errno = err;
      return -1;
    }
    return 0;
  }

  int read_registers(int address, int count, uint16_t* dest) override {
    if (!ctx_) return not_connected();
    return modbus_read_registers(ctx_, address, count, dest);
  }

  int write_registers(int address, int count, const uint16_t* src) override {
    if (!ctx_) return not_connected();
    return modbus_write_registers(ctx_, address, count, src);
  }

  int flush() override { return ctx_ ? modbus_flush(ctx_) : not_connected(); }

  int socket() override { return ctx_ ? modbus_get_socket(ctx_) : -1; }

  void close() override {
    if (!ctx_) return;
    modbus_close(ctx_);
    modbus_free(ctx_);
    ctx_ = nullptr;
  }

 private:
  static int not_connected() {
    errno = ENOTCONN;
    return -1;
  }

  modbus_t* ctx_ = nullptr;
};

}  // namespace

link_backend* libmodbus_backend() {
  static modbus_backend backend;
  return &backend;
}
