// The console thread: logs in to the modulator and runs the operator's prompt loop on
// standard input until the user quits, input ends or Ctrl-C arrives.
#pragma once

#include "core/command_status.h"

// Console thread entry (no argument).
void* console_thread_main(void* arg);

// The status of the last command line the loop ran: the command's own, CMD_FAILED for an
// unknown command word or a line too long to run, CMD_OK before the first command. Console
// thread only.
extern command_status last_command_status;

// Runs one command line (cut at its line end; changed in place): takes the first token as the
// command word, upper-cased, finds its row and runs it on the tokens after it (run_command in
// console/command_table.h). A line without a token runs nothing and is CMD_OK; an unknown word
// prints "Error: Unknown command." and "Error parsing cmd." and is CMD_FAILED. Console thread.
command_status run_command_line(char* line);

// RECONNECT: closes the connection to the device and connects again, printing the connection
// line as at start; on success logs in and writes the startup registers again, as at start.
// The calibration session and everything else of the console stay as they are. Fails when the
// connection could not be made again. Console thread.
command_status cmd_reconnect(const command_args& args);
