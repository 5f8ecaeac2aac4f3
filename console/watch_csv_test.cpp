#include "console/watch_csv.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include "registers/values.h"
#include "tests/stream_capture.h"

namespace {

const modbus_reg_entry* entry_named(const char* name) {
  int i = reg_find_by_name(name, MODBUS_REG_COUNT);
  return i < 0 ? nullptr : &modbus_reg_table[i];
}

std::string unit_of(const modbus_reg_entry* e) {
  return e->unit[0] ? std::string(" [") + e->unit + "]" : "";
}

TEST(WatchCsvFormat, FieldsHeaderAndTime) {
  const std::pair<std::string, std::string> cases[] = {
      {"MB_PRF_READ", "MB_PRF_READ"},   {"a,b", "\"a,b\""}, {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\nlines", "\"two\nlines\""}, {"", ""},           {"lone\rCR", "\"lone\rCR\""},
  };
  for (const auto& [text, field] : cases) EXPECT_EQ(csv_field(text), field) << text;
  const modbus_reg_entry* both[] = {entry_named("MB_PRF_READ"), entry_named("MB_DAVARER_BALANCE ")};
  ASSERT_TRUE(both[0] && both[1]);
  EXPECT_EQ(watch_csv_header(both, 2),
            "time,MB_PRF_READ" + unit_of(both[0]) + ",MB_DAVARER_BALANCE" + unit_of(both[1]));
  timespec when = {1796825592, 7000000};  // 2026-12-09 14:13:12.007 UTC
  EXPECT_EQ(watch_csv_time(when), "2026-12-09T14:13:12.007Z");
}

// FLOAT, WORD and DWORD as exact plain numbers; a value not read is empty.
TEST(WatchCsvFormat, ValuesAreExactPlainNumbers) {
  const struct {
    const char* name;
    uint16_t words[2];
    const char* text;
  } cases[] = {
      {"MB_PRF_READ", {0xCCCD, 0x3DCC}, "0.1"},     {"MB_PRF_READ", {0x5000, 0xC49A}, "-1234.5"},
      {"MB_STATE_READ", {65535, 7}, "65535"},       {"MB_HV_HOURS_READ", {0x019C, 0}, "412"},
      {"MB_HV_HOURS_READ", {0xFFFF, 0xFFFF}, "-1"},
  };
  for (const auto& c : cases) EXPECT_EQ(watch_csv_value(entry_named(c.name), c.words), c.text);
  EXPECT_EQ(watch_csv_value(entry_named("MB_PRF_READ"), nullptr), "");
}

TEST(WatchCsv, AppendsToItsOwnHeaderOnlyAndHealsACutRow) {
  scratch_file f;
  watch_csv_file file;
  for (const char* value : {"1", ""}) {
    ASSERT_EQ(watch_csv_open(f.path, "time,A", &file), 0);
    watch_csv_append(&file, {value[0] ? "t1" : "t2", value});
    watch_csv_close(&file);
  }
  EXPECT_EQ(f.read(), "time,A\r\nt1,1\r\nt2,\r\n");
  for (const char* other : {"time,B\r\nt1,1\r\n", "time,A,B\n"}) {
    f.write(other);
    stream_capture out;
    EXPECT_EQ(watch_csv_open(f.path, "time,A", &file), -1);
    EXPECT_EQ(out.finish(), f.path + ": holds other columns, not appended\n");
    EXPECT_EQ(f.read(), other);
  }
  f.write("time,A\nt1,1\nt2,");
  ASSERT_EQ(watch_csv_open(f.path, "time,A", &file), 0);
  watch_csv_append(&file, {"t3", "3"});
  watch_csv_close(&file);
  EXPECT_EQ(f.read(), "time,A\nt1,1\nt2,\r\nt3,3\r\n");
  f.write("time,A\r\nt1,1\r");  // cut between CR and LF
  ASSERT_EQ(watch_csv_open(f.path, "time,A", &file), 0);
  watch_csv_append(&file, {"t2", "2"});
  watch_csv_close(&file);
  EXPECT_EQ(f.read(), "time,A\r\nt1,1\r\nt2,2\r\n");
  stream_capture out;
  EXPECT_EQ(watch_csv_open(f.dir + "/no/such.csv", "time", &file), -1);
  EXPECT_EQ(watch_csv_open(f.dir, "time", &file), -1);
  EXPECT_EQ(out.finish(), f.dir + "/no/such.csv: No such file or directory, not watched\n" + f.dir +
                              ": Is a directory, not watched\n");
}

// A file that can't grow (the file-size limit stands in for a full disk): the first failed row
// is said once, and the rows after it are not tried.
TEST(WatchCsv, FailedWriteIsReportedOnceAndEndsTheRecord) {
  scratch_file f;
  watch_csv_file file;
  ASSERT_EQ(watch_csv_open(f.path, "time,A", &file), 0);
  struct sigaction ignore = {}, before_signal;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &before_signal);
  rlimit before_limit;
  getrlimit(RLIMIT_FSIZE, &before_limit);
  rlimit small = before_limit;
  small.rlim_cur = 200;  // the header and one row; the captured output, a file too, stays below
  setrlimit(RLIMIT_FSIZE, &small);
  stream_capture out;
  const std::string row = "t," + std::string(100, '1');
  for (int i = 0; i < 3; i++) watch_csv_append(&file, {"t", row.substr(2)});
  setrlimit(RLIMIT_FSIZE, &before_limit);
  sigaction(SIGXFSZ, &before_signal, nullptr);
  EXPECT_EQ(out.finish(), f.path + ": File too large, the watch goes on on screen only\n");
  EXPECT_TRUE(file.failed);
  watch_csv_close(&file);
  EXPECT_EQ(f.read(), ("time,A\r\n" + row + "\r\n" + row + "\r\n").substr(0, 200));
}

}  // namespace
