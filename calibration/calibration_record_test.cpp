// The calibration record's JSON line and the reading of a record file.
#include "calibration/calibration_record.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

calib_record sample(int reg_cal = 5288, const std::string& time = "2026-12-08T14:03:12.345+01:00") {
  calib_record r;
  r.time = time;
  r.user = "anna";
  r.computer = "lab-pc";
  r.tool = "veltrona_tool";
  r.tool_version = "1.0.0";
  r.device = "192.168.1.20:502";
  r.mac = "00:1A:2B:3C:4D:5E";
  r.device_version = 531;
  r.fpga_version = 263;
  r.menu = 1;
  r.description = "Filament Set";
  r.kind = "set";
  r.calibration_register = {reg_cal, "MB_FIL_SET_CAL"};
  r.set_register = {5126, "MB_FIL_SET"};
  r.read_register = calib_record_register{5519, "MB_FIL_VOLT_READ"};
  r.state = 3;
  calib_record_table found;
  for (int k = 0; k < CALIB_POINTS; k++) found.points[k] = {std::nullopt, 1.5f + k, 100 + k};
  for (int i = 0; i < CALIB_TABLE_WORDS; i++) found.words[i] = static_cast<uint16_t>(0x1000 + i);
  r.as_found = found;
  r.as_left = found;
  for (int k = 0; k < CALIB_POINTS; k++) r.as_left.points[k].set = 1.0f + k;
  r.mode = "send";
  r.result = "OK";
  r.sends = 1;
  return r;
}

// Each case's line reads back as the record (a description that is no UTF-8 with replacement
// characters), holds no newline and contains text; a float's number has at most nine digits.
TEST(CalibrationRecord, RecordsReadBackFromOneLine) {
  calib_record texts = sample(), nulls = sample(), latin1 = sample();
  texts.description = "Fil \"A\"\n\t\\ end\r\x01";
  texts.warning = "Warning: not strictly increasing.";
  texts.mode = "interactive";
  texts.result = "UNKNOWN";
  texts.sends = 7;
  nulls.mac.reset();
  nulls.device_version.reset();
  nulls.fpga_version.reset();
  nulls.read_register.reset();
  nulls.set_register = {5127, std::nullopt};
  nulls.as_found.reset();
  nulls.as_left.points[0] = {};
  latin1.description = "Filament \xE9t\xE9";
  struct record_case {
    std::string name;
    calib_record record;
    std::string text;
  };
  std::vector<record_case> cases = {
      {"words", sample(),
       "\"words\":\"1000 1001 1002 1003 1004 1005 1006 1007 1008 1009 100A 100B 100C 100D 100E\""},
      {"texts", texts, "\"Fil \\\"A\\\"\\n"},
      {"nulls", nulls, "\"mac\":null"},
      {"empty point", nulls, "{\"set\":null,\"actual\":null,\"count\":null}"},
      {"no UTF-8", latin1, "\"Filament \xEF\xBF\xBDt\xEF\xBF\xBD\""}};
  for (float value : {0.1f, 6.3f, -2.75f, 1.0f / 3.0f, 16777216.0f, 3.4028235e38f, 1.0e-45f,
                      1.17549435e-38f, 123456.789f, 0.0f}) {
    cases.push_back({"float " + std::to_string(value), sample(), ""});
    cases.back().record.as_left.points[0].actual = value;
  }
  for (const record_case& c : cases) {
    const calib_record& r = c.record;
    std::string line = calib_record_to_json(r);
    calib_record back, want = r;
    if (c.name == "no UTF-8") want.description = "Filament \xEF\xBF\xBDt\xEF\xBF\xBD";
    EXPECT_EQ(calib_record_from_json(line, &back), 0) << c.name << "\n" << line;
    EXPECT_EQ(back, want) << c.name << "\n" << line;
    EXPECT_EQ(line.find('\n'), std::string::npos) << c.name;
    EXPECT_NE(line.find(c.text), std::string::npos) << c.name << "\n" << line;
    EXPECT_EQ(line.rfind("{\"time\":\"2026-12-08T14:03:12.345+01:00\",\"user\":\"anna\"", 0), 0u);
    if (c.name.rfind("float", 0) != 0) continue;
    ASSERT_TRUE(back.as_left.points[0].actual.has_value()) << line;
    float value = *r.as_left.points[0].actual, got = *back.as_left.points[0].actual;
    EXPECT_EQ(memcmp(&got, &value, sizeof value), 0) << value << " read back as " << got;
    size_t at = line.find("\"actual\":", line.find("\"as_left\"")) + 9;
    std::string number = line.substr(at, line.find_first_of(",}", at) - at);
    std::string mantissa = number.substr(0, number.find_first_of("eE"));
    size_t first = mantissa.find_first_of("123456789");
    long digits = first == std::string::npos
                      ? 0
                      : std::count_if(mantissa.begin() + first, mantissa.end(), ::isdigit);
    EXPECT_LE(digits, 9) << number;
  }
}

