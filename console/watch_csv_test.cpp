#include "console/watch_csv.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "registers/values.h"
#include "tests/stream_capture.h"

namespace {

const modbus_reg_entry* entry_named(const char* name) {
  int i = reg_find_by_name(name, MODBUS_REG_COUNT);
  return i < 0 ? nullptr : &modbus_reg_table[i];
}

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

class WatchCsv : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vt_csv_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    path = dir + "/trend.csv";
  }
  void TearDown() override {
    unlink(path.c_str());
    rmdir(dir.c_str());
  }
  std::string dir;
  std::string path;
};

TEST(WatchCsvFormat, FieldsAreQuotedOnlyWhenTheyMustBe) {
  const std::pair<std::string, std::string> cases[] = {
      {"MB_PRF_READ", "MB_PRF_READ"},   {"a,b", "\"a,b\""}, {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\nlines", "\"two\nlines\""}, {"", ""},
  };
  for (const auto& [text, field] : cases) EXPECT_EQ(csv_field(text), field) << text;
}

TEST(WatchCsvFormat, ValuesAreExactPlainNumbers) {
  const modbus_reg_entry* prf = entry_named("MB_PRF_READ");
  const modbus_reg_entry* state = entry_named("MB_STATE_READ");
  ASSERT_TRUE(prf && state);
  ASSERT_EQ(prf->type, FLOAT);
  uint16_t words[2];
  split_words(float_to_bits(0.1f), words);
  EXPECT_EQ(watch_csv_value(prf, words), "0.100000001");
  split_words(float_to_bits(-1234.5f), words);
  EXPECT_EQ(watch_csv_value(prf, words), "-1234.5");
  uint16_t word[2] = {65535, 7};
  EXPECT_EQ(watch_csv_value(state, word), "65535");
  const modbus_reg_entry* hours = entry_named("MB_HV_HOURS_READ");
  ASSERT_TRUE(hours && hours->type == DWORD);
  uint16_t dword[2] = {0x019C, 0};
  EXPECT_EQ(watch_csv_value(hours, dword), "412");
  uint16_t all_ones[2] = {0xFFFF, 0xFFFF};
  EXPECT_EQ(watch_csv_value(hours, all_ones), "-1");
  EXPECT_EQ(watch_csv_value(prf, nullptr), "");
}

TEST(WatchCsvFormat, TimeIsUtcWithMilliseconds) {
  timespec when = {1796825592, 7000000};  // 2026-12-09 14:13:12.007 UTC
  EXPECT_EQ(watch_csv_time(when), "2026-12-09T14:13:12.007Z");
}

TEST(WatchCsvFormat, HeaderNamesUnitsAndDropsTrailingBlank) {
  const modbus_reg_entry* prf = entry_named("MB_PRF_READ");
  const modbus_reg_entry* blank = entry_named("MB_DAVARER_BALANCE ");
  ASSERT_TRUE(prf && blank);
  const modbus_reg_entry* both[] = {prf, blank};
  std::string expected = "time,MB_PRF_READ";
  if (prf->unit[0]) expected += std::string(" [") + prf->unit + "]";
  expected += ",MB_DAVARER_BALANCE";
  if (blank->unit[0]) expected += std::string(" [") + blank->unit + "]";
  EXPECT_EQ(watch_csv_header(both, 2), expected);
}

TEST_F(WatchCsv, NewFileGetsHeaderThenRowsAppendToItsOwnHeader) {
  watch_csv_file file;
  ASSERT_EQ(watch_csv_open(path, "time,A", &file), 0);
  watch_csv_append(&file, {"t1", "1"});
  watch_csv_close(&file);
  ASSERT_EQ(watch_csv_open(path, "time,A", &file), 0);
  watch_csv_append(&file, {"t2", ""});
  watch_csv_close(&file);
  EXPECT_EQ(file_text(path), "time,A\r\nt1,1\r\nt2,\r\n");
}

TEST_F(WatchCsv, RefusesOtherFilesAndHealsACutRow) {
  struct refusal {
    std::string content;
    std::string printed;
  };
  const refusal refusals[] = {
      {"time,B\r\nt1,1\r\n", path + ": holds other columns, not appended\n"},
      {"time,A,B\n", path + ": holds other columns, not appended\n"},
  };
  for (const refusal& r : refusals) {
    { std::ofstream(path, std::ios::binary) << r.content; }
    watch_csv_file file;
    stream_capture out;
    EXPECT_EQ(watch_csv_open(path, "time,A", &file), -1);
    EXPECT_EQ(out.finish(), r.printed);
    EXPECT_EQ(file_text(path), r.content);
  }
  { std::ofstream(path, std::ios::binary) << "time,A\nt1,1\nt2,"; }
  watch_csv_file file;
  ASSERT_EQ(watch_csv_open(path, "time,A", &file), 0);
  watch_csv_append(&file, {"t3", "3"});
  watch_csv_close(&file);
  EXPECT_EQ(file_text(path), "time,A\nt1,1\nt2,\r\nt3,3\r\n");
}

TEST_F(WatchCsv, UnopenableFileIsOneLine) {
  watch_csv_file file;
  std::string missing = dir + "/no/such.csv";
  stream_capture missing_out;
  EXPECT_EQ(watch_csv_open(missing, "time", &file), -1);
  EXPECT_EQ(missing_out.finish(), missing + ": No such file or directory, not watched\n");
  stream_capture dir_out;
  EXPECT_EQ(watch_csv_open(dir, "time", &file), -1);
  EXPECT_EQ(dir_out.finish(), dir + ": Is a directory, not watched\n");
}

// A file that can't grow (the file-size limit stands in for a full disk): the first failed row
// is said once, and the rows after it are not tried.
TEST_F(WatchCsv, FailedWriteIsReportedOnceAndEndsTheRecord) {
  watch_csv_file file;
  ASSERT_EQ(watch_csv_open(path, "time,A", &file), 0);
  struct sigaction ignore = {}, before_signal;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &before_signal);
  rlimit before_limit;
  getrlimit(RLIMIT_FSIZE, &before_limit);
  rlimit small = before_limit;
  // Room for the header and one row; the captured output, a file too, stays below it.
  small.rlim_cur = 200;
  setrlimit(RLIMIT_FSIZE, &small);
  stream_capture out;
  const std::string value(100, '1');
  for (int i = 0; i < 3; i++) watch_csv_append(&file, {"t", value});
  setrlimit(RLIMIT_FSIZE, &before_limit);
  sigaction(SIGXFSZ, &before_signal, nullptr);
  EXPECT_EQ(out.finish(), path + ": File too large, the watch goes on on screen only\n");
  EXPECT_TRUE(file.failed);
  watch_csv_close(&file);
  std::string row = "t," + value + "\r\n";
  EXPECT_EQ(file_text(path), ("time,A\r\n" + row + row).substr(0, 200));
}

}  // namespace
