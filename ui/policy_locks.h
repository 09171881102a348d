#pragma once

#include <string_view>

#include "settings/layered_settings.h"

namespace lintrel::ui {

// What the windows show beside a control whose value a policy sets, which they disable.
inline constexpr std::string_view kSetByAdministratorText = "Set by your administrator";

// The Options dialog's controls whose value a policy sets, for the port it edits (or, without
// one, for every port).
struct OptionsLocks {
  bool end_character = false;
  bool truncate = false;
  bool prefix = false;  // "ComInfo display"
  bool prefix_text = false;
  bool suffix = false;
  bool replacements = false;
  bool control = false;
  bool pattern = false;
  bool unmatched = false;
  bool gs1 = false;
  bool template_text = false;
  bool repeat_window = false;
  bool encoding = false;
  bool key_delay = false;
  bool line_delay = false;
  bool reconnect_delay = false;
  bool reconnect_at_start = false;
  bool follow_devices = false;
  bool target = false;  // the application and its title part, one value
  bool elsewhere = false;
  bool delivery = false;
  bool sound_not_typed = false;
  // The Requests dialog's.
  bool send_on_connect = false;
  bool poll = false;
  bool poll_every = false;
  bool reply_timeout = false;
  bool hotkey = false;

  bool operator==(const OptionsLocks&) const = default;
};

// The main window's line-setting lists whose value a policy sets for a port.
struct LineLocks {
  bool baud = false;
  bool parity = false;
  bool data_bit = false;
  bool stop_bit = false;

  bool operator==(const LineLocks&) const = default;
  bool Any() const { return baud || parity || data_bit || stop_bit; }
};

// `port_number` -1: the values every port shares.
OptionsLocks OptionsLocksFor(const LayeredSettings& settings, int port_number);
LineLocks LineLocksFor(const LayeredSettings& settings, int port_number);
// Whether a policy sets the ports connected at start ("Connected ports").
bool ConnectedPortsLocked(const LayeredSettings& settings);

}  // namespace lintrel::ui
