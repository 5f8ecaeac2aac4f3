// Which typed lines the history may keep: every way of naming a secret register in a line that
// writes it, and the lines beside them that must stay. Which words are secret: catalogue_test.
#include "console/history_filter.h"

#include <gtest/gtest.h>

namespace {

TEST(HistoryFilter, LinesThatWriteSecretsAreLeftOut) {
  for (const char* line :
       {"write mb_log_in 40716253", "  WRITE   SC_PASSWORD_OP  op4711", "WRITE 5184 secret",
        "RW RAW 5120 1 2 3", "RW WORD 5188 1", "RW DWORD 70657 1", "SETBIT MB_SC_PASSWORD 3 1"})
    EXPECT_FALSE(history_keeps_line(line)) << line;
  for (const char* line : {"RW RAW 5117 1 2 3", "SETBIT MB_SC_PASSWORD", "WRITE LOG_IN",
                           "READ 5184", "RR RAW 5121 5", "RW BYTE 5121 1", "STATUS", ""})
    EXPECT_TRUE(history_keeps_line(line)) << line;
}

}  // namespace
