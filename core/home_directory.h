// The user's home directory, where the tool keeps its files (the history) or bases them (the
// state directory of the write log and the calibration records when XDG_STATE_HOME is not set).
#pragma once

#include <string>

// $HOME when it is set and not empty, otherwise the home directory of the password database's
// entry for the real user; empty when neither gives one. Any thread.
std::string home_directory();

// The base directory of state files: $XDG_STATE_HOME when it is an absolute path (a relative one
// counts as unset), otherwise ~/.local/state. Empty when there is no home directory either. Any
// thread.
std::string state_home();

// Makes every missing directory of path, each with mode 0700 (the files below hold who wrote what
// to the device). Returns 0, or -1 with errno set (ENOTDIR when path is no directory).
int make_private_directories(const std::string& path);
