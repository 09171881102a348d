#include "settings/hotkey.h"

#include <array>
#include <cctype>
#include <charconv>
#include <vector>

#include "common/trim.h"

namespace lintrel {
namespace {

struct NamedKey {
  std::string_view name;
  int key;
};

// The keys with a name of their own; letters, digits, F1..F24 and NumPad0..9 are counted.
constexpr std::array<NamedKey, 11> kNamedKeys = {{{"Space", 0x20},
                                                  {"PageUp", 0x21},
                                                  {"PageDown", 0x22},
                                                  {"End", 0x23},
                                                  {"Home", 0x24},
                                                  {"Left", 0x25},
                                                  {"Up", 0x26},
                                                  {"Right", 0x27},
                                                  {"Down", 0x28},
                                                  {"Insert", 0x2D},
                                                  {"Delete", 0x2E}}};
constexpr NamedKey kPause{"Pause", 0x13};
constexpr int kF1 = 0x70;
constexpr int kNumPad0 = 0x60;

struct NamedModifier {
  std::string_view name;
  unsigned modifier;
};

// In the order Text() writes them.
constexpr std::array<NamedModifier, 4> kModifiers = {
    {{"Ctrl", Hotkey::kCtrl}, {"Alt", Hotkey::kAlt}, {"Shift", Hotkey::kShift}, {"Win", Hotkey::kWin}}};

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// The number after `prefix` ("F12" with "F": 12), if the name is the prefix and digits alone.
std::optional<int> NumberAfter(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() || !SameText(name.substr(0, prefix.size()), prefix)) return std::nullopt;
  const std::string_view digits = name.substr(prefix.size());
  if (digits.size() > 2 || (digits.front() == '0' && digits.size() > 1)) return std::nullopt;
  int value = 0;
  const auto [end, problem] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (problem != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

std::optional<int> KeyCode(std::string_view name) {
  if (name.size() == 1) {
    const auto c = static_cast<char>(std::toupper(static_cast<unsigned char>(name.front())));
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return c;
    return std::nullopt;
  }
  for (const NamedKey& named : kNamedKeys) {
    if (SameText(name, named.name)) return named.key;
  }
  if (SameText(name, kPause.name)) return kPause.key;
  if (const std::optional<int> f = NumberAfter(name, "F"); f && *f >= 1 && *f <= 24) return kF1 + *f - 1;
  if (const std::optional<int> pad = NumberAfter(name, "NumPad"); pad && *pad <= 9) return kNumPad0 + *pad;
  return std::nullopt;
}

std::string KeyName(int key) {
  if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) return std::string(1, static_cast<char>(key));
  // Appended rather than added to a literal: GCC 12 warns falsely about the latter (-Wrestrict).
  if (key >= kF1 && key < kF1 + 24) return std::string("F").append(std::to_string(key - kF1 + 1));
  if (key >= kNumPad0 && key <= kNumPad0 + 9) return std::string("NumPad").append(std::to_string(key - kNumPad0));
  if (key == kPause.key) return std::string(kPause.name);
  for (const NamedKey& named : kNamedKeys) {
    if (named.key == key) return std::string(named.name);
  }
  return std::string("key ").append(std::to_string(key));
}

// Whether the key types a character, so that taking it without Ctrl, Alt or Win would take
// that character from every program.
bool TypesCharacter(int key) {
  return key == 0x20 || (key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z') ||
         (key >= kNumPad0 && key <= kNumPad0 + 9);
}

std::vector<std::string_view> SplitParts(std::string_view text) {
  std::vector<std::string_view> parts;
  for (std::size_t plus = text.find('+'); plus != std::string_view::npos; plus = text.find('+')) {
    parts.push_back(Trim(text.substr(0, plus)));
    text.remove_prefix(plus + 1);
  }
  parts.push_back(Trim(text));
  return parts;
}

std::optional<Hotkey> Fail(std::string* error, std::string problem) {
  if (error != nullptr) *error = std::move(problem);
  return std::nullopt;
}

}  // namespace

std::string Hotkey::Text() const {
  std::string text;
  for (const NamedModifier& named : kModifiers) {
    if ((modifiers & named.modifier) != 0) text.append(named.name).append("+");
  }
  return text + KeyName(key);
}

std::optional<Hotkey> ParseHotkey(std::string_view text, std::string* error) {
  std::string quoted(1, '"');
  quoted.append(text).push_back('"');
  const std::vector<std::string_view> parts = SplitParts(text);
  Hotkey hotkey;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    const NamedModifier* found = nullptr;
    for (const NamedModifier& named : kModifiers) {
      if (SameText(parts[i], named.name) || (named.modifier == Hotkey::kCtrl && SameText(parts[i], "Control"))) found = &named;
    }
    if (found == nullptr) {
      return Fail(error, quoted + ": \"" + std::string(parts[i]) + "\" is not Ctrl, Alt, Shift or Win");
    }
    if ((hotkey.modifiers & found->modifier) != 0) {
      return Fail(error, quoted + ": " + std::string(found->name) + " is given twice");
    }
    hotkey.modifiers |= found->modifier;
  }
  const std::string_view key_name = parts.back();
  if (key_name.empty()) return Fail(error, quoted + ": the key is missing after the modifiers (Ctrl+Alt+F9)");
  const std::optional<int> key = KeyCode(key_name);
  if (!key) {
    return Fail(error, quoted + ": \"" + std::string(key_name) +
                           "\" is not a key (A to Z, 0 to 9, F1 to F24, NumPad0 to NumPad9, Space, Insert, Delete, "
                           "Home, End, PageUp, PageDown, Up, Down, Left, Right, Pause)");
  }
  hotkey.key = *key;
  if (TypesCharacter(hotkey.key) && (hotkey.modifiers & (Hotkey::kCtrl | Hotkey::kAlt | Hotkey::kWin)) == 0) {
    return Fail(error, quoted + ": " + KeyName(hotkey.key) +
                           " types a character: it needs Ctrl, Alt or Win, or every program would lose it");
  }
  return hotkey;
}

}  // namespace lintrel
