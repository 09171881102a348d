#include "platform/trace_keyboard.h"

#include "platform/us_layout.h"

namespace lintrel::platform {

KeyMapping TraceKeyboard::Map(uint8_t character) { return UsLayoutMap(character); }

uint8_t TraceKeyboard::ShiftKey() const { return kVirtualKeyShift; }

void TraceKeyboard::KeyDown(uint8_t key_code) { std::fprintf(out_, "down 0x%02X\n", key_code); }

void TraceKeyboard::KeyUp(uint8_t key_code) { std::fprintf(out_, "up 0x%02X\n", key_code); }

void TraceKeyboard::EndLine() { std::fflush(out_); }

}  // namespace lintrel::platform
