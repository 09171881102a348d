#pragma once

#include <chrono>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>

#include "capture/line_records.h"

namespace lintrel {

// Sees what the readers receive and what becomes of each line, for setting up a device:
// `lintrel-cli --monitor` and the Windows Monitor window.
//
// Thread contract: called on the readers' threads, by several at once; each call must be
// quick and must not block on the UI thread.
class LineMonitor {
 public:
  virtual ~LineMonitor() = default;

  // The bytes of one read, as they came (a paused port's are not seen).
  virtual void ChunkReceived(int port_number, std::chrono::system_clock::time_point when,
                             std::span<const uint8_t> bytes) = 0;
  // One finished line: its bytes as collected (prefix and end character included), and
  // what shaping and the record stage made of it.
  virtual void LineFinished(int port_number, std::chrono::system_clock::time_point when,
                            const FinishedLine& line, const LineResult& result) = 0;
  // False: the monitor is all there is, and no line is handed to the typist.
  virtual bool LinesAreTyped() const { return true; }
};

// Where the readers find the monitor in force, if any; set and cleared on any thread.
using LineMonitorSlot = std::atomic<std::shared_ptr<LineMonitor>>;

}  // namespace lintrel
