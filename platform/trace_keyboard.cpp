#include "platform/trace_keyboard.h"

#include <cerrno>
#include <cstring>

#include "platform/us_layout.h"

namespace lintrel::platform {

KeyMapping TraceKeyboard::Map(uint8_t character) { return UsLayoutMap(character); }

uint8_t TraceKeyboard::ShiftKey() const { return kVirtualKeyShift; }

KeyOutputResult TraceKeyboard::TypeKeys(std::span<const KeyEvent> events) {
  errno = 0;
  for (const KeyEvent& event : events) {
    if (std::fprintf(out_, event.pressed ? "down 0x%02X\n" : "up 0x%02X\n", event.key_code) < 0) break;
  }
  if (std::ferror(out_) == 0 && std::fflush(out_) == 0) return {.accepted = events.size(), .error = {}};
  const int failure = errno;
  std::string reason = "cannot write the key trace";
  if (failure != 0) reason += std::string(": ") + std::strerror(failure);
  return {.accepted = 0, .error = reason, .output_lost = true};
}

}  // namespace lintrel::platform
