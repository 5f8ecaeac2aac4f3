// One select loop serves the Modbus clients, the control clients and the delayed replies; there
// are no threads, so the device model needs no lock. See server.h.
#include "sim/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <modbus.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/control.h"
#include "sim/modbus_request.h"

namespace {

// Written by the signal handler, read by the loop.
volatile sig_atomic_t stop_signal = 0;

void on_stop_signal(int) { stop_signal = 1; }

// Largest register count a single write may carry (function 16); requests beyond it, or beyond
// the register file, are refused by libmodbus and must not move the device.
constexpr int MAX_WRITE_COUNT = 123;
constexpr size_t MAX_CONTROL_LINE = 65536;

struct modbus_client {
  int fd;
  int id;
  bool pending = false;  // a request waits for its delayed reply; nothing more is read meanwhile
  std::vector<uint8_t> request;
  timespec due{};
};

struct control_client {
  int fd_in;
  int fd_out;
  std::string input;
};

timespec now_monotonic() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t;
}

timespec add_ms(timespec t, int ms) {
  t.tv_sec += ms / 1000;
  t.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (t.tv_nsec >= 1000000000L) {
    t.tv_sec += 1;
    t.tv_nsec -= 1000000000L;
  }
  return t;
}

bool not_later(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec <= b.tv_nsec);
}

// Writes all of text; false when the peer is gone.
bool write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

class server {
 public:
  explicit server(const sim_options& options) : options_(options) {}
  ~server();
  int start();
  void run();

 private:
  void log(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int write_port_file();
  int listen_control();
  void accept_modbus();
  void accept_control();
  void receive_request(modbus_client& client);
  void answer(modbus_client& client);
  void answer_due();
  bool serve_control(control_client& client);
  void close_modbus(size_t index);
  void drop_all();
  int bound_socket();
  int follow_refusal();

  sim_options options_;
  sim_state state_;
  modbus_mapping_t mapping_{};
  modbus_t* ctx_ = nullptr;
  int listen_fd_ = -1;  // -1 while connections are refused
  int hold_fd_ = -1;    // while refusing: bound to the port without listening, to keep it
  int control_fd_ = -1;
  int port_ = 0;
  int next_id_ = 1;
  bool port_file_written_ = false;
  std::vector<modbus_client> clients_;
  std::vector<control_client> controls_;
};

void server::log(const char* format, ...) {
  if (!options_.verbose) return;
  va_list args;
  va_start(args, format);
  std::fputs("veltrona_sim: ", stderr);
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
  va_end(args);
}

int server::start() {
  // The mapping serves the device's register file in place; it is never freed by libmodbus.
  mapping_.start_registers = 0;
  mapping_.nb_registers = SIM_REGISTER_COUNT;
  mapping_.tab_registers = state_.device.registers().data();

  ctx_ = modbus_new_tcp("127.0.0.1", options_.port);
  if (ctx_ == nullptr) {
    std::fprintf(stderr, "veltrona_sim: cannot create the Modbus context: %s\n",
                 modbus_strerror(errno));
    return -1;
  }
  // A client that stops in the middle of a request must not stall the loop for long.
  modbus_set_indication_timeout(ctx_, 1, 0);
  listen_fd_ = modbus_tcp_listen(ctx_, 16);
  if (listen_fd_ < 0) {
    std::fprintf(stderr, "veltrona_sim: cannot listen on 127.0.0.1:%d: %s\n", options_.port,
                 modbus_strerror(errno));
    return -1;
  }
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) < 0) {
    std::fprintf(stderr, "veltrona_sim: getsockname: %s\n", std::strerror(errno));
    return -1;
  }
  port_ = ntohs(address.sin_port);
  if (!options_.control_path.empty() && listen_control() < 0) return -1;
  if (options_.control_stdin) controls_.push_back({STDIN_FILENO, STDOUT_FILENO, {}});
  if (!options_.port_file.empty() && write_port_file() < 0) return -1;
  log("listening on 127.0.0.1:%d", port_);
  return 0;
}

