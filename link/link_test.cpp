// The link thread driven in-process through a fake device behind the backend seam. Every case
// runs a link of its own, from link_setup to the end of its thread; the real libmodbus path is
// covered by the integration tests against the simulator.
#include "link/link.h"

#include <gtest/gtest.h>
#include <modbus.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/lifecycle.h"
#include "link/async_output.h"
#include "link/interlock_monitor.h"
#include "link/link_backend.h"
#include "link/link_testing.h"

namespace {

// Runs f on a helper thread and gives up the whole process when it does not return in time,
// so that a blocking call turns into a failure instead of a hang.
template <class F>
auto within(double seconds, F f) -> decltype(f()) {
  std::packaged_task<decltype(f())()> task(f);
  auto result = task.get_future();
  std::thread t(std::move(task));
  if (result.wait_for(std::chrono::duration<double>(seconds)) != std::future_status::ready) {
    fprintf(stderr, "no result within %.1f s\n", seconds);
    std::abort();
  }
  t.join();
  return result.get();
}

double wall_seconds() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// One call the link made: 'C' connect (address holds the port), 'R' read, 'W' write, 'F' flush
// (what has arrived unasked is dropped), 'X' close.
struct device_call {
  char op;
  int address;
  int count;
  std::vector<uint16_t> values;  // written values
};

// A device in the test process with a register file, a log of every call and faults on
// command. Its connection is one end of a socket pair on which nothing is ever sent: the end
// turns readable only when the link cuts it (shutdown) or the device drops the connection, so
// a delayed transfer ends then, as one on a real socket does.
class fake_device : public link_backend {
 public:
  std::atomic<int> refuse_errno{0};   // connects fail with this errno
  std::atomic<int> fail_address{-1};  // a transfer covering it gets a Modbus exception
  std::atomic<int> delay_ms{0};       // every transfer waits this long for its answer

  ~fake_device() override { close(); }

  int connect(const char*, int port) override {
    close();
    record({'C', port, 0, {}});
    if (int err = refuse_errno.load()) {
      errno = err;
      return -1;
    }
    std::lock_guard<std::mutex> lock(mu_);
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair_) != 0) return -1;
    return 0;
  }

  int read_registers(int address, int count, uint16_t* dest) override {
    int rc = transfer({'R', address, count, {}});
    std::lock_guard<std::mutex> lock(mu_);
    for (int k = 0; rc > 0 && k < count; k++) dest[k] = regs_[address + k];
    return rc;
  }

  int write_registers(int address, int count, const uint16_t* src) override {
    int rc = transfer({'W', address, count, std::vector<uint16_t>(src, src + count)});
    std::lock_guard<std::mutex> lock(mu_);
    for (int k = 0; rc > 0 && k < count; k++) regs_[address + k] = src[k];
    return rc;
  }

  int flush() override {
    record({'F', 0, 0, {}});
    return socket() >= 0 ? 0 : -1;
  }

  int socket() override {
    std::lock_guard<std::mutex> lock(mu_);
    return pair_[0];
  }

  void close() override {
    std::lock_guard<std::mutex> lock(mu_);
    if (pair_[0] < 0) return;
    ::close(pair_[0]);
    ::close(pair_[1]);
    pair_[0] = pair_[1] = -1;
    log_.push_back({'X', 0, 0, {}});
  }

  // The device goes away, as at a restart: every transfer fails until the next connect.
  void drop() {
    std::lock_guard<std::mutex> lock(mu_);
    if (pair_[1] >= 0) shutdown(pair_[1], SHUT_RDWR);
  }

  void set(int address, std::vector<uint16_t> values) {
    std::lock_guard<std::mutex> lock(mu_);
    std::copy(values.begin(), values.end(), regs_.begin() + address);
  }

  std::vector<device_call> calls() {
    std::lock_guard<std::mutex> lock(mu_);
    return log_;
  }

  // Waits until pred holds for the log; false on time-out.
  bool wait_for(double seconds, const std::function<bool(const std::vector<device_call>&)>& pred) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return pred(log_); });
  }

  bool in_transfer() const { return in_transfer_.load(); }

 private:
  void record(device_call call) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      log_.push_back(std::move(call));
    }
    cv_.notify_all();
  }

  int transfer(device_call call) {
    int address = call.address, count = call.count;
    record(std::move(call));
    int fd = socket();
    if (fd < 0) {
      errno = ENOTCONN;
      return -1;
    }
    in_transfer_ = true;
    pollfd p = {fd, POLLIN, 0};
    int broken = poll(&p, 1, delay_ms.load());
    in_transfer_ = false;
    if (broken != 0) {
      errno = ECONNRESET;
      return -1;
    }
    int fail = fail_address.load();
    if (fail >= address && fail < address + count) {
      errno = EMBXILADD;
      return -1;
    }
    return count;
  }

  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<uint16_t> regs_ = std::vector<uint16_t>(65536);  // guarded by mu_
  std::vector<device_call> log_;                               // guarded by mu_
  int pair_[2] = {-1, -1};  // written by the link thread, guarded by mu_
  std::atomic<bool> in_transfer_{false};
};

