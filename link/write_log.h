// The write log: one line for every write request the link carries out, appended to
// $XDG_STATE_HOME/veltrona_tool/writes.log (~/.local/state/veltrona_tool/writes.log when the
// variable is unset or not an absolute path), so that an engineer can tell afterwards what was
// written to which device and when. A line reads
//
//   2026-12-08 14:03:12.345 +0100 anna 192.168.1.20:502 5120 MB_STATE_SET 1 0003 OK
//
// local date and time with milliseconds and UTC offset, user name, device host:port, start
// address, the catalogue name of that address (- when it has none), word count, the words in
// hexadecimal, and what came of it: OK the device confirmed the write; FAIL it was not carried
// out (the device refused it with an exception reply, or there was no connection to send it
// on); UNKNOWN it was sent but no answer came (a time-out, a connection lost on the way, a reply
// that does not fit the request), so the device may well have carried it out. Words of the
// registers that hold secrets (the access codes of MB_LOG_IN, the passwords
// MB_SC_PASSWORD_OPERATOR and MB_SC_PASSWORD) are shown as **** and never stored. Each line goes
// to the file in one append, so lines of tools running side by side never mix, and a line is
// never glued onto one a full disk cut short. Only a regular file (or a link to one) is taken
// as the log. Reads are not logged, and standard output is never touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "link/link.h"

// Opens (creating it and its directories, mode 0700, the file 0600) the write log for a
// session with the device at host:port. When it can't, or something other than a regular file
// stands at its path ("Write log not kept: <path>: not a regular file"; a FIFO there is never
// waited for), or a symbolic link, or its directory is not the user's own or others may write
// it (open_state_file, core/home_directory.h), says so once on standard error and the session goes
// on unlogged. Returns 0, or -1 when the log is not kept. Call once at start, before the link
// thread runs; later calls do nothing.
int write_log_open(const char* host, int port);

// Appends the line of one write request: `count` words from `words` at `address` and its
// outcome. When the file does not end with a line end (a line cut short by a full disk), the
// line starts on a new one. After a failed append (a full disk, a file too large) says
// "Write log not kept any more: <path>: <reason>" once on standard error and keeps no more
// lines. Does nothing when the log is not open. Link thread only.
void write_log_record(int address, int count, const uint16_t* words, write_outcome outcome);

// Room for the line of any request of up to 64 words, a leading line end, its own line end and
// the terminator included.
constexpr size_t WRITE_LOG_LINE_SIZE = 1024;

// Formats the line of a write request as write_log_record stores it, with its line end, into
// buf (size bytes). `when` is the time of the request, `user` and `device` (host:port) the
// texts the line shows. Returns the length of the line, or -1 when it does not fit.
int write_log_format(char* buf, size_t size, const timespec& when, const char* user,
                     const char* device, int address, int count, const uint16_t* words,
                     write_outcome outcome);

// The fields of the journal entry of one write request (core/journal.h): MESSAGE the write log's
// line after its time, MESSAGE_ID, PRIORITY (notice unless OK), SYSLOG_IDENTIFIER, VT_DEVICE
// (host:port), VT_ADDRESS, VT_REGISTER (the catalogue name, empty when it has none), VT_WORDS (as
// the line shows them, secrets masked), VT_OUTCOME and VT_COMMAND (the command word that wrote).
// Empty when the text does not fit a line.
std::vector<std::string> write_journal_fields(const char* user, const char* device, int address,
                                              int count, const uint16_t* words,
                                              write_outcome outcome, const char* command);

// Sends the journal entry of one write request to the device at host:port, with the running
// command's word; does nothing when the journal is turned off, and a failed send changes nothing.
// Link thread only, beside write_log_record.
void write_journal_record(const char* host, int port, int address, int count, const uint16_t* words,
                          write_outcome outcome);
