// The console's cutting of a command line into the command word and its arguments.
#include "console/tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Blanks only: a tab and a line end stay in their token; runs of blanks count as one.
TEST(Tokenizer, CutsAtBlanksOnly) {
  const struct {
    std::string line;
    std::vector<std::string> tokens;
  } examples[] = {
      {"rw RAW 5200 1 2", {"rw", "RAW", "5200", "1", "2"}},
      {"  write   STATE  3  ", {"write", "STATE", "3"}},
      {"READ\t5120 x", {"READ\t5120", "x"}},
      {"a\r\n", {"a\r\n"}},
      {"    ", {}},
  };
  for (auto ex : examples) {
    char* cursor = ex.line.data();
    EXPECT_EQ(take_all_tokens(&cursor), ex.tokens) << ex.line;
    EXPECT_EQ(next_token(&cursor), nullptr) << ex.line;
  }
  char* no_line = nullptr;
  EXPECT_EQ(next_token(nullptr), nullptr);
  EXPECT_EQ(next_token(&no_line), nullptr);
  EXPECT_TRUE(take_all_tokens(&no_line).empty());
}

}  // namespace