int server::listen_control() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (options_.control_path.size() >= sizeof address.sun_path) {
    std::fprintf(stderr, "veltrona_sim: control socket path too long: %s\n",
                 options_.control_path.c_str());
    return -1;
  }
  std::memcpy(address.sun_path, options_.control_path.c_str(), options_.control_path.size());
  control_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (control_fd_ < 0) {
    std::fprintf(stderr, "veltrona_sim: socket: %s\n", std::strerror(errno));
    return -1;
  }
  unlink(options_.control_path.c_str());  // a socket left by a killed run
  if (bind(control_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 ||
      listen(control_fd_, 8) < 0) {
    std::fprintf(stderr, "veltrona_sim: cannot listen on %s: %s\n", options_.control_path.c_str(),
                 std::strerror(errno));
    close(control_fd_);
    control_fd_ = -1;
    return -1;
  }
  return 0;
}

int server::write_port_file() {
  std::string temporary = options_.port_file + ".tmp";
  FILE* file = std::fopen(temporary.c_str(), "w");
  if (file == nullptr) {
    std::fprintf(stderr, "veltrona_sim: cannot write %s: %s\n", temporary.c_str(),
                 std::strerror(errno));
    return -1;
  }
  std::fprintf(file, "%d\n", port_);
  if (std::fclose(file) != 0 || std::rename(temporary.c_str(), options_.port_file.c_str()) != 0) {
    std::fprintf(stderr, "veltrona_sim: cannot write %s: %s\n", options_.port_file.c_str(),
                 std::strerror(errno));
    std::remove(temporary.c_str());
    return -1;
  }
  port_file_written_ = true;
  return 0;
}

server::~server() {
  drop_all();
  for (control_client& c : controls_) {
    if (c.fd_in != STDIN_FILENO) close(c.fd_in);
  }
  if (control_fd_ >= 0) {
    close(control_fd_);
    unlink(options_.control_path.c_str());
  }
  if (listen_fd_ >= 0) close(listen_fd_);
  if (hold_fd_ >= 0) close(hold_fd_);
  if (ctx_ != nullptr) modbus_free(ctx_);
  if (port_file_written_) std::remove(options_.port_file.c_str());
}

void server::accept_modbus() {
  int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  if (fd >= FD_SETSIZE) {
    close(fd);
    return;
  }
  clients_.push_back({fd, next_id_++, false, {}, {}});
  state_.accepted++;
  state_.clients = static_cast<int>(clients_.size());
  log("client %d connected", clients_.back().id);
}

void server::accept_control() {
  int fd = accept4(control_fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  if (fd >= FD_SETSIZE) {
    close(fd);
    return;
  }
  controls_.push_back({fd, fd, {}});
}

void server::close_modbus(size_t index) {
  log("client %d closed", clients_[index].id);
  close(clients_[index].fd);
  clients_.erase(clients_.begin() + static_cast<long>(index));
  state_.clients = static_cast<int>(clients_.size());
}

void server::drop_all() {
  while (!clients_.empty()) close_modbus(clients_.size() - 1);
}

// A socket bound to the Modbus port that does not listen yet, or -1.
int server::bound_socket() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port_));
  // The port still has connections in TIME_WAIT from a DROP.
  if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

// Stops or starts listening as the control channel asks. Without a listening socket a client's
// connect is refused at once, as by a device whose server is down; a socket bound meanwhile
// keeps the port from other programs, so that the simulator listens on the same one again.
// Returns 0, or -1 when it could not listen again (it goes on refusing).
int server::follow_refusal() {
  if (state_.refusing && listen_fd_ >= 0) {
    close(listen_fd_);
    listen_fd_ = -1;
    hold_fd_ = bound_socket();
    log("refusing connections");
  } else if (!state_.refusing && listen_fd_ < 0) {
    int fd = bound_socket();
    if (fd < 0 || fd >= FD_SETSIZE || listen(fd, 16) < 0) {
      int err = fd >= FD_SETSIZE ? EMFILE : errno;
      if (fd >= 0) close(fd);
      state_.refusing = true;
      errno = err;
      return -1;
    }
    listen_fd_ = fd;
    if (hold_fd_ >= 0) close(hold_fd_);
    hold_fd_ = -1;
    log("accepting connections again");
  }
  return 0;
}

