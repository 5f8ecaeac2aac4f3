#include "link/link.h"

#include <modbus.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/timestamp.h"
#include "link/async_output.h"
#include "link/interlock_monitor.h"
#include "link/link_backend.h"
#include "link/link_testing.h"
#include "link/write_log.h"

namespace {

// Request codes in the mailbox's hand-over word; 0 is an idle mailbox.
constexpr int CMD_READ = 101;
constexpr int CMD_WRITE = 102;
constexpr int CMD_RECONNECT = 103;

// Everything one link run keeps, grouped by who may touch it when. link_setup sets it all up
// afresh before each run of the link thread.
struct link_record {
  // Set by link_setup before the link thread starts; constant while it runs.
  link_params params = {};
  link_backend* device = nullptr;

  // Link thread only.
  int64_t last_poll = 0;             // wall-clock second of the last poll; 0 polls at once
  bool replies_out_of_step = false;  // a transfer failed: late replies may still arrive
  interlock_memory ilocks = {};      // the monitor's previous words, kept across reconnects

  // The request mailbox. The console thread fills the fields while new_cmd is 0 and publishes
  // a request by storing a request code; the link thread reads the fields after seeing that
  // code and stores 0 once cmd_result and cmd_buf are final. The acquire/release pairs on
  // new_cmd order every other field, so they need no lock.
  std::atomic<int> new_cmd{0};
  int cmd_addr = 0;
  int cmd_words = 0;
  uint16_t cmd_buf[MAILBOX_WORDS] = {};
  int cmd_result = 0;
  int cmd_errno = 0;                         // of a failed transfer: why, as the library said
  write_outcome cmd_outcome = WRITE_FAILED;  // of a write request

  // Guarded by the mutex: written under it by the link thread, atomic so that a waiter's test
  // outside it is well defined.
  std::atomic<int> link_status{0};   // last connection attempt: 0 none yet, 1 connected, -1 failed
  std::atomic<bool> serving{false};  // the link thread runs its serve loop

  // For the stopping side (link_cut_connection), which may be a signal handler: the
  // connection's descriptor, -1 when there is none, written by the link thread. While a cut
  // runs, cutters is above 0 and the link thread does not close the descriptor, so a cut never
  // reaches one that has been closed and reused. Not reset by link_setup: cutters always comes
  // back to 0, and socket is -1 whenever no link thread runs.
  std::atomic<int> socket{-1};
  std::atomic<int> cutters{0};

  // Written by the link thread at every connection attempt, read by anyone. Not reset by
  // link_setup, so that a new link run is a new connection to whoever remembers the old one.
  std::atomic<unsigned> connection_serial{0};
};

// The process's one link.
link_record current_link;

// The outcome of each requesting thread's last write; written and read by that thread only.
thread_local write_outcome last_write_outcome = WRITE_FAILED;
static_assert(std::atomic<int>::is_always_lock_free, "used in a signal handler");

// Guards the waits on link_status, the request hand-over and serving changes; shared by every
// link run, so never re-initialised.
pthread_mutex_t link_mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t link_cond = PTHREAD_COND_INITIALIZER;

// Makes fd reachable by the stopping side. A stop requested before this could not reach it, so
// the link thread cuts the connection itself then.
void publish_socket(int fd) {
  current_link.socket.store(fd);
  if (quit_requested.load() && fd >= 0) shutdown(fd, SHUT_RDWR);
}

// Takes the descriptor back before it is closed: waits for a cut that may still use it.
void withdraw_socket() {
  current_link.socket.store(-1);
  while (current_link.cutters.load() > 0) sched_yield();
}

int64_t realtime_seconds() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec);
}

// Wakes every waiter after the caller has changed what they wait for. Taking and dropping the
// mutex first means a waiter has either seen the change or already sleeps in its wait, so the
// wake-up can't be lost; signalling after the unlock keeps the woken thread (often on the same
// core) from running straight into the held mutex and sleeping again.
void signal_all() {
  pthread_mutex_lock(&link_mutex);
  pthread_mutex_unlock(&link_mutex);
  pthread_cond_broadcast(&link_cond);
}

