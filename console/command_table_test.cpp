// The command table against what reads it: the matcher, HELP and completion. No device: the
// link thread is not running, so every device request fails at once.
#include "console/command_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "calibration/calibration.h"
#include "console/completion.h"
#include "console/console.h"
#include "core/colours.h"
#include "core/lifecycle.h"
#include "tests/stream_capture.h"

namespace {

std::string help_without_colours() {
  output_colours saved = colours;
  colours = {"", "", ""};
  std::string text = run_handler(cmd_help, "");
  colours = saved;
  return text;
}

size_t count_of(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
  return n;
}

// The token is upper-cased by the console before it is matched.
TEST(CommandTable, MatchesTheFirstWordTheTokenBeginsWith) {
  const struct {
    const char* token;
    int code;
  } cases[] = {
      {"Q", CODE_Q},
      {"QUIT", CODE_Q},
      {"HELPME", CODE_HELP},
      {"SETBIT", CODE_SETBIT},
      {"SETB", CODE_SET},
      {"STATUS", CODE_STATUS},
      {"STATE", CODE_STATE},
      {"STAT", -1},
      {"LOG", -1},
      {"CAL", -1},
      {"DAC-ADC", CODE_DAC_ADC},
      {"", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(find_command(c.token), c.code) << c.token;
}

// An added word that an earlier word begins could never be reached.
TEST(CommandTable, EveryWordReachesItsOwnRow) {
  for (size_t code = 0; code < command_table.size(); code++)
    EXPECT_EQ(find_command(command_table[code].word), static_cast<int>(code))
        << command_table[code].word;
}

// Each entry of each row is printed once, as a line of its own with the word in its column,
// followed by its detail lines; the added commands come after the last heading.
TEST(CommandTable, HelpPrintsEveryEntryOfEveryRowOnce) {
  std::string help = help_without_colours();
  size_t added_section = help.find("\nFurther commands:\n");
  ASSERT_NE(added_section, std::string::npos);
  size_t entries = 0;
  for (size_t code = 0; code < command_table.size(); code++) {
    const console_command& command = command_table[code];
    ASSERT_NE(command.help.summary, nullptr) << command.word;
    for (const command_help* entry : {&command.help, &command.session_help}) {
      if (!entry->summary) continue;
      entries++;
      std::string word = command.word;
      std::string text = "\n  " + word + std::string(word.size() < 9 ? 9 - word.size() : 0, ' ') +
                         " : " + entry->summary + "\n";
      for (const char* line : entry->details) text += std::string(14, ' ') + line + "\n";
      text += "\n";
      EXPECT_EQ(count_of(help, text), 1u) << text;
      EXPECT_EQ(help.find(text) > added_section, code >= ORIGINAL_COMMAND_COUNT) << word;
    }
  }
  // No entry without a row: entries are the lines that begin with exactly two blanks.
  size_t entry_lines = 0;
  for (size_t at = help.find("\n  "); at != std::string::npos; at = help.find("\n  ", at + 1))
    if (help[at + 3] != ' ') entry_lines++;
  EXPECT_EQ(entry_lines, entries);
}

// What completion offers after a command word, its parser takes: no keyword draws the
// parser's "Invalid ..." answer, which a word outside the list does.
TEST(CommandTable, CompletedKeywordsAreAcceptedByTheirCommand) {
  int rows = 0;
  for (const console_command& command : command_table) {
    if (command.completes != COMPLETE_KEYWORD) continue;
    rows++;
    completion offered = complete_line(std::string(command.word) + " ");
    ASSERT_GT(offered.choices.size(), 1u) << command.word;
    for (const std::string& keyword : offered.choices) {
      std::string out = run_handler(command.handler, keyword.c_str());
      EXPECT_EQ(out.find("Invalid"), std::string::npos) << command.word << " " << keyword << "\n"
                                                        << out;
    }
    EXPECT_NE(run_handler(command.handler, "XYZ").find("Invalid"), std::string::npos)
        << command.word;
  }
  EXPECT_GT(rows, 0);
}

// A row that declares a count refuses fewer tokens with its message before the handler runs:
// with no link serving, a device request would print a failure too.
TEST(CommandTable, RowsRefuseFewerTokensThanTheyNeed) {
  memset(&calib_session, 0, sizeof(calib_session));
  int rows = 0;
  for (const console_command& command : command_table) {
    if (command.needs.count == 0) continue;
    rows++;
    ASSERT_TRUE(command.needs.missing && std::string(command.needs.missing).starts_with("Missing "))
        << command.word;
    command_args fewer(command.needs.count - 1, "1");
    stream_capture out;
    command_status status = run_command(command, fewer);
    EXPECT_EQ(out.finish(), std::string(command.needs.missing) + "\n") << command.word;
    EXPECT_EQ(status, CMD_FAILED) << command.word;
  }
  EXPECT_GE(rows, 8);
}

// A row's further count and its limit refuse before the handler runs, each with its own line; an
// option's value is not counted, so the limit itself still reaches the handler.
TEST(CommandTable, RowsRefuseTooFewOrTooManyTokens) {
  memset(&calib_session, 0, sizeof(calib_session));
  int rows = 0;
  for (const console_command& command : command_table) {
    const std::pair<size_t, const char*> refused[] = {
        {command.then_needs.count - 1, command.then_needs.missing},
        {command.limit.most + 1, command.limit.too_many}};
    for (const auto& [tokens, line] : refused) {
      if (line == nullptr) continue;
      rows++;
      command_args args(tokens, "1");
      stream_capture out;
      EXPECT_EQ(run_command(command, args), CMD_FAILED) << command.word;
      EXPECT_EQ(out.finish(), std::string(line) + "\n") << command.word;
    }
    if (command.limit.option == nullptr) continue;
    command_args args(command.limit.most, "NO_SUCH_REGISTER");
    args.insert(args.begin() + 1, {command.limit.option, "file.csv"});
    stream_capture out;
    run_command(command, args);
    EXPECT_EQ(out.finish().find(command.limit.too_many), std::string::npos) << command.word;
  }
  EXPECT_EQ(rows, 3);  // RESTORE's register, and the limits of WATCH and RESTORE
}

int calls[2];  // of the handler, of the session handler

// Inside a calibration session a row's session handler takes the place of the refusal; a row
// without one still refuses, and enough tokens always reach the handler.
TEST(CommandTable, SessionHandlerRunsOnlyInASessionWithoutArguments) {
  memset(&calib_session, 0, sizeof(calib_session));
  console_command with_session = command_table[CODE_READ];
  with_session.handler = [](const command_args&) { return calls[0]++, CMD_OK; };
  with_session.session_handler = [](const command_args&) { return calls[1]++, CMD_OK; };
  console_command without_session = command_table[CODE_DUMP];
  without_session.handler = with_session.handler;
  const struct {
    bool in_session;
    const console_command* row;
    const char* args;
    int handler_calls, session_calls;
    command_status status;
  } cases[] = {
      {false, &with_session, "", 0, 0, CMD_FAILED}, {true, &with_session, "", 0, 1, CMD_OK},
      {true, &with_session, "5120", 1, 0, CMD_OK},  {true, &without_session, "", 0, 0, CMD_FAILED},
      {false, &without_session, "f", 1, 0, CMD_OK},
  };
  for (const auto& c : cases) {
    calib_session.iActive = calib_session.iSelected = c.in_session ? 1 : 0;
    calls[0] = calls[1] = 0;
    handler_run run = run_handler_status(
        [&](const command_args& args) { return run_command(*c.row, args); }, c.args);
    EXPECT_EQ(calls[0], c.handler_calls) << c.row->word << " " << c.args;
    EXPECT_EQ(calls[1], c.session_calls) << c.row->word << " " << c.args;
    EXPECT_EQ(run.status, c.status) << c.row->word << " " << c.args;
  }
  memset(&calib_session, 0, sizeof(calib_session));
  EXPECT_EQ(command_table[CODE_READ].session_handler, cmd_cal_read);
  EXPECT_EQ(command_table[CODE_WRITE].session_handler, cmd_cal_read);
}

// A failing line for every command that can fail (no link serves, so every device request
// fails), and the operator's no. The session cases need no device before they ask.
TEST(CommandTable, CommandLinesReturnTheirStatus) {
  const struct {
    const char *line, *answers;  // answers: standard input for the questions
    bool in_session;             // a session on slot 1 whose state check has passed
    command_status status;
  } cases[] = {
      {"stat", "", false, CMD_FAILED},
      {"READ 5120", "", false, CMD_FAILED},
      {"READ", "", true, CMD_FAILED},
      {"WRITE STATE 3", "n\n", false, CMD_DECLINED},
      {"WRITE STATE 3", "x\nx\nx\n", false, CMD_FAILED},
      {"WRITE STATE 3", "y\n", false, CMD_FAILED},
      {"RR WORD 5120", "", false, CMD_FAILED},
      {"RW WORD 5120 0x3", "", false, CMD_FAILED},
      {"SETBIT 5200 1", "", false, CMD_FAILED},
      {"LOGIN", "", false, CMD_FAILED},
      {"LOGOUT", "", false, CMD_FAILED},
      {"RESET", "", false, CMD_FAILED},
      {"STATE", "", false, CMD_FAILED},
      {"STATUS", "", false, CMD_FAILED},
      {"DUMP /nonexistent-dir/dump.txt", "", false, CMD_FAILED},
      {"STARTUP foo", "", false, CMD_FAILED},
      {"WATCH 5133", "", false, CMD_FAILED},
      {"CALIBRATE", "99\n", false, CMD_FAILED},
      {"SET 1", "", false, CMD_FAILED},
      {"ACTUAL 9.01x", "", true, CMD_FAILED},
      {"DAC-ADC", "", false, CMD_FAILED},
      {"ADD", "n\n", true, CMD_DECLINED},
      {"ADD", "", false, CMD_FAILED},
      {"EDIT 1 -i", "Vq", true, CMD_FAILED},
      {"STEP 10x", "", false, CMD_FAILED},
      {"DEL", "", false, CMD_FAILED},
      {"SEND", "n\n", true, CMD_DECLINED},
      {"SEND", "y\n", true, CMD_FAILED},
      {"PRINT", "", false, CMD_FAILED},
      {"RECONNECT", "", false, CMD_FAILED},
      {"COMPARE /nonexistent-dir/dump.txt", "", false, CMD_FAILED},
      {"RESTORE /nonexistent-dir/dump.txt 5120", "", false, CMD_FAILED},
      {"CALHISTORY NOSUCH", "", false, CMD_FAILED},
  };
  // Q and HELP can't fail.
  for (const console_command& command : command_table) {
    std::string word = command.word;
    bool failing = word == "Q" || word == "HELP";
    for (const auto& c : cases)
      failing |= c.status == CMD_FAILED && (std::string(c.line) + " ").starts_with(word + " ");
    EXPECT_TRUE(failing) << word;
  }
  for (const auto& c : cases) {
    memset(&calib_session, 0, sizeof(calib_session));
    calib_console_start();
    if (c.in_session) {
      work_cal[0] = {};
      work_cal[0].use = 1;
      work_cal[0].iRegCal = 5288;
      work_cal[0].iRegSet = 5126;
      calib_session.iActive = calib_session.iSelected = 1;
      calib_session.iPrecondition = 0;
      for (calib_point& p : calib_session.points) calib_point_make_empty(&p);
      calib_point_make_empty(&calib_session.pending);
      calib_session.points[0].wDacAdc = 100;  // a count interactive editing may step
    }
    feed_stdin(c.answers);
    std::string line = c.line;
    handler_run run =
        run_handler_status([&](const command_args&) { return run_command_line(line.data()); }, "");
    EXPECT_EQ(run.status, c.status) << c.line << "\n" << run.out;
  }
  memset(&calib_session, 0, sizeof(calib_session));
  memset(work_cal, 0, sizeof(work_cal));
  EXPECT_FALSE(quit_requested.load());
}

}  // namespace
