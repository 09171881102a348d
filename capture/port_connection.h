#pragma once

#include <functional>
#include <string>

#include "capture/capture_events.h"
#include "capture/port_table.h"
#include "capture/reader_thread.h"
#include "common/resolved_device.h"
#include "capture/typist.h"
#include "platform/serial_port.h"
#include "settings/capture_options.h"

namespace lintrel {

// The OS device path of port COMn ("\\.\COMn" on Windows, a tty path on Linux), or why the
// port has no device to open now. Asked at every open, so a port can follow its device.
using DevicePathResolver = std::function<ResolvedDevice(int port_number)>;

// Opens, configures and closes the serial device of a port slot and runs its reader.
// Every outcome is reported through CaptureEvents.
//
// Thread contract: every call runs on the UI thread. A reader is always stopped (woken and
// joined) before its port is closed.
class PortConnection {
 public:
  // `start_thread` starts the readers' threads and the typist's (tests make it fail).
  PortConnection(PortTable& table, const SharedCaptureOptions& options, platform::SerialDriver& driver,
                 Typist& typist, CaptureEvents& events, DevicePathResolver device_path,
                 ThreadStarter start_thread = StartSystemThread);
  ~PortConnection();  // releases every port
  PortConnection(const PortConnection&) = delete;
  PortConnection& operator=(const PortConnection&) = delete;

  // The user's Connect/Disconnect: connects the port if it is not connected, else
  // disconnects it. Returns false when a connect failed.
  bool TogglePortConnection(int port_number);

  // Opens and configures the port's device with the user's current line settings and starts
  // its reader; a port that is connected already stays as it is. False on failure, which
  // leaves the port disconnected with nothing held.
  bool Connect(int port_number);
  // Stops the port's reader, releases its device and clears its flags; a port that is not
  // connected stays as it is.
  void Disconnect(int port_number);
  // Stops every reader and releases every port (on the way out).
  void ReleaseAllPorts();

  // Called on a reader thread whenever a reader finds its link lost. Set it before the
  // first port is connected; it must be safe to call from any thread.
  void SetLinkLostNotice(std::function<void()> notice) { link_lost_notice_ = std::move(notice); }
  // Shows every reader's chunks and lines to `monitor` (null: to none) from now on. Any
  // thread.
  void SetLineMonitor(std::shared_ptr<LineMonitor> monitor) { monitor_.store(std::move(monitor)); }

 private:
  bool OpenPort(int port_number, const std::string& device, bool reconnecting);
  bool StartReader(int port_number, const std::string& device, bool reconnecting);
  // Stops the port's reader and releases its device.
  void ClosePort(int port_number);
  void ReportNoSuchPort(int port_number);

  PortTable& table_;
  const SharedCaptureOptions& options_;
  platform::SerialDriver& driver_;
  Typist& typist_;
  CaptureEvents& events_;
  DevicePathResolver device_path_;
  ThreadStarter start_thread_;
  std::function<void()> link_lost_notice_;
  LineMonitorSlot monitor_;
};

}  // namespace lintrel
