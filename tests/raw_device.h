// A misbehaving Modbus TCP device for integration tests, a few lines of raw sockets on a thread
// of the test: it accepts connections on a free loopback port and then either never answers
// (a hung controller) or answers every request correctly but one byte every 0.4 s (an
// overloaded one), which no response or byte time-out of libmodbus catches. A third kind never
// accepts at all: its one-place queue takes the first connection, and every later attempt
// hangs until the client gives up, as with a device whose server is stuck.
//
// It records every request it receives with its arrival time, so that a test can tell which
// requests came after a given moment. Every wait inside has a bound; the destructor stops the
// thread and closes the sockets. Not copyable; the methods may be called from any thread.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

class raw_device {
 public:
  enum behaviour { SILENT, TRICKLING, NOT_ACCEPTING };

  // Milliseconds between two bytes of a trickled reply.
  static constexpr int TRICKLE_MS = 400;

  struct request {
    int function;
    long long ms;  // monotonic_ms() on arrival
  };

  raw_device() = default;
  ~raw_device();
  raw_device(const raw_device&) = delete;
  raw_device& operator=(const raw_device&) = delete;

  // Listens on 127.0.0.1 (a free port) and starts serving. Returns 0 or -1.
  int start(behaviour how);
  int port() const { return port_; }

  // The requests received so far, in order.
  std::vector<request> requests();
  // Bytes of replies sent so far (trickling only).
  long long reply_bytes() const { return reply_bytes_.load(); }

 private:
  void run();
  void serve(int client);
  bool trickle(int client, const std::vector<unsigned char>& reply);
  bool pause_ms(int ms);

  behaviour how_ = SILENT;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<long long> reply_bytes_{0};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<request> requests_;  // guarded by mutex_
};
