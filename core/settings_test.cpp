#include "core/settings.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/tool_config.h"

namespace {

namespace fs = std::filesystem;

const char* const kFile = "veltrona_tool.conf";

// Each test runs in its own scratch directory, which is removed afterwards.
class SettingsFile : public testing::Test {
 protected:
  void SetUp() override {
    char cwd[PATH_MAX];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof(cwd)));
    old_cwd_ = cwd;
    std::string tmpl = (fs::temp_directory_path() / "settings_test.XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(tmpl.data()));
    dir_ = tmpl;
    ASSERT_EQ(0, chdir(dir_.c_str()));
  }
  void TearDown() override {
    EXPECT_EQ(0, chdir(old_cwd_.c_str()));
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  static void write_file(const std::string& name, const std::string& content) {
    std::ofstream(name, std::ios::binary) << content;
  }
  static std::string read_file(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static std::vector<std::string> dir_entries() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(".")) names.push_back(e.path().filename());
    return names;
  }

  // Loads `file` into `record`; the reports on standard output go to `out`.
  static int load(tool_config_t* record, std::string* out, const char* file = kFile,
                  const char* group = CONFIG_GROUP_NAME) {
    testing::internal::CaptureStdout();
    int rc = lim_loadFile(file, group, record, tool_config_callback);
    *out = testing::internal::GetCapturedStdout();
    return rc;
  }
  static int save(tool_config_t* record, const char* file = kFile,
                  const char* group = CONFIG_GROUP_NAME, std::string* out = nullptr) {
    testing::internal::CaptureStdout();
    int rc = lim_saveFile(file, group, record, tool_config_callback);
    std::string printed = testing::internal::GetCapturedStdout();
    if (out) *out = printed;
    return rc;
  }

  // Loads a file whose group holds `lines`; expects success.
  static tool_config_t load_group(const std::string& lines, std::string* out) {
    write_file(kFile, "[velt_tool_config]\n" + lines);
    tool_config_t r = {};
    EXPECT_EQ(1, load(&r, out)) << *out;
    return r;
  }

  static tool_config_t defaults() {
    tool_config_t r = {};
    tool_config_items(CONFIG_GROUP_NAME, &r, LIM_OP_SET_DEFAULT, nullptr, nullptr);
    return r;
  }
  static std::string type_out(const tool_config_t& record) {
    char* text = nullptr;
    size_t len = 0;
    FILE* stream = open_memstream(&text, &len);
    tool_config_t copy = record;
    tool_config_items(CONFIG_GROUP_NAME, &copy, LIM_OP_TYPEOUT, nullptr, stream);
    fclose(stream);
    std::string s(text, len);
    free(text);
    return s;
  }

  std::string old_cwd_;
  std::string dir_;
};

TEST_F(SettingsFile, MissingFileLoadsDefaultsReturnsOneAndCreatesNothing) {
  tool_config_t r;
  memset(&r, 0x77, sizeof(r));
  std::string out;
  EXPECT_EQ(1, load(&r, &out));
  EXPECT_EQ("", out);
  EXPECT_EQ(type_out(defaults()), type_out(r));
  EXPECT_TRUE(dir_entries().empty());
}

TEST_F(SettingsFile, FirstSaveCreatesTheGroupInItemOrder) {
  tool_config_t r = defaults();
  EXPECT_EQ(1, save(&r));
  EXPECT_EQ("[velt_tool_config]\n" + type_out(r), read_file(kFile));
  EXPECT_EQ(std::vector<std::string>{kFile}, dir_entries());  // no temporary left behind
}

// Stores as much of `text` as fits, terminated.
template <size_t N>
void put(char (&field)[N], const std::string& text) {
  size_t n = std::min(text.size(), N - 1);
  memcpy(field, text.data(), n);
  field[n] = '\0';
}

