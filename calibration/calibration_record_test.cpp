// The calibration record's JSON line and the reading of a record file.
#include "calibration/calibration_record.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/stream_capture.h"

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

calib_record round_trip(const calib_record& r, std::string* line = nullptr) {
  std::string text = calib_record_to_json(r);
  if (line) *line = text;
  calib_record back;
  EXPECT_EQ(calib_record_from_json(text, &back), 0) << text;
  return back;
}

// Significant digits of a JSON number's text: digits before any exponent, leading zeros left
// out.
int significant_digits(const std::string& number) {
  int n = 0;
  bool started = false;
  for (char c : number) {
    if (c == 'e' || c == 'E') break;
    if (c < '0' || c > '9') continue;
    if (c != '0') started = true;
    if (started) n++;
  }
  return n;
}

TEST(CalibrationRecord, FloatsReadBackExactlyInAtMostNineDigits) {
  const float values[] = {0.1f,          6.3f,     -2.75f,          1.0f / 3.0f, 16777216.0f,
                          3.4028235e38f, 1.0e-45f, 1.17549435e-38f, 123456.789f, 0.0f};
  for (float value : values) {
    calib_record r = sample();
    r.as_left.points[2].actual = value;
    std::string line;
    calib_record back = round_trip(r, &line);
    ASSERT_TRUE(back.as_left.points[2].actual.has_value()) << line;
    float got = *back.as_left.points[2].actual;
    EXPECT_EQ(memcmp(&got, &value, sizeof value), 0) << value << " read back as " << got;
    // The number's text: after the third point's "actual":.
    size_t at = line.find("\"actual\":", line.find("\"as_left\""));
    for (int k = 0; k < 2; k++) at = line.find("\"actual\":", at + 1);
    std::string number = line.substr(at + 9, line.find_first_of(",}", at) - at - 9);
    EXPECT_LE(significant_digits(number), 9) << number;
  }
}

TEST(CalibrationRecord, TextsAndNullsSurviveOnOneLine) {
  struct {
    const char* name;
    void (*change)(calib_record*);
  } cases[] = {
      {"quotes and control characters",
       [](calib_record* r) { r->description = "Fil \"A\"\n\t\\ end\r\x01"; }},
      {"warning", [](calib_record* r) { r->warning = "Warning: not strictly increasing."; }},
      {"device identity not read",
       [](calib_record* r) {
         r->mac.reset();
         r->device_version.reset();
         r->fpga_version.reset();
       }},
      {"no read register, no catalogue name",
       [](calib_record* r) {
         r->read_register.reset();
         r->set_register = {5127, std::nullopt};
       }},
      {"table not loaded", [](calib_record* r) { r->as_found.reset(); }},
      {"empty points",
       [](calib_record* r) {
         r->as_left.points[0] = {};
         r->as_found->points[4] = {};
       }},
      {"interactive", [](calib_record* r) {
         r->mode = "interactive";
         r->result = "UNKNOWN";
         r->sends = 7;
       }}};
  for (const auto& c : cases) {
    calib_record r = sample();
    c.change(&r);
    std::string line;
    EXPECT_EQ(round_trip(r, &line), r) << c.name << "\n" << line;
    EXPECT_EQ(line.find('\n'), std::string::npos) << c.name;
  }
}

TEST(CalibrationRecord, NullsAndWordsAsWritten) {
  calib_record r = sample();
  r.mac.reset();
  r.as_left.points[0] = {};
  std::string line = calib_record_to_json(r);
  EXPECT_NE(line.find("\"mac\":null"), std::string::npos) << line;
  EXPECT_NE(line.find("{\"set\":null,\"actual\":null,\"count\":null}"), std::string::npos) << line;
  EXPECT_NE(line.find("\"words\":\"1000 1001 1002 1003 1004 1005 1006 1007 1008 1009 100A 100B "
                      "100C 100D 100E\""),
            std::string::npos)
      << line;
  EXPECT_EQ(line.rfind("{\"time\":\"2026-12-08T14:03:12.345+01:00\",\"user\":\"anna\"", 0), 0u);
}

