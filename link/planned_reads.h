// Reading many catalogue registers through the link in few requests: the registers are planned
// into blocks (registers/read_plan.h), each block is one read through the mailbox, and each
// register's words are cut from its block's answer, so that a register shows exactly what
// reading it alone would show. Console thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "link/link.h"
#include "registers/catalogue.h"

// Most words of one catalogue register (DWORD_ARRAY_10).
constexpr int ENTRY_MAX_WORDS = 20;

// Most words one planned request reads: --max-block, 1 to READ_BLOCK_MAX, READ_BLOCK_MAX unless
// given. Set by the main thread from the command line before the workers start, then only read.
extern int read_block_limit;

// One register to read and what came of it.
struct entry_read {
  const modbus_reg_entry* entry = nullptr;
  request_result result = REQUEST_STOPPED;  // until its request has been answered
  uint16_t words[ENTRY_MAX_WORDS] = {};     // the register's words when REQUEST_SERVED
};

// Called before each request after the first with the number of registers done so far; false
// ends the reading there.
using before_request_fn = std::function<bool(int done)>;

// Reads every register of *reads in blocks of at most read_block_limit words and sets each one's
// result. A block the device refuses as an illegal data address or value is read register by
// register, and its words stay apart from other registers' in later plans until the connection
// is another one (RECONNECT); a block that failed otherwise (a time-out, a lost connection, another
// exception) is not asked again: its registers keep that result. Returns 0, or -1 when the stop was
// requested or before_request said no: the registers not reached keep REQUEST_STOPPED.
int read_entries(std::vector<entry_read>* reads, const before_request_fn& before_request = {});
