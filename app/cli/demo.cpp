#include "app/cli/demo.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/cli/cli_app.h"
#include "common/port_number.h"
#include "discovery/system_ports.h"
#include "platform/us_layout.h"
#include "platform/virtual_serial_device.h"

namespace lintrel::cli {

namespace {

using std::chrono::milliseconds;

struct SampleScan {
  int port_number;
  const char* code;
};

// What the two scanners send, in order; COM2 is unplugged after the fourth.
constexpr SampleScan kScans[] = {
    {1, "4006381333931"}, {2, "Order#A-1042"}, {1, "9780201633610"}, {2, "Lot 7/B"},
    {2, "SN-55021-X"},    {1, "0012345678905"},
};
constexpr int kScansBeforeUnplug = 4;
constexpr auto kScanInterval = milliseconds(400);
constexpr auto kUnpluggedFor = milliseconds(1500);
constexpr auto kReconnectLimit = std::chrono::seconds(15);
// How long typed lines may trail the last code sent.
constexpr auto kSettleTime = std::chrono::seconds(5);

// Records the key events of the line being typed, so that each typed line can be shown
// with its keys, and passes them on to a real keyboard if there is one. Without one it
// maps characters as a US Windows keyboard would.
class ShowingKeyboard : public platform::Keyboard {
 public:
  explicit ShowingKeyboard(std::unique_ptr<platform::Keyboard> inner) : inner_(std::move(inner)) {
    platform::FillUsLayout(us_layout_);
  }

  platform::KeyboardState ReadState() override {
    if (inner_) return inner_->ReadState();
    return {.layout = &us_layout_, .caps_lock = false, .held_modifier_keys = {}};
  }
  platform::KeyOutputResult TypeKeys(std::span<const platform::KeyEvent> events) override {
    events_.clear();
    for (const platform::KeyEvent& event : events) {
      char text[8];
      std::snprintf(text, sizeof text, "%s%c%02X", events_.empty() ? "" : " ", event.pressed ? '+' : '-',
                    event.key_code);
      events_ += text;
    }
    return inner_ ? inner_->TypeKeys(events) : platform::KeyOutputResult{.accepted = events.size(), .error = {}};
  }

  // The events of the last line typed: "+10 +41 -41 -10 ...".
  const std::string& events() const { return events_; }

 private:
  std::unique_ptr<platform::Keyboard> inner_;
  platform::LayoutKeymap us_layout_;
  std::string events_;
};

std::string Printable(std::u32string_view line) {
  std::string text;
  for (char32_t byte : line) {
    if (byte == '\r') {
      text += "<CR>";
    } else if (byte < 0x20 || byte >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<%02X>", static_cast<unsigned>(byte));
      text += hex;
    } else {
      text += static_cast<char>(byte);
    }
  }
  return text;
}

std::filesystem::path MakeDemoDirectory() {
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto path = base / ("lintrel-demo-" + std::to_string(random()));
    if (std::filesystem::create_directory(path)) return path;
  }
  return {};
}

// The simulated scanners: sends the sample codes, unplugging COM2 half-way.
class Scanners {
 public:
  Scanners(std::vector<std::unique_ptr<platform::VirtualSerialDevice>>& devices, const StatusLines& status,
           std::FILE* out)
      : devices_(devices), status_(status), out_(out) {}

  void Run() {
    for (const SampleScan& scan : kScans) {
      if (stop_requested_.load()) break;
      if (sent_.load() == kScansBeforeUnplug && !UnplugAndPlugBack()) break;
      Send(scan);
      ++sent_;
      std::this_thread::sleep_for(kScanInterval);
    }
    finished_.store(true);
  }

  void RequestStop() { stop_requested_.store(true); }
  bool finished() const { return finished_.load(); }
  std::size_t sent() const { return static_cast<std::size_t>(sent_.load()); }

 private:
  void Send(const SampleScan& scan) {
    const std::string line = std::string(scan.code) + "\r";
    devices_[static_cast<std::size_t>(scan.port_number - 1)]->Write(
        {reinterpret_cast<const uint8_t*>(line.data()), line.size()});
  }

  bool UnplugAndPlugBack() {
    std::fprintf(out_, "demo: unplugging the COM2 scanner for %lld ms\n",
                 static_cast<long long>(kUnpluggedFor.count()));
    std::fflush(out_);
    const int connections = status_.connections();
    devices_[1]->Unplug();
    std::this_thread::sleep_for(kUnpluggedFor);
    std::string error;
    if (!devices_[1]->Plug(&error)) {
      std::fprintf(out_, "demo: could not plug the scanner back: %s\n", error.c_str());
      return false;
    }
    std::fprintf(out_, "demo: COM2 scanner plugged back in\n");
    std::fflush(out_);
    // The next code goes out once Lintrel has the port again.
    const auto give_up = std::chrono::steady_clock::now() + kReconnectLimit;
    while (status_.connections() == connections) {
      if (stop_requested_.load() || std::chrono::steady_clock::now() > give_up) return false;
      std::this_thread::sleep_for(milliseconds(20));
    }
    return true;
  }

