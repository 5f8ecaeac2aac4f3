#include "console/completion.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct completion_case {
  const char* line;  // text before the cursor
  const char* text;  // what replaces the last word
  std::vector<std::string> choices;
  bool matched;
};

// The line as it stands after the completion.
std::string completed(const std::string& line, const completion& c) {
  return line.substr(0, line.size() - c.replace) + c.text;
}

TEST(Completion, Table) {
  const completion_case cases[] = {
      {"rea", "READ ", {}, true},
      {"Calib", "CALIBRATE ", {}, true},
      {"q", "Q ", {}, true},
      {"da", "DAC-ADC ", {}, true},
      {"sta", "STA", {"STATUS", "STATE", "STARTUP"}, true},
      {"st", "ST", {"STATUS", "STATE", "STARTUP", "STEP"}, true},
      {"xyz", "xyz", {}, false},
      {"reco", "RECONNECT ", {}, true},
      {"re", "RE", {"READ", "RESET", "RECONNECT", "RESTORE"}, true},
      {"comp", "COMPARE ", {}, true},
      {"compare x.txt _cal fil_set_c", "MB_FIL_SET_CAL ", {}, true},  // every pattern
      {"RESTORE x.txt 5126 mb_state_r", "MB_STATE_READ ", {}, true},  // every register
      {"read mb_state_r", "MB_STATE_READ ", {}, true},
      {"READ MB_STATE_", "MB_STATE_", {"MB_STATE_READ", "MB_STATE_SET"}, true},
      {"write mb_log", "MB_LOG_IN ", {}, true},
      {"setbit M050_MB_PT", "M050_MB_PT100_", {}, true},
      {"READ  davarer", "MB_DAVARER_BALANCE ", {}, true},  // part of a name, trailing blank cut
      {"READ pt100_tank",
       "PT100_TANK",
       {"M060_MB_PT100_TANK_TEMP", "MB_PT100_TANK_INTERLOCK_FILTER"},
       true},
      {"READ nosuchname", "nosuchname", {}, false},
      {"rr f", "FLOAT ", {}, true},
      {"RW d", "DWORD ", {}, true},
      {"rr ", "", {"RAW", "FLOAT", "WORD", "DWORD"}, true},
      {"state st", "STANDBY ", {}, true},
      {"state t", "TRIGGER ", {}, true},
      {"status s", "SHORT ", {}, true},
      {"status l", "LONG ", {}, true},
      {"startup d", "DELETE ", {}, true},
      {"startup p", "PRINT ", {}, true},
      {"READ MB_STATE_SET x", "x", {}, false},  // only the first argument completes
      {"wa", "WATCH ", {}, true},
      {"watch mb_state_r", "MB_STATE_READ ", {}, true},
      {"WATCH 5120  mb_state_s", "MB_STATE_SET ", {}, true},  // WATCH completes every argument
      {"help re", "re", {}, false},
      {"stat x", "x", {}, false},  // stat is no command
  };
  for (const completion_case& k : cases) {
    SCOPED_TRACE(k.line);
    completion c = complete_line(k.line);
    std::string line = k.line;
    size_t word = line.rfind(' ') == std::string::npos ? 0 : line.rfind(' ') + 1;
    EXPECT_EQ(line.size() - word, c.replace);
    EXPECT_EQ(k.text, c.text);
    EXPECT_EQ(k.choices, c.choices);
    EXPECT_EQ(k.matched, c.matched);
  }
}

TEST(Completion, ExtendsToTheCommonBeginning) {
  completion c = complete_line("READ TIP1");
  EXPECT_EQ("TIP1", c.text);  // TIP1F, TIP1N, TIP10F ... share only TIP1
  EXPECT_EQ(22u, c.choices.size());
  c = complete_line("READ tip20");
  EXPECT_EQ("TIP20", c.text);
  EXPECT_EQ((std::vector<std::string>{"TIP20F", "TIP20N"}), c.choices);
  c = complete_line("READ MB_STATE_S");
  EXPECT_EQ("READ MB_STATE_SET ", completed("READ MB_STATE_S", c));
}

TEST(Completion, ReadWithoutWordListsEveryName) {
  completion c = complete_line("READ ");
  EXPECT_TRUE(c.matched);
  EXPECT_GT(c.choices.size(), 240u);
  EXPECT_EQ("", c.text);
}

class FileCompletion : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/vt_completion_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(templ));
    dir = templ;
    ASSERT_EQ(0, mkdir((dir + "/dumps").c_str(), 0700));
    for (const char* name : {"/dump_a.txt", "/dump_b.txt", "/other", "/.hidden", "/dumps/x"}) {
      FILE* f = fopen((dir + name).c_str(), "w");
      ASSERT_NE(nullptr, f);
      fclose(f);
    }
  }
  void TearDown() override {
    for (const char* name : {"/dump_a.txt", "/dump_b.txt", "/other", "/.hidden", "/dumps/x"})
      unlink((dir + name).c_str());
    rmdir((dir + "/dumps").c_str());
    rmdir(dir.c_str());
  }
  std::string dir;
};

TEST_F(FileCompletion, NamesAfterDump) {
  std::string line = "DUMP " + dir + "/o";
  EXPECT_EQ("DUMP " + dir + "/other ", completed(line, complete_line(line)));

  line = "dump " + dir + "/dump";
  completion c = complete_line(line);
  EXPECT_EQ(dir + "/dump", c.text);  // dump_a.txt, dump_b.txt and dumps/ share "dump"
  EXPECT_EQ((std::vector<std::string>{"dump_a.txt", "dump_b.txt", "dumps/"}), c.choices);

  line = "DUMP " + dir + "/dumps";  // a directory continues with '/'
  EXPECT_EQ("DUMP " + dir + "/dumps/", completed(line, complete_line(line)));
  line = "DUMP " + dir + "/dump_";
  EXPECT_EQ("DUMP " + dir + "/dump_", completed(line, complete_line(line)));

  line = "DUMP " + dir + "/.h";
  EXPECT_EQ("DUMP " + dir + "/.hidden ", completed(line, complete_line(line)));
  line = "DUMP " + dir + "/";
  c = complete_line(line);
  EXPECT_EQ((std::vector<std::string>{"dump_a.txt", "dump_b.txt", "dumps/", "other"}), c.choices);
  line = "DUMP " + dir + "/Other";  // file names keep their case
  EXPECT_FALSE(complete_line(line).matched);

  // COMPARE and RESTORE: the file first, then register names.
  line = "compare " + dir + "/o";
  EXPECT_EQ("compare " + dir + "/other ", completed(line, complete_line(line)));
  line = "RESTORE " + dir + "/o";
  EXPECT_EQ("RESTORE " + dir + "/other ", completed(line, complete_line(line)));
}

TEST(Completion, ColumnsTopToBottom) {
  std::vector<std::string> items = {"AA", "BB", "CC", "DD", "EE"};
  EXPECT_EQ((std::vector<std::string>{"AA  CC  EE", "BB  DD"}), layout_columns(items, 10));
  EXPECT_EQ((std::vector<std::string>{"AA", "BB", "CC", "DD", "EE"}), layout_columns(items, 3));
  EXPECT_EQ((std::vector<std::string>{"AA  BB  CC  DD  EE"}), layout_columns(items, 80));
  EXPECT_TRUE(layout_columns({}, 80).empty());
}

}  // namespace
