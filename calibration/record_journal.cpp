#include "calibration/record_journal.h"

#include <cstdio>

#include "core/journal.h"

std::vector<std::string> calib_record_journal_fields(const calib_record& record,
                                                     const std::string& json, const char* command) {
  const calib_record_register& reg = record.calibration_register;
  std::string name = reg.name.value_or("");
  char message[256];
  snprintf(message, sizeof message, "Calibration of %s (%d) on %s: %s (%s)",
           name.empty() ? "-" : name.c_str(), reg.address, record.device.c_str(),
           record.result.c_str(), record.mode.c_str());
  return {
      std::string("MESSAGE=") + message,
      std::string("MESSAGE_ID=") + JOURNAL_CALIBRATION_MESSAGE_ID,
      std::string("PRIORITY=") + journal_priority(record.result.c_str()),
      JOURNAL_IDENTIFIER_FIELD,
      "VT_DEVICE=" + record.device,
      "VT_REGISTER=" + name,
      "VT_OUTCOME=" + record.result,
      std::string("VT_COMMAND=") + command,
      "VT_RECORD=" + json,
  };
}

void calib_record_journal(const calib_record& record, const std::string& json) {
  if (!journal_enabled()) return;
  journal_send(calib_record_journal_fields(record, json, journal_command()));
}