  std::vector<std::unique_ptr<platform::VirtualSerialDevice>>& devices_;
  const StatusLines& status_;
  std::FILE* out_;
  std::atomic<bool> stop_requested_{false};
  std::atomic<bool> finished_{false};
  std::atomic<int> sent_{0};
};

// Every code sent must have been typed whole, and each port's codes in the order sent.
int Verdict(const std::vector<std::pair<int, std::string>>& typed, std::size_t sent, std::FILE* out) {
  std::vector<std::pair<int, std::string>> expected;
  for (std::size_t i = 0; i < sent; ++i) expected.emplace_back(kScans[i].port_number, std::string(kScans[i].code) + "\r");
  auto of_port = [](const std::vector<std::pair<int, std::string>>& lines, int port_number) {
    std::vector<std::string> selected;
    for (const auto& [port, line] : lines) {
      if (port == port_number) selected.push_back(line);
    }
    return selected;
  };
  const bool complete = sent == std::size(kScans) && typed.size() == sent &&
                        of_port(typed, 1) == of_port(expected, 1) && of_port(typed, 2) == of_port(expected, 2);
  if (complete) {
    std::fprintf(out, "demo: all %zu codes arrived complete and in order. See lintrel-cli --help for real ports.\n", sent);
  } else {
    std::fprintf(out, "demo: %zu of %zu codes were sent and %zu lines typed; expected every code whole and in order\n",
                 sent, std::size(kScans), typed.size());
  }
  std::fflush(out);
  return complete ? 0 : 1;
}

}  // namespace

int RunDemo(const CliOptions& options, platform::StopSignal& stop, std::FILE* out, std::FILE* status) {
  std::string error;
  // With the trace, the key events are shown per line below, not one line per event.
  std::unique_ptr<platform::Keyboard> keyboard;
  if (options.keys != "trace") {
    std::string chosen;
    keyboard = OpenKeyboard(options, out, &error, &chosen);
    if (!keyboard) {
      std::fprintf(status, "lintrel-cli: --keys %s: %s\n", chosen.c_str(), error.c_str());
      return 1;
    }
    const std::string choice = KeyboardChoiceText(options, chosen);
    if (!choice.empty()) std::fprintf(status, "lintrel: %s\n", choice.c_str());
  }
  auto shown = std::make_shared<ShowingKeyboard>(std::move(keyboard));

  const std::filesystem::path directory = MakeDemoDirectory();
  if (directory.empty()) {
    std::fprintf(status, "lintrel-cli: cannot create a folder for the demo's virtual ports\n");
    return 1;
  }
  std::vector<std::unique_ptr<platform::VirtualSerialDevice>> devices;
  CliOptions demo = options;
  for (int port_number : {1, 2}) {
    const std::string link = (directory / PortName(port_number)).string();
    devices.push_back(platform::VirtualSerialDevice::Create(link, &error));
    if (!devices.back()) {
      std::fprintf(status, "lintrel-cli: cannot create a virtual serial port: %s\n", error.c_str());
      std::filesystem::remove_all(directory);
      return 1;
    }
    demo.ports.push_back({port_number, link});
  }

  std::fprintf(out,
               "demo: two simulated scanners send codes to virtual ports COM1 and COM2; each line\n"
               "demo: is captured and typed as key presses (+ key down, - key up, in Windows\n"
               "demo: virtual-key codes; 10 is Shift, 0D is Enter)%s.\n",
               options.keys == "trace" ? "; nothing is typed into your windows" : "");
  std::fflush(out);

  std::unique_ptr<platform::SerialDriver> driver = platform::MakeSystemSerialDriver();
  std::mutex typed_mutex;
  std::vector<std::pair<int, std::string>> typed;
  int result = 0;
  {
    // Every port of the demo comes with its device path.
    CliApp app(demo, shown, *driver, status, DefaultDevicePath);
    // On the typing thread, right after the keyboard took the line.
    app.typist().SetLineObserver([&](int port_number, std::u32string_view line) {
      std::fprintf(out, "%s typed %-22s keys %s\n", PortName(port_number).c_str(), Printable(line).c_str(),
                   shown->events().c_str());
      std::fflush(out);
      std::lock_guard<std::mutex> lock(typed_mutex);
      typed.emplace_back(port_number, std::string(line.begin(), line.end()));
    });
    if (!app.ConnectAll()) {
      result = 1;
    } else {
      Scanners scanners(devices, app.status(), out);
      std::thread scanner_thread(&Scanners::Run, &scanners);
      std::optional<std::chrono::steady_clock::time_point> settle_until;
      app.Serve(stop, [&] {
        if (!scanners.finished()) return false;
        if (!settle_until) settle_until = std::chrono::steady_clock::now() + kSettleTime;
        std::lock_guard<std::mutex> lock(typed_mutex);
        return typed.size() >= scanners.sent() || std::chrono::steady_clock::now() > *settle_until;
      });
      scanners.RequestStop();
      scanner_thread.join();
      const Typist::Finished finished = app.Release();
      ExitIfTypistLeftBehind(finished, stop, ReportEnd(app.status(), finished));
      result = Verdict(typed, scanners.sent(), out);
    }
  }
  std::filesystem::remove_all(directory);
  return result;
}

}  // namespace lintrel::cli
