// Integration harness. See harness.h.
#include "tests/harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

const char* const VT_TOOL_PATH = VT_TOOL_BINARY;
const char* const VT_SIM_PATH = VT_SIM_BINARY;

namespace {

// Without a pidfd the simulator's early end is noticed by looking at it this often.
constexpr int NO_PIDFD_TICK_MS = 50;

std::vector<long> parse_numbers(const std::string& line) {
  std::vector<long> numbers;
  std::istringstream in(line);
  long n = 0;
  while (in >> n) numbers.push_back(n);
  return numbers;
}

// The scratch XDG_STATE_HOME of this program. A forked child that ends through exit() runs
// this destructor too; only the process that made the directory removes it.
class state_home_guard {
 public:
  state_home_guard() : owner_(getpid()) {
    // Tests never fill the host's journal with their writes; the journal's own test turns it on.
    setenv("VELTRONA_TOOL_NO_JOURNAL", "1", 1);
    char pattern[] = "/tmp/vt_state_XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      // Better no state directory at all than the real one.
      setenv("XDG_STATE_HOME", "/nonexistent/vt_state", 1);
      return;
    }
    path_ = pattern;
    setenv("XDG_STATE_HOME", path_.c_str(), 1);
  }
  ~state_home_guard() {
    if (path_.empty() || getpid() != owner_) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  pid_t owner_;
  std::string path_;
};

const state_home_guard state_home;

}  // namespace

const std::string& test_state_home() { return state_home.path(); }

std::string tool_write_log_path() { return test_state_home() + "/veltrona_tool/writes.log"; }

std::ostream& operator<<(std::ostream& os, const sim_write& w) {
  os << "{" << w.function << ", " << w.address << ", {";
  for (size_t k = 0; k < w.values.size(); ++k) os << (k > 0 ? ", " : "") << w.values[k];
  return os << "}}";
}

std::ostream& operator<<(std::ostream& os, const sim_read& r) {
  return os << "{" << r.function << ", " << r.address << ", " << r.count << "}";
}

std::vector<uint16_t> access_code_words(std::string_view digits) {
  std::vector<uint16_t> words(5, 0);
  for (size_t k = 0; k < digits.size() && k < 10; ++k) {
    uint16_t byte = static_cast<unsigned char>(digits[k]);
    words[k / 2] |= k % 2 == 0 ? byte : static_cast<uint16_t>(byte << 8);
  }
  return words;
}

sim_write session_start_login() { return {16, 5121, access_code_words("40716253")}; }

uint32_t float_bits(float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

std::vector<uint16_t> float_words(float value) {
  uint32_t bits = float_bits(value);
  return {static_cast<uint16_t>(bits & 0xFFFF), static_cast<uint16_t>(bits >> 16)};
}

std::string connect_ok_line(int port) {
  return "Connect to 127.0.0.1:" + std::to_string(port) + " is OK.\n";
}

std::string without_poll_failures(std::string text) {
  const std::string line = "Polling fail: -1\n";
  for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at))
    text.erase(at, line.size());
  return text;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string repeat(const std::string& text, int n) {
  std::string out;
  for (int i = 0; i < n; i++) out += text;
  return out;
}