// Blocks until a request is posted, quit is requested or the wall clock reaches the next
// poll second. The deadline comes from the same real-time clock as `now`, so the wait never
// ends early against the poll test and the loop does not spin.
void wait_for_work() {
  timespec deadline = {static_cast<time_t>(current_link.last_poll + 1), 0};
  pthread_mutex_lock(&link_mutex);
  while (current_link.new_cmd.load(std::memory_order_acquire) <= 0 && !quit_requested.load()) {
    if (pthread_cond_timedwait(&link_cond, &link_mutex, &deadline) == ETIMEDOUT) break;
  }
  pthread_mutex_unlock(&link_mutex);
}

// Connects to the device and prints the connection line; on failure also the error line.
// Returns 1 or -1, also published in link_status. The attempt runs under the mutex, as the
// status change does; libmodbus bounds it by its response time-out, and a signal ends it.
// Quiet (--quiet), a success says nothing and a failure goes to standard error, whole once the
// outcome is known, so that a script's output holds only what its commands print.
int connect_device() {
  const char* host = current_link.params.host;
  int port = current_link.params.port;
  bool quiet = quiet_output.load();
  if (!quiet) link_printf("Connect to %s:%d is ", host, port);
  current_link.connection_serial.fetch_add(1);
  pthread_mutex_lock(&link_mutex);
  int rc = current_link.device->connect(host, port);
  int connect_errno = errno;
  if (rc == -1) {
    current_link.link_status.store(-1);
    if (quiet) {
      fprintf(stderr, "Connect to %s:%d is FAIL.\n", host, port);
    } else {
      link_printf("FAIL.\n");
    }
  } else {
    current_link.link_status.store(1);
    current_link.serving.store(true);
    if (!quiet) link_printf("OK.\n");
  }
  pthread_mutex_unlock(&link_mutex);
  pthread_cond_broadcast(&link_cond);
  if (rc == -1) {
    char line[160];
    snprintf(line, sizeof line, "%s ERRNO:[%s]\n", "Modbus Connection failed!",
             modbus_strerror(connect_errno));
    if (quiet) {
      fputs(line, stderr);
    } else {
      link_printf("%s", line);
    }
    return -1;
  }
  publish_socket(current_link.device->socket());
  return 1;
}

void disconnect_device() {
  withdraw_socket();
  current_link.device->close();
}

// Link thread only. A reply that comes after the library's response time-out stays in the
// socket and is taken for the reply to the next request; its transaction number doesn't match,
// so that request fails too, and its own reply is left for the one after: without help the
// link would never get back in step, even once the device answers in time again. So after a
// time-out or a reply to another request, late replies are discarded until the line has been
// quiet for a moment; and before a request that follows any failure, or a monitor pass (whose
// reads fail unseen here), whatever has arrived meanwhile is discarded too.
constexpr int QUIET_MS = 50;
constexpr int64_t DISCARD_LIMIT_MS = 500;

void discard_late_replies() {
  int fd = current_link.device->socket();
  int64_t give_up = monotonic_clock_ms() + DISCARD_LIMIT_MS;
  while (fd >= 0 && !quit_requested.load() && monotonic_clock_ms() < give_up) {
    pollfd pfd = {fd, POLLIN, 0};
    if (poll(&pfd, 1, QUIET_MS) <= 0) return;
    // Nothing to discard although the socket is readable: the device closed the connection.
    if (current_link.device->flush() <= 0) return;
  }
}

void after_transfer(int rc) {
  if (rc >= 0) return;
  int err = errno;
  current_link.replies_out_of_step = true;
  if (err == ETIMEDOUT || err == EMBBADDATA) discard_late_replies();
}

// *err (when given) receives why a failed transfer failed, as the library said, 0 after a
// success. The mailbox's own fields are the console's once a request is answered, so the poll
// passes none.
int read_registers(int address, int count, uint16_t* dest, int* err) {
  if (current_link.replies_out_of_step) current_link.device->flush();
  current_link.replies_out_of_step = false;
  int rc = current_link.device->read_registers(address, count, dest);
  if (err) *err = rc < 0 ? errno : 0;
  after_transfer(rc);
  return rc;
}

