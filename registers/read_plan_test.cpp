#include "registers/read_plan.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<const modbus_reg_entry*> whole_catalogue() {
  std::vector<const modbus_reg_entry*> all;
  for (const modbus_reg_entry& e : modbus_reg_table) all.push_back(&e);
  return all;
}

std::vector<word_span> requests(const std::vector<modbus_reg_entry>& entries, int limit,
                                const std::vector<word_span>& apart = {}) {
  std::vector<const modbus_reg_entry*> pointers;
  for (const modbus_reg_entry& e : entries) pointers.push_back(&e);
  std::vector<word_span> out;
  for (const read_block& b :
       plan_reads(pointers.data(), static_cast<int>(pointers.size()), limit, apart).blocks)
    out.push_back(b.words);
  return out;
}

// The whole catalogue covers 574 words in 10 runs without a gap. One run, 5288 to 5537, is 250
// words, and the table at 5408 to 5422 stands across its middle word, 5413: kept whole, it makes
// that run three requests, so twelve is the fewest.
TEST(ReadPlan, WholeCatalogueIsTwelveRequestsEachEntryWholeInOne) {
  std::vector<const modbus_reg_entry*> all = whole_catalogue();
  read_plan plan = plan_reads(all.data(), MODBUS_REG_COUNT, READ_BLOCK_MAX, {});
  ASSERT_EQ(plan.blocks.size(), 12u);
  int words = 0, covered = 0;
  for (const read_block& b : plan.blocks) {
    EXPECT_LE(b.words.count, READ_BLOCK_MAX);
    words += b.words.count;
    for (int k = b.first; k < b.first + b.entries; k++) {
      const modbus_reg_entry* e = all[plan.order[k]];
      EXPECT_GE(e->address, b.words.address) << e->name;
      EXPECT_LE(e->address + reg_words_of_type(e->type), b.words.address + b.words.count)
          << e->name;
      covered++;
    }
  }
  EXPECT_EQ(words, 574);
  EXPECT_EQ(covered, MODBUS_REG_COUNT);
  EXPECT_EQ(plan_reads(all.data(), MODBUS_REG_COUNT, 1, {}).blocks.size(), 248u);
}

TEST(ReadPlan, MergesTouchingAndOverlappingNeverAGapTheLimitOrAnEntry) {
  struct plan_case {
    const char* what;
    std::vector<modbus_reg_entry> entries;
    int limit;
    std::vector<word_span> apart;
    std::vector<word_span> expected;
  };
  const plan_case cases[] = {
      {"touching, given out of order",
       {{5122, "", FLOAT, ""}, {5120, "", DWORD, ""}},
       125,
       {},
       {{5120, 4}}},
      {"a gap of one word",
       {{5120, "", WORD, ""}, {5122, "", WORD, ""}},
       125,
       {},
       {{5120, 1}, {5122, 1}}},
      {"the same address twice is read once",
       {{6129, "", FLOAT, ""}, {6129, "", FLOAT, ""}, {6131, "", FLOAT, ""}},
       125,
       {},
       {{6129, 4}}},
      {"an entry inside another",
       {{5288, "", SET_CALIB, ""}, {5290, "", WORD, ""}},
       15,
       {},
       {{5288, 15}}},
      {"the limit is never passed, an entry never split",
       {{5000, "", DWORD_ARRAY_10, ""}, {5020, "", DWORD_ARRAY_10, ""}, {5040, "", SET_CALIB, ""}},
       40,
       {},
       {{5000, 40}, {5040, 15}}},
      {"125 words in one, the next word in another",
       {{5000, "", DWORD_ARRAY_10, ""},
        {5020, "", DWORD_ARRAY_10, ""},
        {5040, "", DWORD_ARRAY_10, ""},
        {5060, "", DWORD_ARRAY_10, ""},
        {5080, "", DWORD_ARRAY_10, ""},
        {5100, "", DWORD_ARRAY_10, ""},
        {5120, "", CHAR_ARRAY_10, ""},
        {5125, "", WORD, ""}},
       125,
       {},
       {{5000, 125}, {5125, 1}}},
      {"limit 1: each entry alone, and whole",
       {{5120, "", FLOAT, ""}, {5122, "", WORD, ""}},
       1,
       {},
       {{5120, 2}, {5122, 1}}},
      {"an entry in a refused span stands alone",
       {{5120, "", WORD, ""}, {5121, "", FLOAT, ""}, {5123, "", WORD, ""}, {5124, "", WORD, ""}},
       125,
       {{5122, 2}},
       {{5120, 1}, {5121, 2}, {5123, 1}, {5124, 1}}},
  };
  for (const plan_case& c : cases)
    EXPECT_EQ(requests(c.entries, c.limit, c.apart), c.expected) << c.what;
}

}  // namespace
