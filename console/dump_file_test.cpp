#include "console/dump_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/dump.h"
#include "registers/values.h"
#include "tests/stream_capture.h"

namespace {

int index_of(const char* name) {
  for (int i = 0; i < MODBUS_REG_COUNT; i++)
    if (std::string(modbus_reg_table[i].name) == name) return i;
  return -1;
}

// Message after "<path>, " for a bad line; the whole message otherwise (PATH: the file).
TEST(DumpFileReader, RefusesFilesThatAreNoDump) {
  const std::pair<std::string, std::string> cases[] = {
      {"MB_STATE_SET = 3 \nMB_FIL_SET 6.3 V,A\n", "line 2: not a NAME = TEXT line.\n"},
      {"MB_STATE_SET = 3 \n\nMB_FIL_SET = 6.3 V,A\n", "line 2: not a NAME = TEXT line.\n"},
      {"MB_STATE_SET=3\n", "line 1: not a NAME = TEXT line.\n"},
      {" = 3 \n", "line 1: not a NAME = TEXT line.\n"},
      {"MB STATE_SET = 3 \n", "line 1: not a NAME = TEXT line.\n"},
      {"MB_STATE_SET\t = 3 \n", "line 1: not a NAME = TEXT line.\n"},
      {std::string("MB_STATE_SET = 3\0 \n", 19), "line 1: not a NAME = TEXT line.\n"},
      {"MB_STATE_SET = 3 \nMB_FIL_SET = 1 V,A\nMB_STATE_SET = 0 \n",
       "line 3: MB_STATE_SET is named a second time.\n"},
      {"MB_NEW = 1\nMB_NEW = 2\n", "line 2: MB_NEW is named a second time.\n"},
      {"MB_DAVARER_BALANCE  = 0 \nMB_DAVARER_BALANCE  = 1 \n",
       "line 2: MB_DAVARER_BALANCE  is named a second time.\n"},
      {std::string(1024 * 1024 + 1, 'x'), "Dump file too large: PATH (over 1 MiB).\n"},
  };
  scratch_file f;
  for (const auto& [content, message] : cases) {
    f.write(content);
    std::string expected = message.rfind("line", 0) == 0 ? f.path + ", " + message : message;
    if (size_t at = expected.find("PATH"); at != std::string::npos) expected.replace(at, 4, f.path);
    dump_file dump;
    stream_capture out;
    EXPECT_EQ(read_dump_file(f.path.c_str(), &dump), -1) << content;
    EXPECT_EQ(out.finish(), expected);
  }
  dump_file dump;
  stream_capture out;
  std::string missing = f.dir + "/none.txt";
  EXPECT_EQ(read_dump_file(nullptr, &dump), -1);
  EXPECT_EQ(read_dump_file(missing.c_str(), &dump), -1);
  EXPECT_EQ(read_dump_file(f.dir.c_str(), &dump), -1);
  EXPECT_EQ(out.finish(), "Missing filename.\nError opening file: " + missing + " [errno=2]\n" +
                              f.dir + ": not a regular file\n");
}

// Names match exactly: the four that end with a blank keep it, and without it they are unknown.
// Unknown names are listed once, in file order. The file is exactly 1 MiB, the most taken.
TEST(DumpFileReader, MatchesNamesExactlyAndListsUnknownOnes) {
  std::string content =
      "MB_DAVARER_BALANCE  = 7 \nMB_FORWARD_POW_READ = 1.5 W\nMB_LOG_IN = \n"
      "MB_STATE_SET = 3 \nMB_FUTURE_THING = a = b";
  content += std::string(1024 * 1024 - content.size(), 'x');
  scratch_file f;
  f.write(content);
  dump_file dump;
  stream_capture out;
  ASSERT_EQ(read_dump_file(f.path.c_str(), &dump), 0);
  print_unknown_names(dump);
  EXPECT_EQ(out.finish(), "Not in the catalogue, ignored: MB_FORWARD_POW_READ MB_FUTURE_THING\n");
  EXPECT_EQ(dump.texts[index_of("MB_DAVARER_BALANCE ")], "7 ");
  EXPECT_FALSE(dump.present[index_of("MB_FORWARD_POW_READ ")]);
  EXPECT_TRUE(dump.present[index_of("MB_LOG_IN")]);
  EXPECT_EQ(dump.texts[index_of("MB_LOG_IN")], "");
  EXPECT_EQ(dump.texts[index_of("MB_STATE_SET")], "3 ");
}

std::vector<uint16_t> fw(float v) {
  uint32_t b = float_to_bits(v);
  return {static_cast<uint16_t>(b & 0xFFFF), static_cast<uint16_t>(b >> 16)};
}

// Each accepted text is what DUMP writes for the words (no words: refused).
TEST(DumpValueText, ParsesBackWhatTheDumpWrites) {
  std::vector<uint16_t> set_cal;
  std::vector<uint16_t> read_cal;
  for (int j = 0; j < 5; j++) {
    for (uint16_t w : fw(0.5f * (j + 1))) set_cal.push_back(w);
    set_cal.push_back(static_cast<uint16_t>(100 * j + 65000 * (j == 4)));
    read_cal.push_back(static_cast<uint16_t>(1000 * j));
    for (uint16_t w : fw(12.5f * j)) read_cal.push_back(w);
  }
  const std::string set_text = "X1=0.5,Y1=0; X2=1,Y2=100; X3=1.5,Y3=200; X4=2,Y4=300; ";
  // The empty point DUMP writes as -nan reads back as all bits one.
  std::vector<uint16_t> empty_point = set_cal;
  empty_point[12] = empty_point[13] = 0xFFFF;
  const struct {
    const char* name;
    std::string text;
    std::vector<uint16_t> words;
  } cases[] = {
      {"MB_FIL_SET", "6.3 V,A", fw(6.3f)},
      {"MB_FIL_SET", "-1e-05 V,A", fw(-1e-5f)},
      {"MB_STATE_SET", "65535 ", {65535}},
      {"MB_ENABLE_STANDBY_INTERLOCK", "-2 ", {0xFFFE, 0xFFFF}},
      {"MB_REMAINING_TIME", "65536 s", {0, 1}},
      {"MB_FIL_SET_CAL", set_text + "X5=2.5,Y5=65400; ", set_cal},
      {"MB_FIL_SET_CAL", set_text + "X5=-nan,Y5=65400; ", empty_point},
      {"MB_HV_VOLT_READ_CAL",
       "X1=0,Y1=0; X2=1000,Y2=12.5; X3=2000,Y3=25; X4=3000,Y4=37.5; X5=4000,Y5=50; ", read_cal},
      {"MB_FIL_SET", "6.3 V", {}},
      {"MB_FIL_SET", "6.3V,A", {}},
      {"MB_FIL_SET", " V,A", {}},
      {"MB_FIL_SET", "-nan V,A", {}},
      {"MB_FIL_SET_CAL", set_text + "X5=nan,Y5=65400; ", {}},
      {"MB_FIL_SET_CAL", set_text + "X5=-inf,Y5=65400; ", {}},
      {"MB_FIL_SET", "nan V,A", {}},
      {"MB_FIL_SET", "inf V,A", {}},
      {"MB_FIL_SET", "1e39 V,A", {}},
      {"MB_STATE_SET", "65536 ", {}},
      {"MB_STATE_SET", "-1 ", {}},
      {"MB_STATE_SET", "3", {}},
      {"MB_STATE_SET", "0x3 ", {}},
      {"MB_REMAINING_TIME", "2147483648 s", {}},
      {"MB_FIL_SET_CAL", set_text, {}},
      {"MB_FIL_SET_CAL", set_text + "X5=2.5,Y5=65536; ", {}},
      {"MB_FIL_SET_CAL", set_text + "X5=2.5,Y5=65400;", {}},
      {"MB_FIL_SET_CAL", "X1=0.5,Y1=0; X2=1,Y2=100; X3=1.5,Y3=200; X5=2,Y5=300; X4=2.5,Y4=0; ", {}},
      {"MB_HV_VOLT_READ_CAL",
       "X1=0.5,Y1=0; X2=1000,Y2=12.5; X3=2000,Y3=25; X4=3000,Y4=37.5; X5=4000,Y5=50; ",
       {}},
      {"MB_MAC_ADDRESS", "00 1A 2B 3C 4D 5E ", {}},
  };
  for (const auto& c : cases) {
    const modbus_reg_entry* e = &modbus_reg_table[index_of(c.name)];
    uint16_t words[20] = {};
    int rc = parse_dump_value(e, c.text, words);
    ASSERT_EQ(rc, c.words.empty() ? -1 : 0) << c.name << " " << c.text;
    if (rc < 0) continue;
    EXPECT_EQ(std::vector<uint16_t>(words, words + c.words.size()), c.words) << c.text;
    char back[DUMP_VALUE_TEXT_SIZE];
    ASSERT_EQ(dump_value_text(e, words, back, sizeof back), 0);
    EXPECT_EQ(back, c.text);
  }
}

TEST(DumpValueText, RefusesATooSmallBuffer) {
  std::vector<uint16_t> words = fw(6.3f);
  char buf[8];
  EXPECT_EQ(dump_value_text(&modbus_reg_table[index_of("MB_FIL_SET")], words.data(), buf, 7), -1);
  EXPECT_EQ(dump_value_text(&modbus_reg_table[index_of("MB_FIL_SET")], words.data(), buf, 8), 0);
  EXPECT_STREQ(buf, "6.3 V,A");
}

}  // namespace
