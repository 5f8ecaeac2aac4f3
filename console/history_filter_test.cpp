// Which typed lines the history may keep: every way of naming a secret register in a line that
// writes it, and the lines beside them that must stay.
#include "console/history_filter.h"

#include <gtest/gtest.h>

namespace {

TEST(HistoryFilter, LinesThatWriteSecretsAreLeftOut) {
  const struct {
    const char* line;
    bool kept;
  } cases[] = {
      {"WRITE LOG_IN 40716253", false},
      {"write mb_log_in 40716253", false},
      {"WRITE 5121 1", false},
      {"  WRITE   SC_PASSWORD_OP  op4711", false},
      {"WRITE MB_SC_PASSWORD secret", false},
      {"WRITE 5184 secret", false},
      {"RW RAW 5121 3034 3137", false},
      {"rw raw 0x1401 1", false},
      {"RW RAW 5120 1 2 3", false},  // the third word is the login's first
      {"RW RAW 5117 1 2 3", true},   // ends at 5119
      {"RW WORD 5188 1", false},
      {"RW FLOAT 5178 1.5", false},  // its second word is 5179
      {"RW DWORD 5177 1", true},
      {"RW DWORD 70657 1", false},  // the low 16 bits make 5121
      {"SETBIT MB_SC_PASSWORD 3 1", false},
      {"SETBIT MB_SC_PASSWORD", true},  // shows the bits only
      {"WRITE LOG_IN", true},           // no data: no secret either
      {"WRITE STATE 3", true},
      {"READ MB_LOG_IN", true},
      {"READ 5184", true},
      {"RR RAW 5121 5", true},
      {"RW BYTE 5121 1", true},  // no such type: nothing is written
      {"STATUS", true},
      {"", true},
  };
  for (const auto& c : cases) EXPECT_EQ(history_keeps_line(c.line), c.kept) << c.line;
}

}  // namespace