// A record in which every item differs from its default, texts at full length included.
tool_config_t unusual_record() {
  tool_config_t r = {};
  put(r.sVersion, "v\"9\\ x");
  put(r.sIpAddr, "  modulator.example  ");
  r.iPort = 5020;
  r.iStopOnQpxRun = 1;
  r.iPrintIlockChange = 1;
  for (int i = 0; i < CAL_DEFINITIONS; i++) {
    cal_definition& c = r.cal[i];
    c.use = (i + 1) % 2;
    c.iType = i % 3;
    put(c.sMsg, "Cal " + std::to_string(i) + " = \"#\" \\ " + std::string(40, 'a' + i));
    c.iRegCal = 65535 - i;
    c.iRegSet = 5100 + i;
    c.iRegRead = 5500 + i;
    c.iState = 9 - i % 10;
    c.iStep = 100 * i + 2;
  }
  ilock_name* tables[3] = {r.ilock_standby, r.ilock_hv, r.ilock_trig};
  for (int g = 0; g < 3; g++)
    for (int k = 0; k < ILOCK_NAMES; k++)
      put(tables[g][k].name, "# group " + std::to_string(g) + " bit " + std::to_string(k) +
                                 " = [x] " + std::string(80, 'A' + k % 26));
  for (int i = 0; i < STARTUP_ENTRIES; i++) {
    r.startup[i].iReg = 5120 + i;
    r.startup[i].raw_value = 4294967295u - static_cast<uint32_t>(i) * 1000000007u;
  }
  return r;
}

TEST_F(SettingsFile, EveryItemSurvivesSaveAndLoad) {
  tool_config_t written = unusual_record();
  ASSERT_EQ(1, save(&written));
  tool_config_t read = {};
  std::string out;
  ASSERT_EQ(1, load(&read, &out));
  EXPECT_EQ("", out);
  EXPECT_EQ(type_out(written), type_out(read));
  EXPECT_NE(type_out(defaults()), type_out(read));
  EXPECT_STREQ("v\"9\\ x", read.sVersion);
  EXPECT_STREQ("  modulator.example  ", read.sIpAddr);
  EXPECT_EQ(31u, strlen(read.cal[7].sMsg));
  EXPECT_EQ(63u, strlen(read.ilock_trig[31].name));
  EXPECT_EQ(4294967295u, read.startup[0].raw_value);
  EXPECT_EQ(65520, read.cal[15].iRegCal);
}

TEST_F(SettingsFile, MaximaAndMinimaSurviveSaveAndLoad) {
  for (unsigned op : {LIM_OP_SET_MAXIMUM, LIM_OP_SET_MINIMUM}) {
    tool_config_t written = defaults();
    tool_config_items(CONFIG_GROUP_NAME, &written, op, nullptr, nullptr);
    ASSERT_EQ(1, save(&written));
    tool_config_t read = {};
    std::string out;
    ASSERT_EQ(1, load(&read, &out));
    EXPECT_EQ("", out);
    EXPECT_EQ(type_out(written), type_out(read));
  }
}

TEST_F(SettingsFile, UnsignedMaximumSurvives) {
  std::string out;
  tool_config_t r = load_group("startup[2].raw_value = 4294967295\n", &out);
  EXPECT_EQ("", out);
  EXPECT_EQ(4294967295u, r.startup[2].raw_value);
  ASSERT_EQ(1, save(&r));
  EXPECT_NE(std::string::npos, read_file(kFile).find("\nstartup[2].raw_value = 4294967295\n"));
  tool_config_t again = {};
  ASSERT_EQ(1, load(&again, &out));
  EXPECT_EQ(4294967295u, again.startup[2].raw_value);
}

