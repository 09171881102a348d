#pragma once

#include <functional>
#include <thread>

namespace lintrel {

// Starts a thread that runs `body`. Like std::thread, it throws std::system_error when the
// system cannot create one (at the process's thread limit, say).
using ThreadStarter = std::function<std::thread(std::function<void()> body)>;
std::thread StartSystemThread(std::function<void()> body);

}  // namespace lintrel
