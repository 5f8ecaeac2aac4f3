#include "registers/values.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/stream_capture.h"

namespace {

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
    const char* unit;
    std::vector<uint16_t> words;
    int count;
    const char* out;
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
  for (const example& ex : examples) {
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
    const char* text;
    int base;
    int result;
    uint32_t value;
  };
  const example examples[] = {
      {"", 10, 0, 0},      {"12AB", 10, -2, 12},     {"0x1F", 16, 0, 31}, {"0X1F", 16, 0, 31},
      {"0x1F", 10, -2, 0}, {"5\r", 10, 0, 5},        {"5\n7", 10, 0, 5},  {"-1", 10, 0, 0xFFFFFFFF},
      {" 42", 10, 0, 42},  {"4294967297", 10, 0, 1}, {"42 ", 10, -2, 42},
  };
  for (const example& ex : examples) {
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
    const char* token;
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
      {FLOAT, "", 0, 0},  // WRITE has always taken an empty value as 0
      {BYTE_ARRAY_06, "12", -1, untouched},
      {RAW, "12", -1, untouched},
      {SET_CALIB, "12", -1, untouched},
      {CHAR_ARRAY_10, "12", -1, untouched},
  };
  for (const example& ex : examples) {
    char token[32];
    std::strcpy(token, ex.token);
    uint32_t value = untouched;
    EXPECT_EQ(parse_value_by_type(ex.type, token, &value), ex.result) << ex.token;
    EXPECT_EQ(value, ex.value) << ex.token;
  }
}

// One parser for every whole-token float; the callers differ only in what an empty token means.
TEST(Values, ParseFloat) {
  const float untouched = -123.0f;
  struct example {
    const char* text;
    float_empty empty;
    int result;
    float value;
  };
  const example examples[] = {
      {"2.5", FLOAT_EMPTY_REFUSED, 0, 2.5f},
      {"1e3", FLOAT_EMPTY_IS_ZERO, 0, 1000.0f},
      {"-0.25\r\n", FLOAT_EMPTY_REFUSED, 0, -0.25f},
      {" 7", FLOAT_EMPTY_REFUSED, 0, 7.0f},  // strtof skips leading blanks
      {"", FLOAT_EMPTY_IS_ZERO, 0, 0.0f},
      {"\r", FLOAT_EMPTY_IS_ZERO, 0, 0.0f},
      {"", FLOAT_EMPTY_REFUSED, -2, untouched},
      {"\n", FLOAT_EMPTY_REFUSED, -2, untouched},
      {"\t", FLOAT_EMPTY_IS_ZERO, -2, untouched},
      {"1.5V", FLOAT_EMPTY_IS_ZERO, -2, untouched},
      {"1.5 ", FLOAT_EMPTY_REFUSED, -2, untouched},
      {"nan", FLOAT_EMPTY_REFUSED, -2, untouched},
      {"1e40", FLOAT_EMPTY_IS_ZERO, -2, untouched},
  };
  for (const example& ex : examples) {
    char text[32];
    std::strcpy(text, ex.text);
    float value = untouched;
    EXPECT_EQ(parse_float(text, ex.empty, &value), ex.result) << ex.text;
    EXPECT_EQ(value, ex.value) << ex.text;
  }
  float value = untouched;
  EXPECT_EQ(parse_float(nullptr, FLOAT_EMPTY_IS_ZERO, &value), -1);
  EXPECT_EQ(value, untouched);
}

TEST(Values, AllDigits) {
  struct example {
    const char* text;
    bool digits;
  };
  const example examples[] = {
      {"5120", true}, {"0", true},   {"", true},    {"51a", false},
      {" 51", false}, {"-1", false}, {"+1", false}, {"5120\r", false},
  };
  for (const example& ex : examples) EXPECT_EQ(all_digits(ex.text), ex.digits) << ex.text;
}

// Values that are not finite must never reach a set point; large finite ones and denormals may.
TEST(Values, FloatValueValidity) {
  struct example {
    const char* token;
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
  for (const example& ex : examples) {
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
    const char* text;
    int limit;
    const char* out;
  };
  // clang-format off
  const example examples[] = {
      {"mb_state1", 9, "MB_STATE1"}, {"abc", 2, "ABc"}, {"abc", 10, "ABC"}, {"abc", 0, "abc"},
      {"abc", -1, "abc"}, {"", 5, ""}, {"\xC3\xA4x", 3, "\xC3\xA4X"},
  };
  // clang-format on
  for (const example& ex : examples) {
    char text[32];
    std::strcpy(text, ex.text);
    upper_case_in_place(text, ex.limit);
    EXPECT_STREQ(text, ex.out);
  }
}

// Nothing from a device or a file may steer a terminal or end a line; valid UTF-8 and every
// printable byte, the backslash too, stay as they are.
TEST(Values, PrintableText) {
  const std::string valid =
      "op4711 back\\slash \\x41 gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x94\x8c";
  EXPECT_EQ(printable_text(valid), valid);
  // Controls (C1's CSI too), invalid, overlong, surrogate, a sequence cut by the end.
  EXPECT_EQ(printable_text("\x1b[8m a\nb\r\t\x7f \xc2\x9b \xff \xc0\xaf \xed\xa0\x80 \xc3"),
            "\\x1B[8m a\\x0Ab\\x0D\\x09\\x7F \\xC2\\x9B \\xFF \\xC0\\xAF \\xED\\xA0\\x80 \\xC3");
  const uint16_t words[5] = {0x1B61, 0x0000, 0x4141, 0x4141, 0x4141};  // ends at the NUL
  EXPECT_EQ(char_array_text(words), "a\\x1B");
  EXPECT_EQ(shortest_float_text(6.3f), "6.3");
}

TEST(Values, CutAtLineEnd) {
  struct example {
    const char* text;
    const char* out;
  };
  const example examples[] = {
      {"READ 5120\n", "READ 5120"},
      {"5\r\n", "5"},
      {"a\rb\nc", "a"},
      {"\n", ""},
      {"", ""},
      {"no end", "no end"},
      {"tab\tkept\n", "tab\tkept"},
  };
  for (const example& ex : examples) {
    char text[32];
    std::strcpy(text, ex.text);
    cut_at_line_end(text);
    EXPECT_STREQ(text, ex.out);
  }
}

}  // namespace
