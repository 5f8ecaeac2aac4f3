// The user's home directory, where the tool keeps its files (the history) or bases them (the
// write log's state directory when XDG_STATE_HOME is not set).
#pragma once

#include <string>

// $HOME when it is set and not empty, otherwise the home directory of the password database's
// entry for the real user; empty when neither gives one. Any thread.
std::string home_directory();
