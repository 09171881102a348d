#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lintrel::platform {

// An XKB keyboard layout by name, with its variant ("de" and "nodeadkeys"; the variant may
// be empty).
struct LayoutName {
  std::string layout;
  std::string variant;

  // "de", or "de(nodeadkeys)" with a variant, as XKB writes it.
  std::string Describe() const;
  bool operator==(const LayoutName&) const = default;
};

// "LAYOUT" or "LAYOUT:VARIANT". Names are letters, digits, '_' and '-' only, so that no name
// reaches outside the XKB data folder; anything else gives no layout.
std::optional<LayoutName> ParseLayoutName(std::string_view text);

// Where the system says which layout its keyboard has.
struct LayoutSources {
  std::optional<std::string> env_layout;   // XKB_DEFAULT_LAYOUT
  std::optional<std::string> env_variant;  // XKB_DEFAULT_VARIANT
  std::optional<std::string> keyboard_file;  // the text of /etc/default/keyboard
};

// The layout to type with: the one given, else XKB_DEFAULT_LAYOUT (with XKB_DEFAULT_VARIANT),
// else XKBLAYOUT and XKBVARIANT of the keyboard file, else "us". Of a list ("de,us") the
// first layout is the one in use at start, with the first variant. A name that is not a
// layout name is passed over as if it were not set.
LayoutName ChooseLayout(const std::optional<LayoutName>& given, const LayoutSources& sources);

// The session's display, as the environment describes it.
struct DisplaySession {
  bool wayland = false;             // WAYLAND_DISPLAY set, or XDG_SESSION_TYPE=wayland
  bool x_display_reachable = false;  // an X server answered on DISPLAY
  // Why the X keyboard could not be opened, when it was tried and could not.
  std::string x_display_error;
};

// The keyboard `--keys auto` takes: "x11" when an X display answers and the session is not
// Wayland (there XTest reaches only the programs that run under Xwayland), else "uinput".
// `reason` says why, for the status line: with the X keyboard's error when it was tried.
std::string ChooseAutoKeyboard(const DisplaySession& session, std::string* reason);

}  // namespace lintrel::platform
