#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "settings/line_settings.h"
#include "ui/main_window.h"

namespace lintrel::testing {

// The main window as the window logic sees it: the test sets what the Port list and the
// line-setting lists show, and reads back everything the logic did to the window.
class FakeMainWindowView : public ui::MainWindowView {
 public:
  // What the lists show.
  std::string selected_port_text;
  LineSettings line_settings;

  // What the logic did, in order.
  std::vector<std::string> captions;
  std::vector<ui::TrayImage> tray_images;
  std::vector<std::string> messages;
  int enable_calls = 0;
  int line_reads = 0;
  int selection_reads = 0;

  std::string SelectedPortText() override {
    ++selection_reads;
    return selected_port_text;
  }
  LineSettings ReadLineControls() override {
    ++line_reads;
    return line_settings;
  }
  void SetConnectCaption(std::string_view caption) override { captions.emplace_back(caption); }
  void EnableLineControls() override { ++enable_calls; }
  void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
  void SetTrayImage(ui::TrayImage image) override { tray_images.push_back(image); }

  // The caption the Connect button shows now ("" before the logic ever set one).
  std::string caption() const { return captions.empty() ? std::string() : captions.back(); }
};

}  // namespace lintrel::testing
