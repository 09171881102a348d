#include "platform/stop_signal.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "posix/posix_test_support.h"

namespace lintrel::platform {
namespace {

using std::chrono::milliseconds;

TEST(StopSignalTest, WaitTimesOutWithoutAStopRequest) {
  auto stop = StopSignal::Install();
  EXPECT_FALSE(stop->WaitFor(milliseconds(0)));
  EXPECT_FALSE(stop->WaitFor(milliseconds(20)));
}

TEST(StopSignalTest, EachStopSignalIsARequestThatStays) {
  struct Case {
    int signal_number;
    bool ignored_at_start;  // as nohup, or a shell starting a background job, leaves it
    bool stops;
  };
  for (const Case& test_case : {
           Case{SIGTERM, false, true},
           Case{SIGINT, false, true},
           Case{SIGHUP, false, true},
           Case{SIGQUIT, false, true},
           Case{SIGINT, true, true},
           Case{SIGHUP, true, false},
           Case{SIGQUIT, true, false},
       }) {
    const int signal_number = test_case.signal_number;
    SCOPED_TRACE(std::string(strsignal(signal_number)) + (test_case.ignored_at_start ? ", ignored at start" : ""));
    signal(signal_number, test_case.ignored_at_start ? SIG_IGN : SIG_DFL);
    auto stop = StopSignal::Install();
    ASSERT_EQ(raise(signal_number), 0);
    if (test_case.stops) {
      EXPECT_TRUE(stop->WaitFor(testing::kSafetyLimit));
      EXPECT_TRUE(stop->WaitFor(milliseconds(0)));
    } else {
      EXPECT_FALSE(stop->WaitFor(milliseconds(20)));
    }
    signal(signal_number, SIG_DFL);
  }
}

TEST(StopSignalTest, SignalToTheProcessFromAnotherThreadEndsAWait) {
  auto stop = StopSignal::Install();
  std::thread sender([] { kill(getpid(), SIGTERM); });
  bool requested = stop->WaitFor(testing::kSafetyLimit);
  sender.join();
  EXPECT_TRUE(requested);
}

TEST(StopSignalTest, NotifyFromAnotherThreadEndsAWaitWithoutAStopRequest) {
  auto stop = StopSignal::Install();
  std::thread notifier([&] { stop->Notify(); });
  EXPECT_FALSE(stop->WaitFor(testing::kSafetyLimit));
  notifier.join();
  // A notification that comes before the wait ends the next wait at once; several are one.
  stop->Notify();
  stop->Notify();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(stop->WaitFor(testing::kSafetyLimit));
  EXPECT_LT(std::chrono::steady_clock::now() - start, testing::kSafetyLimit);
  EXPECT_FALSE(stop->WaitFor(milliseconds(0)));
  // A stop request still stands out among notifications.
  stop->Notify();
  ASSERT_EQ(raise(SIGTERM), 0);
  bool requested = false;
  for (int wait = 0; wait < 3 && !requested; ++wait) requested = stop->WaitFor(testing::kSafetyLimit);
  EXPECT_TRUE(requested);
}

TEST(StopSignalTest, ThreadsStartedLaterLeaveTheSignalsToTheWaiter) {
  auto stop = StopSignal::Install();
  sigset_t thread_mask;
  sigemptyset(&thread_mask);
  std::thread([&] { pthread_sigmask(SIG_BLOCK, nullptr, &thread_mask); }).join();
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    EXPECT_TRUE(sigismember(&thread_mask, signal_number)) << strsignal(signal_number);
  }
  // A signal Lintrel does not use keeps its default action.
  EXPECT_FALSE(sigismember(&thread_mask, SIGALRM));
}

TEST(StopSignalTest, WritingToAClosedPipeFailsInsteadOfEndingTheProcess) {
  auto stop = StopSignal::Install();
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  close(pipe_fds[0]);
  EXPECT_EQ(write(pipe_fds[1], "x", 1), -1);
  EXPECT_EQ(errno, EPIPE);
  close(pipe_fds[1]);
  EXPECT_FALSE(stop->WaitFor(milliseconds(0)));
}

}  // namespace
}  // namespace lintrel::platform