bool is_poll(const device_call& c) {
  return c.op == 'R' && c.address == MB_STATE_READ_ADDR && c.count == 1;
}

// The calls without connects, closes and state polls: what the requests made.
std::vector<device_call> request_calls(const std::vector<device_call>& all) {
  std::vector<device_call> out;
  for (const device_call& c : all)
    if ((c.op == 'R' || c.op == 'W') && !is_poll(c)) out.push_back(c);
  return out;
}

int count_polls(const std::vector<device_call>& all) {
  return static_cast<int>(std::count_if(all.begin(), all.end(), is_poll));
}

// The link thread's messages, collected through the output hook.
std::mutex output_mutex;
std::string output_text;  // guarded by output_mutex

void collect_output(const char* text, size_t len) {
  std::lock_guard<std::mutex> lock(output_mutex);
  output_text.append(text, len);
}

std::string link_output() {
  std::lock_guard<std::mutex> lock(output_mutex);
  return output_text;
}

const std::string connected_line = "Connect to 127.0.0.1:1502 is OK.\n";
const std::string refused_lines =
    "Connect to 127.0.0.1:1502 is FAIL.\nModbus Connection failed! ERRNO:[Connection refused]\n";

int read_regs(uint16_t address, int count, uint16_t* dest) {
  return within(10, [&] { return modbus_cmd_read(address, count, dest); });
}
int write_regs(uint16_t address, int count, const uint16_t* src) {
  return within(10, [&] { return modbus_cmd_write(address, count, src); });
}
int reconnect() { return within(10, link_reconnect); }

class LinkCase : public testing::Test {
 protected:
  void SetUp() override {
    // One process runs many links: each starts as the tool starts, with the stop flag clear.
    quit_requested = 0;
    print_ilock_change = false;
    memset(ilock_names, 0, sizeof(ilock_names));
    {
      std::lock_guard<std::mutex> lock(output_mutex);
      output_text.clear();
    }
    link_set_output_hook(collect_output);
  }

  void TearDown() override {
    stop();
    link_set_output_hook(nullptr);
  }

  // Sets a link up and starts its thread; backend nullptr is the libmodbus one.
  void start(const char* host = "127.0.0.1", int port = 1502, link_backend* backend = nullptr) {
    link_params params = {};
    snprintf(params.host, sizeof(params.host), "%s", host);
    params.port = port;
    params.print_ilock_change = print_ilock_change;
    link_setup(&params, backend ? backend : &device);
    ASSERT_EQ(0, pthread_create(&thread, nullptr, link_thread_main, nullptr));
    running = true;
  }

  // Starts a link on the fake device and waits until it is connected.
  void connect() {
    start();
    ASSERT_EQ(1, within(10, link_wait_status));
  }

  // Waits until the link thread has ended by itself (or gives up the process).
  void join() {
    if (!running) return;
    timespec deadline = {static_cast<time_t>(wall_seconds() + 10), 0};
    if (pthread_timedjoin_np(thread, nullptr, &deadline) != 0) {
      fprintf(stderr, "the link thread did not end within 10 s\n");
      std::abort();
    }
    running = false;
  }

  // Ends the link as the console does at Q.
  void stop() {
    quit_requested = 1;
    link_cut_connection();
    link_wake();
    join();
  }

