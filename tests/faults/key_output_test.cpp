// lintrel-cli when its key output fails or takes nothing: a stop still ends it at once with
// every port released, what was not typed is said, and an output that is gone ends the run.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "faults/fault_support.h"
#include "platform/serial_port.h"
#include "posix/posix_test_support.h"
#include "support/xvfb_server.h"

namespace lintrel::testing {
namespace {

// A descriptor closed with the object.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// Lines whose key events are far more than a pipe, a terminal or an X connection holds
// unread, in fewer bytes than a pseudo-terminal holds (so that sending them never waits for
// a program that does not read).
std::string ManyLines() {
  std::string lines;
  for (int i = 0; i < 200; ++i) lines += "0123456789abcdefghijklmnopqrstuvwxyz0123456789\r";
  return lines;
}

// A descriptor whose writes fail with `error_number`: a full device, a pipe whose reader
// has gone, a file open for reading only.
int BrokenOutput(int error_number) {
  if (error_number == ENOSPC) return open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (error_number == EBADF) return open("/dev/null", O_RDONLY | O_CLOEXEC);
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
  close(pipe_fds[0]);
  return pipe_fds[1];
}

class KeyOutputTest : public OneDeviceTest {
 protected:
  std::vector<std::string> Args(const std::string& keys) const {
    return {"--port", PortArg(1, link_), "--keys", keys, "--reconnect-delay", "500"};
  }

  void ExpectPortReleased() {
    std::unique_ptr<platform::SerialDriver> driver = platform::MakeSystemSerialDriver();
    platform::OpenResult reopened = driver->Open(link_, {});
    EXPECT_NE(reopened.port, nullptr) << "not released: " << reopened.error.message;
  }
};

TEST_F(KeyOutputTest, StopEndsTheRunWhileTheTraceIsBlockedAndSaysWhatWasNotTyped) {
  // Standard output a pipe that nobody reads.
  int pipe_fds[2];
  ASSERT_EQ(pipe2(pipe_fds, O_CLOEXEC), 0);
  Fd unread(pipe_fds[0]);
  Fd output(pipe_fds[1]);
  SpawnOptions options;
  options.stdout_from = output.get();
  ChildProcess cli(options, kCliPath, Args("trace"));
  ASSERT_TRUE(cli.started());
  output.Close();
  ASSERT_TRUE(cli.WaitForErr(Connected(1, link_))) << cli.Describe();

  ASSERT_TRUE(Send(*device_, ManyLines()));
  ASSERT_TRUE(SomeThreadBlockedIn(cli.pid(), SYS_write, {"0x1"})) << "the trace never filled the pipe";
  ASSERT_TRUE(cli.Signal(SIGTERM));
  const std::optional<ExitStatus> status = cli.WaitForExit();
  ASSERT_TRUE(status.has_value()) << "the stop waited for the blocked output" << cli.Describe();
  EXPECT_TRUE(status->exited && status->code == 1) << cli.Describe();
  EXPECT_NE(cli.err().find("lintrel: stopping\n"), std::string::npos) << cli.err();
  EXPECT_NE(cli.err().find("lintrel: key output blocked at the stop: "), std::string::npos) << cli.err();
  EXPECT_NE(cli.err().find(" lines not typed\n"), std::string::npos) << cli.err();
  ExpectPortReleased();
}

// --monitor writes from the readers: an output that takes nothing loses reports, and never
// holds a reader that the stop must join.
TEST_F(KeyOutputTest, MonitorOutputThatTakesNothingHoldsUpNeitherTheReadersNorTheStop) {
  int pipe_fds[2];
  ASSERT_EQ(pipe2(pipe_fds, O_CLOEXEC), 0);
  Fd unread(pipe_fds[0]);
  Fd output(pipe_fds[1]);
  SpawnOptions options;
  options.stdout_from = output.get();
  ChildProcess cli(options, kCliPath, {"--port", PortArg(1, link_), "--monitor", "--reconnect-delay", "500"});
  ASSERT_TRUE(cli.started());
  output.Close();
  ASSERT_TRUE(cli.WaitForErr(Connected(1, link_))) << cli.Describe();
  // Reports of some 100 KB: more than the pipe holds.
  ASSERT_TRUE(Send(*device_, ManyLines()));
  cli.DrainFor(std::chrono::milliseconds(500));
  ASSERT_TRUE(cli.Signal(SIGTERM));
  const std::optional<ExitStatus> status = cli.WaitForExit();
  ASSERT_TRUE(status.has_value()) << "the stop waited for a reader held by the monitor" << cli.Describe();
  EXPECT_TRUE(status->exited && status->code == 0) << cli.Describe();
  ExpectPortReleased();
}

// Ctrl-S stops a terminal's output: the trace and the status lines, which go to the same
// terminal, block alike. The stop must not wait for either.
TEST_F(KeyOutputTest, StopEndsTheRunWhileTheTerminalIsPaused) {
  int master_fd = -1;
  int terminal_fd = -1;
  ASSERT_EQ(openpty(&master_fd, &terminal_fd, nullptr, nullptr, nullptr), 0);
  Fd master(master_fd);
  Fd terminal(terminal_fd);
  SpawnOptions options;
  options.stdout_from = terminal.get();
  options.stderr_from = terminal.get();
  ChildProcess cli(options, kCliPath, Args("trace"));
  ASSERT_TRUE(cli.started());
  std::string shown;
  const std::string connected = "COM1 connected (" + link_ + ")";
  while (shown.find(connected) == std::string::npos) {
    ASSERT_TRUE(WaitReadable(master.get())) << shown;
    char chunk[256];
    const ssize_t count = read(master.get(), chunk, sizeof chunk);
    ASSERT_GT(count, 0);
    shown.append(chunk, static_cast<std::size_t>(count));
  }
  ASSERT_EQ(tcflow(terminal.get(), TCOOFF), 0);

  ASSERT_TRUE(Send(*device_, ManyLines()));
  ASSERT_TRUE(SomeThreadBlockedIn(cli.pid(), SYS_write, {"0x1"})) << "the trace never blocked";
  ASSERT_TRUE(cli.Signal(SIGTERM));
  const std::optional<ExitStatus> status = cli.WaitForExit();
  tcflow(terminal.get(), TCOON);
  ASSERT_TRUE(status.has_value()) << "the stop waited for the paused terminal";
  EXPECT_TRUE(status->exited && status->code == 1);
  ExpectPortReleased();
}

// A trace that cannot be written: standard output on a full device, a pipe whose reader
// has gone, or a descriptor open for reading only.
TEST_F(KeyOutputTest, AFailedTraceWriteIsAStatusLineAndEndsTheRun) {
  struct Case {
    const char* name;
    int error_number;
  };
  for (const Case& test : {Case{"full device", ENOSPC}, Case{"pipe without reader", EPIPE},
                           Case{"read-only descriptor", EBADF}}) {
    SCOPED_TRACE(test.name);
    Fd output(BrokenOutput(test.error_number));
    ASSERT_GE(output.get(), 0);
    SpawnOptions options;
    options.stdout_from = output.get();
    ChildProcess cli(options, kCliPath, Args("trace"));
    ASSERT_TRUE(cli.started());
    ASSERT_TRUE(cli.WaitForErr(Connected(1, link_))) << cli.Describe();
    ASSERT_TRUE(Send(*device_, "A1\r"));

    const std::optional<ExitStatus> status = cli.WaitForExit();
    ASSERT_TRUE(status.has_value()) << "the run went on without its output" << cli.Describe();
    EXPECT_TRUE(status->exited && status->code == 1) << cli.Describe();
    const std::string line_not_typed =
        "lintrel: COM1: line not typed: cannot write the key trace: " + std::string(std::strerror(test.error_number)) +
        "\n";
    EXPECT_EQ(Occurrences(cli.err(), line_not_typed), 1u) << cli.err();
    EXPECT_NE(cli.err().find("lintrel: stopping\n"), std::string::npos) << cli.err();
    ExpectPortReleased();
  }
}

class XKeyOutputTest : public KeyOutputTest {
 protected:
  void SetUp() override {
    OneDeviceTest::SetUp();
    std::string error;
    ASSERT_TRUE(server_.Start(&error)) << error;
  }

