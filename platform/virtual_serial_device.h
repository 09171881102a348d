#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace lintrel::platform {

// A stand-in for a serial device with no hardware: a pseudo-terminal pair whose port side
// is reached through a fixed path (a link that Plug() re-points), and whose device side
// the simulated device writes into. Used by the demo and by tests.
//
// Thread contract: one thread at a time.
class VirtualSerialDevice {
 public:
  virtual ~VirtualSerialDevice() = default;

  // The path Lintrel opens; stays the same across Unplug()/Plug().
  virtual const std::string& DevicePath() const = 0;
  // Sends bytes as the device would; false when unplugged or on error.
  virtual bool Write(std::span<const uint8_t> bytes) = 0;
  // Takes the device away: the port side hangs up, and the path leads nowhere.
  virtual void Unplug() = 0;
  // Brings a fresh device back behind the same path.
  virtual bool Plug(std::string* error) = 0;
  // The baud rate the port side is set to (by whoever opened the port last); 0 when
  // unplugged or unknown.
  virtual uint32_t PortBaudRate() const = 0;

  // Creates a plugged-in device reachable at `link_path` (which must not exist yet or be
  // a link of an earlier device). Null and *error on failure.
  static std::unique_ptr<VirtualSerialDevice> Create(const std::string& link_path,
                                                     std::string* error);
};

}  // namespace lintrel::platform
