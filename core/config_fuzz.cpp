// libFuzzer target of the configuration file reader: any bytes, written to a file and loaded
// with lim_loadFile into a record full of garbage.
//
// What must hold for every input:
//   - the load returns 1 or 0, and neither crashes nor reads or writes outside a buffer;
//   - after a load that returns 1, every numeric item lies within its limits and every text is
//     terminated within its buffer: the item handler's test operation yields 1;
//   - saving that record over the file and loading it again gives the same record.
// Any breach aborts, which libFuzzer reports with the input that caused it.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/settings.h"
#include "core/tool_config.h"

namespace {

// A private directory for the file under test, removed at exit. Constant after initialisation.
std::string work_dir;
std::string config_path;

void remove_work_dir() {
  unlink(config_path.c_str());
  rmdir(work_dir.c_str());
}

void fail(const char* what) {
  fprintf(stderr, "config_fuzz: %s\n", what);
  abort();
}

int write_bytes(const std::string& path, const uint8_t* data, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return -1;
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return close(fd) == 0 && done == size ? 0 : -1;
}

std::string type_out(const tool_config_t& record) {
  char* text = nullptr;
  size_t len = 0;
  FILE* stream = open_memstream(&text, &len);
  if (!stream) fail("open_memstream failed");
  tool_config_t copy = record;
  tool_config_items(CONFIG_GROUP_NAME, &copy, LIM_OP_TYPEOUT, nullptr, stream);
  fclose(stream);
  std::string s(text, len);
  free(text);
  return s;
}

int load(tool_config_t* record) {
  // Whatever the record held before, the load must set every item.
  memset(record, 0xA5, sizeof(*record));
  return lim_loadFile(config_path.c_str(), CONFIG_GROUP_NAME, record, tool_config_callback);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The reader reports bad lines on standard output; libFuzzer's own reports go to stderr.
  if (!freopen("/dev/null", "w", stdout)) fail("cannot silence standard output");
  // Every input is saved with fsync: a memory file system keeps that fast.
  const char* tmp = getenv("TMPDIR");
  std::string base = tmp && *tmp ? tmp : access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string tmpl = base + "/config_fuzz.XXXXXX";
  if (!mkdtemp(tmpl.data())) fail("cannot make a scratch directory");
  work_dir = tmpl;
  config_path = work_dir + "/" + CONFIG_FILE_NAME;
  atexit(remove_work_dir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (write_bytes(config_path, data, size) < 0) fail("cannot write the input file");
  tool_config_t record;
  int rc = load(&record);
  if (rc == 0) return 0;
  if (rc != 1) fail("load returned neither 1 nor 0");
  if (tool_config_items(CONFIG_GROUP_NAME, &record, LIM_OP_TEST, nullptr, nullptr) != 1)
    fail("a loaded item is out of its limits or a text is not terminated");

  std::string loaded = type_out(record);
  if (lim_saveFile(config_path.c_str(), CONFIG_GROUP_NAME, &record, tool_config_callback) != 1)
    fail("saving a loaded record failed");
  tool_config_t again;
  if (load(&again) != 1) fail("a saved file does not load");
  if (type_out(again) != loaded) fail("a saved file loads into another record");
  return 0;
}