// Only a device that answers can refuse: its exception reply says the write was not carried
// out. Without a connection nothing was sent. Anything else (a time-out, a connection reset, a
// reply that does not belong to the request) leaves open whether the device carried it out.
write_outcome outcome_of(int rc, int err) {
  if (rc >= 0) return WRITE_OK;
  if ((err >= EMBXILFUN && err <= EMBXGTAR) || err == ENOTCONN) return WRITE_FAILED;
  return WRITE_UNKNOWN;
}

int write_registers(int address, int count, const uint16_t* src, write_outcome* outcome, int* err) {
  if (current_link.replies_out_of_step) current_link.device->flush();
  current_link.replies_out_of_step = false;
  int rc = current_link.device->write_registers(address, count, src);
  *err = rc < 0 ? errno : 0;
  *outcome = outcome_of(rc, *err);
  after_transfer(rc);
  return rc;
}

// A new connection carries no late replies; the poll second and the interlock words go on.
int reconnect_device() {
  disconnect_device();
  current_link.replies_out_of_step = false;
  return connect_device();
}

void serve_request(int code) {
  if (quit_requested.load()) {
    // Posted just before the stop (Ctrl-C): after it nothing more reaches the device, and a
    // read is not worth waiting for either.
    current_link.cmd_result = -1;
    current_link.cmd_errno = 0;
    current_link.cmd_outcome = WRITE_FAILED;
  } else if (code == CMD_READ) {
    current_link.cmd_result = read_registers(current_link.cmd_addr, current_link.cmd_words,
                                             current_link.cmd_buf, &current_link.cmd_errno);
  } else if (code == CMD_WRITE) {
    current_link.cmd_result =
        write_registers(current_link.cmd_addr, current_link.cmd_words, current_link.cmd_buf,
                        &current_link.cmd_outcome, &current_link.cmd_errno);
    write_log_record(current_link.cmd_addr, current_link.cmd_words, current_link.cmd_buf,
                     current_link.cmd_outcome);
    write_journal_record(current_link.params.host, current_link.params.port, current_link.cmd_addr,
                         current_link.cmd_words, current_link.cmd_buf, current_link.cmd_outcome);
  } else if (code == CMD_RECONNECT) {
    current_link.cmd_result = reconnect_device();
  } else {
    link_printf("Unknown new_cmd = %d\n", code);
  }
  current_link.new_cmd.store(0, std::memory_order_release);
  signal_all();
}

void poll_device() {
  uint16_t state;
  int rc = read_registers(MB_STATE_READ_ADDR, 1, &state, nullptr);
  // A poll cut short by the stop is no fault of the device.
  if (rc <= 0 && !quit_requested.load()) {
    link_printf("Polling fail: %d\n", rc);
  }
  // After a stop the three interlock reads would only delay the end, by up to three response
  // time-outs when the device answers late.
  if (current_link.params.print_ilock_change && !quit_requested.load()) {
    interlock_monitor_pass(current_link.device, &current_link.ilocks);
    current_link.replies_out_of_step = true;
  }
}

// Brief spins before blocking. A command posts its requests back to back (DUMP makes 248) and a
// request on loopback or a local network is answered within tens of microseconds; putting a
// thread to sleep and waking it costs about as much again, and when the threads sit on
// different cores the wake-up crosses cores too. So the link thread looks for the next request
// for a moment after serving one, and the console looks for the result for a moment before it
// waits. Both spins yield the processor on every turn, so on a shared core the other thread runs
// at once, and both happen only around a request: an idle tool never spins.
constexpr int64_t REQUEST_SPIN_NS = 50000;
constexpr int64_t RESULT_SPIN_NS = 200000;

int64_t monotonic_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Yields until done() holds or ns have passed; returns done().
template <typename condition>
bool spin_until(int64_t ns, condition done) {
  int64_t give_up = monotonic_ns() + ns;
  while (!done()) {
    if (monotonic_ns() >= give_up) return false;
    sched_yield();
  }
  return true;
}

