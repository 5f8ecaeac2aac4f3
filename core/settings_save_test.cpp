// A save that is killed or whose rename fails: the configuration file is always either the old
// file or the new one, complete, and never a mix or a truncated file.
//
// The test binary defines fchmod, fsync and rename itself. lim_saveFile, linked in from the
// static vt_core, calls these definitions, which pass through to the kernel unless a test arms
// a fault: a SIGKILL of the process at that step of the save, or a failing rename.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/tool_config.h"

namespace {

// The step of a save at which an armed fault strikes.
enum save_step {
  STEP_NONE,
  STEP_FCHMOD,         // the temporary file exists, still empty
  STEP_FSYNC,          // the new content is written to the temporary file, not yet synced
  STEP_BEFORE_RENAME,  // synced, not yet renamed over the file
  STEP_AFTER_RENAME,   // renamed: the new file is in place
  STEP_RENAME_FAILS,   // rename reports EIO and does nothing
};

// Armed in a forked child (the kill steps) or around one save (STEP_RENAME_FAILS).
save_step armed_step = STEP_NONE;
// errno of the last rename that reached the kernel, 0 after a success.
int last_rename_errno = -1;

void strike(save_step step) {
  if (armed_step == step) raise(SIGKILL);
}

}  // namespace

extern "C" int fchmod(int fd, mode_t mode) {
  strike(STEP_FCHMOD);
  return static_cast<int>(syscall(SYS_fchmod, fd, mode));
}

extern "C" int fsync(int fd) {
  strike(STEP_FSYNC);
  return static_cast<int>(syscall(SYS_fsync, fd));
}

extern "C" int rename(const char* from, const char* to) {
  strike(STEP_BEFORE_RENAME);
  if (armed_step == STEP_RENAME_FAILS) {
    errno = EIO;
    return -1;
  }
  int rc = static_cast<int>(syscall(SYS_rename, from, to));
  last_rename_errno = rc == 0 ? 0 : errno;
  strike(STEP_AFTER_RENAME);
  return rc;
}

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

tool_config_t defaults() {
  tool_config_t r = {};
  tool_config_items(CONFIG_GROUP_NAME, &r, LIM_OP_SET_DEFAULT, nullptr, nullptr);
  return r;
}

// A record that differs from the defaults in every kind of item.
tool_config_t changed_record() {
  tool_config_t r = defaults();
  snprintf(r.sIpAddr, sizeof(r.sIpAddr), "%s", "10.20.30.40");
  r.iPort = 1502;
  r.iPrintIlockChange = 1;
  r.cal[3].use = 1;
  snprintf(r.cal[3].sMsg, sizeof(r.cal[3].sMsg), "%s", "HV \"Set\" \\ read");
  r.cal[3].iRegCal = 5300;
  for (int i = 0; i < STARTUP_ENTRIES; i++) {
    r.startup[i].iReg = 5126 + i;
    r.startup[i].raw_value = 4294967295u - static_cast<uint32_t>(i);
  }
  snprintf(r.ilock_trig[20].name, sizeof(r.ilock_trig[20].name), "%s", "Spare trig interlock");
  return r;
}

// The whole content of a saved file, outside lines and group, and whether it loads again.
std::string type_out(const tool_config_t& record) {
  char* text = nullptr;
  size_t len = 0;
  FILE* stream = open_memstream(&text, &len);
  tool_config_t copy = record;
  tool_config_items(CONFIG_GROUP_NAME, &copy, LIM_OP_TYPEOUT, nullptr, stream);
  fclose(stream);
  std::string s(text, len);
  free(text);
  return s;
}

int save(const std::string& path, tool_config_t* record) {
  return lim_saveFile(path.c_str(), CONFIG_GROUP_NAME, record, tool_config_callback);
}

// Loads path with the reports on standard output thrown away.
int load_quietly(const std::string& path, tool_config_t* record) {
  fflush(stdout);
  int saved = dup(STDOUT_FILENO);
  int null_fd = open("/dev/null", O_WRONLY);
  dup2(null_fd, STDOUT_FILENO);
  close(null_fd);
  int rc = lim_loadFile(path.c_str(), CONFIG_GROUP_NAME, record, tool_config_callback);
  fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  return rc;
}