  // Waits until the link has polled n times in all.
  void wait_for_polls(int n) {
    ASSERT_TRUE(device.wait_for(5, [n](const auto& log) { return count_polls(log) >= n; }));
  }

  // Waits until the link's messages contain text.
  bool wait_for_output(const std::string& text) {
    for (int i = 0; i < 500; i++) {
      if (link_output().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  fake_device device;
  pthread_t thread{};
  bool running = false;
  bool print_ilock_change = false;  // the interlock monitor runs at every poll
};

// ---- Connecting

TEST_F(LinkCase, ConnectPrintsTheLineAndPollsAtOnce) {
  connect();
  EXPECT_EQ(connected_line, link_output());
  wait_for_polls(1);
  std::vector<device_call> log = device.calls();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ('C', log[0].op);
  EXPECT_EQ(1502, log[0].address);
  EXPECT_TRUE(is_poll(log[1]));
}

TEST_F(LinkCase, RefusedConnectionEndsTheThreadButNotTheTool) {
  device.refuse_errno = ECONNREFUSED;
  start();
  EXPECT_EQ(-1, within(10, link_wait_status));
  join();
  EXPECT_EQ(refused_lines, link_output());
  uint16_t buf[1] = {};
  EXPECT_EQ(-1, read_regs(5480, 1, buf));
  EXPECT_EQ(-1, write_regs(5480, 1, buf));
  EXPECT_EQ(-1, reconnect());
  EXPECT_EQ(1u, device.calls().size());  // the connect, nothing after it
  EXPECT_EQ(refused_lines, link_output());
  EXPECT_EQ(0, quit_requested.load());
}

TEST_F(LinkCase, EmptyHostIsAFailedConnection) {
  start("", 502, libmodbus_backend());
  EXPECT_EQ(-1, within(10, link_wait_status));
  join();
  EXPECT_EQ("Connect to :502 is FAIL.\nModbus Connection failed! ERRNO:[Invalid argument]\n",
            link_output());
}

// ---- Requests

TEST_F(LinkCase, WriteOfOneRegisterAndReadBack) {
  connect();
  uint16_t one = 0x1234;
  EXPECT_EQ(1, write_regs(5200, 1, &one));
  device.set(5300, {7, 8, 9});
  uint16_t buf[3] = {};
  EXPECT_EQ(3, read_regs(5300, 3, buf));
  EXPECT_EQ((std::vector<uint16_t>{7, 8, 9}), std::vector<uint16_t>(buf, buf + 3));
  std::vector<device_call> log = request_calls(device.calls());
  ASSERT_EQ(2u, log.size());
  EXPECT_EQ('W', log[0].op);
  EXPECT_EQ(5200, log[0].address);
  EXPECT_EQ(1, log[0].count);
  EXPECT_EQ(std::vector<uint16_t>{0x1234}, log[0].values);
  EXPECT_EQ('R', log[1].op);
  EXPECT_EQ(5300, log[1].address);
  EXPECT_EQ(3, log[1].count);
}

TEST_F(LinkCase, RequestsBeyondTheMailboxFailWithoutATransfer) {
  connect();
  uint16_t buf[MAILBOX_WORDS + 1];
  EXPECT_EQ(MAILBOX_WORDS, read_regs(5300, MAILBOX_WORDS, buf));
  EXPECT_EQ(MAILBOX_WORDS, write_regs(5400, MAILBOX_WORDS, buf));
  for (auto& w : buf) w = 0xAAAA;
  EXPECT_EQ(-1, read_regs(5300, MAILBOX_WORDS + 1, buf));
  EXPECT_EQ(-1, write_regs(5300, MAILBOX_WORDS + 1, buf));
  EXPECT_EQ(-1, read_regs(5300, -1, buf));
  for (auto w : buf) EXPECT_EQ(0xAAAA, w);
  EXPECT_EQ(2u, request_calls(device.calls()).size());
}

TEST_F(LinkCase, FailedReadStillFillsTheDestination) {
  connect();
  device.set(5300, {7, 8, 9});
  uint16_t buf[3];
  EXPECT_EQ(3, read_regs(5300, 3, buf));
  for (auto& w : buf) w = 0xAAAA;
  device.fail_address = 5601;
  EXPECT_EQ(-1, read_regs(5600, 2, buf));
  EXPECT_EQ(7, buf[0]);
  EXPECT_EQ(8, buf[1]);
  EXPECT_EQ(0xAAAA, buf[2]);
}

// Whether the first read or write after log[from] comes straight after a flush. The state poll
// may be that transfer, when it falls between two requests: then it takes the flush.
testing::AssertionResult flushed_before_next_transfer(const std::vector<device_call>& log,
                                                      size_t from) {
  for (size_t k = from + 1; k < log.size(); k++) {
    if (log[k].op != 'R' && log[k].op != 'W') continue;
    if (log[k - 1].op == 'F') return testing::AssertionSuccess();
    return testing::AssertionFailure() << "no flush before the transfer at " << log[k].address;
  }
  return testing::AssertionFailure() << "no transfer after the one at " << log[from].address;
}

size_t index_of(const std::vector<device_call>& log, char op, int address) {
  for (size_t k = 0; k < log.size(); k++)
    if (log[k].op == op && log[k].address == address) return k;
  return log.size();
}

// A reply that arrives after its request failed would be taken as the answer to the next one:
// whatever has arrived is dropped before the next read or write.
TEST_F(LinkCase, FailedTransferIsFollowedByAFlush) {
  connect();
  uint16_t buf[2] = {};
  device.fail_address = 5600;
  EXPECT_EQ(-1, read_regs(5600, 1, buf));
  device.fail_address = 5601;
  EXPECT_EQ(1, read_regs(5600, 1, buf));
  EXPECT_EQ(-1, write_regs(5601, 1, buf));
  device.fail_address = -1;
  EXPECT_EQ(1, write_regs(5602, 1, buf));
  EXPECT_EQ(1, write_regs(5603, 1, buf));
  std::vector<device_call> log = device.calls();
  size_t failed_read = index_of(log, 'R', 5600);
  size_t failed_write = index_of(log, 'W', 5601);
  ASSERT_LT(failed_write, log.size());
  EXPECT_TRUE(flushed_before_next_transfer(log, failed_read));
  EXPECT_TRUE(flushed_before_next_transfer(log, failed_write));
  // Not after a transfer that succeeded.
  size_t after_success = index_of(log, 'W', 5603);
  ASSERT_LT(after_success, log.size());
  EXPECT_NE('F', log[after_success - 1].op);
}

// The monitor's reads fail unseen by the link: after a pass the next transfer is flushed too.
TEST_F(LinkCase, MonitorPassIsFollowedByAFlush) {
  print_ilock_change = true;
  connect();
  ASSERT_TRUE(device.wait_for(5, [](const auto& log) {
    return std::any_of(log.begin(), log.end(),
                       [](const device_call& c) { return c.op == 'R' && c.address == 5536; });
  }));
  uint16_t buf[1] = {};
  EXPECT_EQ(1, read_regs(5300, 1, buf));
  std::vector<device_call> log = device.calls();
  EXPECT_TRUE(flushed_before_next_transfer(log, index_of(log, 'R', 5536)));
}

TEST_F(LinkCase, UnknownRequestCodeIsReportedAndCompletedWithTheOldResult) {
  connect();
  uint16_t buf[2];
  EXPECT_EQ(2, read_regs(5300, 2, buf));
  EXPECT_EQ(2, within(10, [] { return link_post_raw(55); }));
  EXPECT_EQ(connected_line + "Unknown new_cmd = 55\n", link_output());
}

TEST_F(LinkCase, BackToBackRequestsWhilePollingOncePerSecond) {
  connect();
  double started = wall_seconds();
  wait_for_polls(1);
  int polls_before = count_polls(device.calls());
  int mismatches = within(60, [&] {
    int bad = 0;
    for (int i = 0; i < 200 || count_polls(device.calls()) < polls_before + 2; i++) {
      if (wall_seconds() > started + 20) return -1;
      uint16_t out[2] = {static_cast<uint16_t>(i), static_cast<uint16_t>(~i)};
      uint16_t in[MAILBOX_WORDS] = {};
      if (modbus_cmd_write(5250, 2, out) != 2) bad++;
      int n = i % 3 == 0 ? MAILBOX_WORDS : 2;
      if (modbus_cmd_read(5250, n, in) != n || in[0] != out[0] || in[1] != out[1]) bad++;
    }
    return bad;
  });
  EXPECT_EQ(0, mismatches);
  std::vector<device_call> all = device.calls();
  EXPECT_LE(count_polls(all), wall_seconds() - started + 2);
  for (const device_call& c : all) {
    // The monitor is off: the interlock words are never read.
    EXPECT_FALSE(c.address + c.count > 5532 && c.address < 5538) << c.address;
  }
}

// ---- Stopping

TEST_F(LinkCase, StopEndsTheThreadAndLaterRequestsFail) {
  connect();
  stop();
  EXPECT_EQ('X', device.calls().back().op);
  uint16_t buf[1] = {};
  EXPECT_EQ(-1, read_regs(5300, 1, buf));
  EXPECT_EQ(-1, write_regs(5300, 1, buf));
  EXPECT_EQ(-1, within(10, [] { return link_post_raw(55); }));
  EXPECT_EQ(1, quit_requested.load());
  EXPECT_TRUE(request_calls(device.calls()).empty());
}

TEST_F(LinkCase, RequestPendingWhenTheLinkLeavesFails) {
  device.delay_ms = 400;
  connect();
  for (int i = 0; i < 500 && !device.in_transfer(); i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(device.in_transfer());  // the first poll
  quit_requested = 1;
  uint16_t buf[1];
  EXPECT_EQ(-1, read_regs(5300, 1, buf));
  join();
  EXPECT_TRUE(request_calls(device.calls()).empty());
}

// A device that never answers holds a transfer only until the stop cuts the connection.
TEST_F(LinkCase, CutEndsATransferUnderWay) {
  connect();
  wait_for_polls(1);
  device.delay_ms = 600000;
  std::future<int> result = std::async(std::launch::async, [] {
    uint16_t buf[1];
    return modbus_cmd_read(5300, 1, buf);
  });
  // The read, or a poll that came first: the read waits behind it.
  for (int i = 0; i < 5000 && !device.in_transfer(); i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(device.in_transfer());
  quit_requested = 1;
  link_cut_connection();
  ASSERT_EQ(std::future_status::ready, result.wait_for(std::chrono::seconds(10)));
  EXPECT_EQ(-1, result.get());
  join();
  EXPECT_EQ(connected_line, link_output());  // a transfer cut by the stop is no poll failure
}

TEST_F(LinkCase, LinkRunsAgainAfterItEnded) {
  connect();
  stop();
  quit_requested = 0;
  connect();
  uint16_t buf[1];
  EXPECT_EQ(1, read_regs(5300, 1, buf));
  EXPECT_EQ(connected_line + connected_line, link_output());
}

// ---- Reconnecting

TEST_F(LinkCase, ReconnectAfterTheDeviceDroppedTheConnection) {
  connect();
  device.drop();
  uint16_t buf[1];
  EXPECT_EQ(-1, read_regs(5300, 1, buf));
  EXPECT_EQ(1, reconnect());
  EXPECT_EQ(1, within(10, link_wait_status));
  EXPECT_TRUE(link_output().find(connected_line + connected_line) != std::string::npos)
      << link_output();
  device.set(5300, {42});
  EXPECT_EQ(1, read_regs(5300, 1, buf));
  EXPECT_EQ(42, buf[0]);
  std::vector<device_call> log = device.calls();
  auto second_connect =
      std::find_if(log.begin() + 1, log.end(), [](const device_call& c) { return c.op == 'C'; });
  ASSERT_NE(log.end(), second_connect);
  EXPECT_EQ('X', (second_connect - 1)->op);  // the old connection is closed first
}

TEST_F(LinkCase, FailedReconnectKeepsServingAndCanBeTriedAgain) {
  connect();
  device.refuse_errno = ECONNREFUSED;
  EXPECT_EQ(-1, reconnect());
  EXPECT_EQ(-1, within(10, link_wait_status));
  EXPECT_EQ(connected_line + refused_lines, link_output());
  uint16_t buf[1];
  EXPECT_EQ(-1, read_regs(5300, 1, buf));
  EXPECT_TRUE(wait_for_output("Polling fail: -1\n")) << link_output();
  device.refuse_errno = 0;
  EXPECT_EQ(1, reconnect());
  EXPECT_EQ(1, within(10, link_wait_status));
  EXPECT_EQ(1, read_regs(5300, 1, buf));
}

TEST_F(LinkCase, NoReconnectAfterTheStop) {
  connect();
  quit_requested = 1;
  EXPECT_EQ(-1, reconnect());
  std::vector<device_call> log = device.calls();
  EXPECT_EQ(
      1, std::count_if(log.begin(), log.end(), [](const device_call& c) { return c.op == 'C'; }));
}

// ---- The interlock monitor in the link

TEST_F(LinkCase, MonitorReadsTheInterlockWordsAfterThePoll) {
  device.set(5532, {5, 0});
  device.set(5534, {0, 0x0002});  // bit 17 of the HV word
  snprintf(ilock_names[ILOCK_STANDBY][0], ILOCK_NAME_SIZE, "s0");
  snprintf(ilock_names[ILOCK_STANDBY][2], ILOCK_NAME_SIZE, "s2");
  snprintf(ilock_names[ILOCK_HV][17], ILOCK_NAME_SIZE, "h17");
  print_ilock_change = true;
  connect();
  ASSERT_TRUE(device.wait_for(5, [](const auto& log) { return log.size() >= 5; }));
  stop();
  EXPECT_EQ(connected_line +
                "Standby ilock change: \033[31m0->1: s0\033[0m\n"
                "Standby ilock change: \033[31m0->1: s2\033[0m\n"
                "HV ilock change: \033[31m0->1: h17\033[0m\n",
            link_output());
  std::vector<device_call> log = device.calls();
  int addresses[] = {MB_STATE_READ_ADDR, 5532, 5534, 5536};
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ('R', log[i + 1].op);
    EXPECT_EQ(addresses[i], log[i + 1].address);
    EXPECT_EQ(i == 0 ? 1 : 2, log[i + 1].count);
  }
}

// What changed while the device was away is reported at the first pass after the reconnect,
// and nothing that was already reported.
TEST_F(LinkCase, MonitorKeepsItsWordsAcrossAReconnect) {
  device.set(5532, {1, 0});
  device.set(5534, {1, 0});
  snprintf(ilock_names[ILOCK_STANDBY][0], ILOCK_NAME_SIZE, "s0");
  snprintf(ilock_names[ILOCK_HV][0], ILOCK_NAME_SIZE, "h0");
  print_ilock_change = true;
  connect();
  ASSERT_TRUE(wait_for_output("HV ilock change"));
  EXPECT_EQ(1, reconnect());
  device.set(5532, {0, 0});
  ASSERT_TRUE(wait_for_output("Standby ilock change: \033[32m1->0: s0\033[0m\n"));
  // One more pass, which reports nothing.
  int polls = count_polls(device.calls());
  ASSERT_TRUE(device.wait_for(5, [polls](const auto& log) {
    return count_polls(log) > polls && log.back().address == 5536;
  }));
  stop();
  EXPECT_EQ(connected_line +
                "Standby ilock change: \033[31m0->1: s0\033[0m\n"
                "HV ilock change: \033[31m0->1: h0\033[0m\n" +
                connected_line + "Standby ilock change: \033[32m1->0: s0\033[0m\n",
            link_output());
}

// ---- One monitor pass on a connection of its own, without the link thread

class MonitorPass : public LinkCase {
 protected:
  void SetUp() override {
    LinkCase::SetUp();
    ASSERT_EQ(0, device.connect("127.0.0.1", 1502));
  }
  std::string pass() {
    size_t from = link_output().size();
    interlock_monitor_pass(&device, &memory);
    return link_output().substr(from);
  }
  interlock_memory memory = {};
};

TEST_F(MonitorPass, FirstReadReportsSetBitsAsRising) {
  snprintf(ilock_names[ILOCK_STANDBY][0], ILOCK_NAME_SIZE, "Filament Voltage Interlock");
  snprintf(ilock_names[ILOCK_STANDBY][2], ILOCK_NAME_SIZE, "Customer Interface Standby 1");
  device.set(5532, {5});
  EXPECT_EQ(
      "Standby ilock change: \033[31m0->1: Filament Voltage Interlock\033[0m\n"
      "Standby ilock change: \033[31m0->1: Customer Interface Standby 1\033[0m\n",
      pass());
  EXPECT_EQ(5u, memory.previous[0]);
  EXPECT_EQ("", pass());
}

TEST_F(MonitorPass, UnnamedChangeIsStoredSilently) {
  snprintf(ilock_names[ILOCK_TRIG][1], ILOCK_NAME_SIZE, "named");
  device.set(5536, {1});
  EXPECT_EQ("", pass());
  EXPECT_EQ(1u, memory.previous[2]);
  device.set(5536, {3});
  EXPECT_EQ("Trig ilock change: \033[31m0->1: named\033[0m\n", pass());
}

TEST_F(MonitorPass, FailedReadKeepsThePreviousWord) {
  snprintf(ilock_names[ILOCK_HV][4], ILOCK_NAME_SIZE, "four");
  snprintf(ilock_names[ILOCK_HV][5], ILOCK_NAME_SIZE, "five");
  device.set(5534, {1u << 5});
  EXPECT_EQ("HV ilock change: \033[31m0->1: five\033[0m\n", pass());
  device.fail_address = 5534;
  device.set(5534, {1u << 4});
  EXPECT_EQ("", pass());
  device.set(5534, {0});
  EXPECT_EQ("", pass());
  EXPECT_EQ(1u << 5, memory.previous[1]);
  device.fail_address = -1;
  EXPECT_EQ("HV ilock change: \033[32m1->0: five\033[0m\n", pass());
  EXPECT_EQ(0u, memory.previous[1]);
}

TEST_F(MonitorPass, ReadsNothingAfterTheStop) {
  quit_requested = 1;
  pass();
  EXPECT_EQ(1u, device.calls().size());  // the connect
}

// What came of the calling thread's last write: confirmed, refused by the device, sent without an
// answer (the connection lost), or never sent (after the stop). Each write runs on a thread of its
// own (within), which asks for its own outcome.
TEST_F(LinkCase, LastWriteOutcomeTellsARefusalFromAnUnknown) {
  connect();
  device.fail_address = 5200;
  auto outcome_of_write = [](uint16_t address) {
    return within(10, [address] {
      uint16_t word = 1;
      modbus_cmd_write(address, 1, &word);
      return link_last_write_outcome();
    });
  };
  EXPECT_EQ(WRITE_FAILED, within(10, link_last_write_outcome));  // no write yet
  EXPECT_EQ(WRITE_OK, outcome_of_write(5120));
  EXPECT_EQ(WRITE_FAILED, outcome_of_write(5200));
  device.drop();
  EXPECT_EQ(WRITE_UNKNOWN, outcome_of_write(5120));
  stop();
  EXPECT_EQ(WRITE_FAILED, outcome_of_write(5120));
}

// A handler ends on REQUEST_STOPPED without looking at the flag: the stop must not read as a
// refusal or a lost connection, and a write after it never reaches the device.
TEST_F(LinkCase, WriteResultTellsAStopFromAFailure) {
  connect();
  device.fail_address = 5200;
  auto write_at = [](uint16_t address) {
    return within(10, [address] {
      uint16_t word = 1;
      return link_write(address, 1, &word);
    });
  };
  EXPECT_EQ(REQUEST_SERVED, write_at(5120));
  EXPECT_EQ(REQUEST_REFUSED, write_at(5200));
  device.drop();
  EXPECT_EQ(REQUEST_FAILED, write_at(5120));
  size_t writes = request_calls(device.calls()).size();
  stop();
  EXPECT_EQ(REQUEST_STOPPED, write_at(5120));
  EXPECT_EQ(writes, request_calls(device.calls()).size());
}

// The host is cut to 31 characters and always terminated.
TEST(LinkParams, CopiedOutOfTheRecord) {
  const std::string fits(31, '7');
  for (const std::string& host : {std::string("127.0.0.1"), std::string(), fits, fits + "89"}) {
    tool_config_t r = {};
    snprintf(r.sIpAddr, sizeof(r.sIpAddr), "%s", host.c_str());
    r.iPort = 1502;
    r.iPrintIlockChange = 1;
    link_params params = link_params_from_config(r);
    EXPECT_EQ(host.substr(0, 31), params.host);
    EXPECT_EQ(1502, params.port);
    EXPECT_TRUE(params.print_ilock_change);
  }
}

}  // namespace
