#include "registers/values.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/stream_capture.h"

namespace {

// Makes stdin read the given text from a pipe, as answers arrive when the tool is scripted.
void feed_stdin(const std::string &text) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fds[1]);
  std::string path = "/dev/fd/" + std::to_string(fds[0]);
  ASSERT_NE(freopen(path.c_str(), "r", stdin), nullptr);
  close(fds[0]);
}

std::string next_stdin_line() {
  char line[256];
  return fgets(line, sizeof line, stdin) == nullptr ? "<eof>" : line;
}

TEST(Values, WordsAndFloatBits) {
  uint16_t w[2];
  split_words(0x12345678u, w);
  EXPECT_EQ(w[0], 0x5678);
  EXPECT_EQ(w[1], 0x1234);
  EXPECT_EQ(join_words(w), 0x12345678u);
  EXPECT_EQ(float_to_bits(1.5f), 0x3FC00000u);
  EXPECT_EQ(bits_to_float(0x3F8CCCCDu), 1.1f);
}

TEST(Values, PrintByType) {
  struct example {
    int32_t type;
    const char *unit;
    std::vector<uint16_t> words;
    int count;
    const char *out;
  };
  const example examples[] = {
      {FLOAT, "", {0x0000, 0x4020}, 2, "2.5\n"},
      {FLOAT, "V", {0x0000, 0x3FC0}, 2, "1.5V\n"},
      {FLOAT, "", {0xCCCD, 0x3F8C}, 2, "1.1\n"},  // low half first
      {FLOAT, "", {0x0000, 0x3FC0}, 1, "0\n"},    // missing words read as 0
      {WORD, "", {0xFFFF}, 1, "65535 (0xFFFF)\n"},
      {WORD, "ms", {100}, 1, "100ms (0x0064)\n"},
      {DWORD, "", {0xFFFF, 0xFFFF}, 2, "-1 (0xFFFFFFFF)\n"},
      {DWORD, "", {0x0001, 0x0000}, 2, "1 (0x00000001)\n"},
      {DWORD, "s", {0x0000, 0x0001}, 2, "65536s (0x00010000)\n"},
      {RAW, "", {0x0001, 0xABCD, 0x0000}, 3, "0001 ABCD 0000 \n"},
      {RAW, "", {0x0001}, 0, "\n"},
      {BYTE_ARRAY_06, "", {0x2211, 0x4433, 0x6655}, 3, "11 22 33 44 55 66 \n"},
      {CHAR_ARRAY_10, "", {0x4100, 0x4342}, 5, "\n"},
      {CHAR_ARRAY_10, "", {0x4241, 0x4443, 0x4645, 0x4847, 0x4A49}, 5, "ABCDEFGHIJ\n"},
      {CHAR_ARRAY_10, "", {0x4241, 0x0043, 0x4645}, 5, "ABC\n"},
      {DWORD_ARRAY_10,
       "",
       {1, 0, 2, 0, 0xFFFF, 0xFFFF, 0, 1, 5, 0, 6, 0, 7, 0},
       20,
       "1 (0x00000001) 2 (0x00000002) -1 (0xFFFFFFFF) 65536 (0x00010000) 5 (0x00000005) \n"},
      {READ_CALIB,
       "",
       {100, 0x0000, 0x3FC0, 0xFFFF, 0x0000, 0x4020},
       15,
       "1: 100 (0x0064),     1.5\n2: 65535 (0xFFFF),     2.5\n3: 0 (0x0000),       0\n"
       "4: 0 (0x0000),       0\n5: 0 (0x0000),       0\n"},
      {SET_CALIB,
       "",
       {0x0000, 0x3FC0, 100},
       15,
       "1:     1.5, 100 (0x0064)\n2:       0, 0 (0x0000)\n3:       0, 0 (0x0000)\n"
       "4:       0, 0 (0x0000)\n5:       0, 0 (0x0000)\n"},
      {9, "V", {1, 2}, 2, ""},
  };
  for (const example &ex : examples) {
    modbus_reg_entry entry = {5120, "TEST", ex.type, ""};
    std::strcpy(entry.unit, ex.unit);
    std::vector<uint16_t> words = ex.words;
    words.resize(20);
    stream_capture out(stdout);
    print_value_by_type(&entry, words.data(), ex.count);
    EXPECT_EQ(out.finish(), ex.out) << "type " << ex.type;
  }
}

