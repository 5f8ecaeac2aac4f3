// Integration harness: runs the real veltrona_tool against the bundled simulator veltrona_sim.
//
//   sim_process   starts the simulator on a free loopback port in its own scratch directory,
//                 waits for its port file, talks to its control socket (set registers, inject
//                 faults, list the writes the simulator saw) and stops it.
//   scratch_dir   a fresh directory under /tmp, removed with everything in it.
//   write_tool_config / tool_config_lines   the configuration file the tool reads at start.
//   tool_process / run_tool_batch           the tool in a directory, stdin through a pipe.
//   closed_port   a loopback port where nothing listens, for refused connections.
//   scoped_env    an environment variable the tools started meanwhile inherit.
//   session_start_login, connect_ok_line, without_poll_failures, lines_of ...   what the tool
//                 writes and prints, for comparing with what it did.
//
// Every wait has a timeout; every process started here is killed and reaped when its object
// dies. Functions return 0 or -1, with the reason in the object's error() or an error string;
// nothing here throws or aborts, so a test asserts on the results. Not thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "sim/request_log.h"
#include "tests/child_process.h"

// Paths of the programs under test, fixed by the build.
extern const char* const VT_TOOL_PATH;
extern const char* const VT_SIM_PATH;

// Before main, every program linked with the harness points XDG_STATE_HOME at a scratch
// directory of its own (removed when the program ends), so that every tool it starts, however
// it starts it, keeps its state files (the write log) there and never in the home directory of
// whoever runs the tests. Empty when the directory could not be made. Likewise it sets
// VELTRONA_TOOL_NO_JOURNAL, so that the tools send nothing to the host's journal.
const std::string& test_state_home();

// The write log of the tools this program starts (it need not exist).
std::string tool_write_log_path();

// Default time limit of a single wait, long enough for sanitizer builds.
constexpr int VT_WAIT_MS = 20000;

// The simulator's request records (sim/request_log.h) as test failures print them.
std::ostream& operator<<(std::ostream& os, const sim_write& w);
std::ostream& operator<<(std::ostream& os, const sim_read& r);

// The registers of an access code of eight ASCII digits: low byte first, then two NUL bytes.
std::vector<uint16_t> access_code_words(std::string_view digits);

// The login the tool writes at every start: the session-start code to MB_LOG_IN (5121).
sim_write session_start_login();

// The bits of a float, as a configuration file's raw_value holds them.
uint32_t float_bits(float value);

// The two registers of a float, low half first.
std::vector<uint16_t> float_words(float value);

// The tool's first line after a connection to 127.0.0.1:port, line end included.
std::string connect_ok_line(int port);

// text without the link thread's "Polling fail: -1" lines, which land wherever the state poll
// happens to fall, also in the middle of a command's output.
std::string without_poll_failures(std::string text);

// The complete lines of text, without their line ends; a last line without its line end (output
// still arriving) is left out.
std::vector<std::string> lines_of(const std::string& text);

// text n times over.
std::string repeat(const std::string& text, int n);

class scratch_dir {
 public:
  scratch_dir() = default;
  ~scratch_dir();
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;

  // Makes /tmp/<prefix>XXXXXX. Returns 0 or -1.
  int create(const std::string& prefix);
  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

class sim_process {
 public:
  sim_process() = default;
  ~sim_process();  // stop(), and kill if that fails

  // Starts the simulator with --port 0, a port file and a control socket in a fresh scratch
  // directory, waits up to VT_WAIT_MS for the port file and connects to the control socket.
  // extra_args are appended to the command line (for example "--verbose").
  int start(const std::vector<std::string>& extra_args = {});

  int port() const { return port_; }
  const std::string& dir() const { return dir_.path(); }
  const std::string& error() const { return error_; }
  // What the simulator wrote to standard output and standard error so far.
  std::string log() const;

  // Sends one control line and collects the reply up to its last line. Returns 0 when the reply
  // ends with "OK"; -1 on "ERR ..." (the line is in error()), a lost connection or a timeout.
  // lines, when given, receives the data lines before "OK".
  int command(const std::string& line, std::vector<std::string>* lines = nullptr);

