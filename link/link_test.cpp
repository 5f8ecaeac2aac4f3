// The link thread against an in-process Modbus TCP server on 127.0.0.1. The link module has
// one lifetime per process (quit_requested is never reset), so the parent process walks
// through one lifetime in a single test, and every other lifetime runs in a child process of
// its own (threadsafe death tests re-execute the binary for just that test).
#include "link/link.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

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
#include "core/tool_config.h"
#include "link/interlock_monitor.h"

namespace {

double wall_seconds() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

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

// Joins the link thread, giving up the process when it does not end in time.
void join_within(pthread_t thread, double seconds) {
  double deadline = wall_seconds() + seconds;
  timespec ts = {static_cast<time_t>(deadline), 0};
  if (pthread_timedjoin_np(thread, nullptr, &ts) != 0) {
    fprintf(stderr, "link thread did not end within %.1f s\n", seconds);
    std::abort();
  }
}

struct request_record {
  int function, address, count;
  std::vector<uint16_t> values;  // written values of function 16
  double time;                   // wall clock on receipt
};

// A libmodbus TCP server for one client at a time, recording every request.
class test_server {
 public:
  std::atomic<int> fail_address{-1};  // a request covering it gets an exception
  std::atomic<int> delay_poll_ms{0};  // delays the next poll of MB_STATE_READ
  std::atomic<bool> in_delay{false};

  bool start() {
    ctx_ = modbus_new_tcp("127.0.0.1", 0);
    map_ = modbus_mapping_new(0, 0, 6400, 0);
    if (!ctx_ || !map_) return false;
    listen_fd_ = modbus_tcp_listen(ctx_, 1);
    sockaddr_in addr = {};
    socklen_t len = sizeof(addr);
    if (listen_fd_ < 0 || getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      return false;
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
    return true;
  }
  ~test_server() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listen_fd_ >= 0) close(listen_fd_);
    if (map_) modbus_mapping_free(map_);
    if (ctx_) modbus_free(ctx_);
  }
  int port() const { return port_; }

  void set_register(int address, uint16_t value) {
    std::lock_guard<std::mutex> lock(mu_);
    map_->tab_registers[address] = value;
  }
  uint16_t get_register(int address) {
    std::lock_guard<std::mutex> lock(mu_);
    return map_->tab_registers[address];
  }
  std::vector<request_record> requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return log_;
  }
  int poll_count() {
    std::lock_guard<std::mutex> lock(mu_);
    return polls_;
  }
  double accept_time() {
    std::lock_guard<std::mutex> lock(mu_);
    return accept_time_;
  }
  // Waits until pred holds for the request log; false on time-out.
  bool wait_for(double seconds,
                const std::function<bool(const std::vector<request_record>&)>& pred) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return pred(log_); });
  }

 private:
  void run() {
    while (!stop_) {
      pollfd p = {listen_fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      int s = listen_fd_;
      int client = modbus_tcp_accept(ctx_, &s);
      if (client < 0) continue;
      {
        std::lock_guard<std::mutex> lock(mu_);
        accept_time_ = wall_seconds();
      }
      serve();
      close(client);
    }
  }
  void serve() {
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    while (!stop_) {
      pollfd p = {modbus_get_socket(ctx_), POLLIN, 0};
      int ready = poll(&p, 1, 20);
      if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
      int len = ready > 0 ? modbus_receive(ctx_, query) : -1;
      if (len < 0) return;  // the client has gone
      if (len < 12) continue;
      request_record r = {
          query[7], query[8] << 8 | query[9], query[10] << 8 | query[11], {}, wall_seconds()};
      for (int i = 0; r.function == 16 && i < r.count && 13 + 2 * i + 1 < len; i++)
        r.values.push_back(static_cast<uint16_t>(query[13 + 2 * i] << 8 | query[14 + 2 * i]));
      {
        std::lock_guard<std::mutex> lock(mu_);
        log_.push_back(r);
        if (r.function == 3 && r.address == MB_STATE_READ_ADDR && r.count == 1) polls_++;
      }
      cv_.notify_all();
      if (r.function == 3 && r.address == MB_STATE_READ_ADDR && delay_poll_ms.load() > 0) {
        in_delay = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_poll_ms.exchange(0)));
        in_delay = false;
      }
      int fail = fail_address.load();
      std::lock_guard<std::mutex> lock(mu_);
      if (fail >= r.address && fail < r.address + r.count)
        modbus_reply_exception(ctx_, query, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
      else
        modbus_reply(ctx_, query, len, map_);
    }
  }

  modbus_t* ctx_ = nullptr;
  modbus_mapping_t* map_ = nullptr;  // guarded by mu_
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<request_record> log_;  // guarded by mu_
  int polls_ = 0;                    // guarded by mu_
  double accept_time_ = 0;           // guarded by mu_
};

