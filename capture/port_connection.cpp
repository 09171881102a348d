#include "capture/port_connection.h"

#include "capture/line_parameters.h"
#include "capture/reader_thread.h"

namespace lintrel {

PortConnection::PortConnection(PortTable& table, const CaptureOptions& options,
                               platform::SerialDriver& driver, KeystrokeSender& sender,
                               UiHooks& hooks, DevicePathResolver device_path)
    : table_(table),
      options_(options),
      driver_(driver),
      sender_(sender),
      hooks_(hooks),
      device_path_(std::move(device_path)) {}

PortConnection::~PortConnection() { ReleaseAllPorts(); }

bool PortConnection::TogglePortConnection(int port_number) {
  if (!IsPortNumber(port_number)) {
    const platform::SerialError error{platform::SerialErrorKind::kInvalidArgument, 0,
                                      PortName(port_number) + " is not a port number from " +
                                          std::to_string(kLowestPortNumber) + " to " +
                                          std::to_string(kHighestPortNumber)};
    hooks_.PortOpenFailed(port_number, "", error, false);
    hooks_.ShowMessage(kPortOpenFailMessage);
    return false;
  }
  if (table_[port_number].connected.load() == 1) {
    Disconnect(port_number);
    return true;
  }
  return Connect(port_number);
}

bool PortConnection::Connect(int port_number) {
  PortSlot& slot = table_[port_number];
  // A slot waiting to be reconnected fails silently: the supervisor tries again each second.
  const bool reconnecting = slot.link_state.load() == LinkState::kAwaitingReconnect;
  if (!OpenPort(port_number)) {
    if (!reconnecting) hooks_.ShowMessage(kPortOpenFailMessage);
    return false;
  }
  slot.connected.store(1);
  slot.reader =
      std::make_unique<ReaderThread>(port_number, slot, *slot.port, options_, sender_, link_lost_notice_);
  slot.reader->Start();
  hooks_.PortConnected(port_number, device_path_(port_number));
  return true;
}

void PortConnection::Disconnect(int port_number) {
  PortSlot& slot = table_[port_number];
  ClosePort(port_number);
  slot.connected.store(0);
  slot.paused.store(0);
  hooks_.PortDisconnected(port_number);
}

bool PortConnection::OpenPort(int port_number) {
  if (!IsPortNumber(port_number)) return false;
  PortSlot& slot = table_[port_number];
  if (slot.port) ClosePort(port_number);

  const LineSettings settings = hooks_.PullLineSettings();
  const std::string device = device_path_(port_number);
  platform::OpenResult opened = driver_.Open(device, LineParametersFromSettings(settings));
  if (!opened.port) {
    const bool reconnecting = slot.link_state.load() == LinkState::kAwaitingReconnect;
    hooks_.PortOpenFailed(port_number, device, opened.error, reconnecting);
    return false;
  }
  slot.port = std::move(opened.port);
  return true;
}

void PortConnection::ClosePort(int port_number) {
  if (!IsPortNumber(port_number)) return;
  PortSlot& slot = table_[port_number];
  // The reader leaves its wait and is joined before the device it reads goes away.
  if (slot.reader) {
    slot.reader->Stop();
    slot.reader.reset();
  }
  if (slot.port) {
    slot.port->Close();
    slot.port.reset();
  }
}

void PortConnection::ReleaseAllPorts() {
  // Wake every reader first so that they all wind down together, then join and close.
  for (PortSlot& slot : table_.slots) {
    if (slot.reader) slot.reader->RequestStop();
  }
  for (int port_number = kLowestPortNumber; port_number <= kHighestPortNumber; ++port_number) {
    PortSlot& slot = table_[port_number];
    ClosePort(port_number);
    slot.connected.store(0);
    slot.paused.store(0);
  }
}

}  // namespace lintrel
