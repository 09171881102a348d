#include "settings/delivery_rules.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace lintrel {
namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

template <typename Value, std::size_t N>
std::optional<Value> FindName(const std::array<std::pair<const char*, Value>, N>& names, std::string_view text) {
  const std::string lower = Lower(text);
  for (const auto& [name, value] : names) {
    if (lower == name) return value;
  }
  return std::nullopt;
}

template <typename Value, std::size_t N>
std::string NameOf(const std::array<std::pair<const char*, Value>, N>& names, Value value) {
  for (const auto& [name, named] : names) {
    if (named == value) return name;
  }
  return names.front().first;
}

constexpr std::array<std::pair<const char*, Elsewhere>, 3> kElsewhereNames = {{
    {"hold", Elsewhere::kHold}, {"activate", Elsewhere::kActivate}, {"drop", Elsewhere::kDrop}}};
constexpr std::array<std::pair<const char*, DeliveryMethod>, 3> kMethodNames = {{
    {"keys", DeliveryMethod::kKeys}, {"unicode", DeliveryMethod::kUnicode}, {"paste", DeliveryMethod::kPaste}}};

}  // namespace

std::optional<DeliveryTarget> ParseDeliveryTarget(std::string_view text) {
  const std::size_t colon = text.find(':');
  DeliveryTarget target{std::string(text.substr(0, colon)), ""};
  if (colon != std::string_view::npos) target.title_part = std::string(text.substr(colon + 1));
  if (target.program.empty()) return std::nullopt;
  return target;
}

std::string DeliveryTargetText(const DeliveryTarget& target) {
  return target.title_part.empty() ? target.program : target.program + ":" + target.title_part;
}

std::optional<Elsewhere> ParseElsewhere(std::string_view text) { return FindName(kElsewhereNames, text); }
std::string ElsewhereName(Elsewhere elsewhere) { return NameOf(kElsewhereNames, elsewhere); }
std::optional<DeliveryMethod> ParseDeliveryMethod(std::string_view text) { return FindName(kMethodNames, text); }
std::string DeliveryMethodName(DeliveryMethod method) { return NameOf(kMethodNames, method); }

}  // namespace lintrel