bool is_poll(const request_record& r) {
  return r.function == 3 && r.address == MB_STATE_READ_ADDR && r.count == 1;
}

std::vector<request_record> without_polls(const std::vector<request_record>& all) {
  std::vector<request_record> out;
  for (const auto& r : all)
    if (!is_poll(r)) out.push_back(r);
  return out;
}

int count_polls(const std::vector<request_record>& all) {
  return static_cast<int>(all.size() - without_polls(all).size());
}

int read_regs(uint16_t address, int count, uint16_t* dest) {
  return within(10, [&] { return modbus_cmd_read(address, count, dest); });
}
int write_regs(uint16_t address, int count, const uint16_t* src) {
  return within(10, [&] { return modbus_cmd_write(address, count, src); });
}

// One link lifetime, from connect to shutdown.
TEST(LinkLifetime, ServesRequestsPollsAndStops) {
  test_server server;
  ASSERT_TRUE(server.start());
  server.set_register(MB_STATE_READ_ADDR, 3);
  tool_config.iPrintIlockChange = 0;
  link_params params = {"127.0.0.1", server.port()};
  testing::internal::CaptureStdout();
  double started = wall_seconds();
  pthread_t link;
  ASSERT_EQ(0, pthread_create(&link, nullptr, link_thread_main, &params));

  // Connected, and the first poll comes at once, before any request.
  EXPECT_EQ(1, within(10, link_wait_status));
  EXPECT_EQ("Connect to 127.0.0.1:" + std::to_string(server.port()) + " is OK.\n",
            testing::internal::GetCapturedStdout());
  ASSERT_TRUE(server.wait_for(5, [](const auto& log) { return !log.empty(); }));
  request_record first = server.requests()[0];
  EXPECT_TRUE(is_poll(first)) << first.function << " " << first.address << " " << first.count;
  EXPECT_LT(first.time - server.accept_time(), 0.5);

  // A write of one register is a write-multiple-registers request of length 1.
  uint16_t one = 0x1234;
  EXPECT_EQ(1, write_regs(5200, 1, &one));
  std::vector<request_record> log = without_polls(server.requests());
  ASSERT_EQ(1u, log.size());
  EXPECT_EQ(16, log[0].function);
  EXPECT_EQ(5200, log[0].address);
  EXPECT_EQ(1, log[0].count);
  EXPECT_EQ(std::vector<uint16_t>{0x1234}, log[0].values);
  EXPECT_EQ(0x1234, server.get_register(5200));

  // A read returns the device's data.
  for (int i = 0; i < 64; i++) server.set_register(5300 + i, static_cast<uint16_t>(7 + i));
  uint16_t buf[MAILBOX_WORDS + 1];
  EXPECT_EQ(3, read_regs(5300, 3, buf));
  EXPECT_EQ(7, buf[0]);
  EXPECT_EQ(8, buf[1]);
  EXPECT_EQ(9, buf[2]);
  log = without_polls(server.requests());
  ASSERT_EQ(2u, log.size());
  EXPECT_EQ(3, log[1].function);
  EXPECT_EQ(5300, log[1].address);
  EXPECT_EQ(3, log[1].count);

  // 64 registers is the most a request carries; 65 fail without a transfer.
  EXPECT_EQ(MAILBOX_WORDS, read_regs(5300, MAILBOX_WORDS, buf));
  EXPECT_EQ(7 + 63, buf[63]);
  EXPECT_EQ(MAILBOX_WORDS, write_regs(5400, MAILBOX_WORDS, buf));
  EXPECT_EQ(7 + 63, server.get_register(5463));
  for (auto& w : buf) w = 0xAAAA;
  EXPECT_EQ(-1, read_regs(5300, MAILBOX_WORDS + 1, buf));
  EXPECT_EQ(-1, write_regs(5300, MAILBOX_WORDS + 1, buf));
  EXPECT_EQ(-1, read_regs(5300, -1, buf));
  for (auto w : buf) EXPECT_EQ(0xAAAA, w);
  EXPECT_EQ(4u, without_polls(server.requests()).size());

  // A failed read of 2 registers still overwrites 2 registers with the last transfer's data.
  EXPECT_EQ(3, read_regs(5300, 3, buf));
  for (auto& w : buf) w = 0xAAAA;
  server.fail_address = 5601;
  EXPECT_EQ(-1, read_regs(5600, 2, buf));
  EXPECT_EQ(7, buf[0]);
  EXPECT_EQ(8, buf[1]);
  EXPECT_EQ(0xAAAA, buf[2]);
  server.fail_address = -1;

  // An unknown request code is reported and completed with the old result.
  testing::internal::CaptureStdout();
  EXPECT_EQ(-1, within(10, [] { return link_post_raw(55); }));
  EXPECT_EQ("Unknown new_cmd = 55\n", testing::internal::GetCapturedStdout());
  EXPECT_EQ(2, read_regs(5300, 2, buf));

  // Back-to-back requests from one requester while the polls go on.
  int polls_before = server.poll_count();
  int mismatches = within(60, [&] {
    int bad = 0;
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (int i = 0; i < 200 || server.poll_count() < polls_before + 2; i++) {
      if (std::chrono::steady_clock::now() > give_up) return -1;
      uint16_t out[2] = {static_cast<uint16_t>(i), static_cast<uint16_t>(~i)};
      uint16_t in[MAILBOX_WORDS] = {};
      if (modbus_cmd_write(5250, 2, out) != 2) bad++;
      int n = i % 3 == 0 ? MAILBOX_WORDS : 2;
      if (modbus_cmd_read(5250, n, in) != n || in[0] != out[0] || in[1] != out[1]) bad++;
    }
    return bad;
  });
  EXPECT_EQ(0, mismatches);

  // At most one poll per wall-clock second; the interlock words are never read when the
  // monitor is off.
  std::vector<request_record> all = server.requests();
  EXPECT_LE(count_polls(all), wall_seconds() - started + 2);
  for (const auto& r : all) {
    EXPECT_FALSE(r.address + r.count > 5532 && r.address < 5538) << r.address;
    EXPECT_TRUE(r.function == 3 || r.function == 16) << r.function;
  }

  // Quit ends the link thread; afterwards every request fails at once.
  quit_requested = 1;
  link_wake();
  join_within(link, 5);
  EXPECT_EQ(-1, read_regs(5300, 1, buf));
  EXPECT_EQ(-1, write_regs(5300, 1, buf));
  EXPECT_EQ(-1, within(10, [] { return link_post_raw(55); }));
  EXPECT_EQ(1, quit_requested.load());
}

