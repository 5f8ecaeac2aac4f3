#include "core/colours.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

namespace {

TEST(ColoursInit, NoColorSetAndNotEmptyTurnsEveryColourOff) {
  struct {
    const char* value;  // nullptr: unset
    bool coloured;
  } cases[] = {{nullptr, true}, {"", true}, {"1", false}, {"0", false}, {"yes please", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(unset)");
    if (c.value) {
      setenv("NO_COLOR", c.value, 1);
    } else {
      unsetenv("NO_COLOR");
    }
    colours_init();
    EXPECT_EQ(std::string(colours.red), c.coloured ? "\033[31m" : "");
    EXPECT_EQ(std::string(colours.green), c.coloured ? "\033[32m" : "");
    EXPECT_EQ(std::string(colours.reset), c.coloured ? "\033[0m" : "");
  }
  unsetenv("NO_COLOR");
  colours_init();
}

}  // namespace
