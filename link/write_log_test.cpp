// The write log's line: names, masking of the secret registers' words, the outcome, and a buffer
// too small for the line; the journal entry's fields of a write.
#include "link/write_log.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace {

struct line_case {
  const char* name;
  int address;
  std::vector<uint16_t> words;
  write_outcome outcome;
  const char* rest;  // the line after the time stamp, user and device
};

TEST(WriteLogLine, Table) {
  // A fixed zone, so that the stamp is known: 2026-12-08 13:03:12.345 UTC.
  setenv("TZ", "CET-1", 1);
  tzset();
  const timespec when = {1796734992, 345000000};
  const char* stamp = "2026-12-08 14:03:12.345 +0100 anna 10.0.0.7:502 ";
  const line_case cases[] = {
      {"one word", 5120, {3}, WRITE_OK, "5120 MB_STATE_SET 1 0003 OK\n"},
      {"refused", 5200, {0x0007, 0xABCD}, WRITE_FAILED, "5200 MB_CONFIG_WORD 2 0007 ABCD FAIL\n"},
      {"login masked",
       5121,
       {0x3034, 0x3137, 0x3236, 0x3335, 0},
       WRITE_OK,
       "5121 MB_LOG_IN 5 **** **** **** **** **** OK\n"},
      {"login words masked inside a longer write",
       5120,
       {1, 2, 3},
       WRITE_OK,
       "5120 MB_STATE_SET 3 0001 **** **** OK\n"},
      {"only the login register's words are masked",
       5124,
       {1, 2, 3, 4},
       WRITE_OK,
       "5124 - 4 **** **** 0003 0004 OK\n"},
      {"address without a name", 5133, {0x4000}, WRITE_OK, "5133 - 1 4000 OK\n"},
      {"trailing blank of a name cut",
       6113,
       {0, 0x3F80},
       WRITE_OK,
       "6113 MB_DAVARER_BALANCE 2 0000 3F80 OK\n"},
      {"no answer", 5120, {3}, WRITE_UNKNOWN, "5120 MB_STATE_SET 1 0003 UNKNOWN\n"},
      {"operator's password masked",
       5179,
       {0x706F, 0x3734, 0x3131, 0, 0},
       WRITE_OK,
       "5179 MB_SC_PASSWORD_OPERATOR 5 **** **** **** **** **** OK\n"},
      {"service password masked, and the word after it shown",
       5186,
       {1, 2, 3, 4},
       WRITE_FAILED,
       "5186 - 4 **** **** **** 0004 FAIL\n"},
      {"a word before the passwords shown", 5178, {9, 8}, WRITE_OK, "5178 - 2 0009 **** OK\n"},
  };
  for (const line_case& c : cases) {
    SCOPED_TRACE(c.name);
    char buf[WRITE_LOG_LINE_SIZE];
    int len = write_log_format(buf, sizeof buf, when, "anna", "10.0.0.7:502", c.address,
                               static_cast<int>(c.words.size()), c.words.data(), c.outcome);
    EXPECT_EQ(std::string(buf, len > 0 ? static_cast<size_t>(len) : 0),
              std::string(stamp) + c.rest);
  }
}

TEST(WriteLogLine, LongestRequestFitsAndATooSmallBufferFails) {
  const timespec when = {0, 0};
  std::vector<uint16_t> words(64, 0xFFFF);
  char buf[WRITE_LOG_LINE_SIZE];
  EXPECT_GT(write_log_format(buf, sizeof buf, when, std::string(63, 'u').c_str(),
                             "255.255.255.255:65535", 6113, 64, words.data(), WRITE_UNKNOWN),
            0);
  char small[40];
  EXPECT_EQ(write_log_format(small, sizeof small, when, "anna", "10.0.0.7:502", 5120, 1,
                             words.data(), WRITE_OK),
            -1);
}

// The journal's fields say what the line says, a name the catalogue lacks is empty, the secret
// words are masked as in the line, and anything but OK is a notice.
TEST(WriteJournalFields, Table) {
  const struct {
    int address;
    std::vector<uint16_t> words;
    write_outcome outcome;
    const char* command;
    std::vector<std::string> fields;  // from VT_REGISTER on, with MESSAGE's text and PRIORITY
  } cases[] = {
      {5120,
       {3},
       WRITE_OK,
       "WRITE",
       {"MB_STATE_SET", "0003", "OK", "WRITE", "anna 10.0.0.7:502 5120 MB_STATE_SET 1 0003 OK",
        "6"}},
      {5133,
       {0x4000},
       WRITE_FAILED,
       "RW",
       {"", "4000", "FAIL", "RW", "anna 10.0.0.7:502 5133 - 1 4000 FAIL", "5"}},
      {5178,
       {9, 8},
       WRITE_UNKNOWN,
       "SETBIT",
       {"", "0009 ****", "UNKNOWN", "SETBIT", "anna 10.0.0.7:502 5178 - 2 0009 **** UNKNOWN", "5"}},
  };
  for (const auto& c : cases) {
    const std::vector<std::string>& f = c.fields;
    std::vector<std::string> expected = {
        "MESSAGE=" + f[4],        "MESSAGE_ID=582a3203c2ec4f4d95b59141e2f9275a",
        "PRIORITY=" + f[5],       "SYSLOG_IDENTIFIER=veltrona_tool",
        "VT_DEVICE=10.0.0.7:502", "VT_ADDRESS=" + std::to_string(c.address),
        "VT_REGISTER=" + f[0],    "VT_WORDS=" + f[1],
        "VT_OUTCOME=" + f[2],     "VT_COMMAND=" + f[3],
    };
    EXPECT_EQ(
        write_journal_fields("anna", "10.0.0.7:502", c.address, static_cast<int>(c.words.size()),
                             c.words.data(), c.outcome, c.command),
        expected);
  }
}

}  // namespace
