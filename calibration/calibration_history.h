// What the calibration session records of every table it sends (calibration/calibration_record.h
// has the record and its file), and CALHISTORY's listing of the records. Console thread only.
#pragma once

#include <cstdint>

#include "calibration/table_layout.h"
#include "core/tool_config.h"
#include "link/link.h"
#include "registers/catalogue.h"

// Session start: the previous session's as-found table no longer applies.
void calib_history_forget_found();

// The device table just loaded at the session's start: its 15 words and the points decoded
// from them.
void calib_history_note_found(const uint16_t* words, const calib_point* points);

// SEND, after the yes and the write: appends the record of the 15 words written from points
// (CALIB_POINTS of them) for the definition def, chosen as menu number `menu`, with how the
// write ended. Reads the device's identity registers first; prints nothing on standard output.
void calib_history_record_send(const cal_definition& def, int menu, const calib_point* points,
                               const uint16_t* words, write_outcome outcome);

// Interactive editing: notes one write of the table, made from points.
void calib_history_note_interactive_send(const calib_point* points, const uint16_t* words,
                                         write_outcome outcome);

// The end of an interactive edit of def's table (menu number `menu`): when it wrote anything,
// appends one record of the last table written, with how that write ended and how many were
// made. def nullptr records nothing; the noted writes are forgotten either way.
void calib_history_end_interactive(const cal_definition* def, int menu);

// RESTORE, after writing the calibration table at entry back from the dump file `file`: appends
// a record of mode "restore" with found_words (the device's table read before the write) as
// found, left_words (the file's) as left and how the write ended. Its definition is the
// calibration menu's first one for that table, or an unnamed one (menu 0, kind from the type) when
// there is none. Reads the device's identity registers first; prints nothing on standard output.
void calib_history_record_restore(const modbus_reg_entry* entry, const uint16_t* found_words,
                                  const uint16_t* left_words, const char* file,
                                  write_outcome outcome);

// CALHISTORY's listing: the last 10 records of the table at reg_cal (0: of every table), oldest
// first, then a line counting the lines that are no record. Reads no device register. Returns
// 0, or -1 after printing why the file can't be read.
int calib_history_print(int reg_cal);