// Logs the request as it arrives, then answers it at once or after the delay.
void server::receive_request(modbus_client& client) {
  uint8_t request[MODBUS_TCP_MAX_ADU_LENGTH];
  modbus_set_socket(ctx_, client.fd);
  int length = modbus_receive(ctx_, request);
  if (length <= 0) {
    if (length < 0) {  // closed by the peer or broken: removed by the loop
      close(client.fd);
      client.fd = -1;
    }
    return;
  }
  state_.requests++;
  modbus_request_info info = modbus_decode_request(request, length, modbus_get_header_length(ctx_));
  log("client %d: function %d read %d+%d write %d+%d", client.id, info.function, info.read_address,
      info.read_count, info.write_address, info.write_count);
  if (info.read_count > 0) {
    state_.device.record_read({info.function, info.read_address, info.read_count});
  }
  if (!info.write_values.empty()) {
    state_.device.record_write({info.function, info.write_address, info.write_values});
  }
  client.request.assign(request, request + length);
  if (state_.delay_ms > 0) {
    client.pending = true;
    client.due = add_ms(now_monotonic(), state_.delay_ms);
  } else {
    answer(client);
  }
}

void server::answer(modbus_client& client) {
  client.pending = false;
  const uint8_t* request = client.request.data();
  int length = static_cast<int>(client.request.size());
  modbus_request_info info = modbus_decode_request(request, length, modbus_get_header_length(ctx_));
  int exception = state_.device.fault_for(false, info.read_address, info.read_count);
  if (exception == 0) {
    exception = state_.device.fault_for(true, info.write_address, info.write_count);
  }
  modbus_set_socket(ctx_, client.fd);
  int rc = 0;
  if (exception != 0) {
    rc = modbus_reply_exception(ctx_, request, static_cast<unsigned>(exception));
  } else {
    rc = modbus_reply(ctx_, request, length, &mapping_);
    bool write_in_range = info.write_count > 0 && info.write_count <= MAX_WRITE_COUNT &&
                          info.write_address + info.write_count <= SIM_REGISTER_COUNT;
    if (rc >= 0 && write_in_range) state_.device.after_write(info.write_address, info.write_count);
  }
  if (rc < 0) {
    close(client.fd);
    client.fd = -1;
  }
}

void server::answer_due() {
  timespec now = now_monotonic();
  for (modbus_client& client : clients_) {
    if (client.pending && client.fd >= 0 && not_later(client.due, now)) answer(client);
  }
}

// Reads what the client sent and answers every complete line. Returns false when the client is
// gone (for standard input: at end of input, which ends the simulator).
bool server::serve_control(control_client& client) {
  char buffer[4096];
  ssize_t n = read(client.fd_in, buffer, sizeof buffer);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (n <= 0) return false;
  client.input.append(buffer, static_cast<size_t>(n));
  size_t end = 0;
  while ((end = client.input.find('\n')) != std::string::npos) {
    std::string line = client.input.substr(0, end);
    client.input.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string reply;
    sim_control_execute(line, state_, &reply);
    if (state_.drop_requested) {
      state_.drop_requested = false;
      drop_all();
    }
    if (follow_refusal() < 0)
      reply = "ERR cannot listen again: " + std::string(strerror(errno)) + "\n";
    if (!write_all(client.fd_out, reply)) return false;
  }
  if (client.input.size() > MAX_CONTROL_LINE) {
    client.input.clear();
    if (!write_all(client.fd_out, "ERR line too long\n")) return false;
  }
  return true;
}

