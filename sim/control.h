// The simulator's control channel: one text command per line, from a test or a demo, that sets
// and reads registers, injects faults and delays, drops connections and lists what clients did.
//
// Every command line gets a reply: zero or more data lines, then a line "OK" or "ERR <reason>".
// The command word and keywords are case-insensitive; numbers are decimal or 0x hexadecimal.
// The commands and their replies are listed by sim_control_help.
#pragma once

#include <string>

#include "sim/device_model.h"

// Everything the control channel acts on. Owned by the server; the server reads the request
// flags after each command and carries them out.
struct sim_state {
  sim_device device;
  int delay_ms = 0;             // added before every reply to a Modbus request
  bool drop_requested = false;  // close every Modbus client connection
  bool refusing = false;        // new Modbus connections are refused (the port stays taken)
  bool quit_requested = false;  // end the simulator
  // Counters kept by the server for STATUS.
  int clients = 0;
  long accepted = 0;
  long requests = 0;
};

// Carries out one command line (without its line end) and appends the reply lines, each ending
// with '\n', to reply. Returns 0 when the reply ends with "OK", -1 when it ends with "ERR ...".
int sim_control_execute(const std::string& line, sim_state& state, std::string* reply);

// The command list for --help and the HELP command, one line each, ending with '\n'.
std::string sim_control_help();