TEST_F(SettingsFile, BadValuesAreReportedWithFileLineAndKeyAndRepaired) {
  struct {
    const char* line;
    const char* report;  // expected part of the report after "veltrona_tool.conf:2: "
    std::string (*field)(const tool_config_t&);
    const char* expected;
    const char* done = "repaired to the default";
  } cases[] = {
      {"iPort = 1", "iPort: 1 is out of range",
       [](const tool_config_t& r) { return std::to_string(r.iPort); }, "502"},
      {"iPort = 65536", "iPort: 65536 is out of range",
       [](const tool_config_t& r) { return std::to_string(r.iPort); }, "502"},
      {"iPort = abc", "iPort: \"abc\" is not a number",
       [](const tool_config_t& r) { return std::to_string(r.iPort); }, "502"},
      {"iPort = 12x", "iPort: \"12x\" is not a number",
       [](const tool_config_t& r) { return std::to_string(r.iPort); }, "502"},
      {"iPort =", "iPort: \"\" is not a number",
       [](const tool_config_t& r) { return std::to_string(r.iPort); }, "502"},
      {"iStopOnQpxRun = 2", "iStopOnQpxRun: 2 is out of range",
       [](const tool_config_t& r) { return std::to_string(r.iStopOnQpxRun); }, "0"},
      {"cal[0].iState = 10", "cal[0].iState: 10 is out of range",
       [](const tool_config_t& r) { return std::to_string(r.cal[0].iState); }, "3"},
      {"cal[0].use = -1", "cal[0].use: -1 is out of range",
       [](const tool_config_t& r) { return std::to_string(r.cal[0].use); }, "1"},
      {"startup[0].raw_value = 4294967296", "startup[0].raw_value: 4294967296 is out of range",
       [](const tool_config_t& r) { return std::to_string(r.startup[0].raw_value); }, "0"},
      {"startup[1].raw_value = nan", "startup[1].raw_value: \"nan\" is not a number",
       [](const tool_config_t& r) { return std::to_string(r.startup[1].raw_value); }, "0"},
      {"cal[0].sMsg = \"0123456789012345678901234567890123456789\"", "cal[0].sMsg: text longer",
       [](const tool_config_t& r) { return std::string(r.cal[0].sMsg); },
       "0123456789012345678901234567890", "cut"},
      {"sVersion = 123456789", "sVersion: text longer",
       [](const tool_config_t& r) { return std::string(r.sVersion); }, "1234567", "cut"},
  };
  for (const auto& c : cases) {
    std::string out;
    tool_config_t r = load_group(std::string(c.line) + "\n", &out);
    EXPECT_EQ(c.expected, c.field(r)) << c.line;
    EXPECT_EQ(0u, out.find(std::string("veltrona_tool.conf:2: ") + c.report)) << out;
    EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << out;
    EXPECT_NE(std::string::npos, out.find(c.done)) << out;
  }
}

TEST_F(SettingsFile, AcceptedValueForms) {
  struct {
    const char* line;
    std::string (*field)(const tool_config_t&);
    const char* expected;
  } cases[] = {
      {"iPort = 21", [](const tool_config_t& r) { return std::to_string(r.iPort); }, "21"},
      {"iPort=65535", [](const tool_config_t& r) { return std::to_string(r.iPort); }, "65535"},
      {"  iPort\t=\t5.02E2  ", [](const tool_config_t& r) { return std::to_string(r.iPort); },
       "502"},
      {"cal[1].iStep = 7.9", [](const tool_config_t& r) { return std::to_string(r.cal[1].iStep); },
       "7"},
      {"sIpAddr =   10.1.2.3  ", [](const tool_config_t& r) { return std::string(r.sIpAddr); },
       "10.1.2.3"},
      {"sIpAddr = \" a \\\"b\\\" \\\\ \"",
       [](const tool_config_t& r) { return std::string(r.sIpAddr); }, " a \"b\" \\ "},
      {"sIpAddr =", [](const tool_config_t& r) { return std::string(r.sIpAddr); }, ""},
      {"sIpAddr = \"\"   ", [](const tool_config_t& r) { return std::string(r.sIpAddr); }, ""},
      {"cal[0].sMsg = 0123456789012345678901234567890",
       [](const tool_config_t& r) { return std::string(r.cal[0].sMsg); },
       "0123456789012345678901234567890"},
  };
  for (const auto& c : cases) {
    std::string out;
    tool_config_t r = load_group(std::string(c.line) + "\n", &out);
    EXPECT_EQ(c.expected, c.field(r)) << c.line;
    EXPECT_EQ("", out) << c.line;
  }
}