scoped_env::scoped_env(const char* name, const std::optional<std::string>& value) : name_(name) {
  if (const char* old = getenv(name)) old_ = old;
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

scoped_env::~scoped_env() {
  if (old_) {
    setenv(name_.c_str(), old_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

scratch_dir::~scratch_dir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

int scratch_dir::create(const std::string& prefix) {
  // Under /tmp, so that a Unix socket path inside stays well below its length limit.
  std::string pattern = "/tmp/" + prefix + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) return -1;
  path_ = buffer.data();
  return 0;
}

int write_text_file(const std::string& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  return out ? 0 : -1;
}

int read_text_file(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return -1;
  std::ostringstream content;
  content << in.rdbuf();
  *text = content.str();
  return 0;
}

std::vector<std::string> tool_config_lines(int port) {
  return {"sIpAddr = \"127.0.0.1\"", "iPort = " + std::to_string(port)};
}

int write_tool_config(const std::string& dir, const std::vector<std::string>& items) {
  std::string text = "[velt_tool_config]\n";
  for (const std::string& item : items) text += item + "\n";
  return write_text_file(dir + "/veltrona_tool.conf", text);
}

sim_process::~sim_process() {
  if (stop() < 0) child_.kill_and_reap();
}

std::string sim_process::log() const {
  std::string text;
  if (!dir_.path().empty()) read_text_file(dir_.file("sim.log"), &text);
  return text;
}

int sim_process::start(const std::vector<std::string>& extra_args) {
  if (dir_.create("vt_sim_") < 0) {
    error_ = std::string("mkdtemp: ") + strerror(errno);
    return -1;
  }
  std::string port_file = dir_.file("port");
  std::string control = dir_.file("control.sock");
  // Watch the directory before the simulator exists, so the port file can't be missed.
  int watch_fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (watch_fd < 0 || inotify_add_watch(watch_fd, dir_.path().c_str(),
                                        IN_MOVED_TO | IN_CLOSE_WRITE | IN_CREATE) < 0) {
    error_ = std::string("inotify: ") + strerror(errno);
    if (watch_fd >= 0) close(watch_fd);
    return -1;
  }
  std::vector<std::string> args = {VT_SIM_PATH, "--port",    "0",    "--port-file",
                                   port_file,   "--control", control};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  if (child_.start(args, dir_.path(), dir_.file("sim.log")) < 0) {
    error_ = child_.error();
    close(watch_fd);
    return -1;
  }
  long long deadline = monotonic_ms() + VT_WAIT_MS;
  std::string text;
  while (read_text_file(port_file, &text) < 0 || text.find('\n') == std::string::npos) {
    long long remaining = deadline - monotonic_ms();
    if (remaining <= 0 || !child_.running()) {
      error_ = (remaining <= 0 ? "no port file in time; log: " : "simulator ended; log: ") + log();
      close(watch_fd);
      return -1;
    }
    pollfd fds[2] = {{watch_fd, POLLIN, 0}, {child_.exit_fd(), POLLIN, 0}};
    int timeout = static_cast<int>(remaining);
    if (child_.exit_fd() < 0) timeout = std::min(timeout, NO_PIDFD_TICK_MS);
    if (poll(fds, child_.exit_fd() >= 0 ? 2 : 1, timeout) > 0 && (fds[0].revents & POLLIN)) {
      char events[4096];
      while (read(watch_fd, events, sizeof events) > 0) {
      }
    }
  }
  close(watch_fd);
  port_ = std::atoi(text.c_str());

  control_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, control.c_str(), sizeof address.sun_path - 1);
  if (control_fd_ < 0 ||
      connect(control_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
    error_ = "cannot connect to " + control + ": " + strerror(errno);
    return -1;
  }
  return port_ > 0 ? 0 : -1;
}

int sim_process::command(const std::string& line, std::vector<std::string>* lines) {
  error_.clear();
  if (lines != nullptr) lines->clear();
  if (control_fd_ < 0) {
    error_ = "no control connection";
    return -1;
  }
  std::string request = line + "\n";
  size_t sent = 0;
  while (sent < request.size()) {
    ssize_t n = send(control_fd_, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = std::string("control send: ") + strerror(errno);
      return -1;
    }
    sent += static_cast<size_t>(n);
  }
  long long deadline = monotonic_ms() + VT_WAIT_MS;
  for (;;) {
    size_t end = 0;
    while ((end = reply_buffer_.find('\n')) != std::string::npos) {
      std::string reply_line = reply_buffer_.substr(0, end);
      reply_buffer_.erase(0, end + 1);
      if (reply_line == "OK") return 0;
      if (reply_line.rfind("ERR", 0) == 0) {
        error_ = line + ": " + reply_line;
        return -1;
      }
      if (lines != nullptr) lines->push_back(reply_line);
    }
    long long remaining = deadline - monotonic_ms();
    pollfd fd = {control_fd_, POLLIN, 0};
    if (remaining <= 0 || poll(&fd, 1, static_cast<int>(remaining)) <= 0) {
      error_ = line + ": no reply in time";
      return -1;
    }
    char buffer[65536];
    ssize_t n = read(control_fd_, buffer, sizeof buffer);
    if (n <= 0) {
      error_ = line + ": control connection lost";
      return -1;
    }
    reply_buffer_.append(buffer, static_cast<size_t>(n));
  }
}

int sim_process::set_registers(int address, const std::vector<uint16_t>& values) {
  std::string line = "SET " + std::to_string(address);
  for (uint16_t v : values) line += " " + std::to_string(v);
  return command(line);
}

int sim_process::get_registers(int address, int count, std::vector<uint16_t>* values) {
  std::vector<std::string> lines;
  if (command("GET " + std::to_string(address) + " " + std::to_string(count), &lines) < 0) {
    return -1;
  }
  values->clear();
  if (lines.size() != 1) return -1;
  for (long n : parse_numbers(lines[0])) values->push_back(static_cast<uint16_t>(n));
  return 0;
}

int sim_process::fail_reads(int address, int count) {
  return command("FAIL READ " + std::to_string(address) + " " + std::to_string(count));
}

int sim_process::fail_writes(int address, int count) {
  return command("FAIL WRITE " + std::to_string(address) + " " + std::to_string(count));
}

int sim_process::set_delay_ms(int ms) { return command("DELAY " + std::to_string(ms)); }

std::vector<sim_write> sim_process::writes() {
  std::vector<std::string> lines;
  std::vector<sim_write> result;
  if (command("WRITES", &lines) < 0) return result;
  for (const std::string& line : lines) {
    std::vector<long> n = parse_numbers(line);
    if (n.size() < 2) continue;
    sim_write w{static_cast<int>(n[0]), static_cast<int>(n[1]), {}};
    for (size_t k = 2; k < n.size(); ++k) w.values.push_back(static_cast<uint16_t>(n[k]));
    result.push_back(w);
  }
  return result;
}

std::vector<sim_read> sim_process::reads() {
  std::vector<std::string> lines;
  std::vector<sim_read> result;
  if (command("READS", &lines) < 0) return result;
  for (const std::string& line : lines) {
    std::vector<long> n = parse_numbers(line);
    if (n.size() != 3) continue;
    result.push_back({static_cast<int>(n[0]), static_cast<int>(n[1]), static_cast<int>(n[2])});
  }
  return result;
}

int sim_process::stop() {
  if (control_fd_ >= 0) {
    close(control_fd_);
    control_fd_ = -1;
  }
  if (!child_.running()) return child_.exit_status();
  child_.send_signal(SIGTERM);
  if (child_.wait_exit(VT_WAIT_MS) < 0) {
    error_ = "simulator did not stop on SIGTERM";
    child_.kill_and_reap();
    return -1;
  }
  return child_.exit_status();
}

closed_port::closed_port() {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port_ = ntohs(address.sin_port);
  }
}

closed_port::~closed_port() {
  if (fd_ >= 0) close(fd_);
}

int tool_process::start(const std::string& dir, const std::vector<std::string>& args) {
  if (access(VT_TOOL_PATH, X_OK) != 0) {
    error_ = std::string("tool not built: ") + VT_TOOL_PATH;
    return -1;
  }
  std::vector<std::string> argv = {VT_TOOL_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  if (child_.start(argv, dir) < 0) {
    error_ = child_.error();
    return -1;
  }
  return 0;
}

tool_result tool_process::finish(int timeout_ms) {
  tool_result result;
  if (child_.wait_exit(timeout_ms) < 0) {
    result.timed_out = true;
    child_.kill_and_reap();
  }
  result.out = child_.out();
  result.err = child_.err();
  result.status = result.timed_out ? -1 : child_.exit_status();
  return result;
}

tool_result run_tool_batch(const std::string& dir, std::string_view script, int timeout_ms,
                           const std::vector<std::string>& args) {
  tool_process tool;
  if (tool.start(dir, args) < 0) {
    tool_result result;
    result.err = tool.error();
    return result;
  }
  // A tool that ends before reading all of it leaves the rest unread; that is its outcome.
  tool.write_input(script, timeout_ms);
  tool.close_input();
  return tool.finish(timeout_ms);
}
