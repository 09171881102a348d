#pragma once

#include <string>
#include <vector>

#include "capture/ui_hooks.h"

namespace lintrel::testing {

// Records what the engine tells the user interface.
class FakeUiHooks : public UiHooks {
 public:
  LineSettings settings;
  std::vector<std::string> messages;
  std::vector<std::string> calls;  // "connected COM3", "failed COM3 reconnecting", ...
  std::vector<TrayImage> tray_images;

  LineSettings PullLineSettings() override {
    ++pulls;
    return settings;
  }
  void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
  void PortConnected(int port, const std::string&) override { Call("connected", port); }
  void PortDisconnected(int port) override { Call("disconnected", port); }
  void PortOpenFailed(int port, const std::string&, const platform::SerialError&,
                      bool reconnecting) override {
    Call(reconnecting ? "failed-silently" : "failed", port);
  }
  void LinkLost(int port) override { Call("lost", port); }
  void SetTrayImage(TrayImage image) override { tray_images.push_back(image); }

  int pulls = 0;

 private:
  void Call(const char* what, int port) { calls.push_back(std::string(what) + " COM" + std::to_string(port)); }
};

}  // namespace lintrel::testing
