#include "link/interlock_monitor.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct name_table {
  char names[32][64] = {};
  name_table& name(int bit, const char* text) {
    snprintf(names[bit], sizeof(names[bit]), "%s", text);
    return *this;
  }
};

std::string report(const char* label, const name_table& table, uint32_t now_word,
                   uint32_t previous_word) {
  testing::internal::CaptureStdout();
  interlock_report(label, table.names, now_word, previous_word);
  return testing::internal::GetCapturedStdout();
}

TEST(InterlockReport, ExactLines) {
  name_table full;
  for (int k = 0; k < 32; k++) full.name(k, ("bit " + std::to_string(k)).c_str());
  struct {
    const char* label;
    name_table table;
    uint32_t now_word, previous_word;
    const char* expected;
  } cases[] = {
      {"Standby", name_table().name(0, "Filament Voltage Interlock").name(2, "Standby 1"), 5, 0,
       "Standby ilock change: \033[31m0->1: Filament Voltage Interlock\033[0m\n"
       "Standby ilock change: \033[31m0->1: Standby 1\033[0m\n"},
      {"Standby", name_table().name(0, "zero"), 2, 0, ""},
      {"HV", name_table().name(3, "three").name(17, "seventeen"), (1u << 3) | (1u << 17), 0,
       "HV ilock change: \033[31m0->1: three\033[0m\n"
       "HV ilock change: \033[31m0->1: seventeen\033[0m\n"},
      {"Trig", name_table().name(4, "Long Period Arc Interlock"), 0, 1u << 4,
       "Trig ilock change: \033[32m1->0: Long Period Arc Interlock\033[0m\n"},
      {"HV", full, 0x80000001u, 0x00000003u,
       "HV ilock change: \033[32m1->0: bit 1\033[0m\n"
       "HV ilock change: \033[31m0->1: bit 31\033[0m\n"},
      {"Trig", full, 0x0000F0F0u, 0x0000F0F0u, ""},
      {"Standby", name_table(), 0xFFFFFFFFu, 0, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, report(c.label, c.table, c.now_word, c.previous_word))
        << c.label << " " << c.now_word << " " << c.previous_word;
  }
}

TEST(InterlockReport, EveryChangedNamedBitLowestFirst) {
  name_table full;
  for (int k = 0; k < 32; k++) full.name(k, ("n" + std::to_string(k)).c_str());
  std::string expected;
  for (int k = 0; k < 32; k++)
    expected += "Standby ilock change: \033[31m0->1: n" + std::to_string(k) + "\033[0m\n";
  EXPECT_EQ(expected, report("Standby", full, 0xFFFFFFFFu, 0));
}

}  // namespace
