#pragma once

#include <set>

#include "ui/network_port_form.h"
#include "ui/win32/dialog.h"

namespace lintrel::ui::win32 {

// The Network port dialog, opened from the Port list's last entry: the address of a device
// server and the COM port name its device gets here. OK checks both and writes them to
// `port`; the caller stores the port. Cancel changes nothing.
class NetworkPortDialog : public Dialog {
 public:
  // `machine_ports`: the numbers of this computer's own ports, which a network port may not take.
  NetworkPortDialog(HINSTANCE instance, std::set<int> machine_ports, NetworkPort& port);

 private:
  bool Exchange(DataExchange& exchange) override;
  void OnOK() override;

  std::set<int> machine_ports_;
  NetworkPort& port_;
  NetworkPortForm form_;
};

}  // namespace lintrel::ui::win32
