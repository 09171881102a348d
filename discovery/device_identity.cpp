#include "discovery/device_identity.h"

#include <charconv>
#include <fstream>
#include <system_error>

namespace lintrel {

namespace {

namespace fs = std::filesystem;

// sysfs folders between a tty's device and its USB device: the usb-serial port, the
// interface, then the device (a hub chain adds none, each device has its own folder).
constexpr int kMaxLevelsToUsbDevice = 6;

// The first line of a sysfs attribute, empty when it cannot be read.
std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

bool Exists(const fs::path& path) {
  std::error_code error;
  return fs::exists(path, error);
}

std::optional<fs::path> Canonical(const fs::path& path) {
  std::error_code error;
  fs::path resolved = fs::canonical(path, error);
  if (error) return std::nullopt;
  return resolved;
}

// An rfcomm binding names its remote device in the tty's own attributes.
std::optional<DeviceIdentity> BluetoothIdentity(const fs::path& tty_entry) {
  const std::string address = ReadAttribute(tty_entry / "address");
  if (address.empty() || address == "00:00:00:00:00:00") return std::nullopt;
  const std::string channel = ReadAttribute(tty_entry / "channel");
  return DeviceIdentity{.key = "bluetooth:" + address + ":" + channel,
                        .description = "Bluetooth " + address + " channel " + channel,
                        .follows = true,
                        .path = {}};
}

struct UsbFolders {
  fs::path interface;  // has bInterfaceNumber
  fs::path device;     // has idVendor
};

std::optional<UsbFolders> FindUsbFolders(fs::path folder) {
  UsbFolders found;
  for (int level = 0; level <= kMaxLevelsToUsbDevice && folder.has_relative_path(); ++level) {
    if (found.interface.empty() && Exists(folder / "bInterfaceNumber")) found.interface = folder;
    if (Exists(folder / "idVendor")) {
      found.device = folder;
      return found;
    }
    folder = folder.parent_path();
  }
  return std::nullopt;
}

// bInterfaceNumber is two hex digits ("00"); shown as a number.
std::string InterfaceNumber(const std::string& hex) {
  unsigned number = 0;
  const auto [end, error] = std::from_chars(hex.data(), hex.data() + hex.size(), number, 16);
  if (error != std::errc() || end != hex.data() + hex.size()) return hex;
  return std::to_string(number);
}

std::optional<DeviceIdentity> UsbIdentity(const fs::path& device) {
  const std::optional<UsbFolders> usb = FindUsbFolders(device);
  if (!usb) return std::nullopt;
  const std::string ids = ReadAttribute(usb->device / "idVendor") + ":" + ReadAttribute(usb->device / "idProduct");
  const std::string serial = ReadAttribute(usb->device / "serial");
  const std::string interface = usb->interface.empty() ? "" : ReadAttribute(usb->interface / "bInterfaceNumber");
  // A usb-serial driver numbers the ports of one interface; other drivers have one port.
  const std::string port = ReadAttribute(device / "port_number");

  // Without a serial number two adapters of one kind look alike: the USB port path
  // ("1-1.2", bus and hub ports) tells them apart, for as long as each stays in its socket.
  const std::string where = serial.empty() ? "at:" + usb->device.filename().string() : "serial:" + serial;
  std::string description = "USB " + ids + (serial.empty() ? " in USB port " + usb->device.filename().string()
                                                            : " serial " + serial);
  if (!interface.empty()) description += ", interface " + InterfaceNumber(interface);
  if (!port.empty() && port != "0") description += ", port " + port;
  return DeviceIdentity{.key = "usb:" + ids + ":" + where + ":if" + interface + ":" + port,
                        .description = std::move(description),
                        .follows = true,
                        .path = {}};
}

}  // namespace

std::optional<DeviceIdentity> LinuxDeviceIdentities::HardwareIdentity(const std::string& tty_name) const {
  const fs::path entry = sys_class_tty_ / tty_name;
  if (std::optional<DeviceIdentity> bluetooth = BluetoothIdentity(entry)) return bluetooth;
  const std::optional<fs::path> device = Canonical(entry / "device");
  if (!device) return std::nullopt;
  return UsbIdentity(*device);
}

std::optional<std::string> LinuxDeviceIdentities::StableLinkTo(const fs::path& device) const {
  for (const char* folder : {"serial/by-id", "serial/by-path"}) {
    std::error_code error;
    for (fs::directory_iterator it(dev_ / folder, error), end; !error && it != end; it.increment(error)) {
      if (Canonical(it->path()) == device) return it->path().string();
    }
  }
  return std::nullopt;
}

std::optional<DeviceIdentity> LinuxDeviceIdentities::IdentityOf(const std::string& device_path) {
  const std::optional<fs::path> device = Canonical(device_path);
  if (!device) return std::nullopt;
  if (std::optional<DeviceIdentity> hardware = HardwareIdentity(device->filename().string())) return hardware;

  // No hardware identity: a stable link names the device, or else the path the user gave.
  const bool is_stable_link = fs::path(device_path).parent_path().parent_path() == dev_ / "serial";
  const std::string path = is_stable_link ? device_path : StableLinkTo(*device).value_or(device_path);
  return DeviceIdentity{.key = "path:" + path, .description = path, .follows = false, .path = path};
}

std::optional<std::string> LinuxDeviceIdentities::Find(const DeviceIdentity& identity) {
  if (!identity.follows) return identity.path;
  std::error_code error;
  for (fs::directory_iterator it(sys_class_tty_, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    const std::optional<DeviceIdentity> candidate = HardwareIdentity(name);
    if (candidate && candidate->key == identity.key) return (dev_ / name).string();
  }
  return std::nullopt;
}

ResolvedDevice DeviceFollower::Resolve(int port_number, const std::function<ResolvedDevice()>& wanted_device) {
  if (const auto noted = noted_.find(port_number); noted != noted_.end()) {
    if (std::optional<std::string> path = identities_.Find(noted->second)) return *path;
    return ResolvedDevice::None("the device it had (" + noted->second.description + ") is not present");
  }
  ResolvedDevice wanted = wanted_device();
  if (!wanted.found()) return wanted;
  // Noted the first time a device is there to note; until then the port opens what its
  // name gives it.
  if (std::optional<DeviceIdentity> identity = identities_.IdentityOf(wanted.path)) {
    noted_.emplace(port_number, std::move(*identity));
  }
  return wanted;
}

const DeviceIdentity* DeviceFollower::Noted(int port_number) const {
  const auto noted = noted_.find(port_number);
  return noted == noted_.end() ? nullptr : &noted->second;
}

}  // namespace lintrel
