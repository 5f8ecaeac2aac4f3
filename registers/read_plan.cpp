#include "registers/read_plan.h"

#include <algorithm>

namespace {

bool overlaps(const word_span& a, const word_span& b) {
  return a.address < b.address + b.count && b.address < a.address + a.count;
}

bool kept_apart(const word_span& words, const std::vector<word_span>& apart) {
  for (const word_span& span : apart)
    if (overlaps(words, span)) return true;
  return false;
}

word_span words_of(const modbus_reg_entry* entry) {
  return {entry->address, reg_words_of_type(entry->type)};
}

}  // namespace

read_plan plan_reads(const modbus_reg_entry* const* entries, int count, int limit,
                     const std::vector<word_span>& apart) {
  read_plan plan;
  for (int i = 0; i < count; i++) plan.order.push_back(i);
  std::stable_sort(plan.order.begin(), plan.order.end(),
                   [entries](int a, int b) { return entries[a]->address < entries[b]->address; });

  // Taking each entry into the open request while it fits is as good as any grouping: entries in
  // address order, a request that ends further on never leaves the next one worse off.
  bool open_alone = false;
  for (int k = 0; k < count; k++) {
    word_span words = words_of(entries[plan.order[k]]);
    bool alone = kept_apart(words, apart);
    if (!plan.blocks.empty() && !alone && !open_alone) {
      read_block& open = plan.blocks.back();
      int end = std::max(open.words.address + open.words.count, words.address + words.count);
      if (words.address <= open.words.address + open.words.count &&
          end - open.words.address <= std::max(limit, 1)) {
        open.words.count = end - open.words.address;
        open.entries++;
        continue;
      }
    }
    plan.blocks.push_back({words, k, 1});
    open_alone = alone;
  }
  return plan;
}
