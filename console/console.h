// The console thread: logs in to the modulator and runs the operator's prompt loop on
// standard input until the user quits, input ends or Ctrl-C arrives.
#pragma once

// Console thread entry (no argument).
void* console_thread_main(void* arg);

// RECONNECT: closes the connection to the device and connects again, printing the connection
// line as at start; on success logs in and writes the startup registers again, as at start.
// The calibration session and everything else of the console stay as they are. Console thread.
void cmd_reconnect(char** args);
