#include "registers/read_plan.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The whole catalogue covers 574 words in 10 runs without a gap. One run, 5288 to 5537, is 250
// words, and the table at 5408 to 5422 stands across its middle word, 5413: kept whole, it makes
// that run three requests, so twelve is the fewest.
TEST(ReadPlan, WholeCatalogueIsTwelveRequestsEachEntryWholeInOne) {
  std::vector<const modbus_reg_entry*> all;
  for (const modbus_reg_entry& e : modbus_reg_table) all.push_back(&e);
  read_plan plan = plan_reads(all.data(), MODBUS_REG_COUNT, READ_BLOCK_MAX, {});
  ASSERT_EQ(plan.blocks.size(), 12u);
  int words = 0, covered = 0;
  for (const read_block& b : plan.blocks) {
    EXPECT_LE(b.words.count, READ_BLOCK_MAX);
    words += b.words.count;
    for (int k = b.first; k < b.first + b.entries; k++, covered++) {
      const modbus_reg_entry* e = all[plan.order[k]];
      EXPECT_GE(e->address, b.words.address) << e->name;
      EXPECT_LE(e->address + reg_words_of_type(e->type), b.words.address + b.words.count)
          << e->name;
    }
  }
  EXPECT_EQ(words, 574);
  EXPECT_EQ(covered, MODBUS_REG_COUNT);
  EXPECT_EQ(plan_reads(all.data(), MODBUS_REG_COUNT, 1, {}).blocks.size(), 248u);
}

TEST(ReadPlan, MergesTouchingAndOverlappingNeverAGapTheLimitOrAnEntry) {
  struct entry {
    uint16_t address;
    int32_t type;
  };
  const int32_t D10 = DWORD_ARRAY_10, C10 = CHAR_ARRAY_10, CAL = SET_CALIB;
  const std::vector<entry> words_125 = {{5000, D10}, {5020, D10}, {5040, D10}, {5060, D10},
                                        {5080, D10}, {5100, D10}, {5120, C10}, {5125, WORD}};
  const struct {
    const char* what;
    int limit;
    std::vector<word_span> apart;
    std::vector<entry> entries;
    std::vector<word_span> expected;
  } cases[] = {
      {"touching, out of order", 125, {}, {{5122, FLOAT}, {5120, DWORD}}, {{5120, 4}}},
      {"a gap of one word", 125, {}, {{5120, WORD}, {5122, WORD}}, {{5120, 1}, {5122, 1}}},
      {"same address twice", 125, {}, {{6129, FLOAT}, {6129, FLOAT}, {6131, FLOAT}}, {{6129, 4}}},
      {"one inside another", 15, {}, {{5288, CAL}, {5290, WORD}}, {{5288, 15}}},
      {"never split", 40, {}, {{5000, D10}, {5020, D10}, {5040, CAL}}, {{5000, 40}, {5040, 15}}},
      {"125 words, then one", 125, {}, words_125, {{5000, 125}, {5125, 1}}},
      {"limit 1: each alone, whole", 1, {}, {{5120, FLOAT}, {5122, WORD}}, {{5120, 2}, {5122, 1}}},
      {"a refused span stands alone",
       125,
       {{5122, 2}},
       {{5120, WORD}, {5121, FLOAT}, {5123, WORD}, {5124, WORD}},
       {{5120, 1}, {5121, 2}, {5123, 1}, {5124, 1}}},
  };
  for (const auto& c : cases) {
    std::vector<modbus_reg_entry> entries;
    for (const entry& e : c.entries) entries.push_back({e.address, "", e.type, ""});
    std::vector<const modbus_reg_entry*> pointers;
    for (const modbus_reg_entry& e : entries) pointers.push_back(&e);
    std::vector<word_span> got;
    for (const read_block& b :
         plan_reads(pointers.data(), static_cast<int>(pointers.size()), c.limit, c.apart).blocks)
      got.push_back(b.words);
    EXPECT_EQ(got, c.expected) << c.what;
  }
}

}  // namespace
