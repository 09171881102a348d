#include "capture/port_connection.h"

#include <exception>

#include "capture/line_parameters.h"
#include "common/port_number.h"

namespace lintrel {

PortConnection::PortConnection(PortTable& table, const SharedCaptureOptions& options,
                               platform::SerialDriver& driver, Typist& typist,
                               CaptureEvents& events, DevicePathResolver device_path,
                               ThreadStarter start_thread)
    : table_(table),
      options_(options),
      driver_(driver),
      typist_(typist),
      events_(events),
      device_path_(std::move(device_path)),
      start_thread_(std::move(start_thread)) {}

PortConnection::~PortConnection() { ReleaseAllPorts(); }

bool PortConnection::TogglePortConnection(int port_number) {
  if (IsPortNumber(port_number) && table_[port_number].connected.load()) {
    Disconnect(port_number);
    return true;
  }
  return Connect(port_number);
}

bool PortConnection::Connect(int port_number) {
  if (!IsPortNumber(port_number)) {
    ReportNoSuchPort(port_number);
    return false;
  }
  PortSlot& slot = table_[port_number];
  if (slot.connected.load()) return true;
  // A slot waiting to be reconnected fails quietly: the supervisor tries again each second.
  const bool reconnecting = slot.link_state.load() == LinkState::kAwaitingReconnect;
  const ResolvedDevice resolved = device_path_(port_number);
  if (!resolved.found()) {
    events_.PortOpenFailed(port_number, "", {platform::SerialErrorKind::kNotFound, 0, resolved.no_device_reason},
                           reconnecting);
    return false;
  }
  const std::string& device = resolved.path;
  if (!OpenPort(port_number, device, reconnecting)) return false;
  if (!StartReader(port_number, device, reconnecting)) return false;
  events_.PortConnected(port_number, device);
  return true;
}

void PortConnection::Disconnect(int port_number) {
  if (!IsPortNumber(port_number)) return;
  PortSlot& slot = table_[port_number];
  if (!slot.connected.load()) return;
  ClosePort(port_number);
  slot.connected.store(false);
  slot.paused.store(false);
  events_.PortDisconnected(port_number);
}

bool PortConnection::OpenPort(int port_number, const std::string& device, bool reconnecting) {
  PortSlot& slot = table_[port_number];
  const LineSettings settings = events_.LineSettingsFor(port_number);
  platform::OpenResult opened;
  try {
    opened = driver_.Open(device, LineParametersFromSettings(settings));
  } catch (const std::exception& e) {
    // A driver that cannot get what it needs to run the port (a thread of its own, memory)
    // fails the open like any other reason.
    opened = {.port = nullptr, .error = {platform::SerialErrorKind::kIo, 0, device + ": " + e.what()}};
  }
  if (!opened.port) {
    events_.PortOpenFailed(port_number, device, opened.error, reconnecting);
    return false;
  }
  slot.port = std::move(opened.port);
  return true;
}

bool PortConnection::StartReader(int port_number, const std::string& device, bool reconnecting) {
  PortSlot& slot = table_[port_number];
  // Connected before the reader runs: its loop ends once it finds the flag clear.
  slot.connected.store(true);
  slot.reader = std::make_unique<ReaderThread>(port_number, slot, *slot.port, options_, typist_, link_lost_notice_,
                                                &monitor_);
  try {
    // The typist runs before the first reader that hands it lines.
    typist_.Start(start_thread_);
    slot.reader->Start(start_thread_);
    return true;
  } catch (const std::exception& e) {
    // No thread to read the port or to type its lines (the process may be at its thread
    // limit): the port is released, never left connected without a reader, and the failure
    // is reported like a failed open, so that a supervised re-open is tried again.
    slot.connected.store(false);
    ClosePort(port_number);
    const platform::SerialError error{platform::SerialErrorKind::kIo, 0,
                                      device + ": cannot start a reader: " + e.what()};
    events_.PortOpenFailed(port_number, device, error, reconnecting);
    return false;
  }
}

void PortConnection::ClosePort(int port_number) {
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

void PortConnection::ReportNoSuchPort(int port_number) {
  const platform::SerialError error{platform::SerialErrorKind::kInvalidArgument, 0,
                                    PortName(port_number) + " is not a port number from " +
                                        std::to_string(kLowestPortNumber) + " to " +
                                        std::to_string(kHighestPortNumber)};
  events_.PortOpenFailed(port_number, "", error, false);
}

void PortConnection::ReleaseAllPorts() {
  // Wake every reader first so that they all wind down together, then join and close.
  for (PortSlot& slot : table_.slots) {
    if (slot.reader) slot.reader->RequestStop();
  }
  for (int port_number = kLowestPortNumber; port_number <= kHighestPortNumber; ++port_number) {
    PortSlot& slot = table_[port_number];
    ClosePort(port_number);
    slot.connected.store(false);
    slot.paused.store(false);
  }
}

}  // namespace lintrel
