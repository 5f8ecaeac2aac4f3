// Device control commands and the interlock change monitor against the simulator.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "tests/console_fixture.h"

namespace {

const std::string standby_ok = ">> Write State = 3 (STANDBY) is OK.\n";

// Interlock words: all clear.
const std::vector<preset> no_interlocks = {{5532, {0, 0, 0, 0, 0, 0}}};

std::string long_lists(uint32_t standby, uint32_t hv, uint32_t trig);

std::vector<transcript_case> device_cases() {
  return {
      {"STATE 3", {}, "STATE 3\n", standby_ok + ">> ", {{16, 5120, {3}}}},
      {"STATE STANDBY", {}, "STATE STANDBY\n", standby_ok + ">> ", {{16, 5120, {3}}}},
      {"STATE stand", {}, "STATE stand\n", standby_ok + ">> ", {{16, 5120, {3}}}},
      {"STATE B", {}, "STATE B\n", standby_ok + ">> ", {{16, 5120, {3}}}},
      {"STATE TRIG",
       {},
       "STATE TRIG\n",
       ">> Write State = 9 (TRIG) is OK.\n>> ",
       {{16, 5120, {9}}}},
      {"STATE 9", {}, "STATE 9\n", ">> Write State = 9 (TRIG) is OK.\n>> ", {{16, 5120, {9}}}},
      {"STATE GER", {}, "STATE ger\n", ">> Write State = 9 (TRIG) is OK.\n>> ", {{16, 5120, {9}}}},
      {"STATE V", {}, "STATE v\n", ">> Write State = 6 (HV) is OK.\n>> ", {{16, 5120, {6}}}},
      {"STATE O", {}, "STATE o\n", ">> Write State = 0 (OFF) is OK.\n>> ", {{16, 5120, {0}}}},
      {"STATE T is in two words", {}, "STATE T\n", ">> Invalid agrument: T\n>> ", {}},
      {"STATE 4", {}, "STATE 4\n", ">> Invalid state: 4\n>> ", {}},
      {"STATE 12", {}, "STATE 12\n", ">> Invalid state: 12\n>> ", {}},
      {"STATE -3", {}, "STATE -3\n", ">> Invalid state: 65533\n>> ", {}},
      {"STATE reads the state", {{5480, {6}}}, "STATE\n", ">> State = 6 (HV)\n>> ", {}},
      {"STATE above 9 has no name", {{5480, {12}}}, "STATE\n", ">> State = 12 ((null))\n>> ", {}},
      {"LOGIN twice",
       {},
       "LOGIN\nlogin now\n",
       ">> Login OK\n>> Login OK\n>> ",
       {{16, 5121, access_code_words("40716253")}, {16, 5121, access_code_words("40716253")}}},
      {"LOGOUT", {}, "LOGOUT\n", ">> Logout OK\n>> ", {{16, 5121, access_code_words("59283746")}}},
      {"RESET", {}, "RESET\n", ">> Reset sent.\n>> ", {{16, 5140, {1}}}},
      {"STATUS option words refused without a read",
       {},
       "STATUS O\nSTATUS x\n",
       ">> Invalid argument: O\n>> Invalid argument: X\n>> ",
       {}},
      {"STATUS short",
       {{5480, {3}},
        {5529, float_words(250.0f)},
        {5525, float_words(3.5f)},
        {5532, {0x0004, 0x0001, 0x0000, 0x8000, 0x0001, 0x0000}}},
       "STATUS short\nSTATUS s\n",
       ">> State = 3 (STANDBY)\nPRF = 250 Hz\nPulse Width = 3.5 us\n"
       "Standby interlock = 0x00010004\nHV interlock      = 0x80000000\n"
       "Trigger interlock = 0x00000001\n"
       ">> State = 3 (STANDBY)\nPRF = 250 Hz\nPulse Width = 3.5 us\n"
       "Standby interlock = 0x00010004\nHV interlock      = 0x80000000\n"
       "Trigger interlock = 0x00000001\n>> ",
       {}},
      {"STATUS long lists every named bit",
       {{5480, {6}},
        {5529, float_words(1000.0f)},
        {5525, float_words(0.25f)},
        {5532, {0x0004, 0x0001, 0x0000, 0x8000, 0x0001, 0x0000}}},
       "STATUS\n",
       ">> State = 6 (HV)\nPRF = 1000 Hz\nPulse Width = 0.25 us\n" +
           long_lists(0x00010004, 0x80000000, 0x00000001) + ">> ",
       {}},
  };
}

const char* const standby_names[] = {
    "Filament Voltage Interlock",
    "Filament Current Interlock",
    "Customer Interface Standby 1 Interlock",
    "Tank Temperature 1 Interlock",
    "Tank Temperature 2 Interlock",
    "Tank cable interlock",
    "Customer Interface Standby 2 Interlock",
    "Magnetrone pt100 temp level interlock",
};

const char* const hv_names[] = {
    "Block Time 1 Interlock",
    "Communication Timeout Interlock",
    "Customer Interface HV Interlock 1",
    "Customer Interface HV Interlock 2",
    "CCPS PWM (short circuit) Interlock",
    "CCPS Over Voltage Interlock",
    "CCPS Over Current Interlock",
    "CCPS Temperature Interlock",
    "CCPS IGBT Interlock",
    "Davarer HV Ps 1 Interlock",
    "Davarer HV Ps 2 Interlock",
    "Tacho input 1",
    "Tacho input 2",
    "Tacho input 3",
};

const char* const trig_names[] = {
    "Block Time 2 Interlock",
    "Hardware Customer Interface Trig Inhibited",
    "Too High PRF Interlock",
    "Short period Arc Interlock",
    "Long Period Arc Interlock",
    "Consecutive Arc Interlock",
    "Bias Power Supply Interlock",
    "Customer Interface Trig Interlock 1",
    "Customer Interface Trig Interlock 2",
    "Too high average power",
    "Too high Reflected power",
    "Duty cycle interlock",
};

std::string bit_line(uint32_t word, int k, const char* name) {
  if (word & (1u << k)) return std::string("\033[31m1: ") + name + "\033[0m\n";
  return std::string("0: ") + name + "\n";
}

template <size_t N>
std::string list(uint32_t word, const char* const (&names)[N]) {
  std::string out;
  for (size_t k = 0; k < N; k++) out += bit_line(word, static_cast<int>(k), names[k]);
  return out;
}

std::string long_lists(uint32_t standby, uint32_t hv, uint32_t trig) {
  char line[64];
  std::string out;
  snprintf(line, sizeof(line), "Standby interlock = 0x%08X\n", standby);
  out += line + list(standby, standby_names);
  snprintf(line, sizeof(line), "HV interlock      = 0x%08X\n", hv);
  out += line + list(hv, hv_names) + bit_line(hv, 31, "CCPS open circuit interlock");
  snprintf(line, sizeof(line), "Trigger interlock = 0x%08X\n", trig);
  out += line + list(trig, trig_names);
  return out;
}

class DeviceTest : public transcript_session {};

TEST_P(DeviceTest, OutputAndWrites) { check_transcript(); }

INSTANTIATE_TEST_SUITE_P(Device, DeviceTest, ::testing::ValuesIn(device_cases()),
                         transcript_case_name);

TEST_F(ConsoleSession, StatusReportsEachFailedReadAndGoesOn) {
  apply({{5480, {3}}, {5525, float_words(3.5f)}, {5532, {0x0004, 0x0000, 0, 0, 0, 0}}});
  ASSERT_EQ(sim.fail_reads(5529, 2), 0);
  ASSERT_EQ(sim.fail_reads(5534, 2), 0);
  tool_result r = run("STATUS SHORT\n");
  EXPECT_EQ(r.out, connected() +
                       ">> State = 3 (STANDBY)\nError read 5529\nPulse Width = 3.5 us\n"
                       "Standby interlock = 0x00000004\nError read 5534\n"
                       "Trigger interlock = 0x00000000\n>> Exit.\n");
  EXPECT_EQ(writes_after_login(), std::vector<sim_write>{});
}

TEST_F(ConsoleSession, LoginFailures) {
  ASSERT_EQ(sim.fail_writes(5121, 5), 0);
  tool_result r = run("LOGIN\nLOGOUT\nSTATE 3\nRESET\n");
  EXPECT_EQ(r.out, connected() + "Login fail!\n>> Login fail!\n>> Logout fail!\n" + standby_ok +
                       ">> Reset sent.\n>> Exit.\n");
  ASSERT_EQ(sim.fail_writes(5120), 0);
  ASSERT_EQ(sim.fail_writes(5140), 0);
  r = run("STATE 3\nRESET\nSTATE\n");
  ASSERT_EQ(sim.fail_reads(5480), 0);
  tool_result failed_read = run("STATE\n");
  EXPECT_EQ(r.out.substr(r.out.find(">> ")),
            ">> Error write.\n>> Error write.\n>> State = 3 (STANDBY)\n>> Exit.\n");
  // The link thread polls the same register and reports its own failure in between.
  EXPECT_NE(failed_read.out.find("Error read.\n"), std::string::npos) << failed_read.out;
  // Refused writes are in the device's log as well: three runs, each starting with its login.
  sim_write login = session_start_login();
  EXPECT_EQ(sim.writes(), (std::vector<sim_write>{login,
                                                  login,
                                                  {16, 5121, access_code_words("59283746")},
                                                  {16, 5120, {3}},
                                                  {16, 5140, {1}},
                                                  login,
                                                  {16, 5120, {3}},
                                                  {16, 5140, {1}},
                                                  login}));
}

// The interlock change monitor runs on the link thread once a second; these cases watch the
// output of a running tool.
class InterlockMonitor : public ConsoleSession {
 protected:
  void start(bool monitor) {
    configure({std::string("iPrintIlockChange = ") + (monitor ? "1" : "0")});
    ConsoleSession::start();
  }
  std::string finish() {
    EXPECT_EQ(tool.write_input("q\n"), 0);
    tool_result r = tool.finish();
    EXPECT_EQ(r.status, 0);
    // The monitor only reads.
    EXPECT_EQ(writes_after_login(), std::vector<sim_write>{});
    return r.out;
  }
  // Waits until the link thread has read the given register at least `count` more times.
  void wait_reads(int address, int count) {
    auto reads_of = [&] {
      int n = 0;
      for (const sim_read& r : sim.reads()) n += r.address == address;
      return n;
    };
    int target = reads_of() + count;
    for (int i = 0; i < 100 && reads_of() < target; i++) usleep(50 * 1000);
    ASSERT_GE(reads_of(), target);
  }
};

const std::string red = "\033[31m";
const std::string green = "\033[32m";
const std::string reset = "\033[0m";

TEST_F(InterlockMonitor, FirstPollReportsSetNamedBitsInRed) {
  apply({{5532, {0x0005, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000}}});
  start(true);
  std::string a =
      "Standby ilock change: " + red + "0->1: Filament Voltage Interlock" + reset + "\n";
  std::string b = "Standby ilock change: " + red + "0->1: Customer Interface Standby 1 Interlock" +
                  reset + "\n";
  ASSERT_EQ(tool.wait_for_output(b), 0) << tool.out();
  std::string out = finish();
  EXPECT_NE(out.find(a + b), std::string::npos) << out;
}

TEST_F(InterlockMonitor, ChangesWhileRunningAndUnnamedBitsSilent) {
  apply(no_interlocks);
  start(true);
  wait_reads(5534, 1);
  // HV bits 3 and 17 (bit 1 of the high register; unnamed) and bit 31 together.
  ASSERT_EQ(sim.set_registers(5534, {0x0008, 0x8002}), 0);
  std::string bit3 = "HV ilock change: " + red + "0->1: Customer Interface HV Interlock 2" + reset;
  std::string bit31 = "HV ilock change: " + red + "0->1: CCPS open circuit interlock" + reset;
  ASSERT_EQ(tool.wait_for_output(bit31), 0) << tool.out();
  ASSERT_EQ(sim.set_registers(5534, {0x0000, 0x8002}), 0);
  std::string cleared =
      "HV ilock change: " + green + "1->0: Customer Interface HV Interlock 2" + reset;
  ASSERT_EQ(tool.wait_for_output(cleared), 0) << tool.out();
  std::string out = finish();
  EXPECT_NE(out.find(bit3 + "\n" + bit31 + "\n"), std::string::npos) << out;
  size_t reports = 0;
  for (size_t at = out.find("ilock change"); at != std::string::npos;
       at = out.find("ilock change", at + 1))
    reports++;
  EXPECT_EQ(reports, 3u) << out;  // bit 17 has no name
  EXPECT_EQ(out.find("Trig ilock"), std::string::npos);
}

TEST_F(InterlockMonitor, FailedReadHidesAShortPulse) {
  apply(no_interlocks);
  start(true);
  wait_reads(5536, 1);
  ASSERT_EQ(sim.fail_reads(5536, 2), 0);
  wait_reads(5536, 1);
  ASSERT_EQ(sim.set_registers(5536, {0x0010, 0x0000}), 0);  // Long Period Arc Interlock
  wait_reads(5536, 2);
  ASSERT_EQ(sim.set_registers(5536, {0x0000, 0x0000}), 0);
  ASSERT_EQ(sim.command("CLEAR FAILS"), 0);
  ASSERT_EQ(sim.set_registers(5536, {0x0001, 0x0000}), 0);
  std::string marker = "Trig ilock change: " + red + "0->1: Block Time 2 Interlock" + reset;
  ASSERT_EQ(tool.wait_for_output(marker), 0) << tool.out();
  std::string out = finish();
  EXPECT_EQ(out.find("Long Period Arc Interlock"), std::string::npos) << out;
}

TEST_F(InterlockMonitor, NoColorPrintsChangesWithoutColours) {
  apply(no_interlocks);
  {
    scoped_env no_color("NO_COLOR", "1");
    start(true);
  }
  wait_reads(5532, 1);
  ASSERT_EQ(sim.set_registers(5532, {0x0001, 0x0000}), 0);
  std::string set = "Standby ilock change: 0->1: Filament Voltage Interlock\n";
  ASSERT_EQ(tool.wait_for_output(set), 0) << tool.out();
  ASSERT_EQ(sim.set_registers(5532, {0x0000, 0x0000}), 0);
  std::string cleared = "Standby ilock change: 1->0: Filament Voltage Interlock\n";
  ASSERT_EQ(tool.wait_for_output(cleared), 0) << tool.out();
  std::string out = finish();
  EXPECT_EQ(out.find('\033'), std::string::npos) << out;
}

TEST_F(ConsoleSession, StatusWithNoColorShowsActiveBitsWithoutColours) {
  apply({{5480, {3}}, {5532, {0x0005, 0x0000, 0x0000, 0x8000, 0x0000, 0x0000}}});
  tool_result coloured = run("STATUS LONG\n");
  tool_result plain;
  {
    scoped_env no_color("NO_COLOR", "1");
    plain = run("STATUS LONG\n");
  }
  EXPECT_NE(coloured.out.find("\033[31m1: Filament Voltage Interlock\033[0m\n"), std::string::npos);
  EXPECT_NE(plain.out.find("\n1: Filament Voltage Interlock\n"), std::string::npos) << plain.out;
  EXPECT_NE(plain.out.find("\n1: CCPS open circuit interlock\n"), std::string::npos) << plain.out;
  EXPECT_EQ(plain.out, without_colours(coloured.out));
}

TEST_F(InterlockMonitor, NoInterlockReadsWhenNotConfigured) {
  apply({{5532, {0x0005, 0, 0, 0, 0, 0}}});
  start(false);
  wait_reads(5480, 2);
  std::string out = finish();
  EXPECT_EQ(out.find("ilock change"), std::string::npos);
  for (const sim_read& r : sim.reads()) EXPECT_TRUE(r.address < 5532 || r.address > 5537) << r;
}

}  // namespace
