#include "platform/keyboard_choice.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "common/trim.h"

namespace lintrel::platform {
namespace {

bool IsNameCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-';
}

bool IsName(std::string_view text) { return !text.empty() && std::all_of(text.begin(), text.end(), IsNameCharacter); }

// The first entry of a comma-separated list ("de,us" gives "de"; ",intl" gives "").
std::string_view FirstOfList(std::string_view list) { return list.substr(0, list.find(',')); }

std::optional<LayoutName> LayoutOf(std::string_view layout_list, std::string_view variant_list) {
  const std::string_view layout = FirstOfList(layout_list);
  const std::string_view variant = FirstOfList(variant_list);
  if (!IsName(layout) || (!variant.empty() && !IsName(variant))) return std::nullopt;
  return LayoutName{std::string(layout), std::string(variant)};
}

// A shell-style assignment's value, its quotes removed: XKBLAYOUT="de" or XKBLAYOUT=de.
std::string_view Unquote(std::string_view value) {
  value = Trim(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// XKBLAYOUT and XKBVARIANT of /etc/default/keyboard (a shell fragment of assignments).
std::optional<LayoutName> LayoutOfKeyboardFile(const std::string& text) {
  std::string layout;
  std::string variant;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const std::string_view entry = Trim(line);
    const std::size_t equals = entry.find('=');
    if (entry.empty() || entry.front() == '#' || equals == std::string_view::npos) continue;
    const std::string_view key = entry.substr(0, equals);
    if (key == "XKBLAYOUT") layout = Unquote(entry.substr(equals + 1));
    if (key == "XKBVARIANT") variant = Unquote(entry.substr(equals + 1));
  }
  return LayoutOf(layout, variant);
}

}  // namespace

std::string LayoutName::Describe() const { return variant.empty() ? layout : layout + "(" + variant + ")"; }

std::optional<LayoutName> ParseLayoutName(std::string_view text) {
  const std::size_t colon = text.find(':');
  const std::string_view layout = text.substr(0, colon);
  const std::string_view variant = colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
  if (!IsName(layout)) return std::nullopt;
  if (colon != std::string_view::npos && !IsName(variant)) return std::nullopt;
  return LayoutName{std::string(layout), std::string(variant)};
}

LayoutName ChooseLayout(const std::optional<LayoutName>& given, const LayoutSources& sources) {
  if (given) return *given;
  if (sources.env_layout && !sources.env_layout->empty()) {
    if (auto layout = LayoutOf(*sources.env_layout, sources.env_variant.value_or(""))) return *layout;
  }
  if (sources.keyboard_file) {
    if (auto layout = LayoutOfKeyboardFile(*sources.keyboard_file)) return *layout;
  }
  return {"us", ""};
}

std::string ChooseAutoKeyboard(const DisplaySession& session, std::string* reason) {
  if (session.wayland) {
    *reason = "a Wayland session";
    return "uinput";
  }
  if (!session.x_display_reachable) {
    *reason = session.x_display_error.empty() ? "no X display" : "x11: " + session.x_display_error;
    return "uinput";
  }
  *reason = "an X display";
  return "x11";
}

}  // namespace lintrel::platform