TEST_F(SettingsFile, MalformedLinesAndUnterminatedQuotesMakeTheLoadFail) {
  struct {
    const char* line;
    const char* report;
  } cases[] = {
      {"garbage line", "veltrona_tool.conf:3: "},
      {"= 5", "veltrona_tool.conf:3: "},
      {"i Port = 5", "veltrona_tool.conf:3: "},
      {"sVersion = \"abc\" trailing", "veltrona_tool.conf:3: "},
      {"sVersion = \"abc", "veltrona_tool.conf:3: unterminated quote"},
      {"sVersion = \"abc\\\"", "veltrona_tool.conf:3: unterminated quote"},
  };
  for (const auto& c : cases) {
    write_file(kFile, std::string("[velt_tool_config]\niPort = 600\n") + c.line + "\n");
    tool_config_t r = {};
    std::string out;
    EXPECT_NE(1, load(&r, &out)) << c.line;
    EXPECT_EQ(0u, out.find(c.report)) << c.line << ": " << out;
  }
}

TEST_F(SettingsFile, LinesOutsideOurGroupAreNotJudged) {
  std::string out;
  write_file(kFile,
             "not a setting before any group\n[other]\niPort = 999\nmore garbage = \"\n"
             "[velt_tool_config]\n# comment\n   \n\tiPort = 600\n");
  tool_config_t r = {};
  EXPECT_EQ(1, load(&r, &out));
  EXPECT_EQ("", out);
  EXPECT_EQ(600u, r.iPort);
}

TEST_F(SettingsFile, UnknownKeyIsReportedAndIgnored) {
  std::string out;
  tool_config_t r = load_group("iPort = 600\niFoo = 3\ncal[16].use = 1\n", &out);
  EXPECT_EQ(
      "veltrona_tool.conf:3: unknown key \"iFoo\" ignored\n"
      "veltrona_tool.conf:4: unknown key \"cal[16].use\" ignored\n",
      out);
  tool_config_t expected = defaults();
  expected.iPort = 600;
  EXPECT_EQ(type_out(expected), type_out(r));
}

TEST_F(SettingsFile, DuplicateKeyLastWins) {
  std::string out;
  tool_config_t r = load_group(
      "iPort = 600\nsIpAddr = first\niPort = 700\nsIpAddr = second\niPort = 800\n", &out);
  EXPECT_EQ(800u, r.iPort);
  EXPECT_STREQ("second", r.sIpAddr);
  write_file(kFile, "[velt_tool_config]\niPort = 600\n[other]\n[velt_tool_config]\niPort = 900\n");
  EXPECT_EQ(1, load(&r, &out));
  EXPECT_EQ(900u, r.iPort);
}

TEST_F(SettingsFile, SaveKeepsLinesOutsideTheGroupByteForByte) {
  const std::string before = "# head comment\r\n\n[other]\nx = 1\n  # indented\tcomment\n";
  const std::string after = "[third]\r\ny = \"z\"\r\nno line end";
  write_file(kFile, before + "[velt_tool_config]\niPort = 600\nbad line\n" + after);
  tool_config_t r = unusual_record();
  ASSERT_EQ(1, save(&r));
  EXPECT_EQ(before + "[velt_tool_config]\n" + type_out(r) + after, read_file(kFile));
}

