#include "console/dump.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/command_table.h"
#include "core/lifecycle.h"
#include "registers/values.h"
#include "tests/stream_capture.h"

namespace {

std::string read_file(const std::string& path) {
  std::string text;
  FILE* f = fopen(path.c_str(), "r");
  if (f == nullptr) return "<missing>";
  for (int c; (c = getc(f)) != EOF;) text += static_cast<char>(c);
  fclose(f);
  return text;
}

std::string dump_line(const modbus_reg_entry& entry, const uint16_t* words) {
  char* text = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&text, &size);
  EXPECT_EQ(write_dump_line(f, &entry, words), 0);
  fclose(f);
  std::string line(text, size);
  free(text);
  return line;
}

uint16_t lo(float v) { return static_cast<uint16_t>(float_to_bits(v) & 0xFFFF); }
uint16_t hi(float v) { return static_cast<uint16_t>(float_to_bits(v) >> 16); }

struct line_case {
  modbus_reg_entry entry;
  uint16_t words[20];
  const char* line;
};

const line_case line_cases[] = {
    {{5120, "MB_STATE_SET", WORD, ""}, {3}, "MB_STATE_SET = 3 \n"},
    {{5120, "W", WORD, "ms"}, {65535}, "W = 65535 ms\n"},
    {{5126, "MB_FIL_SET", FLOAT, "V,A"}, {lo(6.3f), hi(6.3f)}, "MB_FIL_SET = 6.3 V,A\n"},
    {{1, "F", FLOAT, ""}, {lo(1e-7f), hi(1e-7f)}, "F = 1e-07 \n"},
    {{1, "D", DWORD, "s"}, {0xFFFF, 0xFFFF}, "D = -1 s\n"},
    {{1, "D", DWORD, ""}, {0x0000, 0x0001}, "D = 65536 \n"},
    {{5363, "MB_HV_VOLT_READ_CAL", READ_CALIB, ""},
     {0, 0, 0, 1000, lo(12.5f), hi(12.5f), 2000, lo(25), hi(25), 3000, lo(37.5f), hi(37.5f), 65535,
      lo(-1), hi(-1)},
     "MB_HV_VOLT_READ_CAL = X1=0,Y1=0; X2=1000,Y2=12.5; X3=2000,Y3=25; X4=3000,Y4=37.5; "
     "X5=65535,Y5=-1; \n"},
    {{5288, "MB_FIL_SET_CAL", SET_CALIB, ""},
     {lo(0.5f), hi(0.5f), 100, lo(1), hi(1), 200, lo(2), hi(2), 300, lo(3), hi(3), 400, lo(4),
      hi(4), 500},
     "MB_FIL_SET_CAL = X1=0.5,Y1=100; X2=1,Y2=200; X3=2,Y3=300; X4=3,Y4=400; X5=4,Y5=500; \n"},
    {{5561, "MB_MAC_ADDRESS", BYTE_ARRAY_06, ""},
     {0x1A00, 0x3C2B, 0x5E4D},
     "MB_MAC_ADDRESS = 00 1A 2B 3C 4D 5E \n"},
    {{1, "C", CHAR_ARRAY_10, ""}, {0x4241, 0x0043}, "C = ABC\n"},
    {{1, "C", CHAR_ARRAY_10, ""}, {0x3130, 0x3332, 0x3534, 0x3736, 0x3938}, "C = 0123456789\n"},
    {{1, "C", CHAR_ARRAY_10, ""}, {0x0000, 0x4141}, "C = \n"},
    {{1, "C", CHAR_ARRAY_10, ""}, {0x0041, 0x4242}, "C = A\n"},
    {{5489, "MB_EVENT_LOG_READ", DWORD_ARRAY_10, ""},
     {1, 0, 0, 1, 0xFFFF, 0xFFFF, 7, 0, 8, 0, 9, 0, 9, 0, 9, 0, 9, 0, 9, 0},
     "MB_EVENT_LOG_READ = 1 65536 -1 7 8 \n"},
    {{6123, "MB_REFLECTED_POW_READ ", FLOAT, "dBm"},
     {lo(-3), hi(-3)},
     "MB_REFLECTED_POW_READ  = -3 dBm\n"},
    {{1, "R", RAW, ""}, {1, 2}, "R = \n"},
    {{1, "X", 9, "u"}, {1, 2}, "X = \n"},
};

TEST(DumpLine, EveryTypeFormat) {
  for (const line_case& c : line_cases) EXPECT_EQ(dump_line(c.entry, c.words), c.line) << c.line;
}

TEST(DumpLine, RefusedWriteReportsItsErrno) {
  FILE* f = fopen("/dev/full", "w");
  ASSERT_NE(f, nullptr);
  setvbuf(f, nullptr, _IONBF, 0);
  uint16_t words[20] = {3};
  errno = 0;
  EXPECT_EQ(write_dump_line(f, &modbus_reg_table[0], words), -1);
  EXPECT_EQ(errno, ENOSPC);
  fclose(f);
}

// Runs DUMP's row on the arguments, as the console does: the row refuses a missing path.
std::string run_dump(const std::string& args) {
  return run_handler(
      [](const command_args& tokens) { return run_command(command_table[CODE_DUMP], tokens); },
      args.c_str());
}

class DumpCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/dump_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    quit_requested.store(0);
    std::string cmd = "rm -rf " + dir_;
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
  std::string dir_;
};

TEST_F(DumpCommand, MissingFilename) {
  EXPECT_EQ(run_dump(""), "Missing filename.\n");
  EXPECT_EQ(run_dump("   "), "Missing filename.\n");
}

TEST_F(DumpCommand, MissingDirectoryGivesErrno2) {
  std::string path = dir_ + "/no/such.txt";
  EXPECT_EQ(run_dump(path), "Error opening file: " + path + " [errno=2]\n");
}

TEST_F(DumpCommand, DirectoryAsPathCannotBeOpened) {
  EXPECT_EQ(run_dump(dir_), "Error opening file: " + dir_ + " [errno=21]\n");
}

// Without a link every read fails: one screen line per register, an emptied file, and the
// dump still counts as written.
TEST_F(DumpCommand, UnreachableDeviceLeavesAnEmptiedFile) {
  std::string path = dir_ + "/dump.txt";
  FILE* f = fopen(path.c_str(), "w");
  fputs("old content\n", f);
  fclose(f);

  std::string expected;
  for (const modbus_reg_entry& e : modbus_reg_table)
    expected += std::string("Error read ") + e.name + "\n";
  expected += "Dumped to " + path + "\n";
  EXPECT_EQ(run_dump(path), expected);
  EXPECT_EQ(read_file(path), "");
}

TEST_F(DumpCommand, StopRequestEndsTheDumpAtOnce) {
  std::string path = dir_ + "/dump.txt";
  quit_requested.store(1);
  EXPECT_EQ(run_dump(path), "");
  EXPECT_EQ(read_file(path), "");
}

}  // namespace