  // lintrel-cli typing into the test's own X server.
  std::unique_ptr<ChildProcess> StartTyping() {
    std::vector<std::string> args = {"DISPLAY=" + server_.display_name(), kCliPath};
    const std::vector<std::string> options = Args("x11");
    args.insert(args.end(), options.begin(), options.end());
    auto cli = std::make_unique<ChildProcess>("/usr/bin/env", args);
    EXPECT_TRUE(cli->WaitForErr(Connected(1, link_))) << cli->Describe();
    EXPECT_TRUE(Send(*device_, "typed\r"));
    return cli;
  }

  XvfbServer server_{70, "320x240x24"};
};

TEST_F(XKeyOutputTest, TheLossOfTheXServerIsAStatusLineAndACleanStop) {
  std::unique_ptr<ChildProcess> cli = StartTyping();
  const std::string display = server_.display_name();
  // Killed and gone: a line flushed while the server is still dying would go into the
  // connection unseen; the next line meets the closed connection.
  ASSERT_EQ(kill(server_.pid(), SIGKILL), 0);
  server_.Stop();
  ASSERT_TRUE(Send(*device_, "lost\r"));

  const std::optional<ExitStatus> status = cli->WaitForExit();
  ASSERT_TRUE(status.has_value()) << cli->Describe();
  EXPECT_TRUE(status->exited && status->code == 1) << cli->Describe();
  EXPECT_NE(cli->err().find("lintrel: COM1: line not typed: lost the connection to the X server on \"" + display +
                            "\"\n"),
            std::string::npos)
      << cli->err();
  EXPECT_EQ(cli->err().find("XIO"), std::string::npos) << "Xlib's own handler ran: " << cli->err();
  EXPECT_NE(cli->err().find("lintrel: stopping\n"), std::string::npos) << cli->err();
  ExpectPortReleased();
}

TEST_F(XKeyOutputTest, StopEndsTheRunWhileTheXServerIsStopped) {
  std::unique_ptr<ChildProcess> cli = StartTyping();
  ASSERT_EQ(kill(server_.pid(), SIGSTOP), 0);
  ASSERT_TRUE(Send(*device_, ManyLines()));
  // Xlib waits for room on its connection in poll() on that one descriptor, without a
  // time-out (a reader's poll() watches more than one).
  ASSERT_TRUE(SomeThreadBlockedIn(cli->pid(), SYS_poll, {"*", "0x1", "0xffffffff"})) << "typing never blocked";
  ASSERT_TRUE(cli->Signal(SIGTERM));
  const std::optional<ExitStatus> status = cli->WaitForExit();
  kill(server_.pid(), SIGCONT);
  ASSERT_TRUE(status.has_value()) << "the stop waited for the stopped X server" << cli->Describe();
  EXPECT_TRUE(status->exited && status->code == 1) << cli->Describe();
  EXPECT_NE(cli->err().find("lintrel: key output blocked at the stop: "), std::string::npos) << cli->err();
  ExpectPortReleased();
}

}  // namespace
}  // namespace lintrel::testing