// Returns true when a request was posted (or a stop requested) within REQUEST_SPIN_NS.
bool request_follows() {
  return spin_until(REQUEST_SPIN_NS, [] {
    return current_link.new_cmd.load(std::memory_order_acquire) > 0 || quit_requested.load();
  });
}

void serve_loop() {
  bool just_served = false;
  for (;;) {
    int64_t now = realtime_seconds();
    int code = current_link.new_cmd.load(std::memory_order_acquire);
    if (code > 0) {
      serve_request(code);
    } else if (quit_requested.load()) {
      break;
    } else if (now > current_link.last_poll) {
      poll_device();
      current_link.last_poll = now;
    } else if (!just_served || !request_follows()) {
      wait_for_work();
    }
    just_served = code > 0;
    if (quit_requested.load()) break;
  }
}

// Posts one request and waits for its completion. Returns cmd_result, or -1 when the link
// thread does not serve (any more). A write's outcome goes to *outcome when given; a read's
// errno to *err when given (0 when the request was not carried out).
int post_request(int code, uint16_t address, int count, const uint16_t* src, uint16_t* dest,
                 write_outcome* outcome = nullptr, int* err = nullptr) {
  if (outcome) *outcome = WRITE_FAILED;
  if (err) *err = 0;
  if (count > MAILBOX_WORDS || count < 0) return -1;
  pthread_mutex_lock(&link_mutex);
  while (current_link.new_cmd.load(std::memory_order_acquire) > 0 && current_link.serving.load())
    pthread_cond_wait(&link_cond, &link_mutex);
  bool serving = current_link.serving.load();
  pthread_mutex_unlock(&link_mutex);
  // Once the tool is stopping (Ctrl-C, Q, end of input) no request goes out any more.
  if (!serving || quit_requested.load()) return -1;

  current_link.cmd_addr = address;
  current_link.cmd_words = count;
  if (src) memcpy(current_link.cmd_buf, src, sizeof(uint16_t) * static_cast<size_t>(count));
  current_link.new_cmd.store(code, std::memory_order_release);
  signal_all();
  spin_until(RESULT_SPIN_NS, [] {
    return current_link.new_cmd.load(std::memory_order_acquire) <= 0 ||
           !current_link.serving.load();
  });

  pthread_mutex_lock(&link_mutex);
  while (current_link.new_cmd.load(std::memory_order_acquire) > 0 && current_link.serving.load())
    pthread_cond_wait(&link_cond, &link_mutex);
  bool served = current_link.new_cmd.load(std::memory_order_acquire) == 0;
  if (!served) current_link.new_cmd.store(0, std::memory_order_release);
  pthread_mutex_unlock(&link_mutex);
  if (!served) return -1;

  if (dest)
    memcpy(dest, current_link.cmd_buf,
           sizeof(uint16_t) * static_cast<size_t>(current_link.cmd_words));
  if (outcome) *outcome = current_link.cmd_outcome;
  if (err) *err = current_link.cmd_errno;
  return current_link.cmd_result;
}

}  // namespace

link_params link_params_from_config(const tool_config_t& config) {
  link_params params = {};
  size_t n = strnlen(config.sIpAddr, sizeof(params.host) - 1);
  memcpy(params.host, config.sIpAddr, n);
  params.host[n] = '\0';
  params.port = static_cast<int>(config.iPort);
  params.print_ilock_change = config.iPrintIlockChange != 0;
  return params;
}

void link_setup(const link_params* params, link_backend* backend) {
  current_link.params = *params;
  current_link.params.host[sizeof(current_link.params.host) - 1] = '\0';
  current_link.device = backend ? backend : libmodbus_backend();
  current_link.last_poll = 0;
  current_link.replies_out_of_step = false;
  current_link.ilocks = interlock_memory{};
  current_link.new_cmd.store(0);
  current_link.cmd_addr = 0;
  current_link.cmd_words = 0;
  memset(current_link.cmd_buf, 0, sizeof(current_link.cmd_buf));
  current_link.cmd_result = 0;
  current_link.cmd_errno = 0;
  current_link.cmd_outcome = WRITE_FAILED;
  current_link.link_status.store(0);
  current_link.serving.store(false);
}

