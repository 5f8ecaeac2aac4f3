#include "link/planned_reads.h"

#include <algorithm>
#include <cstring>

#include "core/lifecycle.h"
#include "registers/read_plan.h"

int read_block_limit = READ_BLOCK_MAX;

namespace {

// What the device refused to read in one request on the present connection; console thread only.
// A device that maps no register in a gap, or takes fewer words than asked, says so the same
// way each time, so asking again would only cost a round trip per block.
struct refused_memory {
  unsigned connection = 0;  // link_connection_serial() when the spans were learnt
  std::vector<word_span> spans;
};
refused_memory refused;

const std::vector<word_span>& refused_spans() {
  if (refused.connection != link_connection_serial()) {
    refused.connection = link_connection_serial();
    refused.spans.clear();
  }
  return refused.spans;
}

// An exception that says the request itself was wrong for this device, not that the device
// can't answer now: reading less at a time may well succeed.
bool refused_for_its_span(int exception) { return exception == 2 || exception == 3; }

// Reads one register alone. Returns false when the stop was requested.
bool read_alone(entry_read* read) {
  read->result = link_read(read->entry->address, reg_words_of_type(read->entry->type), read->words);
  return read->result != REQUEST_STOPPED;
}

}  // namespace

int read_entries(std::vector<entry_read>* reads, const before_request_fn& before_request) {
  std::vector<const modbus_reg_entry*> entries;
  for (const entry_read& r : *reads) entries.push_back(r.entry);
  read_plan plan = plan_reads(entries.data(), static_cast<int>(entries.size()), read_block_limit,
                              refused_spans());
  int done = 0;
  bool first = true;
  // Before every request but the first: the stop, and the caller's say.
  auto may_go_on = [&]() {
    bool go_on = !stop_requested() && (first || !before_request || before_request(done));
    first = false;
    return go_on;
  };
  for (const read_block& block : plan.blocks) {
    if (!may_go_on()) return -1;
    uint16_t words[MAILBOX_WORDS];
    int exception = 0;
    request_result result =
        link_read(static_cast<uint16_t>(block.words.address), block.words.count, words, &exception);
    if (result == REQUEST_STOPPED) return -1;
    bool one_by_one =
        result == REQUEST_REFUSED && refused_for_its_span(exception) && block.entries > 1;
    if (one_by_one) refused.spans.push_back(block.words);
    for (int k = block.first; k < block.first + block.entries; k++) {
      entry_read* read = &(*reads)[plan.order[k]];
      if (one_by_one) {
        if (!may_go_on() || !read_alone(read)) return -1;
      } else {
        read->result = result;
        if (result == REQUEST_SERVED) {
          int offset = read->entry->address - block.words.address;
          int count = reg_words_of_type(read->entry->type);
          memcpy(read->words, words + offset, sizeof(uint16_t) * static_cast<size_t>(count));
        }
      }
      done++;
    }
  }
  return 0;
}
