#include "platform/trace_keyboard.h"

#include <cerrno>
#include <cstring>

#include "platform/us_layout.h"

namespace lintrel::platform {

TraceKeyboard::TraceKeyboard(std::FILE* out) : out_(out) { FillUsLayout(layout_); }

KeyboardState TraceKeyboard::ReadState() { return {.layout = &layout_, .caps_lock = false, .held_modifier_keys = {}}; }

KeyOutputResult TraceKeyboard::TypeKeys(std::span<const KeyEvent> events) {
  errno = 0;
  for (const KeyEvent& event : events) {
    const char* direction = event.pressed ? "down" : "up";
    const int written = event.character != 0
                            ? std::fprintf(out_, "%s U+%04X\n", direction, static_cast<unsigned>(event.character))
                            : std::fprintf(out_, "%s 0x%02X\n", direction, event.key_code);
    if (written < 0) break;
  }
  if (std::ferror(out_) == 0 && std::fflush(out_) == 0) return {.accepted = events.size(), .error = {}};
  const int failure = errno;
  std::string reason = "cannot write the key trace";
  if (failure != 0) reason += std::string(": ") + std::strerror(failure);
  return {.accepted = 0, .error = reason, .output_lost = true};
}

}  // namespace lintrel::platform
