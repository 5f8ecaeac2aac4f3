// Messages that several commands print with the same words. Each text is written once, here,
// so that a search for it finds its one definition; a message used by one command only stays
// literal at its place. Console thread, or the main thread before the console starts.
#pragma once

// msg_invalid_address, the last line of a failed register lookup, sits beside the lookup.
#include "registers/register_lookup.h"

// Also the refusals the console prints for the commands whose table row needs a register or a
// file name.
inline constexpr const char missing_address_text[] = "Missing Address.";
inline constexpr const char missing_filename_text[] = "Missing filename.";

void msg_error_read();                         // a device read failed
void msg_error_write();                        // a device write failed
void msg_missing_address();                    // a command lacks its register: missing_address_text
void msg_missing_data();                       // a command lacks its value
void msg_invalid_data_type();                  // a type word that is not one of the register types
void msg_no_write();                           // the operator declined a write
void msg_restore_cancelled();                  // the operator declined putting values back
void msg_login_fail();                         // writing an access code failed
void msg_save_failed();                        // the configuration file could not be saved
void msg_answer_failed();                      // no usable answer to a question
void msg_answer_read_error();                  // reading an answer failed (standard error)
void msg_calib_load_failed();                  // the device's calibration table could not be loaded
void msg_missing_filename();                   // a command lacks its file: missing_filename_text
void msg_invalid_data(const char* token);      // a value that does not parse
void msg_invalid_float(const char* token);     // a float value that does not parse
void msg_invalid_argument(const char* token);  // a keyword argument that matches no keyword
void msg_file_open_error(const char* path, int error);  // DUMP's file, or a dump read back