// Checks for child processes: a failure is printed on standard error, which the parent
// shows, and counted into the exit status.
struct checks {
  int failures = 0;
  void expect(bool ok, const std::string& what) {
    if (ok) return;
    fprintf(stderr, "failed: %s\n", what.c_str());
    failures++;
  }
};

// A connection that fails: status -1, the two lines, no quit, requests fail at once.
int failed_connection(const char* host, int port, const std::string& expected_output) {
  checks c;
  link_params params = {};
  snprintf(params.host, sizeof(params.host), "%s", host);
  params.port = port;
  testing::internal::CaptureStdout();
  pthread_t link;
  if (pthread_create(&link, nullptr, link_thread_main, &params) != 0) return 1;
  c.expect(within(10, link_wait_status) == -1, "link_wait_status is -1");
  join_within(link, 10);
  std::string out = testing::internal::GetCapturedStdout();
  c.expect(out == expected_output, "output: " + out);
  uint16_t buf[1];
  c.expect(read_regs(5480, 1, buf) == -1, "read fails");
  c.expect(write_regs(5480, 1, buf) == -1, "write fails");
  c.expect(quit_requested.load() == 0, "quit_requested untouched");
  return c.failures;
}

int refused_connection() {
  // A bound socket that doesn't listen refuses connections, and no one else can take its port.
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    return 1;
  int port = ntohs(addr.sin_port);
  int failures =
      failed_connection("127.0.0.1", port,
                        "Connect to 127.0.0.1:" + std::to_string(port) +
                            " is FAIL.\nModbus Connection failed! ERRNO:[Connection refused]\n");
  close(fd);
  return failures;
}

