#pragma once

#include <optional>
#include <set>
#include <string>

#include "discovery/port_list.h"

namespace lintrel::ui {

// The Port list's last entry, which opens the Network port dialog.
inline constexpr std::string_view kNetworkPortEntry = "Network port...";

// The Network port dialog's fields: where the device server is, and the COM port name the
// device gets here.
struct NetworkPortForm {
  std::string address{};    // "Address:", rfc2217://HOST:PORT or tcp://HOST:PORT
  std::string port_text{};  // "COM port:", COMn or n
};

enum class NetworkPortField { kAddress, kPort };

struct NetworkPortFormError {
  NetworkPortField field;
  std::string message;
};

// A network port as it is stored: the port number and the address as it is written back.
struct NetworkPort {
  int port_number = 0;
  std::string address;

  bool operator==(const NetworkPort&) const = default;
};

// The form for a new network port: no address, and the lowest port number from 1 up that
// `used` does not hold.
NetworkPortForm NewNetworkPortForm(const std::set<int>& used);

// Checks the form: the address must be a network address, the port a number from 1 to 256
// that this machine's own ports (`machine_ports`) do not use. A network port may be given
// again with another address.
std::optional<NetworkPortFormError> ApplyNetworkPortForm(const NetworkPortForm& form, const std::set<int>& machine_ports,
                                                         NetworkPort& port);

// The numbers of the entries whose device is on this machine (not a network address).
std::set<int> MachinePortNumbers(const PortList& ports);

// An entry's text in the Port list: its name, and a network port's address after it
// ("COM20  tcp://scale:4001").
std::string PortListText(const PortEntry& entry);

}  // namespace lintrel::ui
