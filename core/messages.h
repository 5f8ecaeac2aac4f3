// Message library: numbered messages printed on standard output.
#pragma once

// Message numbers.
constexpr int MSG_FOREIGN_GROUP = 0x670003;  // one argument: the group name

// Prints message `number` with its variable arguments. `severity` is 1 for an error.
// Returns 0 for an error message (so a caller's result drops below 1), 1 otherwise.
int iMessageMod_va(int number, int severity, ...);
