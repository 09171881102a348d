#pragma once

#include <chrono>
#include <string>

#include "capture/delivery.h"
#include "platform/serial_port.h"
#include "settings/line_settings.h"

namespace lintrel {

// A port's link found lost, as the supervisor tells it.
struct LinkLoss {
  std::chrono::milliseconds reconnect_delay{0};  // the port is re-opened after it
  // Empty when the device went or its carrier dropped; else what failed in the port's reader
  // ("reading failed: out of memory").
  std::string cause;
};

// What the capture engine tells the front end that runs it (the main window, the command
// line), and the one thing it asks of it. The engine only reports: a message box, a status
// line or a tray icon is the front end's choice.
//
// Thread contract: every call comes on the UI thread.
class CaptureEvents {
 public:
  virtual ~CaptureEvents() = default;

  // The line settings to open a port with, as the user has them now (the main window reads
  // its controls).
  virtual LineSettings PullLineSettings() = 0;
  // The line settings to open this port with; a front end that keeps each port's own
  // settings for its re-opens answers with those.
  virtual LineSettings LineSettingsFor(int /*port_number*/) { return PullLineSettings(); }

  virtual void PortConnected(int /*port_number*/, const std::string& /*device_path*/) {}
  virtual void PortDisconnected(int /*port_number*/) {}
  // A connect failed: the port is left disconnected. `reconnecting`: the port was waiting
  // to be re-opened after a lost link, and the supervisor tries again every second;
  // otherwise the user asked for it.
  virtual void PortOpenFailed(int /*port_number*/, const std::string& /*device_path*/,
                              const platform::SerialError& /*error*/, bool /*reconnecting*/) {}
  // The supervisor found the port's link lost: it releases the port now and re-opens it
  // after the port's reconnection delay.
  virtual void LinkLost(int /*port_number*/, const LinkLoss& /*loss*/) {}
  // A request to the port's device went wrong: "no reply to the poll", or "poll not sent: "
  // and why. Told once per cause: again only when the cause changes or after a line came
  // back in between (then RequestsAnswered() comes first).
  virtual void RequestProblem(int /*port_number*/, const std::string& /*problem*/) {}
  // A line came back from a port whose request problem was told.
  virtual void RequestsAnswered(int /*port_number*/) {}
  // A line of the port was not typed, for `reason`. Told once per cause: again only when
  // the cause changes or after a line was typed in between. `output_lost`: the key output
  // is gone for good, nothing more will be typed, and the front end should stop.
  virtual void LineNotTyped(int /*port_number*/, const std::string& /*reason*/, bool /*output_lost*/) {}
  // A port's lines began to wait for its target, or no longer wait, or are typed as Unicode
  // for a remote session, or waiting lines were given up (see DeliveryNotice; told once per
  // cause, as LineNotTyped is).
  virtual void DeliveryChanged(const DeliveryNotice& /*notice*/) {}
};

}  // namespace lintrel
