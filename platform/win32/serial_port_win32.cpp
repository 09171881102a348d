#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/serial_port.h"
#include "platform/win32/system_error_text.h"
#include "platform/win32/wide_text.h"

namespace lintrel::platform {
namespace {

// Bytes received, and carrier detect changed.
constexpr DWORD kWaitedEvents = EV_RXCHAR | EV_RLSD;
constexpr DWORD kPurgeEverything = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
constexpr char kEndOfFileCharacter = 26;

SerialErrorKind KindOfOpenError(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return SerialErrorKind::kNotFound;
    // A port another program holds is refused with "access denied".
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return SerialErrorKind::kBusy;
    case ERROR_INVALID_PARAMETER:
      return SerialErrorKind::kInvalidArgument;
    case ERROR_NOT_SUPPORTED:
      return SerialErrorKind::kUnsupported;
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_GEN_FAILURE:
      return SerialErrorKind::kDeviceGone;
    default:
      return SerialErrorKind::kIo;
  }
}

SerialError ErrorFromCode(const std::string& path, DWORD code) {
  SerialError error;
  error.kind = KindOfOpenError(code);
  error.os_code = static_cast<int>(code);
  error.message = path + ": " + SystemErrorText(code);
  if (error.kind == SerialErrorKind::kBusy) error.message += " (is another program using the port?)";
  return error;
}

uint32_t EventsFromMask(DWORD mask) {
  uint32_t events = 0;
  if (mask & EV_RXCHAR) events |= kEventReceived;
  if (mask & EV_RLSD) events |= kEventCarrierChanged;
  return events;
}

// One open COM port. The event mask and the OVERLAPPED record that an overlapped
// WaitCommEvent or ReadFile writes belong to this object, which outlives the reader
// thread: the system may complete a wait after the thread that started it has moved on.
class Win32SerialPort final : public SerialPort {
 public:
  Win32SerialPort(HANDLE handle, HANDLE io_event, HANDLE wake_event)
      : handle_(handle), wake_event_(wake_event) {
    overlapped_.hEvent = io_event;
  }
  ~Win32SerialPort() override { Close(); }

  WaitResult WaitForEvent() override;
  ReadResult Read(std::span<uint8_t> buffer) override;
  void Wake() override;
  void Close() override;

 private:
  enum class Completion { kDone, kWoken, kFailed };

  // Waits for the pending operation on overlapped_ to finish, or for Wake(). When woken,
  // or when the wait itself fails, the operation is cancelled and still waited for, so
  // that nothing writes into this object's buffers afterwards.
  Completion AwaitPending();
  void CancelPending();
  std::optional<DWORD> QueuedBytes();
  WaitResult FailedWait() const;
  // The events of a wait that completed; after a carrier change, with the carrier's state.
  WaitResult FinishedWait(WaitOutcome outcome) const;
  std::optional<WaitResult> WaitOnce();
  // A wait or read aborted by a line error (fAbortOnError): acknowledges the error, so that
  // the next operation can work. False when that cannot be done, or when operations have
  // been aborted too often in a row for line errors to be the cause.
  bool AcknowledgeAbort();

