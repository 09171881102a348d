#include "platform/standard_streams.h"

namespace lintrel::platform {

// Windows gives files handles, never the C runtime's descriptor numbers 0 to 2: a missing
// standard stream cannot be taken over by a file the program opens.
bool EnsureStandardStreams() { return true; }

}  // namespace lintrel::platform

namespace lintrel::platform {

bool WriteWithin(std::FILE* stream, std::string_view text, std::chrono::milliseconds /*limit*/) {
  return std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
}

}  // namespace lintrel::platform
