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

// What open_regular_file and open_state_file give instead of a descriptor, besides -1 with errno.
constexpr int FILE_NOT_REGULAR = -2;  // a FIFO, a device, a directory: never opened for good
constexpr int FILE_IS_LINK = -3;      // a symbolic link at a state file's own path: not followed
constexpr int STATE_DIR_UNSAFE = -4;  // the file's directory is not the user's, or others may write

// The reason for one of the three results above, as it follows "<path>: " in a message.
const char* file_refusal_text(int result);

// Opens path with flags (O_RDONLY, or O_RDWR | O_APPEND | O_CREAT; mode 0600 when created),
// checked before it can block: the open itself does not wait for a FIFO's other end, and what it
// opened must be a regular file. The descriptor is blocking again when returned. Returns it, or
// -1 with errno set, or FILE_NOT_REGULAR. Any thread.
int open_regular_file(const char* path, int flags);

// open_regular_file for the tool's own state (the write log, the calibration records, the
// history): a symbolic link at path is not followed (FILE_IS_LINK), and nothing is opened in a
// directory that is neither the user's nor root's, or is writable by group or others
// (STATE_DIR_UNSAFE), so that nobody else can point the tool's writes at a file of their
// choosing. Any thread.
int open_state_file(const std::string& path, int flags);
