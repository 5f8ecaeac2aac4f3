// libFuzzer target of the console against a device whose answers come from the input: a fixed
// session (READ, WRITE with its confirmation, STATUS, DUMP, a calibration session started and its
// table sent) runs through the real console and link threads, with a fake device behind the
// link's backend seam.
//
// The input sets the device: the first byte the number of faults (up to 8), four bytes each
// (the address, a read or a write, how many words it covers, and what goes wrong: an exception
// reply, a time-out, a lost connection, a reply that does not fit, or an answer that comes late
// but within the time-out), then the register contents from 5120 on, two bytes a word, zero
// where the input ends. Faults and contents belong to addresses, not to the order of the
// transfers, so the link's once-a-second poll running between the requests changes nothing and
// every input replays the same way.
//
// What must hold for every input: no crash and no sanitizer report, and the device receives
// exactly the writes the session asked for and confirmed, in order and with their words: the
// login, the WRITE, and when the session started (its state read answered) the calibration
// sequence register and the table SEND listed, which is the table the session loaded (or the
// empty table when the load failed). Any breach aborts with the writes seen.
#include <fcntl.h>
#include <modbus.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "calibration/calibration.h"
#include "console/console.h"
#include "core/input.h"
#include "core/journal.h"
#include "core/lifecycle.h"
#include "core/tool_config.h"
#include "link/link.h"
#include "link/link_backend.h"
#include "registers/catalogue.h"

namespace {

constexpr int FIRST_ADDRESS = 5120;
constexpr int REGISTER_COUNT = 1100;  // past the catalogue's last register (6186 + 20 words)
constexpr int MAX_FAULTS = 8;

enum fault_kind { FAULT_EXCEPTION, FAULT_TIMEOUT, FAULT_RESET, FAULT_BAD_REPLY, FAULT_LATE };

struct fault {
  bool on_write;
  int address;
  int count;
  fault_kind kind;
};

struct device_write {
  int address;
  std::vector<uint16_t> words;
  bool operator==(const device_write&) const = default;
};

// The addresses the session's requests use, so that most faults hit something.
const int interesting[] = {MB_STATE_READ_ADDR,
                           MB_FIL_SET_CAL_ADDR,
                           MB_FIL_SET_ADDR,
                           MB_CALIB_SEQUENCE_ID_ADDR,
                           MB_STATE_SET_ADDR,
                           MB_LOG_IN_ADDR,
                           MB_PULSE_WIDTH_READ_ADDR,
                           MB_PRF_READ_ADDR,
                           MB_STANDBY_INTERLOCK_ADDR,
                           MB_SC_PASSWORD_ADDR,
                           5200,
                           5302};

// The device. Set up by the fuzzer's thread before the link thread starts; afterwards called by
// the link thread, and read again by the fuzzer's thread once the link thread has ended.
class scripted_device : public link_backend {
 public:
  void reset(const uint8_t* data, size_t size) {
    faults_.clear();
    writes_.clear();
    size_t at = 0;
    int n = size > 0 ? data[at++] % (MAX_FAULTS + 1) : 0;
    for (int k = 0; k < n && at + 4 <= size; k++, at += 4) {
      const uint8_t* b = data + at;
      fault f;
      f.on_write = b[0] & 1;
      f.kind = static_cast<fault_kind>((b[0] >> 1) % 5);
      f.count = 1 + (b[0] >> 4) % 4;
      f.address = b[1] < 192 ? interesting[b[1] % std::size(interesting)]
                             : FIRST_ADDRESS + (b[2] << 8 | b[3]) % REGISTER_COUNT;
      faults_.push_back(f);
    }
    for (int k = 0; k < REGISTER_COUNT; k++, at += 2)
      regs_[k] = at + 1 < size ? static_cast<uint16_t>(data[at] | data[at + 1] << 8) : 0;
  }

  const std::vector<device_write>& writes() const { return writes_; }

  // Whether a transfer of these words fails, by the faults alone.
  bool fails(bool write, int address, int count) const {
    const fault* f = fault_for(write, address, count);
    return f && f->kind != FAULT_LATE;
  }

  const uint16_t* registers(int address) const { return regs_ + (address - FIRST_ADDRESS); }

  int connect(const char*, int) override {
    connected_ = true;
    return 0;
  }

  int read_registers(int address, int count, uint16_t* dest) override {
    int rc = transfer(false, address, count);
    for (int k = 0; rc > 0 && k < count; k++) dest[k] = word(address + k);
    return rc;
  }

  int write_registers(int address, int count, const uint16_t* src) override {
    writes_.push_back({address, std::vector<uint16_t>(src, src + count)});
    int rc = transfer(true, address, count);
    for (int k = 0; rc > 0 && k < count; k++) {
      int i = address + k - FIRST_ADDRESS;
      if (i >= 0 && i < REGISTER_COUNT) regs_[i] = src[k];
    }
    return rc;
  }

  int flush() override { return connected_ ? 0 : -1; }
  int socket() override { return -1; }
  void close() override { connected_ = false; }

