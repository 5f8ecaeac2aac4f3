// bench_modbus_server: the smallest useful Modbus TCP server, the yardstick for the simulator.
// It answers every request from a plain register map of 6400 holding registers (all zero) on
// 127.0.0.1, to any number of clients, from one select loop: what libmodbus's own server side
// does with nothing added, so the simulator's extra work shows as the difference.
//
//   bench_modbus_server --port-file PATH [--port N]
//
// The port file receives the port once the server listens (written to PATH.tmp and renamed).
// SIGINT or SIGTERM end it and remove the port file.
#include <arpa/inet.h>
#include <modbus.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int SERVER_REGISTERS = 6400;

// Set by the signal handlers, read by the select loop.
volatile sig_atomic_t stop_flag = 0;

void on_stop(int) { stop_flag = 1; }

int write_port_file(const std::string& path, int port) {
  std::string tmp = path + ".tmp";
  FILE* f = fopen(tmp.c_str(), "w");
  if (!f) return -1;
  fprintf(f, "%d\n", port);
  if (fclose(f) != 0) return -1;
  return rename(tmp.c_str(), path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::string port_file;
  int port = 0;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--port-file") == 0 && i + 1 < argc) {
      port_file = argv[++i];
    } else if (strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
      port = atoi(argv[++i]);
    } else {
      fprintf(stderr, "usage: bench_modbus_server --port-file PATH [--port N]\n");
      return 2;
    }
  }
  if (port_file.empty()) {
    fprintf(stderr, "bench_modbus_server: --port-file is required\n");
    return 2;
  }

  struct sigaction sa = {};
  sa.sa_handler = on_stop;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
  modbus_mapping_t* map = modbus_mapping_new(0, 0, SERVER_REGISTERS, 0);
  if (!ctx || !map) {
    fprintf(stderr, "bench_modbus_server: %s\n", modbus_strerror(errno));
    return 1;
  }
  int listen_fd = modbus_tcp_listen(ctx, 8);
  if (listen_fd < 0) {
    fprintf(stderr, "bench_modbus_server: listen: %s\n", modbus_strerror(errno));
    return 1;
  }
  sockaddr_in bound = {};
  socklen_t bound_len = sizeof(bound);
  getsockname(listen_fd, reinterpret_cast<sockaddr*>(&bound), &bound_len);
  if (write_port_file(port_file, ntohs(bound.sin_port)) != 0) {
    fprintf(stderr, "bench_modbus_server: can't write %s\n", port_file.c_str());
    return 1;
  }

  fd_set clients;
  FD_ZERO(&clients);
  FD_SET(listen_fd, &clients);
  int max_fd = listen_fd;
  uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
  while (!stop_flag) {
    fd_set ready = clients;
    // The timeout only bounds how late a stop signal is noticed.
    timeval timeout = {1, 0};
    int n = select(max_fd + 1, &ready, nullptr, nullptr, &timeout);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int fd = 0; n > 0 && fd <= max_fd; ++fd) {
      if (!FD_ISSET(fd, &ready)) continue;
      --n;
      if (fd == listen_fd) {
        int client = accept(listen_fd, nullptr, nullptr);
        if (client >= 0 && client < FD_SETSIZE) {
          FD_SET(client, &clients);
          if (client > max_fd) max_fd = client;
        } else if (client >= 0) {
          close(client);
        }
        continue;
      }
      modbus_set_socket(ctx, fd);
      int len = modbus_receive(ctx, query);
      if (len > 0) {
        modbus_reply(ctx, query, len, map);
      } else if (len < 0) {
        close(fd);
        FD_CLR(fd, &clients);
      }
    }
  }

  for (int fd = 0; fd <= max_fd; ++fd) {
    if (FD_ISSET(fd, &clients)) close(fd);
  }
  modbus_mapping_free(map);
  modbus_free(ctx);
  unlink(port_file.c_str());
  return 0;
}
