// The journal entry of a calibration record (core/journal.h), sent as the record is appended to
// its file: MESSAGE one line naming the table, the device and the result, MESSAGE_ID, PRIORITY
// (notice unless OK), SYSLOG_IDENTIFIER, VT_DEVICE, VT_REGISTER (the calibration register's
// name), VT_OUTCOME (the record's result), VT_COMMAND and the record's JSON line as VT_RECORD.
#pragma once

#include <string>
#include <vector>

#include "calibration/calibration_record.h"

// The entry's fields; json is the record's line as calib_record_to_json made it.
std::vector<std::string> calib_record_journal_fields(const calib_record& record,
                                                     const std::string& json, const char* command);

// Sends the entry, with the running command's word; a failed send changes nothing. Console
// thread.
void calib_record_journal(const calib_record& record, const std::string& json);
