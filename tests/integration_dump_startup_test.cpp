// DUMP and STARTUP against the simulator: the exact dump file, the screen lines of failed reads,
// and a STARTUP save that fails mid-session. The other STARTUP sessions (the saved
// configuration, the replay after the login) are transcripts: tests/transcripts/startup.txt.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "registers/catalogue.h"
#include "tests/console_fixture.h"

namespace {

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::vector<uint16_t> concat(std::vector<std::vector<uint16_t>> parts) {
  std::vector<uint16_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// The registers the dump cases give known values; everything else in 5120 to 6199 is zero.
struct known_value {
  int address;
  std::vector<uint16_t> words;
};

const std::vector<known_value>& known_values() {
  static const std::vector<known_value> values = {
      {5120, {3}},
      {5126, float_words(6.3f)},
      {5136, float_words(1e6f)},
      {5179, {0x4241, 0x4443, 0x4645, 0x4847, 0x4A49}},  // ABCDEFGHIJ, ten characters
      {5184, {0x7770, 0x7800}},                          // "pw", then a NUL in a low byte
      {5189, {0xFFFE, 0xFFFF}},
      {5288, concat({float_words(0.5f),
                     {100},
                     float_words(1),
                     {200},
                     float_words(1.5f),
                     {300},
                     float_words(2),
                     {400},
                     float_words(6.3f),
                     {65535}})},
      {5363, concat({{0},
                     float_words(0),
                     {1000},
                     float_words(12.5f),
                     {2000},
                     float_words(25),
                     {3000},
                     float_words(37.5f),
                     {4000},
                     float_words(50)})},
      {5489, {1, 0, 2, 0, 0xFFFF, 0xFFFF, 0, 1, 5, 0, 6, 0, 7, 0, 8, 0, 9, 0, 10, 0}},
      {5509, {0x0000, 0x0001}},
      {5561, {0x1A00, 0x3C2B, 0x5E4D}},
      {6108, float_words(12.5f)},  // 6109 overlaps it and reads 0x4148, 0x0000
      {6123, float_words(-3.25f)},
      {6129, float_words(41.5f)},
      {6131, float_words(38)},
      {6177, {80}},
      {6186, float_words(55.5f)},
  };
  return values;
}

// The dump lines of the registers with known values, as the file must hold them. 5559 reads 1
// because the session-start login sets the access level.
const std::vector<std::pair<std::string, std::string>>& known_lines() {
  static const std::vector<std::pair<std::string, std::string>> lines = {
      {"MB_STATE_SET", "MB_STATE_SET = 3 "},
      {"MB_LOG_IN", "MB_LOG_IN = "},
      {"MB_FIL_SET", "MB_FIL_SET = 6.3 V,A"},
      {"MB_PULSE_WIDTH_SET", "MB_PULSE_WIDTH_SET = 1e+06 us"},
      {"MB_SC_PASSWORD_OPERATOR", "MB_SC_PASSWORD_OPERATOR = ABCDEFGHIJ"},
      {"MB_SC_PASSWORD", "MB_SC_PASSWORD = pw"},
      {"MB_ENABLE_STANDBY_INTERLOCK", "MB_ENABLE_STANDBY_INTERLOCK = -2 "},
      {"MB_FIL_SET_CAL",
       "MB_FIL_SET_CAL = X1=0.5,Y1=100; X2=1,Y2=200; X3=1.5,Y3=300; X4=2,Y4=400; "
       "X5=6.3,Y5=65535; "},
      {"MB_HV_VOLT_READ_CAL",
       "MB_HV_VOLT_READ_CAL = X1=0,Y1=0; X2=1000,Y2=12.5; X3=2000,Y3=25; X4=3000,Y4=37.5; "
       "X5=4000,Y5=50; "},
      {"MB_EVENT_LOG_READ", "MB_EVENT_LOG_READ = 1 2 -1 65536 5 "},
      {"MB_REMAINING_TIME", "MB_REMAINING_TIME = 65536 s"},
      {"MB_ACCESS_LEVEL", "MB_ACCESS_LEVEL = 1 "},
      {"MB_MAC_ADDRESS", "MB_MAC_ADDRESS = 00 1A 2B 3C 4D 5E "},
      {"M050_MB_DUTY_FACTOR_READ", "M050_MB_DUTY_FACTOR_READ = 12.5 %"},
      {"MB_DUTY_FACTOR_INT_LEVEL", "MB_DUTY_FACTOR_INT_LEVEL = 2.34185e-41 %"},
      {"MB_DAVARER_BALANCE ", "MB_DAVARER_BALANCE  = 0 "},
      {"MB_FORWARD_POW_READ ", "MB_FORWARD_POW_READ  = 0 "},
      {"MB_REFLECTED_POW_CORRECTION ", "MB_REFLECTED_POW_CORRECTION  = 0 "},
      {"MB_REFLECTED_POW_READ ", "MB_REFLECTED_POW_READ  = -3.25 dBm"},
      {"M050_MB_PT100_C", "M050_MB_PT100_C = 41.5 \u00b0C"},
      {"M060_MB_PT100_MAG_TEMP", "M060_MB_PT100_MAG_TEMP = 41.5 \u00b0C"},
      {"M050_MB_PT100_D", "M050_MB_PT100_D = 38 \u00b0C"},
      {"M060_MB_PT100_TANK_TEMP", "M060_MB_PT100_TANK_TEMP = 38 \u00b0C"},
      {"MB_CT_PC_OF_MAX", "MB_CT_PC_OF_MAX = 80 %"},
      {"MB_FAN_CONTROL_PC_READ", "MB_FAN_CONTROL_PC_READ = 55.5 %"},
  };
  return lines;
}

// The line of a register whose words are all zero.
std::string zero_line(const modbus_reg_entry& e) {
  std::string value;
  switch (e.type) {
    case FLOAT:
    case WORD:
    case DWORD:
      value = std::string("0 ") + e.unit;
      break;
    case READ_CALIB:
    case SET_CALIB:
      value = "X1=0,Y1=0; X2=0,Y2=0; X3=0,Y3=0; X4=0,Y4=0; X5=0,Y5=0; ";
      break;
    case BYTE_ARRAY_06:
      value = "00 00 00 00 00 00 ";
      break;
    case DWORD_ARRAY_10:
      value = "0 0 0 0 0 ";
      break;
    default:
      break;
  }
  return std::string(e.name) + " = " + value;
}

// The expected file, in catalogue order; entries whose address is in skip have no line.
std::string expected_dump(const std::vector<int>& skip = {}) {
  std::string file;
  for (const modbus_reg_entry& e : modbus_reg_table) {
    bool skipped = false;
    for (int a : skip) skipped = skipped || a == e.address;
    if (skipped) continue;
    std::string line = zero_line(e);
    for (const auto& [name, known] : known_lines())
      if (name == e.name) line = known;
    file += line + "\n";
  }
  return file;
}

class DumpCase : public ConsoleSession {
 protected:
  void SetUp() override {
    ConsoleSession::SetUp();
    if (HasFatalFailure()) return;
    // The register file from the first catalogue address to past the last one.
    for (int a = 5120; a < 6200; a += 100) ASSERT_EQ(sim.set_registers(a, zeros(100)), 0);
    for (const known_value& v : known_values())
      ASSERT_EQ(sim.set_registers(v.address, v.words), 0) << sim.error();
  }
  static std::vector<uint16_t> zeros(int n) { return std::vector<uint16_t>(n, 0); }
  std::string file_text(const std::string& name) {
    std::string text;
    if (read_text_file(dir.path() + "/" + name, &text) < 0) return "<missing>";
    return text;
  }
};

TEST_F(DumpCase, FileHoldsEveryRegisterInCatalogueOrder) {
  tool_result r = run("DUMP regs.txt\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, connect_ok_line(sim.port()) + ">> Dumped to regs.txt\n>> Exit.\n");
  std::string file = file_text("regs.txt");
  EXPECT_EQ(file, expected_dump());

  std::vector<std::string> lines = lines_of(file);
  ASSERT_EQ(lines.size(), 248u);
  EXPECT_EQ(lines.front(), "MB_STATE_SET = 3 ");
  EXPECT_EQ(lines.back(), "MB_FAN_CONTROL_PC_READ = 55.5 %");
  EXPECT_EQ(lines[214], "M050_MB_PT100_C = 41.5 \u00b0C");
  EXPECT_EQ(lines[215], "M060_MB_PT100_MAG_TEMP = 41.5 \u00b0C");
  EXPECT_EQ(lines[216], "M050_MB_PT100_D = 38 \u00b0C");
  EXPECT_EQ(lines[217], "M060_MB_PT100_TANK_TEMP = 38 \u00b0C");
  EXPECT_EQ(lines[207], "MB_RF_AVERAGE_READ = 0 dBm");
  EXPECT_EQ(lines[208], "MB_DAVARER_BALANCE  = 0 ");

  // One read per entry, duplicates and overlaps included, each of its type's length.
  std::vector<sim_read> dump_reads;
  for (const sim_read& rd : sim.reads())
    if (rd.address != 5480 || rd.count != 1) dump_reads.push_back(rd);
  std::vector<sim_read> expected_reads;
  for (const modbus_reg_entry& e : modbus_reg_table) {
    if (e.address == 5480) continue;  // MB_STATE_READ, also polled every second
    expected_reads.push_back({3, e.address, reg_words_of_type(e.type)});
  }
  EXPECT_EQ(dump_reads, expected_reads);
  EXPECT_EQ(writes(), std::vector<sim_write>{session_start_login()});
}

TEST_F(DumpCase, FailedReadsLeaveGapsAndScreenLines) {
  ASSERT_EQ(sim.fail_reads(5120), 0);
  ASSERT_EQ(sim.fail_reads(5561), 0);
  ASSERT_EQ(sim.fail_reads(6129), 0);
  ASSERT_EQ(sim.fail_reads(6186), 0);
  tool_result r = run("DUMP regs.txt\n");
  EXPECT_EQ(r.out, connect_ok_line(sim.port()) +
                       ">> Error read MB_STATE_SET\n"
                       "Error read MB_MAC_ADDRESS\n"
                       "Error read M050_MB_PT100_C\n"
                       "Error read M060_MB_PT100_MAG_TEMP\n"
                       "Error read MB_FAN_CONTROL_PC_READ\n"
                       "Dumped to regs.txt\n>> Exit.\n");
  EXPECT_EQ(file_text("regs.txt"), expected_dump({5120, 5561, 6129, 6186}));
  EXPECT_EQ(writes(), std::vector<sim_write>{session_start_login()});
}

// The state poll of the link thread fails too while every read fails; its lines are its own.
TEST_F(DumpCase, ExistingFileIsEmptiedWhenNoReadSucceeds) {
  ASSERT_EQ(write_text_file(dir.path() + "/regs.txt", std::string(10000, 'x') + "\n"), 0);
  ASSERT_EQ(sim.fail_reads(5120, 1100), 0);
  tool_result r = run("DUMP regs.txt\n");
  std::string screen;
  for (const modbus_reg_entry& e : modbus_reg_table)
    screen += std::string("Error read ") + e.name + "\n";
  EXPECT_EQ(without_poll_failures(r.out),
            connect_ok_line(sim.port()) + ">> " + screen + "Dumped to regs.txt\n>> Exit.\n");
  EXPECT_EQ(file_text("regs.txt"), "");
  EXPECT_EQ(writes(), std::vector<sim_write>{session_start_login()});
}

TEST_F(DumpCase, ExistingFileIsRewritten) {
  ASSERT_EQ(write_text_file(dir.path() + "/regs.txt", std::string(100000, 'x') + "\n"), 0);
  tool_result r = run("DUMP regs.txt\n");
  EXPECT_EQ(r.out, connect_ok_line(sim.port()) + ">> Dumped to regs.txt\n>> Exit.\n");
  EXPECT_EQ(file_text("regs.txt"), expected_dump());
  EXPECT_EQ(writes(), std::vector<sim_write>{session_start_login()});
}

// The dump holds the passwords: a new file is the user's alone, whatever the umask lets through;
// a file that exists keeps its mode (and is rewritten all the same).
TEST_F(DumpCase, NewFileIsPrivateAndAnExistingOneKeepsItsMode) {
  const std::string kept = dir.path() + "/kept.txt";
  ASSERT_EQ(write_text_file(kept, "old\n"), 0);
  ASSERT_EQ(chmod(kept.c_str(), 0644), 0);
  mode_t old_mask = umask(0);
  tool_result r = run("DUMP new.txt\nDUMP kept.txt\n");
  umask(old_mask);
  EXPECT_EQ(r.out, connect_ok_line(sim.port()) +
                       ">> Dumped to new.txt\n>> Dumped to kept.txt\n>> Exit.\n");
  struct stat st;
  ASSERT_EQ(stat((dir.path() + "/new.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ASSERT_EQ(stat(kept.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(file_text("kept.txt"), expected_dump());
}

TEST_F(DumpCase, MissingFilenameAndMissingDirectory) {
  tool_result r = run("DUMP\nDUMP no/such/dir.txt\ndump\n");
  EXPECT_EQ(r.out, connect_ok_line(sim.port()) +
                       ">> Missing filename.\n"
                       ">> Error opening file: no/such/dir.txt [errno=2]\n"
                       ">> Missing filename.\n"
                       ">> Exit.\n");
  for (const sim_read& rd : sim.reads()) EXPECT_EQ(rd.address, 5480) << rd;
  EXPECT_EQ(writes(), std::vector<sim_write>{session_start_login()});
}

// A device that takes no data: the refusal is reported instead of the success line.
TEST_F(DumpCase, FullTargetReportsTheWriteError) {
  tool_result r = run("DUMP /dev/full\n");
  EXPECT_EQ(r.out, connect_ok_line(sim.port()) +
                       ">> Error writing file: /dev/full [errno=28]\n>> Exit.\n");
  EXPECT_EQ(writes(), std::vector<sim_write>{session_start_login()});
}

TEST_F(DumpCase, DirectoryAsTargetCannotBeOpened) {
  ASSERT_EQ(mkdir((dir.path() + "/sub").c_str(), 0755), 0);
  tool_result r = run("DUMP sub\n");
  EXPECT_EQ(r.out,
            connect_ok_line(sim.port()) + ">> Error opening file: sub [errno=21]\n>> Exit.\n");
  EXPECT_EQ(writes(), std::vector<sim_write>{session_start_login()});
}

// Ctrl-C in the middle of a dump ends the tool at once: no screen line for the registers left.
TEST_F(DumpCase, CtrlCStopsTheDumpAtOnce) {
  ASSERT_EQ(sim.set_delay_ms(20), 0);
  start();
  ASSERT_EQ(tool.write_input("DUMP regs.txt\n"), 0);
  ASSERT_TRUE(wait_until([&] { return sim.reads().size() >= 20; }));
  ASSERT_EQ(tool.send_signal(SIGINT), 0);
  tool_result r = finish_clean();
  EXPECT_EQ(r.out, connect_ok_line(sim.port()) + ">> Exit.\n");
  EXPECT_LT(lines_of(file_text("regs.txt")).size(), 248u);
}

// ---------------------------------------------------------------------------------------------

std::string saved_config(const std::string& dir) {
  std::string text;
  if (read_text_file(dir + "/veltrona_tool.conf", &text) < 0) return "<missing>";
  return text;
}

// The other STARTUP cases are in tests/transcripts/startup.txt.

// A save that fails leaves memory as it was: the slot of a refused ADD stays free, a refused
// DELETE keeps its entry.
TEST_F(ConsoleSession, FailedSaveIsUndoneInMemory) {
  configure({"startup[0].iReg = 5136", "startup[0].raw_value = 1056964608"});
  start();
  // A directory in the file's place: the settings library can neither read nor replace it.
  std::string conf = dir.path() + "/veltrona_tool.conf";
  ASSERT_EQ(rename(conf.c_str(), (conf + ".kept").c_str()), 0);
  ASSERT_EQ(mkdir(conf.c_str(), 0755), 0);
  type_until("STARTUP ADD 5120 3\nSTARTUP DELETE 5136\nSTARTUP\n",
             "MB_PULSE_WIDTH_SET (5136) = 0.5us\n>> ");
  ASSERT_EQ(rmdir(conf.c_str()), 0);
  ASSERT_EQ(rename((conf + ".kept").c_str(), conf.c_str()), 0);
  ASSERT_EQ(tool.write_input("STARTUP ADD 5140 1\nSTARTUP\n"), 0);
  // Only the replay of the entry configured at the start.
  tool_result r = finish_clean({{16, 5136, float_words(0.5f)}});

  // The settings library may first say why it could not save; the command's line comes last.
  std::vector<std::string> lines = lines_of(r.out);
  std::vector<std::string> errors;
  for (const std::string& line : lines)
    if (line.find("Error in saving config file.") != std::string::npos) errors.push_back(line);
  EXPECT_EQ(errors.size(), 2u) << r.out;
  std::string tail =
      ">> MB_PULSE_WIDTH_SET (5136) = 0.5us\n"
      ">> Startup entry added: 5140, value = 1 (0x0001)\n"
      ">> MB_PULSE_WIDTH_SET (5136) = 0.5us\n"
      "MB_RESET (5140) = 1 (0x0001)\n"
      ">> Exit.\n";
  EXPECT_TRUE(r.out.size() > tail.size() &&
              r.out.compare(r.out.size() - tail.size(), tail.size(), tail) == 0)
      << r.out;
  // The refused ADD left slot 1 free, so the next ADD took it.
  std::string saved = saved_config(dir.path());
  EXPECT_TRUE(contains(saved, "startup[0].iReg = 5136\n")) << saved;
  EXPECT_TRUE(contains(saved, "startup[1].iReg = 5140\n")) << saved;
  EXPECT_TRUE(contains(saved, "startup[2].iReg = 0\n")) << saved;
}

}  // namespace
