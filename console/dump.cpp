#include "console/dump.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "console/read_progress.h"
#include "core/lifecycle.h"
#include "core/shared_messages.h"
#include "link/link.h"
#include "registers/values.h"

namespace {

// The widest register (DWORD_ARRAY_10) covers 20 words, well within one request.
constexpr int DUMP_MAX_WORDS = 20;

// A stream and the error number of the first write it refused; after a refusal nothing more is
// written.
struct dump_stream {
  FILE* file;
  bool failed;
  int error;
};

__attribute__((format(printf, 2, 3))) void put(dump_stream* out, const char* format, ...) {
  if (out->failed) return;
  va_list ap;
  va_start(ap, format);
  int n = vfprintf(out->file, format, ap);
  int err = errno;
  va_end(ap);
  if (n < 0) {
    out->failed = true;
    out->error = err;
  }
}

void put_char(dump_stream* out, char c) {
  if (out->failed) return;
  if (fputc(static_cast<unsigned char>(c), out->file) == EOF) {
    out->failed = true;
    out->error = errno;
  }
}

// Value text of one register in the file. Unlike the screen form, a blank stands between a number
// and its unit and no hexadecimal forms appear besides the bytes; every item ends with a blank.
void put_value_text(dump_stream* out, const modbus_reg_entry* e, const uint16_t* w) {
  switch (e->type) {
    case FLOAT:
      put(out, "%g %s", bits_to_float(join_words(w)), e->unit);
      break;
    case WORD:
      put(out, "%d %s", w[0], e->unit);
      break;
    case DWORD:
      put(out, "%d %s", static_cast<int32_t>(join_words(w)), e->unit);
      break;
    case READ_CALIB:
      // A read point is the ADC count followed by the value it stands for.
      for (int j = 0; j < 5; ++j) {
        const uint16_t* p = w + 3 * j;
        put(out, "X%d=%d,Y%d=%g; ", j + 1, p[0], j + 1, bits_to_float(join_words(p + 1)));
      }
      break;
    case SET_CALIB:
      // A set point is the value followed by the DAC count that produces it.
      for (int j = 0; j < 5; ++j) {
        const uint16_t* p = w + 3 * j;
        put(out, "X%d=%g,Y%d=%d; ", j + 1, bits_to_float(join_words(p)), j + 1, p[2]);
      }
      break;
    case BYTE_ARRAY_06:
      for (int i = 0; i < 6; ++i) put(out, "%02X ", (w[i / 2] >> (8 * (i % 2))) & 0xFF);
      break;
    case CHAR_ARRAY_10:
      // Control bytes as \xHH, as on screen: a line end in a password must not cut the file's line.
      put(out, "%s", char_array_text(w).c_str());
      break;
    case DWORD_ARRAY_10:
      // The event log holds ten values; the dump keeps the first five (words 0 to 9).
      for (int i = 0; i < 5; ++i) put(out, "%d ", static_cast<int32_t>(join_words(w + 2 * i)));
      break;
    default:
      break;
  }
}

}  // namespace

int write_dump_line(FILE* stream, const modbus_reg_entry* entry, const uint16_t* words) {
  dump_stream out = {stream, false, 0};
  put(&out, "%s = ", entry->name);
  put_value_text(&out, entry, words);
  put_char(&out, '\n');
  if (!out.failed) return 0;
  errno = out.error;
  return -1;
}

int dump_value_text(const modbus_reg_entry* entry, const uint16_t* words, char* buf, size_t size) {
  if (size == 0) return -1;
  buf[0] = '\0';
  // The one formatter the file is written with, so that a text compared with a file's line is
  // the text DUMP would have written. One byte stays free for the terminator.
  FILE* stream = fmemopen(buf, size, "w");
  if (stream == nullptr) return -1;
  setvbuf(stream, nullptr, _IONBF, 0);
  dump_stream out = {stream, false, 0};
  put_value_text(&out, entry, words);
  long used = ftell(stream);
  fclose(stream);
  if (out.failed || used < 0 || static_cast<size_t>(used) >= size) {
    buf[size - 1] = '\0';
    return -1;
  }
  buf[used] = '\0';
  return 0;
}

command_status cmd_dump(const command_args& args) {
  const char* path = args[0].c_str();
  errno = 0;
  // The dump holds every readable register, the passwords among them: a new file is the
  // user's alone. A file that exists keeps its mode, and is emptied as "w+" does.
  int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  FILE* f = fd < 0 ? nullptr : fdopen(fd, "w+");
  if (f == nullptr && fd >= 0) close(fd);
  if (f == nullptr) {
    msg_file_open_error(path, errno);
    return CMD_FAILED;
  }

  // A full disk or a device that takes no data shows up as a refused write, often only when the
  // stream's buffer is flushed, at the latest on the close. The first refusal ends the dump: the
  // file is incomplete whatever follows, so the remaining registers are not read.
  bool failed = false;
  int error = 0;
  bool read_failed = false;
  uint16_t words[DUMP_MAX_WORDS];
  read_progress progress;
  read_progress_start(&progress, MODBUS_REG_COUNT);
  for (int i = 0; i < MODBUS_REG_COUNT; ++i) {
    read_progress_update(&progress, i);
    const modbus_reg_entry* entry = &modbus_reg_table[i];
    if (entry->address == 0) continue;
    request_result result = link_read(entry->address, reg_words_of_type(entry->type), words);
    // Ctrl-C ends the tool: the registers left are not read and get no line on the screen.
    if (result == REQUEST_STOPPED) {
      read_progress_erase(&progress);
      fclose(f);
      return CMD_FAILED;
    }
    if (result != REQUEST_SERVED) {
      read_progress_erase(&progress);
      printf("Error read %s\n", entry->name);
      read_failed = true;
      continue;
    }
    if (write_dump_line(f, entry, words) < 0) {
      failed = true;
      error = errno;
      break;
    }
  }
  read_progress_erase(&progress);
  errno = 0;
  if (fclose(f) != 0 && !failed) {
    failed = true;
    error = errno;
  }
  if (failed) {
    if (interrupted_by_stop(error)) return CMD_FAILED;
    printf("Error writing file: %s [errno=%d]\n", path, error);
    return CMD_FAILED;
  }
  printf("Dumped to %s\n", path);
  return read_failed ? CMD_FAILED : CMD_OK;
}
