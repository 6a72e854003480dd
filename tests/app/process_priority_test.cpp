#include "app/process_priority.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace vantrove {
namespace {

int ThreadNiceNow() {
    return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
}

// Runs `body` in a child process so that priority changes stay there; the
// body returns 0 for success or the number of the failed check.
int InChild(int (*body)()) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST(ProcessPriority, ClassesMapToNiceValues) {
    int nice = 99;
    EXPECT_FALSE(NiceForPriorityClass(0, nice));
    EXPECT_FALSE(NiceForPriorityClass(4, nice));
    EXPECT_EQ(nice, 99);
    EXPECT_TRUE(NiceForPriorityClass(1, nice));
    EXPECT_EQ(nice, 19);
    EXPECT_TRUE(NiceForPriorityClass(2, nice));
    EXPECT_EQ(nice, 0);
    EXPECT_TRUE(NiceForPriorityClass(3, nice));
    EXPECT_EQ(nice, -10);
}

TEST(ProcessPriority, EveryThreadMovesAndKeepsItsDistance) {
    int start = getpriority(PRIO_PROCESS, 0);
    if (start > 12) GTEST_SKIP() << "the tests already run at nice " << start;
    EXPECT_EQ(InChild([]() -> int {
                  int base = ProcessBaseNice();
                  std::atomic<int> stage{0};
                  std::atomic<int> workerNice{-100};
                  std::thread worker([&] {
                      SetCurrentThreadPriority(kThreadLowest);
                      stage = 1;
                      while (stage != 2) std::this_thread::yield();
                      workerNice = ThreadNiceNow();
                  });
                  while (stage != 1) std::this_thread::yield();
                  SetCurrentThreadPriority(kThreadBelowNormal);
                  if (ThreadNiceNow() != base + 1) return 1;
                  SetProcessNice(base + 3);  // a lower priority needs no rights
                  stage = 2;
                  worker.join();
                  if (ThreadNiceNow() != base + 4) return 2;
                  if (workerNice != base + 5) return 3;
                  if (ProcessBaseNice() != base + 3) return 4;
                  ApplyPriorityClass(kPriorityAsStarted);  // leaves everything
                  if (ThreadNiceNow() != base + 4) return 5;
                  ApplyPriorityClass(kPriorityIdle);
                  if (ThreadNiceNow() != 19 || ProcessBaseNice() != 19) return 6;
                  return 0;
              }),
              0);
}

TEST(ProcessPriority, ARefusedRaiseIsSilent) {
    EXPECT_EQ(InChild([]() -> int {
                  // Without the right to raise priorities (root gives it up here).
                  if (geteuid() == 0 && setuid(65534) != 0) return 10;
                  SetProcessNice(19);
                  ApplyPriorityClass(kPriorityHigh);  // needs a right we do not have
                  if (ThreadNiceNow() != 19) return 1;
                  if (ProcessBaseNice() != 19) return 2;
                  return 0;
              }),
              0);
}

}  // namespace
}  // namespace vantrove
