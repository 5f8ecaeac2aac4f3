// Writing a whole buffer to a descriptor: the kernel may take a write in pieces (a signal, a
// pipe, a disk filling up), and every file the tool writes must hold all of its text or report
// why not.
#pragma once

#include <cstddef>
#include <string_view>

// Writes all of text to fd, again after a signal interrupted a write or a write took only part.
// A write that takes nothing counts as a full disk. Returns 0, or -1 with errno set (ENOSPC,
// EFBIG at the file-size limit, ...). Any thread.
int write_all(int fd, std::string_view text);
