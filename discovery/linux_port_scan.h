#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/port_number.h"
#include "discovery/port_list.h"

namespace lintrel {

// The serial devices of a Linux system, offered under COM names.
//
// A tty counts when its /sys/class/tty/<name> entry has a `device` entry, i.e. real
// hardware stands behind it. The serial core registers placeholder UARTs (ttyS0..ttyS31
// with no chip behind them): those show a `type` file reading 0 and are left out. Every
// /dev/rfcomm<k> (a Bluetooth RFCOMM binding) counts as well.
//
// Naming scheme, fixed so that a saved port name finds the same device again:
//   ttyS<k>    COM(1 + k)     k = 0..31   (COM1..COM32)
//   ttyUSB<k>  COM(33 + k)    k = 0..63   (COM33..COM96)
//   ttyACM<k>  COM(97 + k)    k = 0..63   (COM97..COM160)
//   rfcomm<k>  COM(161 + k)   k = 0..31   (COM161..COM192)
// Every other tty with a device (ttyAMA0, ttyXRUSB0, ...), and the four kinds above with a
// number beyond their range, take COM193..COM256 in natural name order (ttyAMA2 before
// ttyAMA10). Devices that find no free number there are left out.

inline constexpr int kFirstPooledPort = 193;
inline constexpr int kLastPooledPort = kHighestPortNumber;

// Scans `sys_class_tty` (normally /sys/class/tty) and `dev` (normally /dev). The device
// path of each entry is `dev`/<name>. Sorted by port number. A root that cannot be read
// contributes nothing.
std::vector<PortEntry> ScanLinuxSerialPorts(const std::filesystem::path& sys_class_tty,
                                            const std::filesystem::path& dev);

// The device of a port number in the fixed ranges of the naming scheme: COM1 is
// /dev/ttyS0, COM33 /dev/ttyUSB0, COM97 /dev/ttyACM0, COM161 /dev/rfcomm0. Empty for
// numbers outside 1..256 and for the COM193..COM256 pool, which only a scan can resolve.
std::string LinuxDevicePathForPort(int port_number);

// The user's pins (port number -> device path, typically a stable /dev/serial/by-id/...
// link) follow one rule, for listing and opening alike: a pinned device is that port and no
// other.
//  - An entry whose number is pinned takes the pinned path.
//  - An entry under another number that is the same device as a pinned path is dropped, so
//    each device is listed once, under its pinned name; and that other number opens nothing
//    (see PinnedElsewhere).
//  - A pin whose number was not scanned is added (a device that is not plugged in still
//    has its name offered).
//  - Of several pins to one device, the lowest port number keeps it; the others are
//    ignored.
// Paths are compared after resolving links; a path that cannot be resolved is compared as
// written. Pins to numbers outside 1..256 are ignored. The result stays sorted by port
// number.
void ApplyDevicePins(std::vector<PortEntry>& ports, const std::map<int, std::string>& pins);

// The pins that take effect by the rule above.
std::map<int, std::string> EffectiveDevicePins(const std::map<int, std::string>& pins);

// The number of the effective pin, other than `port_number`, whose device is the device at
// `device_path`; nullopt when there is none.
std::optional<int> PinnedElsewhere(const std::string& device_path, int port_number,
                                   const std::map<int, std::string>& pins);

}  // namespace lintrel