TEST(Values, ParseUnsigned) {
  struct example {
    const char *text;
    int base;
    int result;
    uint32_t value;
  };
  const example examples[] = {
      {"", 10, 0, 0},      {"12AB", 10, -2, 12},     {"0x1F", 16, 0, 31}, {"0X1F", 16, 0, 31},
      {"0x1F", 10, -2, 0}, {"5\r", 10, 0, 5},        {"5\n7", 10, 0, 5},  {"-1", 10, 0, 0xFFFFFFFF},
      {" 42", 10, 0, 42},  {"4294967297", 10, 0, 1}, {"42 ", 10, -2, 42},
  };
  for (const example &ex : examples) {
    char text[32];
    std::strcpy(text, ex.text);
    uint32_t value = 0xDEADBEEF;
    EXPECT_EQ(parse_unsigned(text, ex.base, &value), ex.result) << ex.text;
    EXPECT_EQ(value, ex.value) << ex.text;
  }
  uint32_t value = 7;
  EXPECT_EQ(parse_unsigned(nullptr, 10, &value), -1);
  EXPECT_EQ(value, 7u);
}

TEST(Values, ParseByType) {
  const uint32_t untouched = 0xDEADBEEF;
  struct example {
    int32_t type;
    const char *token;
    int result;
    uint32_t value;
  };
  const example examples[] = {
      {WORD, "0X10", 0, 16},
      {WORD, "0x10", -3, 0},  // lower-case x is read as decimal and fails
      {WORD, "70000", 0, 70000},
      {DWORD, "-1", 0, 0xFFFFFFFF},
      {DWORD, "12AB", -3, 12},
      {FLOAT, "1e3", 0, 0x447A0000},
      {FLOAT, "2.5\r\n", 0, 0x40200000},
      {FLOAT, "1.5V", -2, untouched},
      {BYTE_ARRAY_06, "12", -1, untouched},
      {RAW, "12", -1, untouched},
      {SET_CALIB, "12", -1, untouched},
      {CHAR_ARRAY_10, "12", -1, untouched},
  };
  for (const example &ex : examples) {
    char token[32];
    std::strcpy(token, ex.token);
    uint32_t value = untouched;
    EXPECT_EQ(parse_value_by_type(ex.type, token, &value), ex.result) << ex.token;
    EXPECT_EQ(value, ex.value) << ex.token;
  }
}

// Values that are not finite must never reach a set point; large finite ones and denormals may.
TEST(Values, FloatValueValidity) {
  struct example {
    const char *token;
    bool valid;
  };
  const example examples[] = {
      {"nan", false},
      {"-NAN", false},
      {"nan(0x1)", false},
      {"inf", false},
      {"-Infinity", false},
      {"1e99999", false},
      {"1e40", false},
      {"-1e40", false},
      {"0x1p128", false},
      // 2^128 - 2^103, half a unit above FLT_MAX: the tie rounds to even, to infinity.
      {"340282356779733661637539395458142568448", false},
      {"3.4028235677973367e38", false},
      {"3.4028235677973366e38", true},  // just below the tie: rounds down to FLT_MAX
      {"3.4028235e38", true},
      {"3.4e38", true},
      {"-3.4e38", true},
      {"1e-40", true},  // denormal
      {"1e-45", true},  // the smallest denormal
      {"1e-50", true},  // rounds to 0
      {"0", true},
      {"-0", true},
      {"12.5", true},
  };
  for (const example &ex : examples) {
    EXPECT_EQ(float_value_valid(std::strtof(ex.token, nullptr)), ex.valid) << ex.token;
    char token[64];
    std::strcpy(token, ex.token);
    uint32_t value = 0xDEADBEEF;
    EXPECT_EQ(parse_value_by_type(FLOAT, token, &value), ex.valid ? 0 : -2) << ex.token;
    EXPECT_EQ(value == 0xDEADBEEF, !ex.valid) << ex.token;  // nothing stored when refused
  }
}

TEST(Values, UpperCaseInPlace) {
  struct example {
    const char *text;
    int limit;
    const char *out;
  };
  // clang-format off
  const example examples[] = {
      {"mb_state1", 9, "MB_STATE1"}, {"abc", 2, "ABc"}, {"abc", 10, "ABC"}, {"abc", 0, "abc"},
      {"abc", -1, "abc"}, {"", 5, ""}, {"\xC3\xA4x", 3, "\xC3\xA4X"},
  };
  // clang-format on
  for (const example &ex : examples) {
    char text[32];
    std::strcpy(text, ex.text);
    upper_case_in_place(text, ex.limit);
    EXPECT_STREQ(text, ex.out);
  }
}

TEST(Values, YesNoAnswersFromPipe) {
  feed_stdin("y\nYes\nyellow\nn\nNo\n\nmaybe\n");
  for (int expected : {1, 1, 1, 0, 0, -1, -1}) EXPECT_EQ(read_yes_no(), expected);
  stream_capture err(stderr);
  EXPECT_EQ(read_yes_no(), -1);
  EXPECT_EQ(err.finish(), "Error reading answer.\n");
}