  HANDLE handle_;
  HANDLE wake_event_;
  OVERLAPPED overlapped_ = {};
  DWORD event_mask_ = 0;
  std::atomic<bool> woken_{false};
  std::mutex lifetime_mutex_;  // orders Wake() against Close()
  int aborts_in_a_row_ = 0;    // reader thread only
};

// Line errors come one at a time between reads; this many aborted operations with none
// completing in between is a device that fails every operation (such as one unplugged).
constexpr int kMostAbortsInARow = 8;

Win32SerialPort::Completion Win32SerialPort::AwaitPending() {
  const HANDLE handles[2] = {overlapped_.hEvent, wake_event_};
  const DWORD which = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  if (which == WAIT_OBJECT_0) return Completion::kDone;
  if (which == WAIT_OBJECT_0 + 1) {
    // Clearing the mask ends a pending WaitCommEvent for good: the port is being stopped.
    SetCommMask(handle_, 0);
    CancelPending();
    return Completion::kWoken;
  }
  // WAIT_FAILED: nobody woke the reader, and the handles cannot be waited on. Only this
  // operation is given up here; the reader ends on the failure, and the port is re-opened.
  CancelPending();
  return Completion::kFailed;
}

void Win32SerialPort::CancelPending() {
  CancelIoEx(handle_, &overlapped_);
  DWORD ignored = 0;
  GetOverlappedResult(handle_, &overlapped_, &ignored, TRUE);
}

// How many received bytes wait to be read; empty if the driver cannot tell. ClearCommError
// also acknowledges line errors, which would otherwise abort (with fAbortOnError set) every
// later wait and read until acknowledged.
std::optional<DWORD> Win32SerialPort::QueuedBytes() {
  COMSTAT status = {};
  DWORD errors = 0;
  if (!ClearCommError(handle_, &errors, &status)) return std::nullopt;
  return status.cbInQue;
}

bool Win32SerialPort::AcknowledgeAbort() {
  if (++aborts_in_a_row_ > kMostAbortsInARow) return false;
  DWORD errors = 0;
  return ClearCommError(handle_, &errors, nullptr) != FALSE;
}

WaitResult Win32SerialPort::FailedWait() const {
  if (woken_.load()) return {.outcome = WaitOutcome::kWoken, .events = 0};
  // Anything but an acknowledged line error (a USB adapter pulled out, a driver that
  // refuses the wait) fails again at once on every later wait: report the device as gone
  // instead of spinning on it.
  return {.outcome = WaitOutcome::kDeviceGone, .events = 0};
}

WaitResult Win32SerialPort::FinishedWait(WaitOutcome outcome) const {
  WaitResult result{.outcome = outcome, .events = EventsFromMask(event_mask_)};
  DWORD modem_status = 0;
  if ((result.events & kEventCarrierChanged) != 0 && GetCommModemStatus(handle_, &modem_status)) {
    result.carrier_present = (modem_status & MS_RLSD_ON) != 0;
  }
  return result;
}

WaitResult Win32SerialPort::WaitForEvent() {
  for (;;) {
    const std::optional<WaitResult> result = WaitOnce();
    if (result) return *result;
  }
}

// One WaitCommEvent; nullopt when it was aborted by a line error that has now been
// acknowledged, so that the wait is to be made again.
std::optional<WaitResult> Win32SerialPort::WaitOnce() {
  if (woken_.load() || handle_ == INVALID_HANDLE_VALUE) {
    return WaitResult{.outcome = woken_.load() ? WaitOutcome::kWoken : WaitOutcome::kFailed, .events = 0};
  }
  // WaitCommEvent reports what happened since the last wait: bytes a read left behind (a
  // burst longer than one chunk) would wait for the next byte to arrive. Take them first.
  if (QueuedBytes().value_or(0) > 0) return WaitResult{.outcome = WaitOutcome::kImmediate, .events = kEventReceived};
  event_mask_ = 0;
  if (WaitCommEvent(handle_, &event_mask_, &overlapped_)) {
    aborts_in_a_row_ = 0;
    return FinishedWait(WaitOutcome::kImmediate);
  }
  DWORD error = GetLastError();
  if (error == ERROR_IO_PENDING) {
    switch (AwaitPending()) {
      case Completion::kWoken:
        return WaitResult{.outcome = WaitOutcome::kWoken, .events = 0};
      case Completion::kFailed:
        return WaitResult{.outcome = WaitOutcome::kFailed, .events = 0};
      case Completion::kDone:
        break;
    }
    DWORD ignored = 0;
    if (GetOverlappedResult(handle_, &overlapped_, &ignored, FALSE)) {
      aborts_in_a_row_ = 0;
      return FinishedWait(WaitOutcome::kDeferred);
    }
    error = GetLastError();
  }
  // With fAbortOnError set, a line error (parity, framing, overrun) aborts the wait until
  // the error has been acknowledged.
  if (!woken_.load() && error == ERROR_OPERATION_ABORTED && AcknowledgeAbort()) return std::nullopt;
  return FailedWait();
}

ReadResult Win32SerialPort::Read(std::span<uint8_t> buffer) {
  if (handle_ == INVALID_HANDLE_VALUE) return {.count = 0, .device_gone = true};
  if (buffer.empty()) return {};

  // An overlapped read with nothing queued may stay pending until the next byte (some
  // drivers, and Wine, ignore the "return at once" time-outs for overlapped reads); after a
  // carrier-only event that would hold the reader away from its next wait. Ask first.
  if (QueuedBytes() == DWORD{0}) return {};

  const DWORD wanted = static_cast<DWORD>(buffer.size());
  DWORD count = 0;
  if (ReadFile(handle_, buffer.data(), wanted, &count, &overlapped_)) {
    aborts_in_a_row_ = 0;
    return {.count = count, .device_gone = false};
  }
  DWORD error = GetLastError();
  if (error == ERROR_IO_PENDING) {
    // The read is still in progress: its count is known only once it has finished. When
    // woken, the bytes it had already taken are still returned.
    if (AwaitPending() == Completion::kFailed) return {.count = 0, .device_gone = true};
    count = 0;
    if (GetOverlappedResult(handle_, &overlapped_, &count, FALSE) || count > 0 || woken_.load()) {
      aborts_in_a_row_ = 0;
      return {.count = count, .device_gone = false};
    }
    error = GetLastError();
  }
  // A read that failed outright would fail again: bytes still queued make every later wait
  // complete at once, and the reader would go round without end. Only an aborted read (a
  // line error, now acknowledged) is worth another try.
  if (error == ERROR_OPERATION_ABORTED && AcknowledgeAbort()) return {};
  return {.count = 0, .device_gone = true};
}

void Win32SerialPort::Wake() {
  std::lock_guard<std::mutex> lock(lifetime_mutex_);
  woken_.store(true);
  if (wake_event_ != nullptr) SetEvent(wake_event_);
}

void Win32SerialPort::Close() {
  std::lock_guard<std::mutex> lock(lifetime_mutex_);
  if (handle_ != INVALID_HANDLE_VALUE) {
    SetCommMask(handle_, 0);
    EscapeCommFunction(handle_, CLRDTR);
    PurgeComm(handle_, kPurgeEverything);
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
  if (overlapped_.hEvent != nullptr) {
    CloseHandle(overlapped_.hEvent);
    overlapped_.hEvent = nullptr;
  }
  if (wake_event_ != nullptr) {
    CloseHandle(wake_event_);
    wake_event_ = nullptr;
  }
}

void ApplyLineParameters(DCB& dcb, const LineParameters& parameters) {
  if (parameters.baud_rate) dcb.BaudRate = *parameters.baud_rate;
  dcb.ByteSize = static_cast<BYTE>(parameters.data_bits);
  dcb.Parity = static_cast<BYTE>(parameters.parity);
  dcb.StopBits = parameters.two_stop_bits ? TWOSTOPBITS : ONESTOPBIT;
  dcb.fOutxCtsFlow = 0;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fTXContinueOnXoff = 1;
  dcb.fAbortOnError = 1;
  dcb.EofChar = kEndOfFileCharacter;
}

// Reads return at once with whatever has arrived, possibly nothing.
void SetReturnAtOnceTimeouts(HANDLE handle) {
  COMMTIMEOUTS timeouts = {};
  GetCommTimeouts(handle, &timeouts);
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  SetCommTimeouts(handle, &timeouts);
}

// An event for overlapped I/O: WaitCommEvent asks for a manual-reset one. Null, with
// *error set at once from GetLastError(), on failure.
HANDLE CreateManualResetEvent(DWORD* error) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) *error = GetLastError();
  return event;
}

