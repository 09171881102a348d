#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace lintrel::testing {

// An in-memory serial port driven by the test: each pushed event is what one wait
// reports, with the bytes the read after it returns.
class FakeSerialPort : public platform::SerialPort {
 public:
  struct Event {
    platform::WaitOutcome outcome = platform::WaitOutcome::kImmediate;
    uint32_t events = platform::kEventReceived;
    std::vector<uint8_t> bytes;
    bool device_gone = false;  // the read after this wait finds the device gone
    std::optional<bool> carrier_present = std::nullopt;
    bool read_throws = false;  // the read after this wait throws std::bad_alloc
  };

  // Queues bytes as a wait that completes at once.
  void PushImmediate(std::string_view bytes);
  // Queues bytes as a wait that had to block.
  void PushDeferred(std::string_view bytes);
  void PushCarrierChange(platform::WaitOutcome outcome);
  void PushDeviceGone();
  void Push(Event event);

  // Blocks (bounded) until the reader has consumed every queued event and is waiting again.
  bool WaitUntilDrained();
  // Blocks (bounded) until the reader has taken every queued event.
  bool WaitUntilConsumed();

  bool closed() const;
  bool woken() const;
  int waits() const;

  platform::WaitResult WaitForEvent() override;
  platform::ReadResult Read(std::span<uint8_t> buffer) override;
  void Wake() override;
  void Close() override;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Event> events_;
  std::vector<uint8_t> staged_;
  bool staged_gone_ = false;
  bool staged_throws_ = false;
  bool woken_ = false;
  bool closed_ = false;
  bool waiting_ = false;
  int waits_ = 0;
};

// Opens FakeSerialPorts; a device path can be made to fail.
class FakeSerialDriver : public platform::SerialDriver {
 public:
  platform::OpenResult Open(const std::string& device_path,
                            const platform::LineParameters& parameters) override;

  void SetFailure(const std::string& device_path, platform::SerialErrorKind kind);
  void ClearFailure(const std::string& device_path);

  // The port most recently opened at the path (null if never opened).
  FakeSerialPort* LastPort(const std::string& device_path);
  int OpenCount(const std::string& device_path) const;
  platform::LineParameters LastParameters() const { return last_parameters_; }

 private:
  // Ports stay alive here after the engine releases them so tests can inspect them.
  class PortHandle;
  std::map<std::string, platform::SerialErrorKind> failures_;
  std::map<std::string, std::vector<std::shared_ptr<FakeSerialPort>>> opened_;
  platform::LineParameters last_parameters_;
};

}  // namespace lintrel::testing
