#include "console/dump_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/dump.h"
#include "registers/values.h"
#include "tests/stream_capture.h"

namespace {

class DumpFileReader : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/dump_file_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/dump.txt";
  }
  void TearDown() override {
    std::string cmd = "rm -rf " + dir_;
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
  // Writes content to the dump file, reads it back into dump_ and returns what was printed.
  std::string read(const std::string& content, int* result) {
    FILE* f = fopen(path_.c_str(), "w");
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
    stream_capture out;
    *result = read_dump_file(path_.c_str(), &dump_);
    return out.finish();
  }
  std::string dir_;
  std::string path_;
  dump_file dump_;
};

int index_of(const char* name) {
  for (int i = 0; i < MODBUS_REG_COUNT; i++)
    if (std::string(modbus_reg_table[i].name) == name) return i;
  return -1;
}

struct refusal {
  const char* name;
  std::string content;
  std::string message;  // after "<path>, " when it begins with "line"
};

TEST_F(DumpFileReader, RefusesFilesThatAreNoDump) {
  const refusal cases[] = {
      {"no equals sign", "MB_STATE_SET = 3 \nMB_FIL_SET 6.3 V,A\n",
       "line 2: not a NAME = TEXT line.\n"},
      {"empty line", "MB_STATE_SET = 3 \n\nMB_FIL_SET = 6.3 V,A\n",
       "line 2: not a NAME = TEXT line.\n"},
      {"equals without blanks", "MB_STATE_SET=3\n", "line 1: not a NAME = TEXT line.\n"},
      {"no name", " = 3 \n", "line 1: not a NAME = TEXT line.\n"},
      {"blank inside the name", "MB STATE_SET = 3 \n", "line 1: not a NAME = TEXT line.\n"},
      {"tab in the name", "MB_STATE_SET\t = 3 \n", "line 1: not a NAME = TEXT line.\n"},
      {"NUL in the text", std::string("MB_STATE_SET = 3\0 \n", 19),
       "line 1: not a NAME = TEXT line.\n"},
      {"second of a name", "MB_STATE_SET = 3 \nMB_FIL_SET = 1 V,A\nMB_STATE_SET = 0 \n",
       "line 3: MB_STATE_SET is named a second time.\n"},
      {"second of an unknown name", "MB_NEW = 1\nMB_NEW = 2\n",
       "line 2: MB_NEW is named a second time.\n"},
      {"second with the trailing blank", "MB_DAVARER_BALANCE  = 0 \nMB_DAVARER_BALANCE  = 1 \n",
       "line 2: MB_DAVARER_BALANCE  is named a second time.\n"},
      {"one byte over 1 MiB", std::string(1024 * 1024 + 1, 'x'),
       "Dump file too large: PATH (over 1 MiB).\n"},
  };
  for (const refusal& c : cases) {
    int result = 0;
    std::string printed = read(c.content, &result);
    std::string expected = c.message;
    if (expected.rfind("line", 0) == 0) expected = path_ + ", " + expected;
    size_t at = expected.find("PATH");
    if (at != std::string::npos) expected.replace(at, 4, path_);
    EXPECT_EQ(result, -1) << c.name;
    EXPECT_EQ(printed, expected) << c.name;
  }
}

TEST_F(DumpFileReader, RefusesMissingNamesAndUnreadableFiles) {
  stream_capture out;
  dump_file dump;
  EXPECT_EQ(read_dump_file(nullptr, &dump), -1);
  std::string missing = dir_ + "/none.txt";
  EXPECT_EQ(read_dump_file(missing.c_str(), &dump), -1);
  EXPECT_EQ(read_dump_file(dir_.c_str(), &dump), -1);
  EXPECT_EQ(out.finish(), "Missing filename.\nError opening file: " + missing +
                              " [errno=2]\nError opening file: " + dir_ + " [errno=21]\n");
}

TEST_F(DumpFileReader, TakesAFullMebibyteInAnyOrder) {
  std::string content = "MB_FIL_SET = 6.3 V,A\nMB_STATE_SET = 3 \nMB_PAD = ";
  content += std::string(1024 * 1024 - content.size(), 'x');
  int result = 0;
  std::string printed = read(content, &result);
  EXPECT_EQ(result, 0) << printed;
  EXPECT_EQ(dump_.texts[index_of("MB_STATE_SET")], "3 ");
  EXPECT_EQ(dump_.texts[index_of("MB_FIL_SET")], "6.3 V,A");
  EXPECT_EQ(dump_.unknown_names, (std::vector<std::string>{"MB_PAD"}));
}

// Names are matched exactly: the four that end with a blank keep it, and without it they are
// names the catalogue doesn't know. Unknown names are listed once, in file order.
TEST_F(DumpFileReader, MatchesNamesExactlyAndListsUnknownOnes) {
  int result = 0;
  std::string printed = read(
      "MB_DAVARER_BALANCE  = 7 \n"
      "MB_FORWARD_POW_READ = 1.5 W\n"
      "MB_FUTURE_THING = a = b\n"
      "MB_LOG_IN = \n"
      "MB_STATE_SET = 3 ",
      &result);
  EXPECT_EQ(printed, "");
  ASSERT_EQ(result, 0);
  EXPECT_TRUE(dump_.present[index_of("MB_DAVARER_BALANCE ")]);
  EXPECT_EQ(dump_.texts[index_of("MB_DAVARER_BALANCE ")], "7 ");
  EXPECT_FALSE(dump_.present[index_of("MB_FORWARD_POW_READ ")]);
  EXPECT_EQ(dump_.texts[index_of("MB_LOG_IN")], "");
  EXPECT_EQ(dump_.texts[index_of("MB_STATE_SET")], "3 ");
  EXPECT_EQ(dump_.unknown_names,
            (std::vector<std::string>{"MB_FORWARD_POW_READ", "MB_FUTURE_THING"}));
  stream_capture out;
  print_unknown_names(dump_);
  EXPECT_EQ(out.finish(), "Not in the catalogue, ignored: MB_FORWARD_POW_READ MB_FUTURE_THING\n");
}

