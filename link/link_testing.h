// Test hooks of the link (link/link_test.cpp); the tool itself never calls them.
#pragma once

// Posts a raw request code and waits for it (an unknown code is answered like a served one).
// Returns the request's result, or -1 as modbus_cmd_read fails.
int link_post_raw(int code);

// Wakes the link thread so that it sees quit_requested at once, taking the link's lock. Any
// thread but a signal handler.
void link_wake();
