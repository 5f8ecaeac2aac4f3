// Unit-test helper: redirects a standard stream's file descriptor to a temporary file, so a
// test can compare exactly what a function printed.
#ifndef VELTRONA_TESTS_STREAM_CAPTURE_H_
#define VELTRONA_TESTS_STREAM_CAPTURE_H_

#include <unistd.h>

#include <cstdio>
#include <string>

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

#endif  // VELTRONA_TESTS_STREAM_CAPTURE_H_