TEST_F(SettingsFile, SaveAppendsAMissingGroupAfterTheOtherLines) {
  struct {
    const char* content;
    const char* separator;
  } cases[] = {
      {"[other]\nx = 1\n", "\n"},
      {"[other]\nx = 1", "\n\n"},
      {"[other]\nx = 1\n\n", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    write_file(kFile, c.content);
    tool_config_t r = defaults();
    ASSERT_EQ(1, save(&r));
    EXPECT_EQ(std::string(c.content) + c.separator + "[velt_tool_config]\n" + type_out(r),
              read_file(kFile));
  }
}

TEST_F(SettingsFile, SaveIntoMissingDirectoryFailsAndCreatesNothing) {
  tool_config_t r = defaults();
  EXPECT_NE(1, save(&r, "no_such_dir/veltrona_tool.conf"));
  EXPECT_TRUE(dir_entries().empty());
}

TEST_F(SettingsFile, SaveOverADirectoryFailsAndLeavesItAsItWas) {
  ASSERT_EQ(0, mkdir(kFile, 0755));
  write_file(std::string(kFile) + "/inside", "keep");
  tool_config_t r = defaults();
  EXPECT_NE(1, save(&r));
  EXPECT_TRUE(fs::is_directory(kFile));
  EXPECT_EQ("keep", read_file(std::string(kFile) + "/inside"));
  EXPECT_EQ(std::vector<std::string>{kFile}, dir_entries());
}

// A write that fails half-way (the file size limit stops it) must not touch the old file.
TEST_F(SettingsFile, FailedWriteLeavesTheOldFileExactlyAsItWas) {
  const std::string old_content = "# mine\n[velt_tool_config]\niPort = 600\n";
  write_file(kFile, old_content);
  ASSERT_EQ(0, chmod(kFile, 0640));
  rlimit saved;
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
  rlimit small = saved;
  small.rlim_cur = 512;
  sighandler_t old_handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
  tool_config_t r = unusual_record();
  int rc = save(&r);
  EXPECT_EQ(0, setrlimit(RLIMIT_FSIZE, &saved));
  signal(SIGXFSZ, old_handler);
  EXPECT_NE(1, rc);
  EXPECT_EQ(old_content, read_file(kFile));
  struct stat st;
  ASSERT_EQ(0, stat(kFile, &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  EXPECT_EQ(std::vector<std::string>{kFile}, dir_entries());
}

TEST_F(SettingsFile, SaveKeepsTheFileMode) {
  write_file(kFile, "[velt_tool_config]\n");
  ASSERT_EQ(0, chmod(kFile, 0600));
  tool_config_t r = defaults();
  ASSERT_EQ(1, save(&r));
  struct stat st;
  ASSERT_EQ(0, stat(kFile, &st));
  EXPECT_EQ(0600u, st.st_mode & 07777);
}

TEST_F(SettingsFile, ForeignGroupTouchesNothing) {
  write_file(kFile, "[other_group]\niPort = 600\n");
  tool_config_t r;
  memset(&r, 0x3C, sizeof(r));
  tool_config_t before = r;
  std::string out;
  EXPECT_NE(1, load(&r, &out, kFile, "other_group"));
  EXPECT_EQ(0, memcmp(&before, &r, sizeof(r)));
  EXPECT_NE(std::string::npos, out.find("other_group")) << out;
  EXPECT_NE(1, save(&r, kFile, "other_group"));
  EXPECT_EQ(0, memcmp(&before, &r, sizeof(r)));
  EXPECT_EQ("[other_group]\niPort = 600\n", read_file(kFile));
}

TEST_F(SettingsFile, UnreadableFileMakesTheLoadFail) {
  ASSERT_EQ(0, mkdir(kFile, 0755));
  tool_config_t r = {};
  std::string out;
  EXPECT_NE(1, load(&r, &out));
  EXPECT_NE(std::string::npos, out.find(kFile)) << out;
}

TEST_F(SettingsFile, FullPathsWork) {
  std::string path = dir_ + "/sub.conf";
  tool_config_t r = unusual_record();
  ASSERT_EQ(1, save(&r, path.c_str()));
  tool_config_t read = {};
  std::string out;
  ASSERT_EQ(1, load(&read, &out, path.c_str()));
  EXPECT_EQ(type_out(r), type_out(read));
  write_file(path, "[velt_tool_config]\niPort = 3\n");
  ASSERT_EQ(1, load(&read, &out, path.c_str()));
  EXPECT_EQ(0u, out.find(path + ":2: iPort")) << out;
}

TEST_F(SettingsFile, FilesOverOneMebibyteAreRefusedUnread) {
  const std::string head = "[velt_tool_config]\niPort = 600\n";
  const size_t limit = 1024 * 1024;
  struct {
    const char* name;
    size_t size;  // whole file, padded with blank lines
    bool sparse;  // a hole instead of written bytes: far too much to read in a test
    bool loads;
  } cases[] = {
      {"exactly 1 MiB", limit, false, true},
      {"one byte more", limit + 1, false, false},
      {"5 GB", 5000000000ull, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.sparse) {
      write_file(kFile, head);
      ASSERT_EQ(0, truncate(kFile, static_cast<off_t>(c.size)));
    } else {
      write_file(kFile, head + std::string(c.size - head.size(), '\n'));
    }
    tool_config_t r = {};
    std::string out;
    EXPECT_EQ(c.loads ? 1 : 0, load(&r, &out));
    EXPECT_EQ(c.loads ? "" : "veltrona_tool.conf: larger than 1 MiB, not read\n", out);
    if (c.loads) {
      EXPECT_EQ(600u, r.iPort);
      continue;
    }
    // A save reads the file first, so it fails the same way and leaves the file alone.
    r = defaults();
    EXPECT_NE(1, save(&r, kFile, CONFIG_GROUP_NAME, &out));
    EXPECT_EQ("veltrona_tool.conf: larger than 1 MiB, not read\n", out);
    struct stat st;
    ASSERT_EQ(0, stat(kFile, &st));
    EXPECT_EQ(c.size, static_cast<size_t>(st.st_size));
    EXPECT_EQ(std::vector<std::string>{kFile}, dir_entries());
  }
}

TEST_F(SettingsFile, ByteOrderMarkIsSkippedAndKeptOnSave) {
  const std::string bom = "\xEF\xBB\xBF";
  struct {
    const char* before;   // what follows the mark
    const char* outside;  // the lines outside the group a save keeps, in front of it
  } cases[] = {
      {"[velt_tool_config]\niPort = 600\n", ""},
      {"# lab 2\n[velt_tool_config]\niPort = 600\n", "# lab 2\n"},
      {"iPort = 1\n[velt_tool_config]\niPort = 600\n", "iPort = 1\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before);
    write_file(kFile, bom + c.before);
    tool_config_t r = {};
    std::string out;
    ASSERT_EQ(1, load(&r, &out));
    EXPECT_EQ("", out);
    EXPECT_EQ(600u, r.iPort);
    r.iPort = 700;
    ASSERT_EQ(1, save(&r));
    EXPECT_EQ(bom + c.outside + "[velt_tool_config]\n" + type_out(r), read_file(kFile));
  }
  // A file of nothing but the mark gains the group after it.
  write_file(kFile, bom);
  tool_config_t r = defaults();
  ASSERT_EQ(1, save(&r));
  EXPECT_EQ(bom + "[velt_tool_config]\n" + type_out(r), read_file(kFile));
}

TEST_F(SettingsFile, FileWithoutOurGroupIsReportedAndLoadsTheDefaults) {
  const char* contents[] = {
      "iPort = 600\nsIpAddr = 10.0.0.1\n", "[velt_tool_conf]\niPort = 600\n",
      "[VELT_TOOL_CONFIG]\niPort = 600\n", "[other]\niPort = 600\n",
      "\xEF\xBB\xBFiPort = 600\n",         "",
  };
  for (const char* content : contents) {
    SCOPED_TRACE(content);
    write_file(kFile, content);
    tool_config_t r;
    memset(&r, 0x5A, sizeof(r));
    std::string out;
    EXPECT_EQ(1, load(&r, &out));
    EXPECT_EQ("veltrona_tool.conf: no [velt_tool_config] group, using the defaults\n", out);
    EXPECT_EQ(type_out(defaults()), type_out(r));
  }
}

TEST_F(SettingsFile, SaveGoesThroughSymbolicLinksAndKeepsTheMode) {
  ASSERT_EQ(0, mkdir("shared", 0755));
  const std::string absolute = dir_ + "/shared/abs.conf";
  struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> links;  // link name, link text, in order
    std::string target;                                      // the file that must receive the group
    bool target_exists;
    mode_t mode;
  } cases[] = {
      {"relative, same directory", {{kFile, "real.conf"}}, "real.conf", true, 0640},
      {"relative, other directory",
       {{kFile, "shared/other.conf"}},
       "shared/other.conf",
       true,
       0604},
      {"absolute", {{kFile, absolute}}, absolute, true, 0600},
      {"chain", {{kFile, "shared/hop"}, {"shared/hop", "../real2.conf"}}, "real2.conf", true, 0664},
      {"dangling", {{kFile, "shared/new.conf"}}, "shared/new.conf", false, 0},
  };
  tool_config_t r = unusual_record();
  const std::string expected = "# kept\n[velt_tool_config]\n" + type_out(r);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& [link, text] : c.links) ASSERT_EQ(0, symlink(text.c_str(), link.c_str()));
    if (c.target_exists) {
      write_file(c.target, "# kept\n[velt_tool_config]\niPort = 600\n");
      ASSERT_EQ(0, chmod(c.target.c_str(), c.mode));
    }
    std::string out;
    ASSERT_EQ(1, save(&r, kFile, CONFIG_GROUP_NAME, &out)) << out;
    EXPECT_EQ("", out);
    for (const auto& [link, text] : c.links) {
      EXPECT_TRUE(fs::is_symlink(link)) << link;
      EXPECT_EQ(text, fs::read_symlink(link).string());
    }
    std::string content = read_file(c.target);
    EXPECT_EQ(c.target_exists ? expected : "[velt_tool_config]\n" + type_out(r), content);
    struct stat st;
    ASSERT_EQ(0, stat(c.target.c_str(), &st));
    if (c.target_exists) {
      EXPECT_EQ(c.mode, st.st_mode & 07777);
    }
    // No temporary file left beside the link or the target.
    for (const char* d : {".", "shared"}) {
      for (const auto& e : fs::directory_iterator(d)) {
        EXPECT_EQ(std::string::npos, e.path().filename().string().find(".conf.")) << e.path();
      }
    }
    for (const auto& [link, text] : c.links) unlink(link.c_str());
    unlink(c.target.c_str());
  }
}

TEST_F(SettingsFile, LoopOfLinksFailsTheSave) {
  ASSERT_EQ(0, symlink("b.conf", kFile));
  ASSERT_EQ(0, symlink(kFile, "b.conf"));
  tool_config_t r = defaults();
  std::string out;
  EXPECT_NE(1, save(&r, kFile, CONFIG_GROUP_NAME, &out));
  EXPECT_EQ("veltrona_tool.conf: too many levels of symbolic links\n", out);
  EXPECT_TRUE(fs::is_symlink(kFile));
  EXPECT_EQ(2u, dir_entries().size());
}

TEST_F(SettingsFile, FileWithoutAnyWriteBitIsNotReplaced) {
  const std::string old_content = "[velt_tool_config]\niPort = 600\n";
  struct {
    mode_t mode;
    bool through_link;
    bool saved;
  } cases[] = {
      {0444, false, false}, {0400, false, false}, {0, false, false},   {0555, false, false},
      {0444, true, false},  {0644, false, true},  {0464, false, true}, {0446, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::oct << c.mode << (c.through_link ? " link" : ""));
    const char* target = c.through_link ? "real.conf" : kFile;
    if (c.through_link) {
      ASSERT_EQ(0, symlink(target, kFile));
    }
    write_file(target, old_content);
    ASSERT_EQ(0, chmod(target, c.mode));
    tool_config_t r = defaults();
    std::string out;
    EXPECT_EQ(c.saved ? 1 : 0, save(&r, kFile, CONFIG_GROUP_NAME, &out));
    EXPECT_EQ(c.saved ? "" : "veltrona_tool.conf: no write permission, not replaced\n", out);
    EXPECT_EQ(c.saved ? "[velt_tool_config]\n" + type_out(r) : old_content, read_file(target));
    struct stat st;
    ASSERT_EQ(0, stat(target, &st));
    EXPECT_EQ(c.mode, st.st_mode & 07777);
    EXPECT_EQ(c.through_link ? 2u : 1u, dir_entries().size());
    unlink(kFile);
    unlink(target);
  }
}

}  // namespace
