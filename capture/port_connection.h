#pragma once

#include <functional>
#include <string>

#include "capture/keystroke_sender.h"
#include "capture/port_table.h"
#include "capture/ui_hooks.h"
#include "platform/serial_port.h"
#include "settings/capture_options.h"

namespace lintrel {

// The OS device path of port COMn ("\\.\COMn" on Windows, a tty path on Linux).
using DevicePathResolver = std::function<std::string(int port_number)>;

// Opens, configures and closes the serial device of a port slot and runs its reader.
//
// Thread contract: every call runs on the UI thread. A reader is always stopped (woken and
// joined) before its port is closed.
class PortConnection {
 public:
  PortConnection(PortTable& table, const CaptureOptions& options, platform::SerialDriver& driver,
                 KeystrokeSender& sender, UiHooks& hooks, DevicePathResolver device_path);
  ~PortConnection();  // releases every port
  PortConnection(const PortConnection&) = delete;
  PortConnection& operator=(const PortConnection&) = delete;

  // Connects the port if it is not connected, else disconnects it. A failed connect tells
  // the user "Port open fail!!" unless the slot is waiting to be reconnected, in which case
  // it fails silently and the link supervisor tries again. Returns false on failure.
  bool TogglePortConnection(int port_number);

  // Opens and configures the port's device with the user's current line settings.
  bool OpenPort(int port_number);
  // Stops the port's reader and releases its device.
  void ClosePort(int port_number);
  // Stops every reader and releases every port (on the way out).
  void ReleaseAllPorts();

  // Called on a reader thread whenever a reader finds its link lost. Set it before the
  // first port is connected; it must be safe to call from any thread.
  void SetLinkLostNotice(std::function<void()> notice) { link_lost_notice_ = std::move(notice); }

 private:
  bool Connect(int port_number);
  void Disconnect(int port_number);

  PortTable& table_;
  const CaptureOptions& options_;
  platform::SerialDriver& driver_;
  KeystrokeSender& sender_;
  UiHooks& hooks_;
  DevicePathResolver device_path_;
  std::function<void()> link_lost_notice_;
};

}  // namespace lintrel
