#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lintrel {

// The application a port's lines are for: a program name (an executable's file name on
// Windows, "excel.exe"; on X11 a window's WM_CLASS instance or class, or the program of its
// _NET_WM_PID) and, optionally, a part of its window's title. Written APP[:TITLE-PART].
struct DeliveryTarget {
  std::string program;     // never empty
  std::string title_part;  // empty: any title

  bool operator==(const DeliveryTarget&) const = default;
};

// "APP" or "APP:TITLE-PART" (the first colon splits them, so a title part may hold more);
// nothing for an empty APP.
std::optional<DeliveryTarget> ParseDeliveryTarget(std::string_view text);
std::string DeliveryTargetText(const DeliveryTarget& target);

// What becomes of a line while another window than its target's is in front.
enum class Elsewhere { kHold, kActivate, kDrop };
// How a line is typed into its target.
enum class DeliveryMethod { kKeys, kUnicode, kPaste };

// "hold", "activate", "drop" (any case); nothing for anything else.
std::optional<Elsewhere> ParseElsewhere(std::string_view text);
std::string ElsewhereName(Elsewhere elsewhere);
// "keys", "unicode", "paste" (any case); nothing for anything else.
std::optional<DeliveryMethod> ParseDeliveryMethod(std::string_view text);
std::string DeliveryMethodName(DeliveryMethod method);

// Where and how one port's lines are typed. Without a target, into the window in front, as
// ever.
struct DeliveryRules {
  std::optional<DeliveryTarget> target;
  Elsewhere elsewhere = Elsewhere::kHold;
  DeliveryMethod method = DeliveryMethod::kKeys;
  // The system's warning sound for each line of the port that is not typed.
  bool sound_not_typed = false;

  bool operator==(const DeliveryRules&) const = default;
};

}  // namespace lintrel
