// The tool configuration record: every setting of the tool, mirrored from the group
// "velt_tool_config" of the file "veltrona_tool.conf".
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/settings.h"

constexpr const char* CONFIG_FILE_NAME = "veltrona_tool.conf";
constexpr const char* CONFIG_GROUP_NAME = "velt_tool_config";

constexpr int CAL_DEFINITIONS = 16;
constexpr int ILOCK_NAMES = 32;
constexpr int ILOCK_NAME_SIZE = 64;
constexpr int STARTUP_ENTRIES = 5;
constexpr int CONFIG_ITEMS = 239;

// One calibration definition (see the calibration menu).
struct cal_definition {
  int32_t use;       // nonzero: slot in use
  int32_t iType;     // 0 SET, 1 READ
  char sMsg[32];     // description shown in the menu and the prompt
  int32_t iRegCal;   // calibration register address
  int32_t iRegSet;   // paired set register address
  int32_t iRegRead;  // read register address
  int32_t iState;    // device state the calibration requires
  int32_t iStep;     // DAC/ADC step of the interactive mode
};

struct ilock_name {
  char name[ILOCK_NAME_SIZE];
};

// One register write replayed at every console start; iReg 0 marks a free entry.
struct startup_entry {
  int32_t iReg;
  uint32_t raw_value;  // low word first; a FLOAT holds its bit pattern
};

struct tool_config_t {
  char sVersion[8];
  char sIpAddr[80];
  uint32_t iPort;
  uint32_t iStopOnQpxRun;
  uint32_t iPrintIlockChange;
  cal_definition cal[CAL_DEFINITIONS];
  ilock_name ilock_standby[ILOCK_NAMES];
  ilock_name ilock_hv[ILOCK_NAMES];
  ilock_name ilock_trig[ILOCK_NAMES];
  startup_entry startup[STARTUP_ENTRIES];
};

// The process-wide record. Loaded by the main thread before the workers start; afterwards
// written only by the console thread (STARTUP, CALIBRATE). The link thread never reads it (its
// parameters are copied out before it starts); the main thread reads iStopOnQpxRun after joining
// the workers.
extern tool_config_t tool_config;

// Settings-library callback of the record: hands its arguments to lim_toplevel with the item
// handler.
int tool_config_callback(const char* group, void* record, unsigned op, lim_context* ctx);

// Carries out one settings operation on all 239 items of `record` in their fixed order.
// Returns 1 unless a library function lowered the result; for a foreign group, the message
// library's result.
int tool_config_items(const char* group, void* record, unsigned op, void* item_ctx, void* op_ctx);

// Names the file that tool_config_load and tool_config_save use (--config); CONFIG_FILE_NAME
// until then. The text must outlive the run (argv). Main thread, before loading.
void tool_config_set_file(const char* path);
const char* tool_config_file();

// Loads tool_config from the configuration file. Returns 0, or -1 when the settings library did
// not load it.
int tool_config_load();
// Saves the whole group from tool_config. Returns 0, or -1 when the settings library did not
// save it.
int tool_config_save();
