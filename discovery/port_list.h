#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lintrel {

// One serial port offered to the user: its name (COMn) and, where the platform names
// devices by path, the device behind it (empty: the platform's default path for COMn).
struct PortEntry {
  std::string name;
  std::string device_path;
};

// The ports offered in the Port list, kept in the list's own order: by port number, so
// "COM2" stands before "COM10"; entries that name no port come last, in case-insensitive text
// order. Duplicates are kept.
class PortList {
 public:
  // Inserts at the place the sorted list gives it, after any entries that compare equal.
  void Add(std::string name, std::string device_path = {});

  const std::vector<PortEntry>& entries() const { return entries_; }
  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }

  // The entry to select for a saved port name: the first entry that is `saved` itself
  // (case-insensitive). Only when there is none, the first entry whose text begins with
  // `saved`, searching from entry 1 to the end and then entry 0, so that entry 0 is
  // examined last. Empty when nothing matches or `saved` is empty.
  std::optional<std::size_t> FindSaved(std::string_view saved) const;

  // The device path of the first entry that names the port and has one; empty when none
  // does (the platform then has a default path for the port).
  std::optional<std::string> DevicePathOf(int port_number) const;

 private:
  std::vector<PortEntry> entries_;
};

// `ports` with the network ports among `pins` (port number to device path; the pins that
// name a network address, "tcp://scale:4001"): each listed under its number with its
// address, in place of a port of the same number. The other pins are left out.
PortList WithNetworkPorts(const PortList& ports, const std::map<int, std::string>& pins);

}  // namespace lintrel
