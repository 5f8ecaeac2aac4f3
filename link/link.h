// The device link: one thread owns the Modbus TCP connection to the modulator, serves the
// console's requests through a one-slot mailbox and polls the device state once a second.
//
// A link runs from link_setup through one run of link_thread_main; afterwards it can be set up
// and run again (the unit tests run many links in one process).
#pragma once

#include <cstdint>

#include "core/lifecycle.h"
#include "core/tool_config.h"
#include "registers/catalogue.h"

class link_backend;

// A Modbus read carries at most 125 registers; the mailbox carries one whole such read.
constexpr int MAILBOX_WORDS = 125;

// Everything the link thread needs from the configuration, handed over at link_setup: the link
// reads no configuration record while it runs.
struct link_params {
  char host[32];  // at most 31 characters of sIpAddr, always terminated
  int port;
  bool print_ilock_change;  // iPrintIlockChange: run the interlock monitor at every poll
};

// The link's parameters out of the loaded record. Main thread, before the link starts.
link_params link_params_from_config(const tool_config_t& config);

// Sets the link up afresh: the connection parameters, the way to the device (nullptr: libmodbus),
// an idle mailbox and link_status 0 (connecting). Call while no link thread runs and nobody
// waits on the link, before starting the link thread.
void link_setup(const link_params* params, link_backend* backend);

// The parameters of the link set up last: the device this run talks to (-H and -p over the
// configuration), which the calibration records name. Constant while the link runs.
const link_params& link_device();

// Link thread entry (no argument). Connects and prints the connection line; when the connection
// fails it ends at once, without setting quit_requested. Otherwise it serves requests and polls
// until quit_requested is set, then closes the connection, sets quit_requested and ends.
void* link_thread_main(void* arg);

// Waits until the link thread has tried to connect. Returns 1 connected, -1 failed. After a
// RECONNECT it tells the outcome of that attempt. Console thread.
int link_wait_status();

// Reads `count` holding registers at `address` into dest through the link thread and waits
// for the result. Returns the number of registers read, or -1. Console thread only.
// After a failed transfer dest still receives `count` registers of the mailbox buffer; a
// request for more than MAILBOX_WORDS registers, or one made when the link thread no longer
// serves or once quit_requested is set, fails at once with -1 and leaves dest untouched; a
// request still waiting for the link thread when quit_requested is set fails without a transfer.
// After a failure the link thread discards replies that come late, so that requests and replies
// get back in step once the device answers in time again.
int modbus_cmd_read(uint16_t address, int count, uint16_t* dest);

// What came of one request to the device: the one vocabulary for device requests.
enum request_result {
  REQUEST_SERVED,    // the device answered as asked
  REQUEST_REFUSED,   // the device answered with a Modbus exception: it did not carry it out
  REQUEST_FAILED,    // sent, but no usable answer came (a time-out, the connection lost on the
                     // way, a reply that does not fit the request): a write may have happened
  REQUEST_NOT_SENT,  // never left the tool: no connection, too many words, the link no longer
                     // serves
  REQUEST_STOPPED,   // the stop was requested before or while it went out
};

// Reads like modbus_cmd_read and says what happened. On REQUEST_REFUSED *exception (when given)
// receives the device's exception code (2: illegal data address, 3: illegal data value), 0 on
// every other result. dest is filled only on REQUEST_SERVED. Console thread only.
request_result link_read(uint16_t address, int count, uint16_t* dest, int* exception = nullptr);

// Counts the connections the link thread has opened or tried to open; it moves on at every
// RECONNECT, so that what a caller learnt about the device on one connection can be dropped once
// the connection is another. Any thread.
unsigned link_connection_serial();

// Writes `count` registers from src at `address` (function 16, also for one register).
// Returns the number of registers written, or -1; fails like modbus_cmd_read, so that nothing
// is written after the stop. Console thread only.
int modbus_cmd_write(uint16_t address, int count, const uint16_t* src);

// Writes like modbus_cmd_write and says what happened (the result of link_read, without an
// exception code). REQUEST_STOPPED: the stop was requested before the write went out, or cut it
// short; link_last_write_outcome() then says WRITE_UNKNOWN when it may have reached the device.
// Console thread only.
request_result link_write(uint16_t address, int count, const uint16_t* src);

// What came of a write request.
enum write_outcome {
  WRITE_OK,       // the device confirmed it
  WRITE_FAILED,   // not carried out: the device refused it (an exception reply), or it never
                  // left the tool (no connection, too many words, the link no longer serves, the
                  // stop was requested)
  WRITE_UNKNOWN,  // sent, but no answer came (a time-out, the connection lost on the way, a
                  // reply that does not fit the request): the device may have carried it out
};

// The outcome of the calling thread's last write request through the link (modbus_cmd_write or
// link_write),
// the same as its write log line says; WRITE_FAILED before the thread's first write. Each thread
// sees its own; the thread that makes the requests (the console thread) asks.
write_outcome link_last_write_outcome();

// The word the write log and the calibration records give an outcome: OK, FAIL or UNKNOWN.
const char* write_outcome_word(write_outcome outcome);

// Has the link thread close the connection and connect again to the same host and port,
// printing the connection line as at start (and the error line on failure). Returns 1
// connected, -1 failed (or not tried: the link thread no longer serves, or the stop was
// requested). After a failure the link thread goes on serving: requests fail, polls report,
// and the reconnect can be tried again. The interlock monitor keeps its previous words.
// Console thread only.
int link_reconnect();

// Shuts the link's connection down, so that a transfer under way fails at once instead of
// waiting for a device that answers late, trickles or not at all (libmodbus goes on waiting
// through signals). Call it after setting quit_requested; the link thread then refuses every
// further request and ends. Any thread; async-signal-safe (the stop signal handler runs it).
void link_cut_connection();

// Wakes the link thread so that it sees quit_requested at once. Never waits for the link's lock:
// a connect under way holds it until its time-out, and a wake-up lost meanwhile costs at most the
// rest of the link's poll second. Any thread but a signal handler. With link_cut_connection, the
// link's part of a stop (set_stop_actions, core/lifecycle.h).
void link_stop_wake();
