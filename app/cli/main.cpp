#include <cstdio>
#include <string>
#include <vector>

#include "app/cli/cli_app.h"
#include "app/cli/cli_options.h"
#include "app/cli/demo.h"
#include "platform/keyboard.h"
#include "platform/serial_port.h"
#include "platform/stop_signal.h"

namespace {

using namespace lintrel;

int Run(const cli::CliOptions& options, platform::StopSignal& stop) {
  std::string error;
  std::unique_ptr<platform::Keyboard> keyboard = cli::OpenKeyboard(options.keys, stdout, &error);
  if (!keyboard) {
    std::fprintf(stderr, "lintrel-cli: --keys %s: %s\n", options.keys.c_str(), error.c_str());
    return 1;
  }
  std::unique_ptr<platform::SerialDriver> driver = platform::MakeSystemSerialDriver();
  cli::CliApp app(options, *keyboard, *driver, stderr);
  if (!app.ConnectAll()) return 1;
  app.Serve(stop);
  std::fprintf(stderr, "lintrel: stopping\n");
  app.Release();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::vector<std::string> keyboards = platform::SystemKeyboardNames();
  const cli::ParseResult parsed = cli::ParseCliOptions(args, keyboards);
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "lintrel-cli: %s\n", parsed.error.c_str());
    return 2;
  }
  if (parsed.options.help) {
    const std::string usage = cli::CliUsage(keyboards, platform::DefaultDevicePath(1) + " for COM1");
    std::fputs(usage.c_str(), stdout);
    return 0;
  }
  // Before any thread starts, so that SIGINT and SIGTERM reach this thread's wait.
  const std::unique_ptr<platform::StopSignal> stop = platform::StopSignal::Install();
  if (parsed.options.demo) return cli::RunDemo(parsed.options, *stop, stdout, stderr);
  return Run(parsed.options, *stop);
}