TEST(Values, OverLongYesNoAnswerIsDiscardedWhole) {
  feed_stdin("yellow submarine is here\nnnnnnnnnnnnnnnn\nyes\nnot now; QUIT\nREAD STATE\n");
  EXPECT_EQ(read_yes_no(), 1);
  EXPECT_EQ(read_yes_no(), 0);  // exactly 15 characters: its line end must go too
  EXPECT_EQ(read_yes_no(), 1);
  EXPECT_EQ(read_yes_no(), 0);
  EXPECT_EQ(next_stdin_line(), "READ STATE\n");
}

TEST(Values, IntegerAnswersFromPipe) {
  struct example {
    int32_t lowest, highest;
    int result;
    int32_t value;
    const char *out;
  };
  feed_stdin("0\nabc\n16\n-1\n\n\n12AB\n5\r\n");
  // clang-format off
  const example examples[] = {
      {1, 16, -3, -7, "Out of range: 0.\n"}, {1, 16, -2, -7, "Invalid: abc.\n"},
      {1, 16, 0, 16, ""},                     {1, 16, -3, -7, "Out of range: -1.\n"},
      {0, 9, 0, 0, ""},                       {1, 16, -3, -7, "Out of range: 0.\n"},
      {0, 65535, -2, -7, "Invalid: 12AB.\n"}, {0, 9, 0, 5, ""},
      {0, 9, -1, -7, ""},  // end of input
  };
  // clang-format on
  for (const example &ex : examples) {
    int32_t value = -7;
    stream_capture out(stdout);
    EXPECT_EQ(read_int_in_range(&value, ex.lowest, ex.highest), ex.result);
    EXPECT_EQ(out.finish(), ex.out);
    EXPECT_EQ(value, ex.value);
  }
}

TEST(Values, OverLongIntegerAnswerIsDiscardedWhole) {
  feed_stdin(std::string(300, '1') + "\n" + std::string(299, '0') + "3\n7\n");
  int32_t value = -7;
  stream_capture out(stdout);
  EXPECT_EQ(read_int_in_range(&value, 1, 16), -3);
  EXPECT_EQ(read_int_in_range(&value, 0, 9), 0);
  EXPECT_EQ(value, 0);  // judged on the kept zeros; the 3 went with the rest
  EXPECT_EQ(read_int_in_range(&value, 0, 9), 0);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(out.finish(), "Out of range: -1.\n");
}

TEST(Values, ReadLineBytesCountsNulBytes) {
  feed_stdin(std::string("a\0b\n", 4) + std::string("\0\0\0\0\0\0\0", 7) + "\n");
  char buf[6];
  EXPECT_EQ(read_line_bytes(buf, sizeof buf), 4);
  EXPECT_EQ(std::string(buf, 4), std::string("a\0b\n", 4));
  EXPECT_EQ(read_line_bytes(buf, sizeof buf), 5);  // full buffer of NUL bytes
  EXPECT_EQ(read_line_bytes(buf, sizeof buf), 3);
  EXPECT_EQ(read_line_bytes(buf, sizeof buf), -1);
}

// The rest of a long answer went on to the next reader when a NUL byte made strlen stop early.
TEST(Values, OverLongAnswerWithANulByteIsDiscardedWhole) {
  feed_stdin(std::string("y\0", 2) + std::string(40, 'x') + "QUIT\nREAD STATE\n");
  EXPECT_EQ(read_yes_no(), 1);
  EXPECT_EQ(next_stdin_line(), "READ STATE\n");
}

// Makes stdin a directory: every read fails with EISDIR.
void stdin_from_directory() { ASSERT_NE(freopen("/", "r", stdin), nullptr); }

// Giving up on standard input lasts for the rest of the process, so the case runs in a child.
TEST(Values, StdinIsGivenUpAfterTenFailedReadsInARow) {
  auto run = [] {
    stream_capture err(stderr);
    stdin_from_directory();
    for (int i = 0; i < STDIN_FAILURE_LIMIT - 1; i++)
      if (read_yes_no() != -1) exit(1);
    feed_stdin("y\n");
    if (read_yes_no() != 1) exit(2);  // a good read breaks the run
    stdin_from_directory();
    for (int i = 0; i < STDIN_FAILURE_LIMIT - 1; i++)
      if (read_yes_no() != -1 || stdin_given_up()) exit(3);
    if (read_yes_no() != -1 || !stdin_given_up()) exit(4);
    feed_stdin("y\n");
    if (read_yes_no() != -1) exit(5);  // ended for good: the line is not read
    if (next_stdin_line() != "y\n") exit(6);
    std::string expected;
    for (int i = 0; i < 2 * STDIN_FAILURE_LIMIT; i++) expected += "Error reading answer.\n";
    exit(err.finish() == expected ? 0 : 7);
  };
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
