#pragma once

#include <signal.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/virtual_serial_device.h"
#include "posix/posix_test_support.h"
#include "support/child_process.h"
#include "support/trace.h"

namespace lintrel::testing {

// What tests of lintrel-cli have in common: its arguments, the devices it reads and the
// trace it types.

// `args` plus the trace keyboard and the shortest reconnection delay the program accepts,
// to keep the tests quick.
inline std::vector<std::string> CliArgs(std::vector<std::string> args) {
  args.insert(args.end(), {"--keys", "trace", "--reconnect-delay", "500"});
  return args;
}

inline std::string PortArg(int port_number, const std::string& device_path) {
  return "COM" + std::to_string(port_number) + "=" + device_path;
}

// The status line of a port connected at start.
inline std::string Connected(int port_number, const std::string& device_path) {
  return "lintrel: COM" + std::to_string(port_number) + " connected (" + device_path + ")\n";
}

inline std::unique_ptr<platform::VirtualSerialDevice> MakeDevice(const std::string& link_path) {
  std::string error;
  std::unique_ptr<platform::VirtualSerialDevice> device =
      platform::VirtualSerialDevice::Create(link_path, &error);
  EXPECT_NE(device, nullptr) << error;
  return device;
}

// Blocks while the device's pseudo-terminal is full.
inline bool Send(platform::VirtualSerialDevice& device, const std::string& text) {
  return device.Write(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// After `stop_signal` the program says it is stopping and exits with status 0.
inline void ExpectStopsCleanly(ChildProcess& cli, int stop_signal = SIGTERM) {
  ASSERT_TRUE(cli.Signal(stop_signal));
  const std::optional<ExitStatus> status = cli.WaitForExit();
  ASSERT_TRUE(status.has_value()) << cli.Describe();
  EXPECT_TRUE(status->exited && status->code == 0) << cli.Describe();
  // A Windows program ends its lines with CR LF.
  const bool said_stopping = cli.err().find("lintrel: stopping\n") != std::string::npos ||
                             cli.err().find("lintrel: stopping\r\n") != std::string::npos;
  EXPECT_TRUE(said_stopping) << cli.Describe();
}

// A stop while lines wait to be typed: those lines are not begun, and the program says how
// many and exits with status 1; with none waiting it exits with 0.
inline void ExpectStatusCountsTheLinesNotTyped(const ChildProcess& cli, const ExitStatus& status) {
  const bool some_not_typed = cli.err().find(" not typed\n") != std::string::npos;
  EXPECT_TRUE(status.exited && status.code == (some_not_typed ? 1 : 0)) << cli.Describe();
}

}  // namespace lintrel::testing
