// lintrel-cli typing through the X server into a window that reads what it is typed as a
// toolkit program does, on a private Xvfb display.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "cli/cli_process.h"
#include "support/x_key_window.h"
#include "support/xvfb_server.h"

namespace lintrel::testing {
namespace {

constexpr char kCliPath[] = LINTREL_CLI_PATH;

// Xvfb repeats a key held down longer than 660 ms (its default). With a key delay above
// that, each key must still arrive once: the delay comes between keys, never with one held
// (held for the whole delay, `ab` arrived as `aabbb`).
TEST(CliX11Test, APacedLineArrivesOnceUnderTheServersAutorepeat) {
  XvfbServer server(110, "320x240x24");
  std::string error;
  ASSERT_TRUE(server.Start(&error)) << error;
  const std::unique_ptr<XKeyWindow> window = XKeyWindow::Open(server.display_name(), {}, &error);
  ASSERT_NE(window, nullptr) << error;
  TemporaryDirectory directory;
  const std::string link = directory.File("scanner");
  const std::unique_ptr<platform::VirtualSerialDevice> device = MakeDevice(link);
  ASSERT_NE(device, nullptr);

  // The Escape that ends the line tells the window that the line is complete.
  ChildProcess cli("/usr/bin/env", {"DISPLAY=" + server.display_name(), kCliPath, "--port", PortArg(1, link), "--keys",
                                    "x11", "--key-delay", "700", "--end-char", "27"});
  ASSERT_TRUE(cli.WaitForErr(Connected(1, link))) << cli.Describe();
  ASSERT_TRUE(Send(*device, "ab\x1b"));
  EXPECT_EQ(window->TextUntilEscape(), std::optional<std::string>("ab")) << cli.Describe();
  ExpectStopsCleanly(cli);
}

}  // namespace
}  // namespace lintrel::testing