const link_params& link_device() { return current_link.params; }

void* link_thread_main(void*) {
  if (connect_device() == -1) return nullptr;

  if (!quit_requested.load()) serve_loop();

  disconnect_device();
  quit_requested.store(1);
  pthread_mutex_lock(&link_mutex);
  current_link.serving.store(false);
  pthread_mutex_unlock(&link_mutex);
  pthread_cond_broadcast(&link_cond);
  return nullptr;
}

int link_wait_status() {
  pthread_mutex_lock(&link_mutex);
  while (current_link.link_status.load() == 0) pthread_cond_wait(&link_cond, &link_mutex);
  pthread_mutex_unlock(&link_mutex);
  return current_link.link_status.load();
}

int modbus_cmd_read(uint16_t address, int count, uint16_t* dest) {
  return post_request(CMD_READ, address, count, nullptr, dest);
}

request_result link_read(uint16_t address, int count, uint16_t* dest, int* exception) {
  if (exception) *exception = 0;
  if (count > MAILBOX_WORDS || count < 0) return REQUEST_NOT_SENT;
  uint16_t words[MAILBOX_WORDS];
  int err = 0;
  int rc = post_request(CMD_READ, address, count, nullptr, words, nullptr, &err);
  if (rc >= 0) {
    memcpy(dest, words, sizeof(uint16_t) * static_cast<size_t>(count));
    return REQUEST_SERVED;
  }
  // A transfer the stop cut short fails like a silent device; it is the stop all the same.
  if (quit_requested.load()) return REQUEST_STOPPED;
  if (err >= EMBXILFUN && err <= EMBXGTAR) {
    if (exception) *exception = err - MODBUS_ENOBASE;
    return REQUEST_REFUSED;
  }
  if (err == 0 || err == ENOTCONN) return REQUEST_NOT_SENT;
  return REQUEST_FAILED;
}

unsigned link_connection_serial() { return current_link.connection_serial.load(); }

int modbus_cmd_write(uint16_t address, int count, const uint16_t* src) {
  return post_request(CMD_WRITE, address, count, src, nullptr, &last_write_outcome);
}

request_result link_write(uint16_t address, int count, const uint16_t* src) {
  int err = 0;
  int rc = post_request(CMD_WRITE, address, count, src, nullptr, &last_write_outcome, &err);
  if (rc >= 0) return REQUEST_SERVED;
  if (quit_requested.load()) return REQUEST_STOPPED;
  if (err >= EMBXILFUN && err <= EMBXGTAR) return REQUEST_REFUSED;
  if (err == 0 || err == ENOTCONN) return REQUEST_NOT_SENT;
  return REQUEST_FAILED;
}

write_outcome link_last_write_outcome() { return last_write_outcome; }

const char* write_outcome_word(write_outcome outcome) {
  switch (outcome) {
    case WRITE_OK:
      return "OK";
    case WRITE_FAILED:
      return "FAIL";
    case WRITE_UNKNOWN:
      break;
  }
  return "UNKNOWN";
}

int link_reconnect() { return post_request(CMD_RECONNECT, 0, 0, nullptr, nullptr); }

int link_post_raw(int code) { return post_request(code, 0, 0, nullptr, nullptr); }

void link_wake() { signal_all(); }

void link_stop_wake() {
  // The lock is taken only when it is free: a connect under way holds it until its time-out.
  if (pthread_mutex_trylock(&link_mutex) == 0) pthread_mutex_unlock(&link_mutex);
  pthread_cond_broadcast(&link_cond);
}

void link_cut_connection() {
  int saved_errno = errno;
  current_link.cutters.fetch_add(1);
  int fd = current_link.socket.load();
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
  current_link.cutters.fetch_sub(1);
  errno = saved_errno;
}
