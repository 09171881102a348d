#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "capture/line_monitor.h"
#include "capture/port_table.h"
#include "capture/thread_starter.h"
#include "capture/typist.h"
#include "platform/serial_port.h"
#include "settings/capture_options.h"

namespace lintrel {

// One thread per connected port: waits for serial events, reads what arrived, assembles
// lines and hands each finished line to the typist. It reports carrier changes and a vanished device
// through its slot's link_state, and ends once its slot is no longer connected, Stop() is
// called, or the device has gone or a wait failed (both reported as a lost link).
//
// Thread contract: constructed, started and stopped on the UI thread. While it runs it
// reads its slot's connected and paused flags afresh on every event and takes one snapshot
// of the capture options per chunk; it writes only its slot's link_state. Whenever it
// leaves link_state at "lost" it calls `link_lost_notice` (on the reader thread), so that
// a supervisor need not poll.
class ReaderThread {
 public:
  ReaderThread(int port_number, PortSlot& slot, platform::SerialPort& port,
               const SharedCaptureOptions& options, Typist& typist,
               std::function<void()> link_lost_notice = {}, const LineMonitorSlot* monitor = nullptr);
  ~ReaderThread();  // stops and joins
  ReaderThread(const ReaderThread&) = delete;
  ReaderThread& operator=(const ReaderThread&) = delete;

  // Throws std::system_error, as `start` does, when no thread could be started; the reader
  // then never runs.
  void Start(const ThreadStarter& start = StartSystemThread);
  // Asks the thread to end and wakes its wait (for the port, or for room in the typist's
  // queue), without waiting for it to end.
  void RequestStop();
  // RequestStop(), then joins the thread. Safe to call more than once.
  void Stop();

  // What failed in the reader, when it ended on an error of its own (an exception: out of
  // memory, say) rather than on a lost link; empty otherwise. Any thread.
  std::string failure() const;

 private:
  void Run();
  void MarkLinkLost();
  // Ends the reader on an error of its own: recorded, then reported as a lost link so that
  // the supervisor re-opens the port.
  void Fail(const std::string& what);
  // One carrier change seen by a wait that had to block.
  void CountCarrierChange();
  // A carrier change, with no data, reported by a wait that completed at once.
  void TakeCarrierChangeAtOnce(std::optional<bool> carrier_present);
  // Hands a finished line, as shaping and the record stage make it, to the typist and the
  // monitor.
  void Deliver(const FinishedLine& finished, const PortCaptureSnapshot& snapshot,
               std::chrono::system_clock::time_point arrival, LineMonitor* monitor);

  const int port_number_;
  PortSlot& slot_;
  platform::SerialPort& port_;
  const SharedCaptureOptions& options_;
  Typist& typist_;
  const std::function<void()> link_lost_notice_;
  const LineMonitorSlot* const monitor_;
  PortLineRecords records_;
  std::atomic<bool> stop_requested_{false};
  mutable std::mutex failure_mutex_;
  std::string failure_;
  std::thread thread_;
};

}  // namespace lintrel
