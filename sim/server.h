// The simulator's server: a Modbus TCP server on 127.0.0.1 built on libmodbus's server side,
// serving any number of clients and the control channel from one select loop on one thread.
#pragma once

#include <string>

struct sim_options {
  int port = 0;                // 0: the system picks a free port
  std::string port_file;       // when set, receives the port number once the server is ready
  std::string control_path;    // when set, a Unix stream socket for control clients
  bool control_stdin = false;  // control commands on standard input, replies on standard output
  bool verbose = false;        // log connections and requests to standard error
};

// Serves until SIGINT or SIGTERM, the control command QUIT, or end of standard input when that
// carries the control channel. The port file is written (to a temporary name, then renamed) only
// after the Modbus and control sockets listen, so its appearance means "ready". On the way out it
// closes every connection and removes the port file and the control socket.
//
// Returns the exit status: 0 after a clean stop, 1 when the server couldn't start (with a message
// on standard error). Installs handlers for SIGINT and SIGTERM and ignores SIGPIPE; call it from
// the main thread, once.
int sim_serve(const sim_options& options);
