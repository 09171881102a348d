#include "capture/reader_thread.h"

#include <array>
#include <chrono>
#include <exception>
#include <new>
#include <utility>
#include <vector>

#include "capture/line_buffer.h"
#include "common/port_number.h"

namespace lintrel {

std::thread StartSystemThread(std::function<void()> body) { return std::thread(std::move(body)); }

ReaderThread::ReaderThread(int port_number, PortSlot& slot, platform::SerialPort& port,
                           const SharedCaptureOptions& options, Typist& typist,
                           std::function<void()> link_lost_notice, const LineMonitorSlot* monitor)
    : port_number_(port_number),
      slot_(slot),
      port_(port),
      options_(options),
      typist_(typist),
      link_lost_notice_(std::move(link_lost_notice)),
      monitor_(monitor),
      records_(PortName(port_number)) {}

ReaderThread::~ReaderThread() { Stop(); }

void ReaderThread::Start(const ThreadStarter& start) {
  thread_ = start([this] { Run(); });
}

void ReaderThread::RequestStop() {
  stop_requested_.store(true);
  port_.Wake();
  typist_.WakeWaiters();
}

void ReaderThread::Stop() {
  RequestStop();
  if (thread_.joinable()) thread_.join();
}

void ReaderThread::MarkLinkLost() {
  slot_.link_state.store(LinkState::kLost);
  if (link_lost_notice_) link_lost_notice_();
}

void ReaderThread::CountCarrierChange() {
  // The count stops at "lost": below it the value would read as "awaiting reconnection",
  // which the supervisor leaves alone while the reader runs, and the link would never be
  // re-opened.
  int state = slot_.link_state.load();
  while (state > LinkState::kLost && !slot_.link_state.compare_exchange_weak(state, state - 1)) {
  }
  if (state - 1 == LinkState::kLost && link_lost_notice_) link_lost_notice_();
}

void ReaderThread::TakeCarrierChangeAtOnce(std::optional<bool> carrier_present) {
  // A carrier change that was already pending when the wait began, with no data, means the
  // link is lost. Not when it left the carrier up, though: a device that raises its
  // carrier with its first data has that change reported just after the data, and
  // re-opening the port would drop whatever arrives during the reconnection delay. Such a
  // change counts as one seen by a wait that had to block.
  if (!carrier_present.value_or(false)) {
    MarkLinkLost();
  } else if (!slot_.paused.load()) {
    CountCarrierChange();
  }
}

void ReaderThread::Deliver(const FinishedLine& finished, const PortCaptureSnapshot& snapshot,
                           std::chrono::system_clock::time_point arrival, LineMonitor* monitor) {
  LineResult result = records_.Process(finished, snapshot, options_.ansi_code_page(), arrival,
                                       std::chrono::steady_clock::now());
  if (monitor != nullptr) {
    monitor->LineFinished(port_number_, arrival, finished, result);
    if (!monitor->LinesAreTyped()) return;
  }
  records::RecordOutcome& outcome = result.outcome;
  if (outcome.verdict == records::RecordVerdict::kNotTyped) {
    typist_.EnqueueNotTyped(port_number_, std::move(outcome.reason), stop_requested_);
  } else if (outcome.verdict == records::RecordVerdict::kType && !outcome.text.empty()) {
    typist_.Enqueue(port_number_, std::move(outcome.text), stop_requested_);
  }
}

void ReaderThread::Run() {
  slot_.link_state.store(LinkState::kFresh);
  LineBuffer line(PortName(port_number_) + ":");
  std::array<uint8_t, platform::kReadChunkSize> chunk{};

  // Reads the bytes that arrived and runs them through the line rules unless the port is
  // paused, in which case they are dropped. False when the device has gone.
  const auto read_and_append = [&](uint32_t events) {
    const platform::ReadResult read = port_.Read(chunk);
    if (read.device_gone) return false;
    if (slot_.paused.load()) return true;
    // A carrier change seen by a wait that had to block counts down the link state.
    if (events == platform::kEventCarrierChanged) CountCarrierChange();
    // One snapshot of the options for the whole chunk, and one time of arrival.
    const PortCaptureSnapshot snapshot = options_.LoadFor(port_number_);
    const auto arrival = std::chrono::system_clock::now();
    const std::span<const uint8_t> bytes(chunk.data(), read.count);
    const std::shared_ptr<LineMonitor> monitor = monitor_ != nullptr ? monitor_->load() : nullptr;
    if (monitor) monitor->ChunkReceived(port_number_, arrival, bytes);
    line.Append(bytes, snapshot.options,
                [&](const FinishedLine& finished) { Deliver(finished, snapshot, arrival, monitor.get()); });
    return true;
  };

  try {
    do {
      const platform::WaitResult wait = port_.WaitForEvent();
      bool device_present = true;
      if (wait.outcome == platform::WaitOutcome::kImmediate) {
        if (wait.events & platform::kEventReceived) device_present = read_and_append(wait.events);
        if (wait.events == platform::kEventCarrierChanged) TakeCarrierChangeAtOnce(wait.carrier_present);
      } else if (wait.outcome == platform::WaitOutcome::kDeferred) {
        device_present = read_and_append(wait.events);
      } else if (wait.outcome == platform::WaitOutcome::kDeviceGone ||
                 wait.outcome == platform::WaitOutcome::kFailed) {
        // A wait that failed is not retried here, paused or not: a port whose waits fail
        // would fail again at once, and the reader would spin without end.
        device_present = false;
      }
      if (!device_present) {
        // Reading a vanished device would only fail again at once: report the lost link
        // and end, so the supervisor can release the port and re-open it later.
        MarkLinkLost();
        return;
      }
    } while (slot_.connected.load() && !stop_requested_.load());
  } catch (const std::bad_alloc&) {
    // Nothing may escape a reader thread; the supervisor re-opens the port, and says why.
    Fail("out of memory");
  } catch (const std::exception& e) {
    Fail(e.what());
  } catch (...) {
    Fail("an unknown error");
  }
}

void ReaderThread::Fail(const std::string& what) {
  {
    std::lock_guard<std::mutex> lock(failure_mutex_);
    failure_ = "reading failed: " + what;
  }
  MarkLinkLost();
}

std::string ReaderThread::failure() const {
  std::lock_guard<std::mutex> lock(failure_mutex_);
  return failure_;
}

}  // namespace lintrel