TEST(CalibrationRecord, DescriptionThatIsNoUtf8IsReplacedNotLost) {
  calib_record r = sample();
  r.description = "Filament \xE9t\xE9";
  calib_record back = round_trip(r);
  EXPECT_EQ(back.description, "Filament \xEF\xBF\xBDt\xEF\xBF\xBD");
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

TEST(CalibrationRecord, LinesThatAreNoRecordAreRefused) {
  std::string good = calib_record_to_json(sample());
  const std::string lines[] = {
      "",
      "not json",
      good.substr(0, good.size() / 2),
      "[]",
      "{}",
      std::string(good).replace(good.find("\"menu\":1"), 8, "\"menu\":\"1\""),
      std::string(good).replace(good.find("\"count\":100"), 11, "\"count\":70000"),
      std::string(good).replace(good.find("1000 1001"), 4, "100"),
  };
  for (const std::string& line : lines) {
    calib_record r;
    EXPECT_EQ(calib_record_from_json(line, &r), -1) << line;
  }
}

class RecordFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vt_record_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { ASSERT_EQ(system(("rm -rf " + dir).c_str()), 0); }

  void write_lines(const std::vector<std::string>& lines, bool cut_last = false) {
    FILE* f = fopen(path().c_str(), "w");
    ASSERT_NE(f, nullptr);
    for (size_t i = 0; i < lines.size(); i++) {
      bool last = i + 1 == lines.size();
      std::string line = last && cut_last ? lines[i].substr(0, lines[i].size() - 9) : lines[i];
      fprintf(f, "%s%s", line.c_str(), last && cut_last ? "" : "\n");
    }
    fclose(f);
  }
  std::string path() const { return dir + "/calibrations.jsonl"; }

  std::string dir;
};

std::string at_time(int n) {
  char text[40];
  snprintf(text, sizeof text, "2026-12-08T14:%02d:00.000+01:00", n);
  return text;
}

TEST_F(RecordFile, KeepsTheLastTenOfATableOldestFirstAndCountsWhatIsNoRecord) {
  std::vector<std::string> lines;
  for (int n = 0; n < 12; n++) lines.push_back(calib_record_to_json(sample(5288, at_time(n))));
  lines.insert(lines.begin() + 3, calib_record_to_json(sample(5303, at_time(50))));
  lines.insert(lines.begin() + 5, "{\"hand\": \"edited\"}");
  lines.push_back(calib_record_to_json(sample(5303, at_time(51))));
  write_lines(lines, true);

  struct {
    int reg_cal;
    size_t limit;
    std::vector<std::string> times;
    int matched;
  } cases[] = {
      {5288,
       10,
       {at_time(2), at_time(3), at_time(4), at_time(5), at_time(6), at_time(7), at_time(8),
        at_time(9), at_time(10), at_time(11)},
       12},
      {5303, 10, {at_time(50)}, 1},
      {0, 3, {at_time(9), at_time(10), at_time(11)}, 13},
      {5348, 10, {}, 0},
  };
  for (const auto& c : cases) {
    calib_history h;
    ASSERT_EQ(calib_history_read(path(), c.reg_cal, c.limit, &h), 0);
    std::vector<std::string> times;
    for (const calib_record& r : h.records) times.push_back(r.time);
    EXPECT_EQ(times, c.times) << c.reg_cal;
    EXPECT_EQ(h.matched, c.matched) << c.reg_cal;
    // The hand-edited line and the cut last line.
    EXPECT_EQ(h.skipped, 2) << c.reg_cal;
  }
}

TEST_F(RecordFile, MissingFileHasNoRecordsAndADirectoryIsUnreadable) {
  calib_history h;
  EXPECT_EQ(calib_history_read(dir + "/none.jsonl", 0, 10, &h), 0);
  EXPECT_TRUE(h.records.empty());
  EXPECT_EQ(calib_history_read(dir, 0, 10, &h), -1);
}

TEST_F(RecordFile, AppendMakesPrivateFilesAndSaysAFailureOnce) {
  setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
  ASSERT_EQ(calib_record_append(sample()), 0);
  ASSERT_EQ(calib_record_append(sample(5303)), 0);
  struct stat st;
  ASSERT_EQ(stat((dir + "/state/veltrona_tool").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(stat(calib_record_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  calib_history h;
  ASSERT_EQ(calib_history_read(calib_record_path(), 0, 10, &h), 0);
  EXPECT_EQ(h.records, (std::vector<calib_record>{sample(), sample(5303)}));

  // A file where the directory should be.
  setenv("XDG_STATE_HOME", path().c_str(), 1);
  write_lines({"x"});
  stream_capture err(stderr);
  EXPECT_EQ(calib_record_append(sample()), -1);
  EXPECT_EQ(calib_record_append(sample()), -1);
  EXPECT_EQ(err.finish(), "Calibration record not kept: " + path() +
                              "/veltrona_tool/calibrations.jsonl: Not a directory\n");
  unsetenv("XDG_STATE_HOME");
}

}  // namespace
