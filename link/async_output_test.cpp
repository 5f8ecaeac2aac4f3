#include "link/async_output.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

std::string received;
int calls = 0;

void record(const char* text, size_t len) {
  EXPECT_EQ(text[len], '\0');
  received.append(text, len);
  calls++;
}

TEST(AsyncOutput, WithoutHookPrintsExactlyAsPrintf) {
  testing::internal::CaptureStdout();
  link_printf("Polling fail: %d\n", -1);
  link_printf("Connect to %s:%d is ", "127.0.0.1", 502);
  EXPECT_EQ("Polling fail: -1\nConnect to 127.0.0.1:502 is ",
            testing::internal::GetCapturedStdout());
}

TEST(AsyncOutput, HookReceivesEachFormattedMessage) {
  received.clear();
  calls = 0;
  link_set_output_hook(record);
  testing::internal::CaptureStdout();
  link_printf("Unknown new_cmd = %d\n", 55);
  link_printf("%s ilock change: %s%d->%d: %s%s\n", "HV", "\033[31m", 0, 1, "Arc", "\033[0m");
  link_set_output_hook(nullptr);
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
  EXPECT_EQ(2, calls);
  EXPECT_EQ("Unknown new_cmd = 55\nHV ilock change: \033[31m0->1: Arc\033[0m\n", received);
}

TEST(AsyncOutput, MessageLongerThanTheStackBufferIsWhole) {
  received.clear();
  calls = 0;
  std::string name(1000, 'n');
  link_set_output_hook(record);
  link_printf("[%s]", name.c_str());
  link_set_output_hook(nullptr);
  EXPECT_EQ(1, calls);
  EXPECT_EQ("[" + name + "]", received);
}

std::atomic<int> hooked_chars{0};
void count_chars(const char*, size_t len) { hooked_chars += static_cast<int>(len); }

// The console sets and clears its hook while the link thread prints; every message goes to
// exactly one place, and none reaches a hook after it was cleared.
TEST(AsyncOutput, HookChangesWhilePrintingFromAnotherThread) {
  hooked_chars = 0;
  testing::internal::CaptureStdout();
  std::thread printer([] {
    for (int i = 0; i < 2000; i++) link_printf("x");
  });
  for (int i = 0; i < 200; i++) {
    link_set_output_hook(count_chars);
    link_set_output_hook(nullptr);
  }
  printer.join();
  int after_join = hooked_chars.load();
  link_printf("y");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(after_join, hooked_chars.load());
  EXPECT_EQ(2001, static_cast<int>(out.size()) + after_join);
}

}  // namespace
