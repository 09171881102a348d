#pragma once

#include <cstdio>

#include "app/cli/cli_options.h"
#include "platform/stop_signal.h"

namespace lintrel::cli {

// Runs the engine against two simulated scanners on virtual serial ports: sample codes
// are captured and typed (traced unless --keys names a real keyboard), one scanner is
// unplugged and plugged back to show the reconnection. Returns the exit status.
int RunDemo(const CliOptions& options, platform::StopSignal& stop, std::FILE* out, std::FILE* status);

}  // namespace lintrel::cli
