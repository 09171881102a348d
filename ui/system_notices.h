#pragma once

#include <cstdint>
#include <optional>

namespace lintrel::ui {

// What the system's device and power notices mean to the main window. The values are
// those of the Windows messages (WM_DEVICECHANGE's event and the device type of its
// notice, WM_POWERBROADCAST's event), so that the rule is kept and tested apart from them.
enum class DeviceChange {
  kNone,     // nothing for serial ports
  kArrived,  // a serial port appeared: waiting ports are tried at once
  kRemoved,  // a serial port went away
  kChanged,  // the devices changed, without saying which (some drivers announce only this)
};

inline constexpr uint32_t kDeviceArrivalEvent = 0x8000;         // DBT_DEVICEARRIVAL
inline constexpr uint32_t kDeviceRemoveCompleteEvent = 0x8004;  // DBT_DEVICEREMOVECOMPLETE
inline constexpr uint32_t kDevNodesChangedEvent = 0x0007;       // DBT_DEVNODES_CHANGED
inline constexpr uint32_t kPortDeviceType = 3;                  // DBT_DEVTYP_PORT
inline constexpr uint32_t kDeviceInterfaceType = 5;             // DBT_DEVTYP_DEVICEINTERFACE
inline constexpr uint32_t kResumeSuspendEvent = 0x0007;         // PBT_APMRESUMESUSPEND
inline constexpr uint32_t kResumeAutomaticEvent = 0x0012;       // PBT_APMRESUMEAUTOMATIC

// `device_type` is the type in the notice's header, nullopt when the event carries none.
// Arrivals and removals count for ports (the broadcast every window gets, "COM7") and for
// device interfaces (the COM port interface this program registers for); not for volumes
// and the like.
constexpr DeviceChange ClassifyDeviceChange(uint32_t event, std::optional<uint32_t> device_type) {
  if (event == kDevNodesChangedEvent) return DeviceChange::kChanged;
  const bool serial = device_type == kPortDeviceType || device_type == kDeviceInterfaceType;
  if (!serial) return DeviceChange::kNone;
  if (event == kDeviceArrivalEvent) return DeviceChange::kArrived;
  if (event == kDeviceRemoveCompleteEvent) return DeviceChange::kRemoved;
  return DeviceChange::kNone;
}

// Windows sends the automatic resume always, and the other one when a user is there too.
constexpr bool IsResume(uint32_t power_event) {
  return power_event == kResumeSuspendEvent || power_event == kResumeAutomaticEvent;
}

}  // namespace lintrel::ui
