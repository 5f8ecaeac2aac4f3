#include "core/tool_config.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/lifecycle.h"
#include "core/settings.h"

namespace {

// Runs one operation of the item handler on `record`, with the given operation context.
int run(tool_config_t* record, unsigned op, void* op_ctx = nullptr) {
  return tool_config_items(CONFIG_GROUP_NAME, record, op, nullptr, op_ctx);
}

tool_config_t default_record() {
  tool_config_t r = {};
  run(&r, LIM_OP_SET_DEFAULT);
  return r;
}

// The lines that type-out writes for `record`.
std::vector<std::string> type_out(const tool_config_t& record, unsigned op = LIM_OP_TYPEOUT) {
  char* text = nullptr;
  size_t len = 0;
  FILE* stream = open_memstream(&text, &len);
  tool_config_t copy = record;
  EXPECT_EQ(1, run(&copy, op, stream));
  fclose(stream);
  std::vector<std::string> lines;
  std::string all(text, len);
  free(text);
  size_t start = 0;
  for (size_t nl; (nl = all.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(all.substr(start, nl - start));
  EXPECT_EQ(start, all.size()) << "type-out ends without a line end";
  return lines;
}

// Every item key in item order, built independently of the item table.
std::vector<std::string> expected_keys() {
  std::vector<std::string> keys = {"sVersion", "sIpAddr", "iPort", "iStopOnQpxRun",
                                   "iPrintIlockChange"};
  const char* cal_members[] = {"use",     "iType",    "sMsg",   "iRegCal",
                               "iRegSet", "iRegRead", "iState", "iStep"};
  for (int i = 0; i < 16; i++)
    for (const char* m : cal_members) keys.push_back("cal[" + std::to_string(i) + "]." + m);
  for (const char* array : {"ilock_standby", "ilock_hv", "ilock_trig"})
    for (int j = 0; j < 32; j++)
      keys.push_back(std::string(array) + "[" + std::to_string(j) + "].name");
  for (int i = 0; i < 5; i++) {
    keys.push_back("startup[" + std::to_string(i) + "].iReg");
    keys.push_back("startup[" + std::to_string(i) + "].raw_value");
  }
  return keys;
}

int index_of(const std::vector<std::string>& lines, const std::string& line) {
  for (size_t i = 0; i < lines.size(); i++)
    if (lines[i] == line) return static_cast<int>(i);
  return -1;
}

TEST(ToolConfigTypeOut, DefaultRecordGives239LinesInItemOrder) {
  std::vector<std::string> lines = type_out(default_record());
  std::vector<std::string> keys = expected_keys();
  ASSERT_EQ(239u, keys.size());
  ASSERT_EQ(239u, lines.size());
  for (size_t i = 0; i < lines.size(); i++)
    EXPECT_EQ(keys[i] + " = ", lines[i].substr(0, keys[i].size() + 3)) << "line " << i;
  EXPECT_EQ("iPort = 502", lines[2]);
  EXPECT_EQ("iStopOnQpxRun = 0", lines[3]);
  EXPECT_EQ("iPrintIlockChange = 0", lines[4]);
  EXPECT_EQ("cal[0].use = 1", lines[5]);
  EXPECT_EQ("cal[0].iRegCal = 5288", lines[8]);
  EXPECT_EQ("ilock_hv[31].name = \"CCPS open circuit interlock\"", lines[196]);
  EXPECT_EQ("startup[4].raw_value = 0", lines[238]);
}

TEST(ToolConfigTypeOut, CodesSixAndSevenWriteTheSameLines) {
  EXPECT_EQ(type_out(default_record(), LIM_OP_TYPEOUT),
            type_out(default_record(), LIM_OP_TYPEOUT_ALT));
}

TEST(ToolConfigTypeOut, NullStreamWritesNothingAndSucceeds) {
  tool_config_t r = default_record();
  EXPECT_EQ(1, run(&r, LIM_OP_TYPEOUT, nullptr));
  EXPECT_EQ(1, run(&r, LIM_OP_TYPEOUT_ALT, nullptr));
}

TEST(ToolConfigDefaults, DefaultsOfSelectedItems) {
  const char* expected[] = {
      "sVersion = \"10.1\"",
      "sIpAddr = \"127.0.0.1\"",
      "cal[0].iType = 0",
      "cal[0].sMsg = \"Filament Set\"",
      "cal[0].iRegSet = 5126",
      "cal[0].iRegRead = 0",
      "cal[0].iState = 3",
      "cal[0].iStep = 1",
      "cal[1].use = 0",
      "cal[1].sMsg = \"\"",
      "cal[1].iRegCal = 0",
      "cal[1].iState = 0",
      "cal[15].iStep = 1",
      "ilock_standby[0].name = \"Filament Voltage Interlock\"",
      "ilock_standby[7].name = \"Magnetrone pt100 temp level interlock\"",
      "ilock_standby[8].name = \"\"",
      "ilock_hv[13].name = \"Tacho input 3\"",
      "ilock_hv[14].name = \"\"",
      "ilock_hv[30].name = \"\"",
      "ilock_trig[1].name = \"Hardware Customer Interface Trig Inhibited\"",
      "ilock_trig[11].name = \"Duty cycle interlock\"",
      "ilock_trig[12].name = \"\"",
      "startup[0].iReg = 0",
  };
  std::vector<std::string> lines = type_out(default_record());
  for (const char* line : expected) EXPECT_NE(-1, index_of(lines, line)) << line;
}

TEST(ToolConfigItems, SetMinimumAndMaximumLeaveTextUntouched) {
  struct {
    unsigned op;
    uint32_t port, raw_value;
    int32_t use, state;
  } cases[] = {
      {LIM_OP_SET_MINIMUM, 21, 0, 0, 0},
      {LIM_OP_SET_MAXIMUM, 65535, 4294967295u, 1, 9},
  };
  for (const auto& c : cases) {
    tool_config_t r = {};
    snprintf(r.sVersion, sizeof(r.sVersion), "keep");
    snprintf(r.cal[3].sMsg, sizeof(r.cal[3].sMsg), "mine");
    snprintf(r.ilock_trig[31].name, sizeof(r.ilock_trig[31].name), "stays");
    tool_config_t before = r;
    EXPECT_EQ(1, run(&r, c.op));
    EXPECT_EQ(c.port, r.iPort);
    EXPECT_EQ(c.raw_value, r.startup[4].raw_value);
    EXPECT_EQ(c.use, r.cal[15].use);
    EXPECT_EQ(c.state, r.cal[2].iState);
    EXPECT_EQ(0, memcmp(before.sVersion, r.sVersion, sizeof(r.sVersion)));
    EXPECT_EQ(0, memcmp(before.cal[3].sMsg, r.cal[3].sMsg, sizeof(r.cal[3].sMsg)));
    EXPECT_EQ(0, memcmp(&before.ilock_standby, &r.ilock_standby, 3 * sizeof(r.ilock_standby)));
  }
}

TEST(ToolConfigItems, CodesTwelveAndAboveTouchNothingAndYieldOne) {
  for (unsigned op : {12u, 13u, 100u, 0xFFFFFFFFu}) {
    tool_config_t r;
    memset(&r, 0xA5, sizeof(r));
    tool_config_t before = r;
    EXPECT_EQ(1, run(&r, op, reinterpret_cast<void*>(1))) << op;
    EXPECT_EQ(0, memcmp(&before, &r, sizeof(r))) << op;
  }
}

TEST(ToolConfigItems, ForeignGroupTouchesNothingAndFails) {
  for (const char* group : {"other_group", "VELT_TOOL_CONFIG", "velt_tool_config ", ""}) {
    for (unsigned op = 0; op <= 12; op++) {
      tool_config_t r;
      memset(&r, 0x5A, sizeof(r));
      tool_config_t before = r;
      testing::internal::CaptureStdout();
      int result = tool_config_items(group, &r, op, nullptr, nullptr);
      std::string out = testing::internal::GetCapturedStdout();
      EXPECT_NE(1, result) << group << " op " << op;
      EXPECT_EQ(0, memcmp(&before, &r, sizeof(r))) << group << " op " << op;
      EXPECT_NE(std::string::npos, out.find(std::string("\"") + group + "\"")) << out;
    }
  }
}

TEST(ToolConfigItems, ClearEmptiesTextAndZeroesLowestByteOfNumbers) {
  tool_config_t r = default_record();
  r.iPort = 0x12345678;
  EXPECT_EQ(1, run(&r, LIM_OP_CLEAR));
  EXPECT_EQ('\0', r.sIpAddr[0]);
  EXPECT_EQ('\0', r.ilock_hv[0].name[0]);
  EXPECT_EQ(0x12345600u, r.iPort);
  EXPECT_EQ(0, r.cal[0].iRegCal & 0xFF);
}

TEST(ToolConfigItems, TestLowersResultAndRepairRestoresDefault) {
  tool_config_t r = default_record();
  EXPECT_EQ(1, run(&r, LIM_OP_TEST));
  r.iPort = 1;
  r.cal[5].iType = 3;
  EXPECT_EQ(0, run(&r, LIM_OP_TEST));
  testing::internal::CaptureStdout();
  EXPECT_EQ(1, run(&r, LIM_OP_REPAIR));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(502u, r.iPort);
  EXPECT_EQ(0, r.cal[5].iType);
  EXPECT_NE(std::string::npos, out.find("iPort")) << out;
  EXPECT_NE(std::string::npos, out.find("cal[5].iType")) << out;
  EXPECT_EQ(1, run(&r, LIM_OP_TEST));
}

// An out-of-range item sends the whole record through the repair; values exactly at a limit
// (and not at their default) are no fault and stay.
TEST(ToolConfigItems, RepairKeepsValuesAtTheirLimits) {
  tool_config_t r = default_record();
  r.cal[0].use = 0;  // default 1
  r.cal[1].use = 1;  // default 0
  r.cal[0].iState = 0;
  r.cal[1].iState = 9;
  r.iPort = 21;
  r.startup[0].raw_value = 4294967295u;
  r.cal[5].iType = 3;
  EXPECT_EQ(0, run(&r, LIM_OP_TEST));
  testing::internal::CaptureStdout();
  EXPECT_EQ(1, run(&r, LIM_OP_REPAIR));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(0, r.cal[5].iType);
  EXPECT_EQ(0, r.cal[0].use);
  EXPECT_EQ(1, r.cal[1].use);
  EXPECT_EQ(0, r.cal[0].iState);
  EXPECT_EQ(9, r.cal[1].iState);
  EXPECT_EQ(21u, r.iPort);
  EXPECT_EQ(4294967295u, r.startup[0].raw_value);
  EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << out;
  EXPECT_NE(std::string::npos, out.find("cal[5].iType")) << out;
}

TEST(ToolConfigItems, UnterminatedTextFailsTestAndRepairTerminatesIt) {
  tool_config_t r = default_record();
  memset(r.sVersion, 'x', sizeof(r.sVersion));
  EXPECT_EQ(0, run(&r, LIM_OP_TEST));
  testing::internal::CaptureStdout();
  run(&r, LIM_OP_REPAIR);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ("xxxxxxx", std::string(r.sVersion));
  EXPECT_EQ(1, run(&r, LIM_OP_TEST));
}

// Read-in through a hand-made read-in table, sorted as the library sorts it.
TEST(ToolConfigItems, ReadInTakesFileValuesAndKeepsCurrentForMissingKeys) {
  lim_entry entries[] = {
      {"cal[2].iRegRead", "1.9", 3},
      {"iPort", "600", 1},
      {"sIpAddr", "10.1.2.3", 2},
      {"startup[2].raw_value", "4294967295", 4},
      {"startup[3].raw_value", "2147483648", 5},
  };
  const lim_entry* refs[] = {&entries[0], &entries[1], &entries[2], &entries[3], &entries[4]};
  lim_readin_table table = {5, refs};
  for (unsigned op = LIM_OP_READIN; op <= LIM_OP_READIN_LAST; op++) {
    tool_config_t r = default_record();
    EXPECT_EQ(1, run(&r, op, &table));
    EXPECT_EQ(600u, r.iPort);
    EXPECT_STREQ("10.1.2.3", r.sIpAddr);
    EXPECT_EQ(1, r.cal[2].iRegRead);  // truncated toward zero
    EXPECT_EQ(4294967295u, r.startup[2].raw_value);
    EXPECT_EQ(2147483648u, r.startup[3].raw_value);
    EXPECT_EQ(5288, r.cal[0].iRegCal);  // not in the table: keeps its default
    EXPECT_STREQ("Filament Set", r.cal[0].sMsg);
  }
  lim_readin_table empty = {0, nullptr};
  tool_config_t r = default_record();
  EXPECT_EQ(1, run(&r, LIM_OP_READIN, &empty));
  EXPECT_EQ(type_out(default_record()), type_out(r));
}

TEST(ToolConfigTypeOut, UnsignedMaximumPrintsInFull) {
  tool_config_t r = default_record();
  r.startup[0].raw_value = 4294967295u;
  r.startup[1].raw_value = 2147483648u;
  std::vector<std::string> lines = type_out(r);
  EXPECT_EQ("startup[0].raw_value = 4294967295", lines[230]);
  EXPECT_EQ("startup[1].raw_value = 2147483648", lines[232]);
}

TEST(ToolConfigTypeOut, DecimalCommaLocaleWritesTheSameLinesAndIsRestored) {
  std::vector<std::string> in_c = type_out(default_record());
  const char* comma_locales[] = {"de_DE.UTF-8", "de_DE.utf8", "de_DE",       "fr_FR.UTF-8",
                                 "fr_FR.utf8",  "fr_FR",      "nl_NL.UTF-8", "it_IT.UTF-8",
                                 "es_ES.UTF-8", "ru_RU.UTF-8"};
  std::string chosen;
  for (const char* name : comma_locales) {
    if (setlocale(LC_NUMERIC, name) && strcmp(localeconv()->decimal_point, ",") == 0) {
      chosen = setlocale(LC_NUMERIC, nullptr);
      break;
    }
  }
  if (chosen.empty()) {
    setlocale(LC_NUMERIC, "C");
    GTEST_SKIP() << "no locale with a decimal comma is installed";
  }
  tool_config_t r = default_record();
  r.startup[0].raw_value = 4294967295u;
  r.startup[1].raw_value = 1234567;
  in_c[230] = "startup[0].raw_value = 4294967295";
  in_c[232] = "startup[1].raw_value = 1234567";
  std::vector<std::string> in_comma = type_out(r);
  std::string after = setlocale(LC_NUMERIC, nullptr);
  setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(in_c, in_comma);
  EXPECT_EQ(chosen, after);
}

// make_working_copies

TEST(WorkingCopies, FreeCalibrationSlotStaysZeroAndUsedSlotIsCopied) {
  tool_config_t r = default_record();
  r.cal[3] = {0, 1, "unused", 5300, 5301, 5302, 6, 7};
  r.cal[4] = {1, 1, "Used four", 5400, 5401, 5402, 9, 10};
  memset(&work_cal[3], 0xFF, sizeof(work_cal[3]));  // left over from an earlier copy
  make_working_copies(r);
  cal_definition zero = {};
  EXPECT_EQ(0, memcmp(&zero, &work_cal[3], sizeof(zero)));
  EXPECT_EQ(1, work_cal[4].use);
  EXPECT_EQ(1, work_cal[4].iType);
  EXPECT_STREQ("Used four", work_cal[4].sMsg);
  EXPECT_EQ(5400, work_cal[4].iRegCal);
  EXPECT_EQ(5401, work_cal[4].iRegSet);
  EXPECT_EQ(5402, work_cal[4].iRegRead);
  EXPECT_EQ(9, work_cal[4].iState);
  EXPECT_EQ(10, work_cal[4].iStep);
  EXPECT_STREQ("Filament Set", work_cal[0].sMsg);
  EXPECT_EQ(0, memcmp(&zero, &work_cal[1], sizeof(zero)));
}

TEST(WorkingCopies, InterlockNames) {
  make_working_copies(default_record());
  EXPECT_STREQ("Filament Voltage Interlock", ilock_names[ILOCK_STANDBY][0]);
  EXPECT_STREQ("CCPS open circuit interlock", ilock_names[ILOCK_HV][31]);
  EXPECT_STREQ("Duty cycle interlock", ilock_names[ILOCK_TRIG][11]);
  EXPECT_STREQ("", ilock_names[ILOCK_TRIG][12]);
}

}  // namespace
