// The console's cutting of a command line into the command word and its arguments.
#include "console/tokenizer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(Tokenizer, CutsAtBlanksOnly) {
  struct example {
    const char* line;
    std::vector<std::string> tokens;
  };
  const example examples[] = {
      {"READ 5120", {"READ", "5120"}},
      {"  write   STATE  3  ", {"write", "STATE", "3"}},
      {"READ\t5120 x", {"READ\t5120", "x"}},  // a tab is part of the token
      {"", {}},
      {"    ", {}},
      {"a\r\n", {"a\r\n"}},  // the console cuts the line end before it cuts tokens
  };
  for (const example& ex : examples) {
    std::vector<char> buf(ex.line, ex.line + strlen(ex.line) + 1);
    char* cursor = buf.data();
    std::vector<std::string> tokens;
    while (char* token = next_token(&cursor)) tokens.push_back(token);
    EXPECT_EQ(tokens, ex.tokens) << ex.line;
    EXPECT_EQ(next_token(&cursor), nullptr) << ex.line;

    std::vector<char> again(ex.line, ex.line + strlen(ex.line) + 1);
    cursor = again.data();
    EXPECT_EQ(take_all_tokens(&cursor), ex.tokens) << ex.line;
    EXPECT_EQ(next_token(&cursor), nullptr) << ex.line;
  }
  EXPECT_EQ(next_token(nullptr), nullptr);
  char* no_line = nullptr;
  EXPECT_EQ(next_token(&no_line), nullptr);
  EXPECT_TRUE(take_all_tokens(&no_line).empty());
}

// The command word is taken first; the arguments are what follows it.
TEST(Tokenizer, ArgumentsFollowTheWord) {
  char line[] = "rw RAW 5200 1 2";
  char* cursor = line;
  EXPECT_STREQ(next_token(&cursor), "rw");
  EXPECT_EQ(take_all_tokens(&cursor), (std::vector<std::string>{"RAW", "5200", "1", "2"}));
}

}  // namespace
