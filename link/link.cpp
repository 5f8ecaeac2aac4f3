#include "link/link.h"

#include <modbus.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "link/async_output.h"
#include "link/interlock_monitor.h"

namespace {

// The request mailbox. The console thread fills the fields while new_cmd is 0 and publishes
// a request by storing 101 or 102; the link thread reads the fields after seeing that code
// and stores 0 once cmd_result and cmd_buf are final. The acquire/release pairs on new_cmd
// order every other field, so they need no lock.
std::atomic<int> new_cmd{0};
int cmd_addr = 0;
int cmd_words = 0;
uint16_t cmd_buf[MAILBOX_WORDS];
int cmd_result = 0;

// Guards the waits on link_status, the request hand-over and link_serving changes.
pthread_mutex_t link_mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t link_cond = PTHREAD_COND_INITIALIZER;

// 0 connecting, 1 connected, -1 failed; written once by the link thread under the mutex.
std::atomic<int> link_status{0};
// True while the link thread runs its serve loop; written by the link thread under the mutex.
std::atomic<bool> link_serving{false};

// The connection's socket for the stopping side (link_cut_connection), -1 when there is none;
// written by the link thread. While a cut runs, cutters is above 0 and the link thread does not
// close the socket, so a cut never reaches a descriptor that has been closed and reused.
std::atomic<int> link_socket{-1};
std::atomic<int> cutters{0};
static_assert(std::atomic<int>::is_always_lock_free, "used in a signal handler");

// Makes fd reachable by the stopping side. A stop requested before this could not reach it, so
// the link thread cuts the connection itself then.
void publish_socket(int fd) {
  link_socket.store(fd);
  if (quit_requested.load() && fd >= 0) shutdown(fd, SHUT_RDWR);
}

// Takes the socket back before it is closed: waits for a cut that may still use the number.
void withdraw_socket() {
  link_socket.store(-1);
  while (cutters.load() > 0) sched_yield();
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
void wait_for_work(int64_t last_poll) {
  timespec deadline = {static_cast<time_t>(last_poll + 1), 0};
  pthread_mutex_lock(&link_mutex);
  while (new_cmd.load(std::memory_order_acquire) <= 0 && !quit_requested.load()) {
    if (pthread_cond_timedwait(&link_cond, &link_mutex, &deadline) == ETIMEDOUT) break;
  }
  pthread_mutex_unlock(&link_mutex);
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
bool replies_out_of_step = false;

int64_t monotonic_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void discard_late_replies(modbus_t* ctx) {
  int fd = modbus_get_socket(ctx);
  int64_t give_up = monotonic_ms() + DISCARD_LIMIT_MS;
  while (fd >= 0 && !quit_requested.load() && monotonic_ms() < give_up) {
    pollfd pfd = {fd, POLLIN, 0};
    if (poll(&pfd, 1, QUIET_MS) <= 0) return;
    // Nothing to discard although the socket is readable: the device closed the connection.
    if (modbus_flush(ctx) <= 0) return;
  }
}

void after_transfer(modbus_t* ctx, int rc) {
  if (rc >= 0) return;
  int err = errno;
  replies_out_of_step = true;
  if (err == ETIMEDOUT || err == EMBBADDATA) discard_late_replies(ctx);
}

int read_registers(modbus_t* ctx, int address, int count, uint16_t* dest) {
  if (replies_out_of_step) modbus_flush(ctx);
  replies_out_of_step = false;
  int rc = modbus_read_registers(ctx, address, count, dest);
  after_transfer(ctx, rc);
  return rc;
}

int write_registers(modbus_t* ctx, int address, int count, const uint16_t* src) {
  if (replies_out_of_step) modbus_flush(ctx);
  replies_out_of_step = false;
  int rc = modbus_write_registers(ctx, address, count, src);
  after_transfer(ctx, rc);
  return rc;
}

void serve_request(modbus_t* ctx, int code) {
  if (quit_requested.load()) {
    // Posted just before the stop (Ctrl-C): after it nothing more reaches the device, and a
    // read is not worth waiting for either.
    cmd_result = -1;
  } else if (code == CMD_READ) {
    cmd_result = read_registers(ctx, cmd_addr, cmd_words, cmd_buf);
  } else if (code == CMD_WRITE) {
    cmd_result = write_registers(ctx, cmd_addr, cmd_words, cmd_buf);
  } else {
    link_printf("Unknown new_cmd = %d\n", code);
  }
  new_cmd.store(0, std::memory_order_release);
  signal_all();
}

void poll_device(modbus_t* ctx, interlock_memory* memory) {
  uint16_t state;
  int rc = read_registers(ctx, MB_STATE_READ_ADDR, 1, &state);
  // A poll cut short by the stop is no fault of the device.
  if (rc <= 0 && !quit_requested.load()) {
    link_printf("Polling fail: %d\n", rc);
  }
  // After a stop the three interlock reads would only delay the end, by up to three response
  // time-outs when the device answers late.
  if (tool_config.iPrintIlockChange && !quit_requested.load()) {
    interlock_monitor_pass(ctx, memory);
    replies_out_of_step = true;
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
    return new_cmd.load(std::memory_order_acquire) > 0 || quit_requested.load();
  });
}

void serve_loop(modbus_t* ctx) {
  interlock_memory memory = {};
  int64_t last_poll = 0;
  bool just_served = false;
  for (;;) {
    int64_t now = realtime_seconds();
    int code = new_cmd.load(std::memory_order_acquire);
    if (code > 0) {
      serve_request(ctx, code);
    } else if (quit_requested.load()) {
      break;
    } else if (now > last_poll) {
      poll_device(ctx, &memory);
      last_poll = now;
    } else if (!just_served || !request_follows()) {
      wait_for_work(last_poll);
    }
    just_served = code > 0;
    if (quit_requested.load()) break;
  }
}

// Posts one request and waits for its completion. Returns cmd_result, or -1 when the link
// thread does not serve (any more).
int post_request(int code, uint16_t address, int count, const uint16_t* src, uint16_t* dest) {
  if (count > MAILBOX_WORDS || count < 0) return -1;
  pthread_mutex_lock(&link_mutex);
  while (new_cmd.load(std::memory_order_acquire) > 0 && link_serving.load())
    pthread_cond_wait(&link_cond, &link_mutex);
  bool serving = link_serving.load();
  pthread_mutex_unlock(&link_mutex);
  // Once the tool is stopping (Ctrl-C, Q, end of input) no request goes out any more.
  if (!serving || quit_requested.load()) return -1;

  cmd_addr = address;
  cmd_words = count;
  if (src) memcpy(cmd_buf, src, sizeof(uint16_t) * static_cast<size_t>(count));
  new_cmd.store(code, std::memory_order_release);
  signal_all();
  spin_until(RESULT_SPIN_NS,
             [] { return new_cmd.load(std::memory_order_acquire) <= 0 || !link_serving.load(); });

  pthread_mutex_lock(&link_mutex);
  while (new_cmd.load(std::memory_order_acquire) > 0 && link_serving.load())
    pthread_cond_wait(&link_cond, &link_mutex);
  bool served = new_cmd.load(std::memory_order_acquire) == 0;
  if (!served) new_cmd.store(0, std::memory_order_release);
  pthread_mutex_unlock(&link_mutex);
  if (!served) return -1;

  if (dest) memcpy(dest, cmd_buf, sizeof(uint16_t) * static_cast<size_t>(cmd_words));
  return cmd_result;
}

}  // namespace

void* link_thread_main(void* arg) {
  const link_params* params = static_cast<const link_params*>(arg);
  modbus_t* ctx = params->host[0] ? modbus_new_tcp(params->host, params->port) : nullptr;
  int connect_errno = ctx ? 0 : EINVAL;
  link_printf("Connect to %s:%d is ", params->host, params->port);

  pthread_mutex_lock(&link_mutex);
  if (link_status.load() == 0) {
    int rc = ctx ? modbus_connect(ctx) : -1;
    if (rc == -1) {
      if (ctx) connect_errno = errno;
      link_status.store(-1);
      link_printf("FAIL.\n");
    } else {
      link_serving.store(true);
      link_status.store(1);
      link_printf("OK.\n");
    }
    pthread_cond_broadcast(&link_cond);
  }
  pthread_mutex_unlock(&link_mutex);

  if (link_status.load() == -1) {
    link_printf("%s ERRNO:[%s]\n", "Modbus Connection failed!", modbus_strerror(connect_errno));
    if (ctx) modbus_free(ctx);
    return nullptr;
  }

  publish_socket(modbus_get_socket(ctx));
  if (!quit_requested.load()) serve_loop(ctx);

  withdraw_socket();
  modbus_close(ctx);
  modbus_free(ctx);
  quit_requested.store(1);
  pthread_mutex_lock(&link_mutex);
  link_serving.store(false);
  pthread_cond_broadcast(&link_cond);
  pthread_mutex_unlock(&link_mutex);
  return nullptr;
}

int link_wait_status() {
  pthread_mutex_lock(&link_mutex);
  while (link_status.load() == 0) pthread_cond_wait(&link_cond, &link_mutex);
  pthread_mutex_unlock(&link_mutex);
  return link_status.load();
}

int modbus_cmd_read(uint16_t address, int count, uint16_t* dest) {
  return post_request(CMD_READ, address, count, nullptr, dest);
}

int modbus_cmd_write(uint16_t address, int count, const uint16_t* src) {
  return post_request(CMD_WRITE, address, count, src, nullptr);
}

int link_post_raw(int code) { return post_request(code, 0, 0, nullptr, nullptr); }

void link_wake() { signal_all(); }

void link_cut_connection() {
  int saved_errno = errno;
  cutters.fetch_add(1);
  int fd = link_socket.load();
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
  cutters.fetch_sub(1);
  errno = saved_errno;
}
