#include "console/startup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/tool_config.h"
#include "tests/stream_capture.h"

namespace {

std::string read_file(const char* path) {
  std::string text;
  FILE* f = fopen(path, "r");
  if (f == nullptr) return "<missing>";
  for (int c; (c = getc(f)) != EOF;) text += static_cast<char>(c);
  fclose(f);
  return text;
}

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string run_startup(const std::string& args) { return run_handler(cmd_startup, args.c_str()); }

std::string run_apply() {
  stream_capture out;
  startup_apply();
  return out.finish();
}

// Each test runs in its own scratch directory, where the configuration file is saved.
class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/startup_test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ASSERT_NE(getcwd(cwd_, sizeof cwd_), nullptr);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    memset(&tool_config, 0, sizeof tool_config);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(cwd_), 0);
    std::string cmd = "rm -rf " + dir_;
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
  // A directory in the file's place makes every save fail.
  void block_saving() { ASSERT_EQ(mkdir(CONFIG_FILE_NAME, 0755), 0); }
  std::string saved() { return read_file(CONFIG_FILE_NAME); }

  std::string dir_;
  char cwd_[4096];
};

TEST_F(Startup, AddFloatIsSavedInTheFirstFreeSlot) {
  EXPECT_EQ(run_startup("ADD 5136 0.5"), "Startup entry added: 5136, value = 0.5us\n");
  EXPECT_EQ(tool_config.startup[0].iReg, 5136);
  EXPECT_EQ(tool_config.startup[0].raw_value, 0x3F000000u);
  std::string file = saved();
  EXPECT_NE(file.find("startup[0].iReg = 5136\n"), std::string::npos) << file;
  EXPECT_NE(file.find("startup[0].raw_value = 1056964608\n"), std::string::npos) << file;
  EXPECT_EQ(run_startup("PRINT"), "MB_PULSE_WIDTH_SET (5136) = 0.5us\n");
  EXPECT_EQ(run_startup(""), "MB_PULSE_WIDTH_SET (5136) = 0.5us\n");
}

TEST_F(Startup, LowerCaseSubCommandsAndLongerWords) {
  EXPECT_EQ(run_startup("add 5136 0.5"), "Startup entry added: 5136, value = 0.5us\n");
  EXPECT_EQ(run_startup("printall"), "MB_PULSE_WIDTH_SET (5136) = 0.5us\n");
  EXPECT_EQ(run_startup("deleteit 5136"), "Startup entry deleted: 5136\n");
  EXPECT_EQ(tool_config.startup[0].iReg, 0);
}

TEST_F(Startup, WordValuesKeepTheirCase) {
  EXPECT_EQ(run_startup("ADD 5120 0X10"), "Startup entry added: 5120, value = 16 (0x0010)\n");
  EXPECT_EQ(run_startup("ADD 5120 0x10"), "Invalid data; 0x10\n");
  // Only the low 16 bits of a WORD number are kept, as a write would send them.
  EXPECT_EQ(run_startup("ADD 5120 70000"), "Startup entry added: 5120, value = 4464 (0x1170)\n");
  EXPECT_EQ(tool_config.startup[1].raw_value, 4464u);
}

TEST_F(Startup, RefusedArguments) {
  EXPECT_EQ(run_startup("DEL 5136"), "Invalid argument: DEL\n");
  EXPECT_EQ(run_startup("foo"), "Invalid argument: FOO\n");
  EXPECT_EQ(run_startup("ADD"), "Missing Address.\n");
  EXPECT_EQ(run_startup("ADD 5122 1"), "Invalid address: 5122\n");
  EXPECT_EQ(run_startup("ADD 0x1400 1"), "Invalid address: 0x1400\n");
  EXPECT_EQ(run_startup("ADD STATE 1"), "Invalid address: STATE\n");
  EXPECT_EQ(run_startup("ADD 99999999999999999999 1"), "Invalid address: 99999999999999999999\n");
  EXPECT_EQ(run_startup("ADD 5136"), "Missing data.\n");
  EXPECT_EQ(run_startup("ADD 5136 1.5V"), "Invalid data; 1.5V\n");
  EXPECT_EQ(run_startup("ADD 5121 1"), "Invalid data; 1\n");
  EXPECT_EQ(run_startup("DELETE"), "Missing Address.\n");
  EXPECT_EQ(run_startup("DELETE 5133"), "Invalid address: 5133\n");
  EXPECT_EQ(run_startup("DELETE 5136"), "Startup entry not found: 5136\n");
  EXPECT_EQ(saved(), "<missing>");
  for (const startup_entry& s : tool_config.startup) EXPECT_EQ(s.iReg, 0);
}