struct parse_case {
  const char* name;  // register
  std::string text;
  std::vector<uint16_t> words;  // empty: refused
};

std::vector<uint16_t> fw(float v) {
  uint32_t b = float_to_bits(v);
  return {static_cast<uint16_t>(b & 0xFFFF), static_cast<uint16_t>(b >> 16)};
}

// Each accepted text is what DUMP writes for the words, so the reader undoes the dump.
TEST(DumpValueText, ParsesBackWhatTheDumpWrites) {
  std::vector<uint16_t> set_cal;
  std::vector<uint16_t> read_cal;
  for (int j = 0; j < 5; j++) {
    for (uint16_t w : fw(0.5f * (j + 1))) set_cal.push_back(w);
    set_cal.push_back(static_cast<uint16_t>(100 * j + 65000 * (j == 4)));
    read_cal.push_back(static_cast<uint16_t>(1000 * j));
    for (uint16_t w : fw(12.5f * j)) read_cal.push_back(w);
  }
  const parse_case cases[] = {
      {"MB_FIL_SET", "6.3 V,A", fw(6.3f)},
      {"MB_FIL_SET", "-1e-05 V,A", fw(-1e-5f)},
      {"MB_STATE_SET", "65535 ", {65535}},
      {"MB_ENABLE_STANDBY_INTERLOCK", "-2 ", {0xFFFE, 0xFFFF}},
      {"MB_REMAINING_TIME", "65536 s", {0, 1}},
      {"MB_FIL_SET_CAL", "X1=0.5,Y1=0; X2=1,Y2=100; X3=1.5,Y3=200; X4=2,Y4=300; X5=2.5,Y5=65400; ",
       set_cal},
      {"MB_HV_VOLT_READ_CAL",
       "X1=0,Y1=0; X2=1000,Y2=12.5; X3=2000,Y3=25; X4=3000,Y4=37.5; X5=4000,Y5=50; ", read_cal},
      {"MB_FIL_SET", "6.3 V", {}},
      {"MB_FIL_SET", "6.3V,A", {}},
      {"MB_FIL_SET", " V,A", {}},
      {"MB_FIL_SET", "nan V,A", {}},
      {"MB_FIL_SET", "inf V,A", {}},
      {"MB_FIL_SET", "1e39 V,A", {}},
      {"MB_STATE_SET", "65536 ", {}},
      {"MB_STATE_SET", "-1 ", {}},
      {"MB_STATE_SET", "3", {}},
      {"MB_STATE_SET", "0x3 ", {}},
      {"MB_REMAINING_TIME", "2147483648 s", {}},
      {"MB_FIL_SET_CAL", "X1=0.5,Y1=0; X2=1,Y2=100; X3=1.5,Y3=200; X4=2,Y4=300; ", {}},
      {"MB_FIL_SET_CAL",
       "X1=0.5,Y1=0; X2=1,Y2=100; X3=1.5,Y3=200; X4=2,Y4=300; X5=2.5,Y5=65536; ",
       {}},
      {"MB_FIL_SET_CAL",
       "X1=0.5,Y1=0; X2=1,Y2=100; X3=1.5,Y3=200; X5=2,Y5=300; X4=2.5,Y4=65400; ",
       {}},
      {"MB_FIL_SET_CAL",
       "X1=0.5,Y1=0; X2=1,Y2=100; X3=1.5,Y3=200; X4=2,Y4=300; X5=2.5,Y5=65400;",
       {}},
      {"MB_HV_VOLT_READ_CAL",
       "X1=0.5,Y1=0; X2=1000,Y2=12.5; X3=2000,Y3=25; X4=3000,Y4=37.5; X5=4000,Y5=50; ",
       {}},
      {"MB_MAC_ADDRESS", "00 1A 2B 3C 4D 5E ", {}},
  };
  for (const parse_case& c : cases) {
    const modbus_reg_entry* e = &modbus_reg_table[index_of(c.name)];
    uint16_t words[20] = {};
    int rc = parse_dump_value(e, c.text, words);
    if (c.words.empty()) {
      EXPECT_EQ(rc, -1) << c.name << " " << c.text;
      continue;
    }
    ASSERT_EQ(rc, 0) << c.name << " " << c.text;
    EXPECT_EQ(std::vector<uint16_t>(words, words + c.words.size()), c.words) << c.text;
    char back[DUMP_VALUE_TEXT_SIZE];
    ASSERT_EQ(dump_value_text(e, words, back, sizeof back), 0);
    EXPECT_EQ(back, c.text);
  }
}

TEST(DumpValueText, RefusesATooSmallBuffer) {
  const modbus_reg_entry* e = &modbus_reg_table[index_of("MB_FIL_SET")];
  std::vector<uint16_t> words = fw(6.3f);
  char buf[8];
  EXPECT_EQ(dump_value_text(e, words.data(), buf, 7), -1);
  EXPECT_EQ(dump_value_text(e, words.data(), buf, 8), 0);  // "6.3 V,A" and its terminator
  EXPECT_STREQ(buf, "6.3 V,A");
}

}  // namespace
