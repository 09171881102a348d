#pragma once

#include <string>
#include <string_view>

#include "platform/serial_port.h"
#include "settings/line_settings.h"

namespace lintrel {

inline constexpr std::string_view kPortOpenFailMessage =
    "Port open fail!!\r\nPlease check the status!!";

// The tray icon images that show the current port's state.
enum class TrayImage { kNormal, kActivity, kPaused };

// What the capture engine needs from the user interface (the Windows dialog, or the
// command line). Every call comes on the UI thread.
class UiHooks {
 public:
  virtual ~UiHooks() = default;

  // The line settings as the user has them now (the dialog reads its controls).
  virtual LineSettings PullLineSettings() = 0;
  // A modal message to the user.
  virtual void ShowMessage(std::string_view text) = 0;

  // Status, for captions, icons and status lines.
  virtual void PortConnected(int /*port_number*/, const std::string& /*device_path*/) {}
  virtual void PortDisconnected(int /*port_number*/) {}
  virtual void PortOpenFailed(int /*port_number*/, const std::string& /*device_path*/,
                              const platform::SerialError& /*error*/, bool /*reconnecting*/) {}
  virtual void LinkLost(int /*port_number*/) {}
  virtual void SetTrayImage(TrayImage /*image*/) {}
};

}  // namespace lintrel
