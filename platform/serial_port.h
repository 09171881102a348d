#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace lintrel::platform {

// Events a serial wait reports, as bits of its event mask.
inline constexpr uint32_t kEventReceived = 0x01;        // bytes have arrived
inline constexpr uint32_t kEventCarrierChanged = 0x20;  // carrier detect changed
// A port that connects after its open (see SerialPort::ConnectsLater) has connected.
inline constexpr uint32_t kEventLinkUp = 0x100;

// The most a single read returns.
inline constexpr std::size_t kReadChunkSize = 1024;

enum class WaitOutcome {
  kImmediate,  // events were already pending when the wait began
  kDeferred,   // the wait blocked until an event arrived
  kWoken,      // Wake() ended the wait, or had been called before it; no events
  kFailed,     // the wait failed for another reason; no events. The reader gives the port
               // up as a lost link: a port returns it only for a failure it cannot retry.
  kDeviceGone, // the device has disappeared: waiting again would only fail again
};

struct WaitResult {
  WaitOutcome outcome = WaitOutcome::kFailed;
  uint32_t events = 0;  // kEvent* bits; 0 unless kImmediate or kDeferred
  // With kEventCarrierChanged: whether the carrier is present after the change, when the
  // port can tell.
  std::optional<bool> carrier_present = std::nullopt;
};

struct ReadResult {
  std::size_t count = 0;      // bytes placed in the buffer, possibly none
  bool device_gone = false;   // the device has disappeared (unplugged, other side closed)
};

enum class SerialErrorKind {
  kNone,
  kNotFound,
  kBusy,
  kAccessDenied,
  kDeviceGone,
  kUnsupported,
  kInvalidArgument,
  kIo,
};

struct SerialError {
  SerialErrorKind kind = SerialErrorKind::kNone;
  int os_code = 0;          // errno or GetLastError() value, 0 when none
  std::string message;      // the system's reason, readable by a person
};

// Parity codes, numbered as the Windows DCB numbers them.
inline constexpr int kParityNone = 0;
inline constexpr int kParityOdd = 1;
inline constexpr int kParityEven = 2;
inline constexpr int kParityMark = 3;
inline constexpr int kParitySpace = 4;

// What a port is opened for. A port is opened for writing only when something is to be sent
// to its device (a request of its profile); otherwise it stays read-only, as it always was.
enum class PortAccess { kRead, kReadWrite };

struct WriteResult {
  std::size_t count = 0;  // bytes taken, all of them unless `error` says why not
  SerialError error;      // kind kNone when every byte was taken
};

struct LineParameters {
  std::optional<uint32_t> baud_rate;  // empty: the rate the device has stays
  int data_bits = 8;
  int parity = kParityNone;
  bool two_stop_bits = false;
};

// One open serial device.
//
// Thread contract: WaitForEvent() and Read() are called by the port's reader thread only.
// Wake() may be called from any thread at any time. Write() and LinkFailure() run on the
// owning thread, also while the reader waits or reads. Close() (and the destructor) run on
// the owning thread after the reader has been joined.
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Blocks until bytes arrive, the carrier changes, or Wake() is called.
  virtual WaitResult WaitForEvent() = 0;

  // Returns at once with what has arrived, up to buffer.size() bytes.
  virtual ReadResult Read(std::span<uint8_t> buffer) = 0;

  // Ends a pending WaitForEvent(); every later wait returns kWoken at once.
  virtual void Wake() = 0;

  // Drops DTR, purges both directions and releases the device. Idempotent.
  virtual void Close() = 0;

  // Hands bytes to the device without waiting for them to be sent (a request: a few bytes).
  // A port opened read-only takes none and says so.
  virtual WriteResult Write(std::span<const uint8_t> bytes) = 0;

  // Whether the port connects to its device only after Open() has returned, in its reader's
  // waits (a network port: resolving a name and connecting never hold up the caller). Its
  // wait reports kEventLinkUp once connected; a wait that ends in kDeviceGone before then
  // means the connection could not be made.
  virtual bool ConnectsLater() const { return false; }

  // What ended the link, in words, when the port knows more than "the device has gone"
  // ("cannot connect to scale:4001: Connection refused"); empty otherwise.
  virtual std::string LinkFailure() const { return {}; }
};

struct OpenResult {
  std::unique_ptr<SerialPort> port;  // null on failure
  SerialError error;
};

// Opens serial devices by their OS path, configured for raw reads that return at once,
// RTS on and CTS flow control off.
class SerialDriver {
 public:
  virtual ~SerialDriver() = default;
  virtual OpenResult Open(const std::string& device_path, const LineParameters& parameters,
                          PortAccess access = PortAccess::kRead) = 0;
};

// The platform's serial driver: local devices by their path, and the network ports that
// "rfc2217://HOST:PORT" and "tcp://HOST:PORT" name (see platform/network).
std::unique_ptr<SerialDriver> MakeSystemSerialDriver();
// The platform's local serial devices alone.
std::unique_ptr<SerialDriver> MakeLocalSerialDriver();

}  // namespace lintrel::platform