void server::run() {
  sigset_t blocked, original;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  sigprocmask(SIG_BLOCK, &blocked, &original);
  // The stop signals stay blocked and are read from a descriptor the loop watches, so a stop is
  // never missed between a check and the wait. (A handler let through only inside pselect does
  // the same, but ThreadSanitizer defers handlers until the signal is unblocked again, which
  // left a sanitized simulator waiting for good.) Without the descriptor, that handler is used.
  int signal_fd = signalfd(-1, &blocked, SFD_CLOEXEC);
  const sigset_t* wait_mask = signal_fd >= 0 ? nullptr : &original;
  while (stop_signal == 0 && !state_.quit_requested) {
    fd_set readable;
    FD_ZERO(&readable);
    int top = -1;
    auto watch = [&](int fd) {
      FD_SET(fd, &readable);
      if (fd > top) top = fd;
    };
    if (listen_fd_ >= 0) watch(listen_fd_);
    if (signal_fd >= 0) watch(signal_fd);
    if (control_fd_ >= 0) watch(control_fd_);
    for (const control_client& c : controls_) watch(c.fd_in);
    bool any_pending = false;
    timespec earliest{};
    for (const modbus_client& c : clients_) {
      if (!c.pending) {
        watch(c.fd);
      } else if (!any_pending || not_later(c.due, earliest)) {
        earliest = c.due;
        any_pending = true;
      }
    }
    timespec timeout{};
    timespec* timeout_p = nullptr;
    if (any_pending) {
      timespec now = now_monotonic();
      if (!not_later(earliest, now)) {
        long long ns =
            (earliest.tv_sec - now.tv_sec) * 1000000000LL + earliest.tv_nsec - now.tv_nsec;
        timeout.tv_sec = static_cast<time_t>(ns / 1000000000LL);
        timeout.tv_nsec = static_cast<long>(ns % 1000000000LL);
      }
      timeout_p = &timeout;
    }
    int ready = pselect(top + 1, &readable, nullptr, nullptr, timeout_p, wait_mask);
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "veltrona_sim: select: %s\n", std::strerror(errno));
      break;
    }
    if (signal_fd >= 0 && FD_ISSET(signal_fd, &readable)) break;
    answer_due();
    if (listen_fd_ >= 0 && FD_ISSET(listen_fd_, &readable)) accept_modbus();
    if (control_fd_ >= 0 && FD_ISSET(control_fd_, &readable)) accept_control();
    // Clients accepted above are not in the set yet; only those watched are looked at.
    for (size_t i = 0; i < clients_.size(); ++i) {
      if (clients_[i].fd >= 0 && !clients_[i].pending && FD_ISSET(clients_[i].fd, &readable)) {
        receive_request(clients_[i]);
      }
    }
    for (size_t i = clients_.size(); i-- > 0;) {
      if (clients_[i].fd < 0) {
        log("client %d lost", clients_[i].id);
        clients_.erase(clients_.begin() + static_cast<long>(i));
      }
    }
    state_.clients = static_cast<int>(clients_.size());
    for (size_t i = controls_.size(); i-- > 0;) {
      control_client& c = controls_[i];
      if (!FD_ISSET(c.fd_in, &readable) || serve_control(c)) continue;
      if (c.fd_in == STDIN_FILENO) {
        state_.quit_requested = true;  // end of the control input ends the simulator
      } else {
        close(c.fd_in);
      }
      controls_.erase(controls_.begin() + static_cast<long>(i));
    }
  }
  if (signal_fd >= 0) close(signal_fd);
  sigprocmask(SIG_SETMASK, &original, nullptr);
}

}  // namespace

int sim_serve(const sim_options& options) {
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  auto s = std::make_unique<server>(options);
  if (s->start() < 0) return 1;
  s->run();
  return 0;
}
