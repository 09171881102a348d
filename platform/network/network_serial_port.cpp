#include "platform/network/network_serial_port.h"

#include <asio.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/network_address.h"
#include "platform/network/rfc2217_session.h"
#include "platform/network/tcp_keep_alive.h"

namespace lintrel::platform {
namespace {

using asio::ip::tcp;

// A device server that does not answer a connection request within this is given up (the
// system's own limit is minutes).
constexpr std::chrono::seconds kConnectLimit{10};
// Received bytes held for the reader beyond this stop the reading of the socket until the
// reader has taken them, as a serial driver's full buffer stops a device.
constexpr std::size_t kMostHeldBytes = 64 * 1024;
// The most Write() keeps waiting to go out; a request is a few bytes.
constexpr std::size_t kMostQueuedBytes = 64 * 1024;

std::string Reason(const asio::error_code& error) {
  if (error == asio::error::eof) return "the device server closed the connection";
  return error.message();
}

// The name resolutions under way, each on a thread of its own: getaddrinfo() cannot be
// cancelled, so a port closed during one must not wait for it. Every thread is joined here,
// finished ones when the next starts and the rest when the driver ends.
class Resolutions {
 public:
  ~Resolutions() {
    for (Job& job : jobs_) job.thread.join();
  }

  void Start(std::function<void()> work) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(jobs_, [](Job& job) {
      if (!job.done->load()) return false;
      job.thread.join();
      return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    jobs_.push_back({std::thread([work = std::move(work), done] {
                       work();
                       done->store(true);
                     }),
                     done});
  }

 private:
  struct Job {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex mutex_;
  std::vector<Job> jobs_;
};

// The connection of one network port. Shared with a resolution in progress, which holds it
// weakly: a port closed before its name resolved is simply not told.
class NetworkLink : public std::enable_shared_from_this<NetworkLink> {
 public:
  NetworkLink(NetworkAddress address, const LineParameters& parameters, Resolutions& resolutions)
      : address_(std::move(address)), resolutions_(resolutions) {
    if (address_.protocol == NetworkProtocol::kRfc2217) session_.emplace(parameters);
  }

  WaitResult Wait();
  ReadResult Read(std::span<uint8_t> buffer);
  WriteResult Write(std::span<const uint8_t> bytes);
  void Wake();
  void Close();
  std::string Failure() const;

 private:
  void Begin();
  void Resolve();
  void Connect(const tcp::resolver::results_type& endpoints);
  void Connected();
  void StartReading();
  void Received(std::size_t count);
  void Flush();
  void Fail(const std::string& reason);
  WaitResult Pending(WaitOutcome outcome);

  const NetworkAddress address_;
  Resolutions& resolutions_;

  // The reader thread's alone: it runs every handler in its waits.
  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> work_{io_.get_executor()};
  tcp::socket socket_{io_};
  asio::steady_timer connect_timer_{io_};
  std::optional<Rfc2217Session> session_;
  std::array<uint8_t, 4096> incoming_{};
  std::vector<uint8_t> held_;  // received bytes the reader has not read yet
  bool begun_ = false;
  bool up_ = false;
  bool reading_ = false;
  bool writing_ = false;
  bool failed_ = false;
  bool link_up_news_ = false;
  std::optional<bool> carrier_news_;
  std::vector<uint8_t> wire_out_;  // encoded, waiting for the write in progress
  std::vector<uint8_t> sending_;   // the write in progress

  std::atomic<bool> woken_{false};
  mutable std::mutex mutex_;
  std::vector<uint8_t> queued_;  // Write()'s bytes, not yet encoded
  std::string failure_;
  bool failed_for_writers_ = false;
};

WaitResult NetworkLink::Wait() {
  if (!begun_) Begin();
  WaitOutcome outcome = WaitOutcome::kImmediate;
  for (;;) {
    if (woken_.load()) return {.outcome = WaitOutcome::kWoken, .events = 0};
    if (const WaitResult pending = Pending(outcome); pending.events != 0) return pending;
    if (failed_) return {.outcome = WaitOutcome::kDeviceGone, .events = 0};
    outcome = WaitOutcome::kDeferred;
    io_.run_one();
  }
}

// Each kind of news is reported alone, as a serial port reports its carrier: the reader
// treats a carrier change that comes with data differently. No events: no news.
WaitResult NetworkLink::Pending(WaitOutcome outcome) {
  WaitResult result{.outcome = outcome, .events = 0};
  if (link_up_news_) {
    link_up_news_ = false;
    result.events = kEventLinkUp;
  } else if (carrier_news_) {
    result.events = kEventCarrierChanged;
    result.carrier_present = *std::exchange(carrier_news_, std::nullopt);
  } else if (!held_.empty()) {
    result.events = kEventReceived;
  }
  return result;
}

ReadResult NetworkLink::Read(std::span<uint8_t> buffer) {
  if (held_.empty()) return {.count = 0, .device_gone = failed_};
  const std::size_t count = std::min(buffer.size(), held_.size());
  std::copy_n(held_.begin(), count, buffer.begin());
  held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
  if (up_ && !failed_ && !reading_ && held_.size() < kMostHeldBytes) StartReading();
  return {.count = count, .device_gone = false};
}

WriteResult NetworkLink::Write(std::span<const uint8_t> bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failed_for_writers_) return {.count = 0, .error = {SerialErrorKind::kDeviceGone, 0, failure_}};
    if (queued_.size() + bytes.size() > kMostQueuedBytes) {
      return {.count = 0,
              .error = {SerialErrorKind::kIo, 0, address_.Text() + ": the device server takes no more output now"}};
    }
    queued_.insert(queued_.end(), bytes.begin(), bytes.end());
  }
  // Sent from the reader's waits; before the connection is up, once it is.
  asio::post(io_, [this] { Flush(); });
  return {.count = bytes.size(), .error = {}};
}

void NetworkLink::Wake() {
  woken_.store(true);
  asio::post(io_, [] {});
}

void NetworkLink::Close() {
  asio::error_code ignored;
  connect_timer_.cancel();
  socket_.shutdown(tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
  work_.reset();
}

std::string NetworkLink::Failure() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

void NetworkLink::Begin() {
  begun_ = true;
  asio::error_code error;
  const asio::ip::address literal = asio::ip::make_address(address_.host, error);
  if (!error) {
    Connect(tcp::resolver::results_type::create(tcp::endpoint(literal, address_.port), address_.host,
                                                std::to_string(address_.port)));
    return;
  }
  Resolve();
}

void NetworkLink::Resolve() {
  std::weak_ptr<NetworkLink> weak = weak_from_this();
  resolutions_.Start([weak, host = address_.host, port = std::to_string(address_.port)] {
    asio::io_context local;
    tcp::resolver resolver(local);
    asio::error_code error;
    tcp::resolver::results_type results = resolver.resolve(host, port, error);
    const std::shared_ptr<NetworkLink> link = weak.lock();
    if (!link) return;
    asio::post(link->io_, [link = link.get(), results = std::move(results), error] {
      if (link->failed_) return;
      if (error) {
        link->Fail("cannot find " + link->address_.host + ": " + error.message());
      } else {
        link->Connect(results);
      }
    });
  });
}

void NetworkLink::Connect(const tcp::resolver::results_type& endpoints) {
  connect_timer_.expires_after(kConnectLimit);
  connect_timer_.async_wait([this](const asio::error_code& error) {
    if (error || up_ || failed_) return;
    Fail("cannot connect to " + address_.HostAndPort() + ": no answer within " +
         std::to_string(kConnectLimit.count()) + " s");
    asio::error_code ignored;
    socket_.close(ignored);
  });
  asio::async_connect(socket_, endpoints, [this](const asio::error_code& error, const tcp::endpoint&) {
    if (failed_) return;
    connect_timer_.cancel();
    if (error) {
      Fail("cannot connect to " + address_.HostAndPort() + ": " + Reason(error));
      return;
    }
    Connected();
  });
}

void NetworkLink::Connected() {
  asio::error_code ignored;
  // Requests are a few bytes: they go at once rather than wait to be joined by more.
  socket_.set_option(tcp::no_delay(true), ignored);
  std::string keep_alive_problem;
  if (!SetTcpKeepAlive(static_cast<std::uintptr_t>(socket_.native_handle()), &keep_alive_problem)) {
    Fail(address_.Text() + ": " + keep_alive_problem);
    return;
  }
  up_ = true;
  link_up_news_ = true;
  if (session_) {
    const std::vector<uint8_t> opening = session_->Open();
    wire_out_.insert(wire_out_.end(), opening.begin(), opening.end());
  }
  Flush();
  StartReading();
}

void NetworkLink::StartReading() {
  reading_ = true;
  socket_.async_read_some(asio::buffer(incoming_), [this](const asio::error_code& error, std::size_t count) {
    reading_ = false;
    if (failed_) return;
    if (error) {
      Fail("connection to " + address_.HostAndPort() + " lost: " + Reason(error));
      return;
    }
    Received(count);
    if (!failed_ && held_.size() < kMostHeldBytes) StartReading();
  });
}

void NetworkLink::Received(std::size_t count) {
  const std::span<const uint8_t> bytes(incoming_.data(), count);
  if (!session_) {
    held_.insert(held_.end(), bytes.begin(), bytes.end());
    return;
  }
  SessionInput input = session_->Receive(bytes);
  held_.insert(held_.end(), input.data.begin(), input.data.end());
  if (input.carrier_change) carrier_news_ = input.carrier_change;
  if (!input.failure.empty()) {
    Fail(address_.Text() + ": " + input.failure);
    return;
  }
  if (!input.answer.empty()) {
    wire_out_.insert(wire_out_.end(), input.answer.begin(), input.answer.end());
    Flush();
  }
}

void NetworkLink::Flush() {
  if (!up_ || failed_) return;
  std::vector<uint8_t> data;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    data.swap(queued_);
  }
  // The device's bytes go after the negotiation that opens the connection, so that the
  // server reads them with the line settings it was sent.
  const std::vector<uint8_t> encoded = session_ ? session_->EncodeData(data) : data;
  wire_out_.insert(wire_out_.end(), encoded.begin(), encoded.end());
  if (writing_ || wire_out_.empty()) return;
  writing_ = true;
  sending_.swap(wire_out_);
  wire_out_.clear();
  asio::async_write(socket_, asio::buffer(sending_), [this](const asio::error_code& error, std::size_t) {
    writing_ = false;
    if (failed_) return;
    if (error) {
      Fail("connection to " + address_.HostAndPort() + " lost: " + Reason(error));
      return;
    }
    Flush();
  });
}

void NetworkLink::Fail(const std::string& reason) {
  if (failed_) return;
  failed_ = true;
  std::lock_guard<std::mutex> lock(mutex_);
  failure_ = reason;
  failed_for_writers_ = true;
}

class NetworkSerialPort final : public SerialPort {
 public:
  explicit NetworkSerialPort(std::shared_ptr<NetworkLink> link) : link_(std::move(link)) {}
  ~NetworkSerialPort() override { Close(); }