TEST(LinkConnect, RefusedConnectionGivesStatusMinusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(_exit(refused_connection()), testing::ExitedWithCode(0), "");
}

TEST(LinkConnect, EmptyHostCountsAsFailedConnection) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      _exit(failed_connection(
          "", 502,
          "Connect to :502 is FAIL.\nModbus Connection failed! ERRNO:[Invalid argument]\n")),
      testing::ExitedWithCode(0), "");
}

// A request posted while the link thread finishes its last poll fails instead of waiting.
int request_pending_when_link_leaves() {
  checks c;
  test_server server;
  if (!server.start()) return 1;
  server.delay_poll_ms = 400;  // below the library's response time-out
  tool_config.iPrintIlockChange = 0;
  link_params params = {"127.0.0.1", server.port()};
  testing::internal::CaptureStdout();
  pthread_t link;
  if (pthread_create(&link, nullptr, link_thread_main, &params) != 0) return 1;
  c.expect(within(10, link_wait_status) == 1, "connected");
  auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!server.in_delay && std::chrono::steady_clock::now() < give_up)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  quit_requested = 1;
  c.expect(server.in_delay, "quit set during the poll");
  uint16_t buf[1];
  c.expect(read_regs(5300, 1, buf) == -1, "pending request fails");
  join_within(link, 5);
  c.expect(read_regs(5300, 1, buf) == -1, "later request fails");
  c.expect(without_polls(server.requests()).empty(), "no request reached the device");
  testing::internal::GetCapturedStdout();
  return c.failures;
}

TEST(LinkQuit, RequestPendingWhenLinkLeavesFails) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(_exit(request_pending_when_link_leaves()), testing::ExitedWithCode(0), "");
}

// The monitor on: the three words are read after the state poll and their changes printed.
int monitor_in_link() {
  checks c;
  test_server server;
  if (!server.start()) return 1;
  server.set_register(5532, 5);
  server.set_register(5535, 0x0002);  // bit 17 of the HV word
  snprintf(ilock_names[ILOCK_STANDBY][0], ILOCK_NAME_SIZE, "s0");
  snprintf(ilock_names[ILOCK_STANDBY][2], ILOCK_NAME_SIZE, "s2");
  snprintf(ilock_names[ILOCK_HV][17], ILOCK_NAME_SIZE, "h17");
  tool_config.iPrintIlockChange = 1;
  link_params params = {"127.0.0.1", server.port()};
  testing::internal::CaptureStdout();
  pthread_t link;
  if (pthread_create(&link, nullptr, link_thread_main, &params) != 0) return 1;
  c.expect(within(10, link_wait_status) == 1, "connected");
  c.expect(server.wait_for(5, [](const auto& log) { return log.size() >= 4; }), "four reads");
  quit_requested = 1;
  link_wake();
  join_within(link, 5);
  std::string out = testing::internal::GetCapturedStdout();
  std::string expected = "Connect to 127.0.0.1:" + std::to_string(server.port()) +
                         " is OK.\n"
                         "Standby ilock change: \033[31m0->1: s0\033[0m\n"
                         "Standby ilock change: \033[31m0->1: s2\033[0m\n"
                         "HV ilock change: \033[31m0->1: h17\033[0m\n";
  c.expect(out == expected, "output: " + out);
  std::vector<request_record> log = server.requests();
  int addresses[] = {MB_STATE_READ_ADDR, 5532, 5534, 5536};
  for (int i = 0; i < 4 && i < static_cast<int>(log.size()); i++) {
    c.expect(
        log[i].function == 3 && log[i].address == addresses[i] && log[i].count == (i == 0 ? 1 : 2),
        "read " + std::to_string(i) + " at " + std::to_string(log[i].address));
  }
  return c.failures;
}