  // Shorthands for control commands.
  int set_registers(int address, const std::vector<uint16_t>& values);
  int get_registers(int address, int count, std::vector<uint16_t>* values);
  int fail_reads(int address, int count = 1);
  int fail_writes(int address, int count = 1);
  int set_delay_ms(int ms);
  int clear_writes() { return command("CLEAR WRITES"); }
  int clear_reads() { return command("CLEAR READS"); }

  // The write and read logs, in arrival order; empty with error() set when they can't be read
  // (error() is cleared by every command that succeeds).
  std::vector<sim_write> writes();
  std::vector<sim_read> reads();

  // SIGTERM, then wait up to VT_WAIT_MS; SIGKILL if it is still running. Returns the exit
  // status (0 after a clean stop) or -1 when it had to be killed or never ran.
  int stop();

 private:
  child_process child_;
  scratch_dir dir_;
  int control_fd_ = -1;
  int port_ = 0;
  std::string reply_buffer_;
  std::string error_;
};

// A loopback port with a bound socket that does not listen: connecting to it is refused, and no
// other program can take the port while the object lives.
class closed_port {
 public:
  closed_port();
  ~closed_port();
  closed_port(const closed_port&) = delete;
  closed_port& operator=(const closed_port&) = delete;
  int port() const { return port_; }  // 0 when no socket could be bound

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Sets an environment variable (or unsets it, for nullopt) for the life of the object; the tools
// started meanwhile inherit it. The old value comes back when the object dies.
class scoped_env {
 public:
  scoped_env(const char* name, const std::optional<std::string>& value);
  ~scoped_env();
  scoped_env(const scoped_env&) = delete;
  scoped_env& operator=(const scoped_env&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Writes text to path. Returns 0 or -1.
int write_text_file(const std::string& path, std::string_view text);

// Reads the whole file at path into text. Returns 0 or -1.
int read_text_file(const std::string& path, std::string* text);

// The configuration lines that point the tool at 127.0.0.1:port.
std::vector<std::string> tool_config_lines(int port);

// Writes dir/veltrona_tool.conf: the group header line, then every line of items as it stands
// (for example `iPort = 1502` or `sIpAddr = "127.0.0.1"`). Keys not given take their defaults;
// a key given twice counts with its last line. Returns 0 or -1.
int write_tool_config(const std::string& dir, const std::vector<std::string>& items);

// How a run of the tool ended.
struct tool_result {
  std::string out;
  std::string err;
  int status = -1;         // exit code, or 128 + signal; -1 when it did not end in time
  bool timed_out = false;  // it was killed after the time limit
};

// The tool started in a directory, with standard input through a pipe.
class tool_process {
 public:
  // Starts VT_TOOL_PATH in dir with args. Returns 0 or -1 (reason in error()).
  int start(const std::string& dir, const std::vector<std::string>& args = {});
  int write_input(std::string_view text, int timeout_ms = VT_WAIT_MS) {
    return child_.write_input(text, timeout_ms);
  }
  // Waits until text appears in the output at or after offset `from`.
  int wait_for_output(std::string_view text, int timeout_ms = VT_WAIT_MS, size_t from = 0) {
    return child_.wait_for_output(text, timeout_ms, from);
  }
  int send_signal(int sig) { return child_.send_signal(sig); }
  void close_input() { child_.close_input(); }
  // Waits for the end; after timeout_ms kills the tool and reports timed_out.
  tool_result finish(int timeout_ms = VT_WAIT_MS);
  const std::string& out() const { return child_.out(); }
  const std::string& error() const { return error_; }

 private:
  child_process child_;
  std::string error_;
};

// Batch run: starts the tool in dir, feeds it the whole script, closes its input and waits for
// the end (killing it after timeout_ms).
tool_result run_tool_batch(const std::string& dir, std::string_view script,
                           int timeout_ms = VT_WAIT_MS, const std::vector<std::string>& args = {});