TEST(CalibrationRecord, EmptyMarkersAndNonNumbersAreNull) {
  const float nan = std::nanf("");
  calib_point empty;
  calib_point_make_empty(&empty);
  struct {
    calib_point point;
    calib_record_point want;
  } cases[] = {
      {empty, {}},
      {{1.0f, 2.5f, 300}, {1.0f, 2.5f, 300}},
      {{nan, INFINITY, 0}, {std::nullopt, std::nullopt, 0}},
  };
  for (const auto& c : cases) EXPECT_EQ(calib_record_point_of(c.point, true), c.want);
  EXPECT_EQ(calib_record_point_of(cases[1].point, false).set, std::nullopt);
}

std::string at_time(int n) {
  char text[40];
  snprintf(text, sizeof text, "2026-12-08T14:%02d:00.000+01:00", n);
  return text;
}

// Lines that are no record (hand-edited, of the wrong types, a cut last line) are skipped and
// counted; empty lines are neither.
TEST(CalibrationHistory, KeepsTheLastTenOfATableOldestFirstAndCountsWhatIsNoRecord) {
  char dir[] = "/tmp/vt_record_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/calibrations.jsonl";
  std::string good = calib_record_to_json(sample());
  std::vector<std::string> lines = {
      "",
      "not json",
      "[]",
      "{}",
      "{\"hand\": \"edited\"}",
      std::string(good).replace(good.find("\"menu\":1"), 8, "\"menu\":\"1\""),
      std::string(good).replace(good.find("\"count\":100"), 11, "\"count\":70000"),
      std::string(good).replace(good.find("1000 1001"), 4, "100")};
  for (int n = 0; n < 12; n++) lines.push_back(calib_record_to_json(sample(5288, at_time(n))));
  lines.insert(lines.begin() + 11, calib_record_to_json(sample(5303, at_time(50))));
  std::string last = calib_record_to_json(sample(5303, at_time(51)));
  lines.push_back(last.substr(0, last.size() / 2));
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  FILE* f = fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs(text.substr(0, text.size() - 1).c_str(), f);
  fclose(f);

  struct {
    int reg_cal;
    size_t limit;
    std::vector<int> times;
    int matched;
  } cases[] = {
      {5288, 10, {2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 12},
      {5303, 10, {50}, 1},
      {0, 3, {9, 10, 11}, 13},
      {5348, 10, {}, 0},
  };
  for (const auto& c : cases) {
    calib_history h;
    ASSERT_EQ(calib_history_read(path, c.reg_cal, c.limit, &h), 0);
    std::vector<std::string> times, want;
    for (const calib_record& r : h.records) times.push_back(r.time);
    for (int n : c.times) want.push_back(at_time(n));
    EXPECT_EQ(times, want) << c.reg_cal;
    EXPECT_EQ(h.matched, c.matched) << c.reg_cal;
    EXPECT_EQ(h.skipped, 8) << c.reg_cal;
  }
  calib_history h;
  EXPECT_EQ(calib_history_read(std::string(dir) + "/none.jsonl", 0, 10, &h), 0);
  EXPECT_TRUE(h.records.empty());
  EXPECT_EQ(calib_history_read(dir, 0, 10, &h), -1);
  ASSERT_EQ(system(("rm -rf " + std::string(dir)).c_str()), 0);
}

}  // namespace