// Names in dir other than "." and "..", sorted.
std::vector<std::string> dir_entries(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (!d) return names;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// Removes the temporary files a killed save left beside the file; returns how many there were.
int remove_leftovers(const std::string& dir, const std::string& file_name) {
  int count = 0;
  for (const std::string& n : dir_entries(dir)) {
    if (n.rfind(file_name + ".", 0) == 0) {
      unlink((dir + "/" + n).c_str());
      count++;
    }
  }
  return count;
}

// A forked child that is killed and reaped when the test leaves, whatever happened.
class child_guard {
 public:
  explicit child_guard(pid_t pid) : pid_(pid) {}
  ~child_guard() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // Waits up to 20 s for the end; returns the wait status, or -1 after killing it.
  int wait() {
    for (int i = 0; i < 20000; i++) {
      int status = 0;
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return status;
      }
      usleep(1000);
    }
    return -1;
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_;
};

const char* const kFileName = "veltrona_tool.conf";
// Lines outside the group, which every save keeps byte for byte.
const char* const kOutside = "# modulator in lab 2\n[other_group]\nkey = \"kept\"\n\n";

class SaveInterrupted : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/settings_save_test.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
    path_ = dir_ + "/" + kFileName;
    old_record_ = defaults();
    new_record_ = changed_record();
    // The two complete files a save can leave: the outside lines, then the group.
    write_file(path_, kOutside);
    ASSERT_EQ(1, save(path_, &new_record_));
    new_content_ = read_file(path_);
    write_file(path_, kOutside);
    ASSERT_EQ(1, save(path_, &old_record_));
    old_content_ = read_file(path_);
    ASSERT_NE(old_content_, new_content_);
    ASSERT_EQ(std::string(kOutside) + "[velt_tool_config]\n" + type_out(old_record_), old_content_);
  }
  void TearDown() override {
    for (const std::string& n : dir_entries(dir_)) unlink((dir_ + "/" + n).c_str());
    rmdir(dir_.c_str());
  }

  // The file is one of the two complete files and loads back into its record. Returns 0 for
  // the old file, 1 for the new one, -1 for anything else (with a test failure).
  int judge_file() {
    std::string content = read_file(path_);
    int which = content == old_content_ ? 0 : content == new_content_ ? 1 : -1;
    EXPECT_NE(-1, which) << "the file is neither the old nor the new one:\n" << content;
    if (which < 0) return -1;
    tool_config_t loaded = {};
    EXPECT_EQ(1, load_quietly(path_, &loaded));
    EXPECT_EQ(type_out(which == 0 ? old_record_ : new_record_), type_out(loaded));
    return which;
  }

  // Forks a child that arms step, saves the new record once and would exit 0 if it survived;
  // expects it to die by SIGKILL.
  void kill_child_at(save_step step) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      armed_step = step;
      int rc = save(path_, &new_record_);
      _exit(rc == 1 ? 0 : 1);
    }
    child_guard child(pid);
    int status = child.wait();
    ASSERT_NE(-1, status) << "the saving child did not end";
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the child was not killed at the step, status " << status;
  }

  std::string dir_;
  std::string path_;
  tool_config_t old_record_;
  tool_config_t new_record_;
  std::string old_content_;
  std::string new_content_;
};

TEST_F(SaveInterrupted, KilledBeforeTheRenameLeavesTheOldFile) {
  for (save_step step : {STEP_FCHMOD, STEP_FSYNC, STEP_BEFORE_RENAME}) {
    SCOPED_TRACE(step);
    kill_child_at(step);
    EXPECT_EQ(0, judge_file());
    // The killed save leaves its temporary file, never a changed configuration file.
    EXPECT_EQ(1, remove_leftovers(dir_, kFileName));
    EXPECT_EQ(std::vector<std::string>{kFileName}, dir_entries(dir_));
  }
}

TEST_F(SaveInterrupted, KilledRightAfterTheRenameLeavesTheNewFile) {
  kill_child_at(STEP_AFTER_RENAME);
  EXPECT_EQ(1, judge_file());
  EXPECT_EQ(std::vector<std::string>{kFileName}, dir_entries(dir_));
}

