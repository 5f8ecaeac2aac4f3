#include "core/host_service.h"

#include <gtest/gtest.h>

namespace {

TEST(QpxLineMatches, PositionByPositionRule) {
  struct {
    const char* line;
    int expected;
  } cases[] = {
      {"qpx8_nv.bveltrona_modulator_inuse = 1", 1},
      {"qpx8_nv.bveltrona_modulator_inuse = 0", 0},
      {"qpx8_nv.bveltrona_modulator_inuse\t=\t1", 1},
      {"qpx8_nv.bveltrona_modulator_inuse\v=\f1", 1},
      {" qpx8_nv.bveltrona_modulator_inuse = 1", 0},
      {"qpx8_nv.bveltrona_modulator_inuse = 1 ", 0},
      {"qpx8_nv.bveltrona_modulator_inuse = ", 0},
      {"QPX8_nv.bveltrona_modulator_inuse = 1", 0},
      {"qpx8_nv bveltrona_modulator_inuse = 1", 1},
      {"qpx8_nv.bveltrona_modulator_inuse =11", 1},
      {"", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(qpx_line_matches(c.line), c.expected) << c.line;
}

// Every row of the restore decision table: bits at the check (running, enabled) and after the
// operator's choice.
TEST(HostServiceRestorePlan, DecisionTable) {
  struct {
    const char* situation;
    unsigned bits;
    bool enable, restart, stop;
  } rows[] = {
      {"running, enabled, yes", QPX_WAS_RUNNING | QPX_THREAD_WAS_ENABLED | QPX_RUNNING, true, true,
       false},
      {"running, enabled, not yes",
       QPX_WAS_RUNNING | QPX_THREAD_WAS_ENABLED | QPX_RUNNING | QPX_THREAD_ENABLED, false, false,
       false},
      {"running, disabled", QPX_WAS_RUNNING | QPX_RUNNING, false, false, false},
      {"not running, enabled, yes", QPX_THREAD_WAS_ENABLED | QPX_RUNNING, true, false, true},
      {"not running, disabled, yes", QPX_RUNNING, false, false, true},
      {"not running, enabled, not yes", QPX_THREAD_WAS_ENABLED | QPX_THREAD_ENABLED, false, false,
       false},
      {"not running, disabled, not yes", 0, false, false, false},
      {"not running, enabled, yes, check fails", QPX_THREAD_WAS_ENABLED, true, false, true},
      {"not running, disabled, yes, check fails", 0, false, false, false},
  };
  for (const auto& r : rows) {
    restore_actions plan = host_service_restore_plan(r.bits);
    EXPECT_EQ(plan.enable_thread, r.enable) << r.situation;
    EXPECT_EQ(plan.restart, r.restart) << r.situation;
    EXPECT_EQ(plan.stop, r.stop) << r.situation;
  }
}

}  // namespace
