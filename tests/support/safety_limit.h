#pragma once

#include <chrono>

namespace lintrel::testing {

// How long a test or the benchmark waits for something that should happen at once before it
// gives up. Only a net against hangs; nothing is measured against it.
inline constexpr std::chrono::seconds kSafetyLimit(10);

}  // namespace lintrel::testing
