#include <windows.h>
#include <devguid.h>
#include <setupapi.h>
#include <winioctl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/pnp_devices.h"
#include "platform/win32/wide_text.h"

namespace lintrel::platform {
namespace {

// Longer than any device instance id (MAX_DEVICE_ID_LEN is 200) and any port name.
constexpr DWORD kTextBufferSize = 256;

std::string PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
  const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE) return "";
  wchar_t name[kTextBufferSize] = {};
  DWORD size = sizeof name - sizeof(wchar_t);  // room for a zero the stored text may lack
  DWORD type = 0;
  const LSTATUS status = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && type == REG_SZ ? Utf8Text(name) : std::string();
}

// Every present device of the set that has a port name.
void CollectPorts(const GUID& guid, DWORD flags, std::vector<PnpSerialPort>& ports) {
  const HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, flags | DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
    wchar_t wide_id[kTextBufferSize] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, &device, wide_id, kTextBufferSize, nullptr)) continue;
    const std::string instance_id = Utf8Text(wide_id);
    std::string name = PortNameOf(set, device);
    if (name.empty()) continue;
    const bool known = std::any_of(ports.begin(), ports.end(),
                                   [&](const PnpSerialPort& port) { return port.instance_id == instance_id; });
    if (!known) ports.push_back({std::move(name), instance_id});
  }
  SetupDiDestroyDeviceInfoList(set);
}

class SetupApiDevices : public PnpDevices {
 public:
  std::vector<PnpSerialPort> PresentSerialPorts() override {
    // Most serial drivers put their devices in the Ports class; some (modems, a few
    // USB-serial drivers) only register the COM port interface.
    std::vector<PnpSerialPort> ports;
    CollectPorts(GUID_DEVCLASS_PORTS, 0, ports);
    CollectPorts(GUID_DEVINTERFACE_COMPORT, DIGCF_DEVICEINTERFACE, ports);
    return ports;
  }
};

}  // namespace

std::unique_ptr<PnpDevices> OpenSystemPnpDevices() { return std::make_unique<SetupApiDevices>(); }

}  // namespace lintrel::platform
