#include "discovery/port_list.h"

#include <algorithm>
#include <utility>

#include "common/network_address.h"
#include "common/port_number.h"
#include "discovery/ascii_text.h"

namespace lintrel {

namespace {

using discovery_text::ToUpperAscii;

// Case-insensitive (ASCII) text order.
bool LessIgnoringCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(ToUpperAscii(x)) <
           static_cast<unsigned char>(ToUpperAscii(y));
  });
}

// The list's order: ports by number, as the status line names them (COM2 before COM10);
// entries that name no port after them, in case-insensitive text order.
bool ComesBefore(std::string_view a, std::string_view b) {
  const std::optional<int> a_number = ParsePortName(a);
  const std::optional<int> b_number = ParsePortName(b);
  if (a_number && b_number) return *a_number < *b_number;
  if (a_number || b_number) return a_number.has_value();
  return LessIgnoringCase(a, b);
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (prefix.size() > text.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(),
                    [](char x, char y) { return ToUpperAscii(x) == ToUpperAscii(y); });
}

}  // namespace

void PortList::Add(std::string name, std::string device_path) {
  // upper_bound: the new entry goes after every entry that compares equal to it.
  const auto place = std::upper_bound(entries_.begin(), entries_.end(), name,
                                      [](const std::string& new_name, const PortEntry& entry) {
                                        return ComesBefore(new_name, entry.name);
                                      });
  entries_.insert(place, PortEntry{std::move(name), std::move(device_path)});
}

std::optional<std::size_t> PortList::FindSaved(std::string_view saved) const {
  if (saved.empty() || entries_.empty()) return std::nullopt;
  // The saved port itself comes first: a saved "COM1" must not come back as "COM10".
  for (std::size_t index = 0; index < entries_.size(); ++index) {
    const std::string& name = entries_[index].name;
    if (name.size() == saved.size() && StartsWithIgnoringCase(name, saved)) return index;
  }
  // Entry 0 is examined last by the prefix search.
  for (std::size_t index = 1; index < entries_.size(); ++index) {
    if (StartsWithIgnoringCase(entries_[index].name, saved)) return index;
  }
  if (StartsWithIgnoringCase(entries_[0].name, saved)) return 0;
  return std::nullopt;
}

std::optional<std::string> PortList::DevicePathOf(int port_number) const {
  for (const PortEntry& entry : entries_) {
    if (!entry.device_path.empty() && ParsePortName(entry.name) == port_number) return entry.device_path;
  }
  return std::nullopt;
}

PortList WithNetworkPorts(const PortList& ports, const std::map<int, std::string>& pins) {
  const auto is_network_port = [&pins](int number) {
    const auto pin = pins.find(number);
    return pin != pins.end() && IsNetworkAddressText(pin->second);
  };
  PortList listed;
  for (const PortEntry& entry : ports.entries()) {
    const std::optional<int> number = ParsePortName(entry.name);
    if (!number || !is_network_port(*number)) listed.Add(entry.name, entry.device_path);
  }
  for (const auto& [number, path] : pins) {
    if (IsPortNumber(number) && is_network_port(number)) listed.Add(PortName(number), path);
  }
  return listed;
}

}  // namespace lintrel
