#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/keyboard.h"

namespace lintrel::platform {

// How the rights of the program that owns the window receiving the keys compare with ours.
enum class TargetRights { kUnknown, kNotHigher, kHigher };

// How the integrity level (the RID of the mandatory label: 0x2000 medium, 0x3000 high) of the
// program in front compares with ours; kUnknown where either cannot be read.
TargetRights CompareIntegrity(std::optional<uint32_t> own, std::optional<uint32_t> target);

// What injecting one line's key events needs from a system that takes a line as one block
// of input (Windows' SendInput).
class KeyInjectionSystem {
 public:
  virtual ~KeyInjectionSystem() = default;
  // Windows drops, without a word, input that a program sends to a window of a program
  // running with higher rights (one started as administrator, say).
  virtual TargetRights ForegroundWindowRights() = 0;
  // Injects the events as one block; returns how many the system took.
  virtual std::size_t Inject(std::span<const KeyEvent> events) = 0;
  // The system's reason for the last failure, or empty.
  virtual std::string LastErrorText() = 0;
};

// Injects a line's events and accounts for them: nothing is sent to a window whose
// program runs with higher rights (its keys would be dropped unseen), and a system that
// took fewer events than given says so. Where the rights cannot be read the line is sent.
KeyOutputResult InjectKeys(KeyInjectionSystem& system, std::span<const KeyEvent> events);

}  // namespace lintrel::platform
