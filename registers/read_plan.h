// Reading many catalogue registers in few requests: the plan of which words to ask for in which
// request. Pure code, no device; the link's planned reads carry a plan out.
#pragma once

#include <cstdint>
#include <vector>

#include "registers/catalogue.h"

// Most registers one Modbus read carries.
constexpr int READ_BLOCK_MAX = 125;

// Words from `address` on: a request of a plan, or a span of words to keep apart.
struct word_span {
  int address;
  int count;
  bool operator==(const word_span&) const = default;
};

// One request of a plan: `words` covers the plan's entries order[first] to
// order[first + entries - 1], each of them whole.
struct read_block {
  word_span words;
  int first;
  int entries;
  bool operator==(const read_block&) const = default;
};

struct read_plan {
  std::vector<int> order;  // indices into the planned entries, by address (ties: as given)
  std::vector<read_block> blocks;
};

// Plans the reads of entries[0] to entries[count - 1] in the fewest requests, in address order.
// Entries whose words touch or overlap share a request as long as it covers at most `limit`
// words; a request never spans a word no entry covers, never splits an entry (an entry wider
// than the limit is a request of its own), and an entry that overlaps one of `apart` is a request
// of its own. A limit below 1 counts as 1, which gives one request per entry.
read_plan plan_reads(const modbus_reg_entry* const* entries, int count, int limit,
                     const std::vector<word_span>& apart);