  WaitResult WaitForEvent() override { return link_->Wait(); }
  ReadResult Read(std::span<uint8_t> buffer) override { return link_->Read(buffer); }
  WriteResult Write(std::span<const uint8_t> bytes) override { return link_->Write(bytes); }
  void Wake() override { link_->Wake(); }
  void Close() override { link_->Close(); }
  bool ConnectsLater() const override { return true; }
  std::string LinkFailure() const override { return link_->Failure(); }

 private:
  std::shared_ptr<NetworkLink> link_;
};

class NetworkSerialDriver final : public SerialDriver {
 public:
  OpenResult Open(const std::string& device_path, const LineParameters& parameters, PortAccess) override {
    std::string problem;
    std::optional<NetworkAddress> address = ParseNetworkAddress(device_path, &problem);
    if (!address) return {.port = nullptr, .error = {SerialErrorKind::kInvalidArgument, 0, problem}};
    auto link = std::make_shared<NetworkLink>(std::move(*address), parameters, resolutions_);
    return {.port = std::make_unique<NetworkSerialPort>(std::move(link)), .error = {}};
  }

 private:
  Resolutions resolutions_;
};

}  // namespace

std::unique_ptr<SerialDriver> MakeNetworkSerialDriver() { return std::make_unique<NetworkSerialDriver>(); }

}  // namespace lintrel::platform
