#include "ui/win32/network_port_dialog.h"

#include <utility>

#include "ui/win32/resource.h"

namespace lintrel::ui::win32 {

NetworkPortDialog::NetworkPortDialog(HINSTANCE instance, std::set<int> machine_ports, NetworkPort& port)
    : Dialog(instance, IDD_NETWORK_PORT),
      machine_ports_(std::move(machine_ports)),
      port_(port),
      form_(NewNetworkPortForm(machine_ports_)) {}

bool NetworkPortDialog::Exchange(DataExchange& exchange) {
  exchange.Text(IDC_NETWORK_ADDRESS, form_.address);
  exchange.Text(IDC_NETWORK_PORT, form_.port_text);
  return true;
}

void NetworkPortDialog::OnOK() {
  UpdateData(true);
  if (const std::optional<NetworkPortFormError> error = ApplyNetworkPortForm(form_, machine_ports_, port_)) {
    DataExchange exchange(hwnd(), true);
    exchange.Fail(error->field == NetworkPortField::kAddress ? IDC_NETWORK_ADDRESS : IDC_NETWORK_PORT, error->message);
    return;
  }
  EndDialog(IDOK);
}

}  // namespace lintrel::ui::win32