TEST_F(Startup, FullTableAndHoleFilling) {
  const char* adds[] = {"ADD 5136 1", "ADD 5120 3", "ADD 5136 2", "ADD 5126 6.3", "ADD 5120 9"};
  for (const char* add : adds) EXPECT_EQ(run_startup(add).rfind("Startup entry added: ", 0), 0u);
  EXPECT_EQ(run_startup("ADD 5136 3"), "No more startup entry available.\n");
  // The first entry with the address goes; its slot is the one the next ADD fills.
  EXPECT_EQ(run_startup("DELETE 5136"), "Startup entry deleted: 5136\n");
  EXPECT_EQ(tool_config.startup[0].iReg, 0);
  EXPECT_EQ(tool_config.startup[2].iReg, 5136);
  EXPECT_EQ(run_startup("ADD 5132 100"), "Startup entry added: 5132, value = 100V\n");
  EXPECT_EQ(tool_config.startup[0].iReg, 5132);
  EXPECT_EQ(run_startup("PRINT"),
            "MB_HV_SET (5132) = 100V\n"
            "MB_STATE_SET (5120) = 3 (0x0003)\n"
            "MB_PULSE_WIDTH_SET (5136) = 2us\n"
            "MB_FIL_SET (5126) = 6.3V,A\n"
            "MB_STATE_SET (5120) = 9 (0x0009)\n");
}

// The settings library may say first why it could not save; the command's own line comes last.
TEST_F(Startup, FailedSaveIsUndoneInMemory) {
  EXPECT_EQ(run_startup("ADD 5136 0.5"), "Startup entry added: 5136, value = 0.5us\n");
  ASSERT_EQ(rename(CONFIG_FILE_NAME, "kept.conf"), 0);
  block_saving();
  EXPECT_TRUE(ends_with(run_startup("ADD 5120 3"), "Error in saving config file.\n"));
  EXPECT_EQ(tool_config.startup[1].iReg, 0);
  EXPECT_EQ(tool_config.startup[1].raw_value, 0u);
  EXPECT_TRUE(ends_with(run_startup("DELETE 5136"), "Error in saving config file.\n"));
  EXPECT_EQ(tool_config.startup[0].iReg, 5136);
  EXPECT_EQ(tool_config.startup[0].raw_value, 0x3F000000u);
  EXPECT_EQ(run_startup("PRINT"), "MB_PULSE_WIDTH_SET (5136) = 0.5us\n");
}

TEST_F(Startup, ListingSkipsWideTypesAndNamesUnknownAddresses) {
  tool_config.startup[0] = {5122, 1};
  tool_config.startup[1] = {5288, 1};  // a calibration table: more than the stored 32 bits
  tool_config.startup[3] = {5140, 0x10001};
  EXPECT_EQ(run_startup("PRINT"), "Invalid address: 5122\nMB_RESET (5140) = 1 (0x0001)\n");
}

// Without a link every write fails; each entry is still tried and the summary comes once.
TEST_F(Startup, ReplayReportsEveryFailureAndTheSummary) {
  tool_config.startup[0] = {5122, 1};
  tool_config.startup[1] = {5288, 1};
  tool_config.startup[2] = {5136, 0x3F000000};
  tool_config.startup[4] = {5140, 0xFFFF0001};
  EXPECT_EQ(run_apply(),
            "Startup: Invalid address: 5122\n"
            "Startup: Invalid data type: 5\n"
            "Startup: Error write to reg 5136 value 0.5us\n"
            "Startup: Error write to reg 5140 value 1 (0x0001)\n"
            "Writing startup registers fail!\n");
}

TEST_F(Startup, ReplayOfNoEntriesPrintsNothing) { EXPECT_EQ(run_apply(), ""); }

}  // namespace
