#include "core/shared_messages.h"

#include <cerrno>
#include <cstdio>

#include "core/lifecycle.h"

void msg_error_read() { printf("Error read.\n"); }
void msg_error_write() { printf("Error write.\n"); }
void msg_missing_address() { printf("%s\n", missing_address_text); }
void msg_missing_data() { printf("Missing data.\n"); }
void msg_invalid_data_type() { printf("Invalid data type.\n"); }
void msg_no_write() { printf("No write.\n"); }
void msg_restore_cancelled() { printf("Restore cancelled.\n"); }
void msg_login_fail() { printf("Login fail!\n"); }
void msg_save_failed() { printf("Error in saving config file.\n"); }
void msg_answer_failed() { printf("Error in getting answer.\n"); }
void msg_answer_read_error() { fprintf(stderr, "Error reading answer.\n"); }
void msg_invalid_data(const char* token) { printf("Invalid data: %s\n", token); }
void msg_invalid_float(const char* token) { printf("Invalid data float: %s\n", token); }
void msg_invalid_argument(const char* token) { printf("Invalid argument: %s\n", token); }
void msg_missing_filename() { printf("%s\n", missing_filename_text); }
void msg_file_open_error(const char* path, int error) {
  // An open that Ctrl-C interrupted (a FIFO DUMP waited for) is the stop, not a fault of the file.
  if (interrupted_by_stop(error)) return;
  printf("Error opening file: %s [errno=%d]\n", path, error);
}
void msg_calib_load_failed() { printf("Error in loading calibration data from device.\n"); }