// A child saves the old and the new record in turn without pause and is killed at random
// moments, many times; every kill leaves one of the two files, complete.
TEST_F(SaveInterrupted, KilledAtRandomMomentsLeavesTheOldOrTheNewFile) {
  // How long one save takes here, so that the kills spread over whole saves.
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 10; i++) ASSERT_EQ(1, save(path_, i % 2 ? &old_record_ : &new_record_));
  long save_us = std::chrono::duration_cast<std::chrono::microseconds>(
                     std::chrono::steady_clock::now() - start)
                     .count() /
                 10;
  ASSERT_EQ(old_content_, read_file(path_));

  std::mt19937 random(20240611);
  std::uniform_int_distribution<long> delay_us(0, 4 * save_us + 200);
  const int kills = 300;
  int seen[2] = {0, 0};
  int mid_save = 0;  // kills that left a temporary file: the save was between mkstemp and rename
  for (int k = 0; k < kills; k++) {
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(ready[0]);
      ssize_t n = write(ready[1], "r", 1);
      close(ready[1]);
      if (n != 1) _exit(2);
      for (int i = 0;; i++) {
        if (save(path_, i % 2 ? &old_record_ : &new_record_) != 1) _exit(1);
      }
    }
    child_guard child(pid);
    close(ready[1]);
    char c = 0;
    ASSERT_EQ(1, read(ready[0], &c, 1));
    close(ready[0]);
    timespec pause = {0, delay_us(random) * 1000};
    nanosleep(&pause, nullptr);
    ASSERT_EQ(0, kill(pid, SIGKILL));
    int status = child.wait();
    ASSERT_NE(-1, status);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "a save in the child failed: status " << status;
    int which = judge_file();
    ASSERT_NE(-1, which) << "after kill " << k;
    seen[which]++;
    if (remove_leftovers(dir_, kFileName) > 0) mid_save++;
    ASSERT_EQ(std::vector<std::string>{kFileName}, dir_entries(dir_));
  }
  // Both files turn up, so the kills did land inside the loop of saves.
  EXPECT_GT(seen[0], 0);
  EXPECT_GT(seen[1], 0);
  RecordProperty("old_files", seen[0]);
  RecordProperty("new_files", seen[1]);
  RecordProperty("kills_between_mkstemp_and_rename", mid_save);
}

TEST_F(SaveInterrupted, FailingRenameLeavesTheOldFileExactly) {
  ASSERT_EQ(0, chmod(path_.c_str(), 0640));
  armed_step = STEP_RENAME_FAILS;
  int rc = save(path_, &new_record_);
  armed_step = STEP_NONE;
  EXPECT_NE(1, rc);
  EXPECT_EQ(old_content_, read_file(path_));
  struct stat st;
  ASSERT_EQ(0, stat(path_.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  // The temporary file is removed.
  EXPECT_EQ(std::vector<std::string>{kFileName}, dir_entries(dir_));
}

// The kernel refuses the rename: the file is a mount point (bound onto itself in a private
// mount namespace of a child), and rename over a mount point fails with EBUSY, also for root.
TEST_F(SaveInterrupted, RenameRefusedByTheKernelLeavesTheOldFile) {
  enum { CHILD_OK = 0, CHILD_SAVED = 1, CHILD_CHANGED = 2, CHILD_NOT_RENAME = 3, CHILD_SKIP = 77 };
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (unshare(CLONE_NEWNS) != 0) _exit(CHILD_SKIP);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(CHILD_SKIP);
    if (mount(path_.c_str(), path_.c_str(), nullptr, MS_BIND, nullptr) != 0) _exit(CHILD_SKIP);
    last_rename_errno = -1;
    if (save(path_, &new_record_) == 1) _exit(CHILD_SAVED);
    if (last_rename_errno != EBUSY) _exit(CHILD_NOT_RENAME);
    if (read_file(path_) != old_content_) _exit(CHILD_CHANGED);
    _exit(CHILD_OK);
  }
  child_guard child(pid);
  int status = child.wait();
  ASSERT_TRUE(status != -1 && WIFEXITED(status));
  if (WEXITSTATUS(status) == CHILD_SKIP) GTEST_SKIP() << "no private mount namespace here";
  EXPECT_EQ(CHILD_OK, WEXITSTATUS(status));
  EXPECT_EQ(old_content_, read_file(path_));
  EXPECT_EQ(std::vector<std::string>{kFileName}, dir_entries(dir_));
}

}  // namespace