TEST(LinkMonitor, ReadsInterlockWordsAfterThePoll) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(_exit(monitor_in_link()), testing::ExitedWithCode(0), "");
}

// One monitor pass with a context of its own, without the link thread.
class MonitorPass : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.start());
    ctx_ = modbus_new_tcp("127.0.0.1", server_.port());
    ASSERT_NE(nullptr, ctx_);
    ASSERT_EQ(0, modbus_connect(ctx_));
    memset(ilock_names, 0, sizeof(ilock_names));
    // The lifetime test above ends with the stop flag set; a pass reads nothing after a stop.
    quit_requested = 0;
  }
  void TearDown() override {
    modbus_close(ctx_);
    modbus_free(ctx_);
  }
  std::string pass() {
    testing::internal::CaptureStdout();
    interlock_monitor_pass(ctx_, &memory_);
    return testing::internal::GetCapturedStdout();
  }

  test_server server_;
  modbus_t* ctx_ = nullptr;
  interlock_memory memory_ = {};
};

TEST_F(MonitorPass, FirstReadReportsSetBitsAsRising) {
  snprintf(ilock_names[ILOCK_STANDBY][0], ILOCK_NAME_SIZE, "Filament Voltage Interlock");
  snprintf(ilock_names[ILOCK_STANDBY][2], ILOCK_NAME_SIZE, "Customer Interface Standby 1");
  server_.set_register(5532, 5);
  EXPECT_EQ(
      "Standby ilock change: \033[31m0->1: Filament Voltage Interlock\033[0m\n"
      "Standby ilock change: \033[31m0->1: Customer Interface Standby 1\033[0m\n",
      pass());
  EXPECT_EQ(5u, memory_.previous[0]);
  EXPECT_EQ("", pass());
}

TEST_F(MonitorPass, UnnamedChangeIsStoredSilently) {
  snprintf(ilock_names[ILOCK_TRIG][1], ILOCK_NAME_SIZE, "named");
  server_.set_register(5536, 1);
  EXPECT_EQ("", pass());
  EXPECT_EQ(1u, memory_.previous[2]);
  server_.set_register(5536, 3);
  EXPECT_EQ("Trig ilock change: \033[31m0->1: named\033[0m\n", pass());
}

TEST_F(MonitorPass, FailedReadKeepsThePreviousWord) {
  snprintf(ilock_names[ILOCK_HV][4], ILOCK_NAME_SIZE, "four");
  snprintf(ilock_names[ILOCK_HV][5], ILOCK_NAME_SIZE, "five");
  server_.set_register(5534, 1u << 5);
  EXPECT_EQ("HV ilock change: \033[31m0->1: five\033[0m\n", pass());
  server_.fail_address = 5534;
  server_.set_register(5534, 1u << 4);
  EXPECT_EQ("", pass());
  server_.set_register(5534, 0);
  EXPECT_EQ("", pass());
  EXPECT_EQ(1u << 5, memory_.previous[1]);
  server_.fail_address = -1;
  EXPECT_EQ("HV ilock change: \033[32m1->0: five\033[0m\n", pass());
  EXPECT_EQ(0u, memory_.previous[1]);
}

}  // namespace
