// The command table against what reads it: the matcher, HELP and completion. No device: the
// link thread is not running, so every device request fails at once.
#include "console/command_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/completion.h"
#include "core/colours.h"
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

}  // namespace
