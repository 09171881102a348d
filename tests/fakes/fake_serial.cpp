#include "fakes/fake_serial.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <utility>

namespace lintrel::testing {

namespace {
constexpr auto kSafetyTimeout = std::chrono::seconds(10);
}

void FakeSerialPort::PushImmediate(std::string_view bytes) {
  Push({platform::WaitOutcome::kImmediate, platform::kEventReceived, {bytes.begin(), bytes.end()}});
}

void FakeSerialPort::PushDeferred(std::string_view bytes) {
  Push({platform::WaitOutcome::kDeferred, platform::kEventReceived, {bytes.begin(), bytes.end()}});
}

void FakeSerialPort::PushCarrierChange(platform::WaitOutcome outcome) {
  Push({outcome, platform::kEventCarrierChanged, {}});
}

void FakeSerialPort::PushDeviceGone() {
  Push({platform::WaitOutcome::kDeferred, platform::kEventReceived, {}, true});
}

void FakeSerialPort::Push(Event event) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back(std::move(event));
  changed_.notify_all();
}

bool FakeSerialPort::WaitUntilDrained() {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, kSafetyTimeout, [this] { return events_.empty() && waiting_; });
}

bool FakeSerialPort::WaitUntilConsumed() {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, kSafetyTimeout, [this] { return events_.empty(); });
}

bool FakeSerialPort::closed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

bool FakeSerialPort::woken() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return woken_;
}

int FakeSerialPort::waits() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waits_;
}

platform::WaitResult FakeSerialPort::WaitForEvent() {
  std::unique_lock<std::mutex> lock(mutex_);
  ++waits_;
  waiting_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return woken_ || !events_.empty(); });
  waiting_ = false;
  if (woken_) return {platform::WaitOutcome::kWoken, 0};
  Event event = std::move(events_.front());
  events_.pop_front();
  staged_ = std::move(event.bytes);
  staged_gone_ = event.device_gone;
  staged_throws_ = event.read_throws;
  changed_.notify_all();
  return {event.outcome, event.events, event.carrier_present};
}

platform::ReadResult FakeSerialPort::Read(std::span<uint8_t> buffer) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (staged_gone_) return {0, true};
  if (std::exchange(staged_throws_, false)) throw std::bad_alloc();
  const std::size_t count = std::min(buffer.size(), staged_.size());
  std::copy_n(staged_.begin(), count, buffer.begin());
  staged_.erase(staged_.begin(), staged_.begin() + static_cast<std::ptrdiff_t>(count));
  return {count, false};
}

void FakeSerialPort::Wake() {
  std::lock_guard<std::mutex> lock(mutex_);
  woken_ = true;
  changed_.notify_all();
}

void FakeSerialPort::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
}

// The engine owns what Open returns; this forwards to a port the driver keeps alive.
class FakeSerialDriver::PortHandle : public platform::SerialPort {
 public:
  explicit PortHandle(std::shared_ptr<FakeSerialPort> port) : port_(std::move(port)) {}
  platform::WaitResult WaitForEvent() override { return port_->WaitForEvent(); }
  platform::ReadResult Read(std::span<uint8_t> buffer) override { return port_->Read(buffer); }
  void Wake() override { port_->Wake(); }
  void Close() override { port_->Close(); }

 private:
  std::shared_ptr<FakeSerialPort> port_;
};

platform::OpenResult FakeSerialDriver::Open(const std::string& device_path,
                                            const platform::LineParameters& parameters) {
  last_parameters_ = parameters;
  if (auto failure = failures_.find(device_path); failure != failures_.end()) {
    return {nullptr, {failure->second, 2, device_path + ": cannot open"}};
  }
  auto port = std::make_shared<FakeSerialPort>();
  opened_[device_path].push_back(port);
  return {std::make_unique<PortHandle>(port), {}};
}

void FakeSerialDriver::SetFailure(const std::string& device_path, platform::SerialErrorKind kind) {
  failures_[device_path] = kind;
}

void FakeSerialDriver::ClearFailure(const std::string& device_path) { failures_.erase(device_path); }

FakeSerialPort* FakeSerialDriver::LastPort(const std::string& device_path) {
  auto found = opened_.find(device_path);
  return found == opened_.end() || found->second.empty() ? nullptr : found->second.back().get();
}

int FakeSerialDriver::OpenCount(const std::string& device_path) const {
  auto found = opened_.find(device_path);
  return found == opened_.end() ? 0 : static_cast<int>(found->second.size());
}

}  // namespace lintrel::testing
