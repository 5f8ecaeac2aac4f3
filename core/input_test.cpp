#include "core/input.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/input_testing.h"
#include "core/lifecycle.h"
#include "tests/stream_capture.h"

namespace {

// The next line of stdin as it stands, buffered bytes first, read past every reader's checks (the
// stop, input given up): what is left for a later reader.
std::string next_stdin_line() {
  std::string line;
  for (;;) {
    int c = take_buffered_byte();
    char byte;
    if (c < 0) {
      if (read(STDIN_FILENO, &byte, 1) != 1) break;
      c = static_cast<unsigned char>(byte);
    }
    line += static_cast<char>(c);
    if (c == '\n') break;
  }
  return line.empty() ? "<eof>" : line;
}

// Makes stdin a directory: every read fails with EISDIR.
void stdin_from_directory() {
  ASSERT_NE(freopen("/", "r", stdin), nullptr);
  input_reset();
}

// Makes stdin read from path (a device such as /dev/zero).
void stdin_from(const char* path) {
  ASSERT_NE(freopen(path, "r", stdin), nullptr);
  input_reset();
}

// Every case starts and ends with the stop flag clear and the waits not woken.
class Input : public ::testing::Test {
 protected:
  void SetUp() override {
    quit_requested.store(0);
    input_reset();
  }
  void TearDown() override {
    quit_requested.store(0);
    input_reset();
  }
};

// Sets the stop flag and wakes the waits after ms milliseconds, as the signal handler does.
std::thread stop_after_ms(int ms) {
  return std::thread([ms] {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    quit_requested.store(1);
    wake_input_waits();
  });
}

TEST_F(Input, YesNoAnswersFromPipe) {
  feed_stdin("y\nYes\nyellow\nn\nNo\n\nmaybe\n");
  for (int expected : {1, 1, 1, 0, 0, -1, -1}) EXPECT_EQ(read_yes_no(), expected);
  stream_capture err(stderr);
  EXPECT_EQ(read_yes_no(), -1);
  EXPECT_EQ(err.finish(), "Error reading answer.\n");
}

TEST_F(Input, OverLongYesNoAnswerIsDiscardedWhole) {
  feed_stdin("yellow submarine is here\nnnnnnnnnnnnnnnn\nyes\nnot now; QUIT\nREAD STATE\n");
  EXPECT_EQ(read_yes_no(), 1);
  EXPECT_EQ(read_yes_no(), 0);  // exactly 15 characters: its line end must go too
  EXPECT_EQ(read_yes_no(), 1);
  EXPECT_EQ(read_yes_no(), 0);
  EXPECT_EQ(next_stdin_line(), "READ STATE\n");
}

TEST_F(Input, IntegerAnswersFromPipe) {
  struct example {
    int32_t lowest, highest;
    int result;
    int32_t value;
    const char* out;
  };
  feed_stdin("0\nabc\n16\n-1\n\n\n12AB\n5\r\n");
  // clang-format off
  const example examples[] = {
      {1, 16, LINE_OUT_OF_RANGE, -7, "Out of range: 0.\n"},
      {1, 16, LINE_NOT_A_NUMBER, -7, "Invalid: abc.\n"},
      {1, 16, LINE_OK, 16, ""},
      {1, 16, LINE_OUT_OF_RANGE, -7, "Out of range: -1.\n"},
      {0, 9, LINE_OK, 0, ""},
      {1, 16, LINE_OUT_OF_RANGE, -7, "Out of range: 0.\n"},
      {0, 65535, LINE_NOT_A_NUMBER, -7, "Invalid: 12AB.\n"},
      {0, 9, LINE_OK, 5, ""},
      {0, 9, LINE_END, -7, ""},  // end of input
  };
  // clang-format on
  for (const example& ex : examples) {
    int32_t value = -7;
    stream_capture out(stdout);
    EXPECT_EQ(read_int_in_range(&value, ex.lowest, ex.highest), ex.result);
    EXPECT_EQ(out.finish(), ex.out);
    EXPECT_EQ(value, ex.value);
  }
}

TEST_F(Input, OverLongIntegerAnswerIsDiscardedWhole) {
  feed_stdin(std::string(300, '1') + "\n" + std::string(299, '0') + "3\n7\n");
  int32_t value = -7;
  stream_capture out(stdout);
  EXPECT_EQ(read_int_in_range(&value, 1, 16), LINE_OUT_OF_RANGE);
  EXPECT_EQ(read_int_in_range(&value, 0, 9), 0);
  EXPECT_EQ(value, 0);  // judged on the kept zeros; the 3 went with the rest
  EXPECT_EQ(read_int_in_range(&value, 0, 9), 0);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(out.finish(), "Out of range: -1.\n");
}

TEST_F(Input, ReadLineBytesCountsNulBytes) {
  feed_stdin(std::string("a\0b\n", 4) + std::string("\0\0\0\0\0\0\0", 7) + "\n");
  char buf[6];
  EXPECT_EQ(read_line_bytes(buf, sizeof buf), 4);
  EXPECT_EQ(std::string(buf, 4), std::string("a\0b\n", 4));
  EXPECT_EQ(read_line_bytes(buf, sizeof buf), 5);  // full buffer of NUL bytes
  EXPECT_EQ(read_line_bytes(buf, sizeof buf), 3);
  EXPECT_EQ(read_line_bytes(buf, sizeof buf), -1);
}

// The rest of a long answer went on to the next reader when a NUL byte made strlen stop early.
TEST_F(Input, OverLongAnswerWithANulByteIsDiscardedWhole) {
  feed_stdin(std::string("y\0", 2) + std::string(40, 'x') + "QUIT\nREAD STATE\n");
  EXPECT_EQ(read_yes_no(), 1);
  EXPECT_EQ(next_stdin_line(), "READ STATE\n");
}

// Giving up on standard input lasts for the rest of the process, so the case runs in a child.
TEST_F(Input, StdinIsGivenUpAfterTenFailedReadsInARow) {
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

// Once input is given up, the console's reader and the integer answers end as at end of input,
// and the console reader's own failures (LINE_ERROR) count towards the limit.
TEST_F(Input, GivenUpInputEndsEveryReader) {
  auto run = [] {
    stdin_from_directory();
    char line[16];
    for (int i = 0; i < STDIN_FAILURE_LIMIT; i++) {
      if (read_command_line(line, sizeof line) != LINE_ERROR) exit(1);
      if (stdin_given_up() != (i == STDIN_FAILURE_LIMIT - 1)) exit(3);  // the reader counted
    }
    feed_stdin("5\nHELP\n");
    int32_t value = -7;
    if (read_command_line(line, sizeof line) != LINE_END) exit(4);
    if (read_int_in_range(&value, 0, 9) != LINE_END || value != -7) exit(5);
    if (read_answer_line(line, sizeof line) != -1) exit(6);
    if (next_stdin_line() != "5\n") exit(7);  // nothing was read
    exit(0);
  };
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}

// End of input is sticky: every reader returns its end result at once, however often asked.
TEST_F(Input, EndOfInputEndsEveryReaderAtOnce) {
  feed_stdin("QUIT");  // a last line without its line end is still a line
  char line[16];
  EXPECT_EQ(read_command_line(line, sizeof line), LINE_OK);
  EXPECT_STREQ(line, "QUIT");
  for (int round = 0; round < 2; round++) {
    EXPECT_EQ(wait_for_input(), 0);
    EXPECT_EQ(wait_for_input_ms(10000), INPUT_READY);
    EXPECT_EQ(read_command_line(line, sizeof line), LINE_END);
    EXPECT_EQ(read_answer_line(line, sizeof line), -1);
    EXPECT_STREQ(line, "");
    int32_t value = -7;
    stream_capture out(stdout);
    EXPECT_EQ(read_int_in_range(&value, 0, 9), LINE_END);
    EXPECT_EQ(out.finish(), "");
    EXPECT_EQ(value, -7);
    EXPECT_EQ(read_key_byte(), LINE_END);
    EXPECT_TRUE(input_ready());
  }
  EXPECT_FALSE(stdin_given_up());  // end of input is no failure
}

// Ctrl-C sets quit_requested: every reader returns its interrupted result without reading, so
// the waiting line is left for nobody to take as an answer.
TEST_F(Input, StopFlagInterruptsEveryReaderWithoutReading) {
  feed_stdin("y\n");
  quit_requested.store(1);
  char line[16];
  EXPECT_EQ(wait_for_input(), -1);
  EXPECT_EQ(wait_for_input_ms(10000), INPUT_STOPPED);
  EXPECT_EQ(read_command_line(line, sizeof line), LINE_INTERRUPTED);
  EXPECT_EQ(read_answer_line(line, sizeof line), LINE_INTERRUPTED);
  stream_capture err(stderr);
  EXPECT_EQ(read_yes_no(), -1);
  EXPECT_EQ(err.finish(), "Error reading answer.\n");
  int32_t value = -7;
  stream_capture out(stdout);
  EXPECT_EQ(read_int_in_range(&value, 0, 9), LINE_INTERRUPTED);
  EXPECT_EQ(out.finish(), "");
  EXPECT_EQ(read_key_byte(), LINE_INTERRUPTED);
  EXPECT_FALSE(stdin_given_up());
  EXPECT_EQ(next_stdin_line(), "y\n");
}

// The stop comes while the reader waits on a descriptor that stays silent: the wake ends the
// wait, which has no time limit of its own.
TEST_F(Input, StopDuringTheWaitEndsIt) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string path = "/dev/fd/" + std::to_string(fds[0]);
  ASSERT_NE(freopen(path.c_str(), "r", stdin), nullptr);
  close(fds[0]);
  input_reset();
  std::thread stopper = stop_after_ms(300);
  char line[16];
  EXPECT_EQ(read_command_line(line, sizeof line), LINE_INTERRUPTED);
  stopper.join();
  close(fds[1]);
}

// Endless input without a line end (/dev/zero) is discarded for as long as it comes; the stop
// ends every reader that discards the rest of a line.
TEST_F(Input, StopEndsTheDiscardOfAnEndlessLine) {
  stdin_from("/dev/zero");
  char line[16];
  std::thread stopper = stop_after_ms(200);
  EXPECT_EQ(read_command_line(line, sizeof line), LINE_INTERRUPTED);
  stopper.join();
  quit_requested.store(0);
  input_reset();
  stopper = stop_after_ms(200);
  EXPECT_EQ(read_answer_line(line, sizeof line), LINE_INTERRUPTED);
  stopper.join();
}

// A last line without its line end is a whole line for every reader.
TEST_F(Input, LastLineWithoutLineEndCountsWhole) {
  char line[16];
  int32_t value = -7;
  feed_stdin("10");
  EXPECT_EQ(read_int_in_range(&value, 0, 65535), 0);
  EXPECT_EQ(value, 10);
  feed_stdin("Filament");
  EXPECT_EQ(read_answer_line(line, sizeof line), LINE_OK);
  EXPECT_STREQ(line, "Filament");
  feed_stdin("no");
  EXPECT_EQ(read_yes_no(), 0);
  feed_stdin("HELP");
  EXPECT_EQ(read_line_bytes(line, sizeof line), 4);
  EXPECT_EQ(read_line_bytes(line, sizeof line), LINE_END);
}

// A closed standard output (nobody reads the prompts any more) stops the tool at its next wait.
TEST_F(Input, LostOutputSetsTheStopFlag) {
  auto run = [] {
    feed_stdin("y\n");
    if (stop_if_output_lost() || quit_requested.load()) exit(1);
    signal(SIGPIPE, SIG_IGN);
    int fds[2];
    if (pipe(fds) != 0) exit(2);
    close(fds[0]);
    dup2(fds[1], STDOUT_FILENO);
    close(fds[1]);
    printf("prompt\n");
    fflush(stdout);
    if (wait_for_input() != -1 || quit_requested.load() != 1) exit(3);
    if (read_yes_no() != -1) exit(4);
    if (next_stdin_line() != "y\n") exit(5);
    exit(0);
  };
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}

TEST_F(Input, CommandLinesThatDoNotFitAreDroppedWhole) {
  // 15 characters fit the 16-byte buffer, line end or not.
  const std::string fits(15, 'a');
  feed_stdin(fits + "\n" + std::string(40, 'b') + "\n" + std::string(14, 'c') + "\n" +
             std::string("d\0", 2) + std::string(30, 'e') + "\nQUIT\n" + fits);
  char line[16];
  EXPECT_EQ(read_command_line(line, sizeof line), LINE_OK);
  EXPECT_EQ(std::string(line), fits);
  EXPECT_EQ(read_command_line(line, sizeof line), LINE_TOO_LONG);
  EXPECT_STREQ(line, "");
  EXPECT_EQ(read_command_line(line, sizeof line), LINE_OK);
  EXPECT_EQ(std::string(line), std::string(14, 'c') + "\n");
  EXPECT_EQ(read_command_line(line, sizeof line), LINE_TOO_LONG);  // a NUL byte hides no rest
  EXPECT_EQ(read_command_line(line, sizeof line), LINE_OK);
  EXPECT_STREQ(line, "QUIT\n");
  EXPECT_EQ(read_command_line(line, sizeof line), LINE_OK);
  EXPECT_EQ(std::string(line), fits);
  EXPECT_EQ(read_command_line(line, sizeof line), LINE_END);
}

TEST_F(Input, KeysComeFromTheBufferFirst) {
  feed_stdin("one\nVvq");
  EXPECT_FALSE(input_has_buffered_bytes());
  EXPECT_FALSE(input_ready());
  char line[16];
  EXPECT_EQ(read_answer_line(line, sizeof line), LINE_OK);
  EXPECT_STREQ(line, "one\n");
  EXPECT_TRUE(input_has_buffered_bytes());  // the pipe's bytes are all in the buffer
  {
    key_mode mode;  // no terminal: changes nothing
    EXPECT_EQ(read_key_byte(), 'V');
    EXPECT_EQ(read_key_byte(), 'v');
  }
  drop_key();  // takes what is buffered
  EXPECT_FALSE(input_has_buffered_bytes());
  EXPECT_EQ(read_key_byte(), LINE_END);
  EXPECT_TRUE(input_ready());  // end of input: a read returns at once
}

TEST_F(Input, KeyReadErrorCountsAsAFailedRead) {
  auto run = [] {
    stdin_from_directory();
    for (int i = 0; i < STDIN_FAILURE_LIMIT; i++)
      if (read_key_byte() != LINE_ERROR) exit(1);
    if (!stdin_given_up() || read_key_byte() != LINE_END) exit(2);
    exit(0);
  };
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