 private:
  uint16_t word(int address) const {
    int i = address - FIRST_ADDRESS;
    return i >= 0 && i < REGISTER_COUNT ? regs_[i] : 0;
  }

  const fault* fault_for(bool write, int address, int count) const {
    for (const fault& f : faults_)
      if (f.on_write == write && f.address < address + count && address < f.address + f.count)
        return &f;
    return nullptr;
  }

  int transfer(bool write, int address, int count) {
    if (!connected_) {
      errno = ENOTCONN;
      return -1;
    }
    const fault* f = fault_for(write, address, count);
    if (!f) return count;
    static const int errors[] = {EMBXILADD, ETIMEDOUT, ECONNRESET, EMBBADDATA};
    if (f->kind != FAULT_LATE) {
      errno = errors[f->kind];
      return -1;
    }
    timespec late = {0, 200000};
    nanosleep(&late, nullptr);
    return count;
  }

  std::vector<fault> faults_;
  std::vector<device_write> writes_;
  uint16_t regs_[REGISTER_COUNT] = {};
  bool connected_ = false;
};

scripted_device device;

// Constant after initialisation.
tool_config_t default_config;
std::string dump_path;

void fail(const char* what) {
  fprintf(stderr, "console_fuzz: %s; the device received:\n", what);
  for (const device_write& w : device.writes()) {
    fprintf(stderr, "  %d:", w.address);
    for (uint16_t v : w.words) fprintf(stderr, " %04X", v);
    fprintf(stderr, "\n");
  }
  abort();
}

// Puts the session's lines on standard input, to be read to their end.
void feed_stdin(const std::string& script) {
  int fds[2];
  if (pipe(fds) != 0) fail("no pipe");
  if (write(fds[1], script.data(), script.size()) != static_cast<ssize_t>(script.size()))
    fail("script does not fit the pipe");
  ::close(fds[1]);
  if (dup2(fds[0], STDIN_FILENO) < 0) fail("no dup2");
  ::close(fds[0]);
  // The last session's end of input and its stop's wake-up belong to that session.
  input_reset();
}

std::vector<device_write> expected_writes() {
  std::vector<device_write> expected = {
      {MB_LOG_IN_ADDR, {0x3034, 0x3137, 0x3236, 0x3335, 0x0000}},  // "40716253"
      {MB_STATE_SET_ADDR, {3}},
  };
  // Only a failed state read keeps the session from starting; SEND then asks and is confirmed.
  if (!device.fails(false, MB_STATE_READ_ADDR, 1)) {
    expected.push_back({MB_CALIB_SEQUENCE_ID_ADDR, {MB_FIL_SET_CAL_ADDR}});
    std::vector<uint16_t> table(15, 0xFFFF);
    if (!device.fails(false, MB_FIL_SET_CAL_ADDR, 15)) {
      const uint16_t* loaded = device.registers(MB_FIL_SET_CAL_ADDR);
      table.assign(loaded, loaded + 15);
    }
    expected.push_back({MB_FIL_SET_CAL_ADDR, table});
  }
  return expected;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Millions of fuzzed writes are no audit trail.
  journal_turn_off();
  char dir[] = "/tmp/console_fuzz_XXXXXX";
  if (!mkdtemp(dir)) fail("no work directory");
  dump_path = std::string(dir) + "/dump.txt";
  std::string config = std::string(dir) + "/veltrona_tool.conf";
  FILE* f = fopen(config.c_str(), "w");
  if (!f) fail("no configuration file");
  fputs("[velt_tool_config]\niPrintIlockChange = 1\n", f);
  fclose(f);
  // The configuration is read from the working directory; libFuzzer's paths are relative to the
  // one it was started in.
  int start_dir = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (start_dir < 0 || chdir(dir) != 0 || tool_config_load() < 0 || fchdir(start_dir) != 0)
    fail("configuration not loaded");
  ::close(start_dir);
  unlink(config.c_str());
  default_config = tool_config;
  // The console's output is not looked at; it would only slow the run.
  if (!freopen("/dev/null", "w", stdout)) fail("no /dev/null");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  device.reset(data, size);
  // Before the session: SEND writes the table back over the words it was loaded from.
  const std::vector<device_write> expected = expected_writes();
  tool_config = default_config;
  make_working_copies(tool_config);
  link_params params = link_params_from_config(tool_config);
  set_stop_actions(link_cut_connection, link_stop_wake);
  calib_reset_session();
  quit_requested.store(0);
  feed_stdin(
      "READ MB_PULSE_WIDTH_READ\nREAD MB_SC_PASSWORD\nREAD 5200\n"
      "WRITE MB_STATE_SET 3\ny\n"
      "STATUS\n"
      "DUMP " +
      dump_path +
      "\n"
      "CALIBRATE\n1\nSEND\ny\n");

  link_setup(&params, &device);
  pthread_t link_thread;
  if (pthread_create(&link_thread, nullptr, link_thread_main, nullptr) != 0) fail("no thread");
  console_thread_main(nullptr);
  pthread_join(link_thread, nullptr);

  if (device.writes() != expected) fail("writes differ from the confirmed ones");
  return 0;
}
