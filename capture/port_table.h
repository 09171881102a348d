#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <string>

#include "common/port_number.h"
#include "platform/serial_port.h"

namespace lintrel {

class ReaderThread;

// Values of PortSlot::link_state, the link health that readers report and the link
// supervisor acts on.
struct LinkState {
  static constexpr int kFresh = 2;               // the reader has just started
  static constexpr int kOneCarrierChange = 1;    // one carrier change seen while waiting
  static constexpr int kLost = 0;                // the supervisor will close and re-open the port
  static constexpr int kAwaitingReconnect = -1;  // closed by the supervisor, or a re-open failed
  // Values below -1 count further carrier changes; nothing acts on them.
};

// The state of one port number.
//
// Thread contract: `connected`, `paused` and `link_state` are read by the slot's reader
// thread while the UI thread writes them, hence atomic. `port` and `reader` belong to the
// UI thread alone: the reader is handed its port when it starts, and is joined before the
// port is closed. `connected` is set only while the slot has a port and a running reader.
struct PortSlot {
  std::atomic<bool> connected{false};
  std::atomic<bool> paused{false};
  std::unique_ptr<platform::SerialPort> port;
  std::unique_ptr<ReaderThread> reader;
  std::atomic<int> link_state{LinkState::kFresh};
  // The reader's account of what came back, for the requests' replies: the lines it has
  // finished since the port opened, and whether it holds part of the next one.
  std::atomic<uint64_t> lines_finished{0};
  std::atomic<bool> line_under_way{false};
  // Set by the reader once a port that connects later (a network port) has connected.
  std::atomic<bool> link_up{false};

  // The UI thread's alone. How many times the port has been opened, so that what is sent on
  // connect goes once per open; the device it opened; whether its "connected" report waits
  // for link_up.
  int opens = 0;
  std::string device;
  bool awaiting_link_up = false;

  PortSlot();
  ~PortSlot();
  PortSlot(const PortSlot&) = delete;
  PortSlot& operator=(const PortSlot&) = delete;
};

// Every port number 0..256 has its slot, indexed directly by the n of COMn. Which port the
// user's buttons act on is the front end's business, not the table's.
//
// Thread contract: owned by the UI thread; see PortSlot for what readers touch.
struct PortTable {
  std::array<PortSlot, kPortNumberCount> slots;

  PortSlot& operator[](int port_number) { return slots.at(static_cast<std::size_t>(port_number)); }
  const PortSlot& operator[](int port_number) const {
    return slots.at(static_cast<std::size_t>(port_number));
  }

  // The number of slots that have a running reader.
  int OpenPortCount() const;

  // Pause toggle: flips the paused flag of a connected slot; returns the flag afterwards.
  bool TogglePause(int port_number);
};

}  // namespace lintrel