class Win32SerialDriver : public SerialDriver {
 public:
  OpenResult Open(const std::string& device_path, const LineParameters& parameters) override {
    // Read and write access, although nothing is ever written: Wine completes every
    // WaitCommEvent on a read-only handle at once as cancelled, so such a port would never
    // report data there. Windows accepts either.
    HANDLE handle = CreateFileW(WideText(device_path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Failure(device_path, GetLastError());

    SetCommMask(handle, kWaitedEvents);
    // Each failure's code is read right after the call that failed: any call in between,
    // an allocation included, may overwrite it.
    DWORD error = ERROR_SUCCESS;
    HANDLE io_event = CreateManualResetEvent(&error);
    HANDLE wake_event = io_event != nullptr ? CreateManualResetEvent(&error) : nullptr;
    auto port = std::make_unique<Win32SerialPort>(handle, io_event, wake_event);
    if (error != ERROR_SUCCESS) return Fail(*port, device_path, error);

    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(handle, &dcb)) return Fail(*port, device_path, GetLastError());
    SetReturnAtOnceTimeouts(handle);
    ApplyLineParameters(dcb, parameters);
    if (!SetCommState(handle, &dcb)) return Fail(*port, device_path, GetLastError());
    FlushFileBuffers(handle);
    return {.port = std::move(port), .error = {}};
  }

 private:
  static OpenResult Failure(const std::string& device_path, DWORD code) {
    return {.port = nullptr, .error = ErrorFromCode(device_path, code)};
  }
  static OpenResult Fail(Win32SerialPort& port, const std::string& device_path, DWORD code) {
    port.Close();
    return Failure(device_path, code);
  }
};

}  // namespace

std::unique_ptr<SerialDriver> MakeSystemSerialDriver() { return std::make_unique<Win32SerialDriver>(); }

}  // namespace lintrel::platform
