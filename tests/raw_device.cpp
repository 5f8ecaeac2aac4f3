// A silent or trickling Modbus TCP device. See raw_device.h.
#include "tests/raw_device.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "tests/child_process.h"

namespace {

// How often the thread looks at the stop flag while it waits.
constexpr int TICK_MS = 20;

constexpr size_t MBAP_LENGTH = 7;

// The reply a correct device gives: registers read as zeros, writes acknowledged, anything else
// refused with exception 1.
std::vector<unsigned char> reply_to(const std::vector<unsigned char>& adu) {
  std::vector<unsigned char> reply(adu.begin(), adu.begin() + MBAP_LENGTH);
  unsigned char function = adu[7];
  std::vector<unsigned char> pdu;
  if (function == 3 && adu.size() >= 12) {
    int count = adu[10] << 8 | adu[11];
    pdu = {3, static_cast<unsigned char>(2 * count)};
    pdu.resize(pdu.size() + static_cast<size_t>(2 * count), 0);
  } else if (function == 16 && adu.size() >= 12) {
    pdu.assign(adu.begin() + 7, adu.begin() + 12);
  } else {
    pdu = {static_cast<unsigned char>(function | 0x80), 1};
  }
  size_t length = pdu.size() + 1;  // the unit identifier counts
  reply[4] = static_cast<unsigned char>(length >> 8);
  reply[5] = static_cast<unsigned char>(length & 0xFF);
  reply.insert(reply.end(), pdu.begin(), pdu.end());
  return reply;
}

}  // namespace

raw_device::~raw_device() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listen_fd_ >= 0) close(listen_fd_);
}

int raw_device::start(behaviour how) {
  how_ = how;
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listen_fd_, how == NOT_ACCEPTING ? 0 : 4) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return -1;
  port_ = ntohs(address.sin_port);
  if (how != NOT_ACCEPTING) thread_ = std::thread([this] { run(); });
  return 0;
}

std::vector<raw_device::request> raw_device::requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void raw_device::run() {
  while (!stop_) {
    pollfd p = {listen_fd_, POLLIN, 0};
    if (poll(&p, 1, TICK_MS) <= 0) continue;
    int client = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    serve(client);
    close(client);
  }
}

void raw_device::serve(int client) {
  std::vector<unsigned char> received;
  while (!stop_) {
    pollfd p = {client, POLLIN, 0};
    int ready = poll(&p, 1, TICK_MS);
    if (ready == 0) continue;
    unsigned char buffer[512];
    ssize_t n = ready > 0 ? recv(client, buffer, sizeof buffer, 0) : -1;
    if (n <= 0) return;  // the client has gone
    received.insert(received.end(), buffer, buffer + n);
    while (received.size() >= MBAP_LENGTH) {
      size_t adu_length = 6 + (received[4] << 8 | received[5]);
      if (received.size() < adu_length) break;
      std::vector<unsigned char> adu(received.begin(), received.begin() + adu_length);
      received.erase(received.begin(), received.begin() + adu_length);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back({adu.size() > 7 ? adu[7] : -1, monotonic_ms()});
      }
      if (how_ == TRICKLING && adu.size() > 7 && !trickle(client, reply_to(adu))) return;
    }
  }
}

bool raw_device::trickle(int client, const std::vector<unsigned char>& reply) {
  for (unsigned char byte : reply) {
    if (!pause_ms(TRICKLE_MS)) return false;
    if (send(client, &byte, 1, MSG_NOSIGNAL) != 1) return false;
    reply_bytes_++;
  }
  return true;
}

bool raw_device::pause_ms(int ms) {
  for (int waited = 0; waited < ms && !stop_; waited += TICK_MS)
    std::this_thread::sleep_for(std::chrono::milliseconds(TICK_MS));
  return !stop_;
}
