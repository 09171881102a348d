#pragma once

// The lintrel-cli that the end-to-end and fault tests run: its path comes from the build
// (LINTREL_CLI_PATH), given to the test programs that include this.
namespace lintrel::testing {

inline constexpr char kCliPath[] = LINTREL_CLI_PATH;

}  // namespace lintrel::testing
