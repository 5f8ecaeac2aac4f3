// Unit-test helpers for the standard streams: stream_capture redirects one to a temporary file,
// so a test can compare exactly what a function printed; feed_stdin gives standard input a text
// to read, as answers arrive when the tool is scripted.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "console/tokenizer.h"
#include "core/command_status.h"
#include "core/input.h"

// Makes stdin read text from a pipe (text must fit in the pipe's buffer, 64 KiB); what core/input
// had buffered or taken for end of input is forgotten.
inline void feed_stdin(const std::string& text) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fds[1]);
  std::string path = "/dev/fd/" + std::to_string(fds[0]);
  ASSERT_NE(freopen(path.c_str(), "r", stdin), nullptr);
  close(fds[0]);
  input_reset();
}

class stream_capture {
 public:
  explicit stream_capture(FILE* stream = stdout) : stream_(stream), fd_(fileno(stream)) {
    fflush(stream_);
    tmp_ = tmpfile();
    saved_ = dup(fd_);
    dup2(fileno(tmp_), fd_);
  }
  stream_capture(const stream_capture&) = delete;
  stream_capture& operator=(const stream_capture&) = delete;

  // Restores the stream and returns what was written to it.
  std::string finish() {
    fflush(stream_);
    dup2(saved_, fd_);
    close(saved_);
    std::string text;
    rewind(tmp_);
    for (int c; (c = getc(tmp_)) != EOF;) text += static_cast<char>(c);
    fclose(tmp_);
    return text;
  }

 private:
  FILE* stream_;
  int fd_;
  int saved_;
  FILE* tmp_;
};

// A file in a fresh directory under /tmp; the file and the directory go when the object does.
struct scratch_file {
  scratch_file() {
    char pattern[] = "/tmp/vt_test_XXXXXX";
    if (mkdtemp(pattern) != nullptr) dir = pattern;
    if (!dir.empty()) path = dir + "/file";
  }
  ~scratch_file() {
    unlink(path.c_str());
    rmdir(dir.c_str());
  }
  void write(const std::string& text) const { std::ofstream(path, std::ios::binary) << text; }
  std::string read() const {
    std::stringstream all;
    all << std::ifstream(path, std::ios::binary).rdbuf();
    return all.str();
  }
  std::string dir;
  std::string path;
};

// What a command handler printed and the status it returned.
struct handler_run {
  std::string out;
  command_status status;
};

// Runs a command handler on the arguments after the command word, cut into tokens as the console
// cuts them, and returns what it printed and its status.
template <typename handler_fn>
handler_run run_handler_status(handler_fn handler, const char* arguments) {
  char line[512];
  snprintf(line, sizeof(line), "%s", arguments);
  char* cursor = line;
  command_args args = take_all_tokens(&cursor);
  stream_capture out;
  command_status status = handler(args);
  return {out.finish(), status};
}

// The same, for the printed text alone.
template <typename handler_fn>
std::string run_handler(handler_fn handler, const char* arguments) {
  return run_handler_status(handler, arguments).out;
}
