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
  std::vector<std::string> pause_captions;
  std::vector<bool> pause_enabled;
  std::vector<ui::TrayImage> tray_images;
  std::vector<std::string> tray_tips;
  std::vector<std::string> messages;
  std::vector<std::string> notices;  // "title: text"
  std::vector<bool> line_settings_enabled;
  std::vector<std::string> status_texts;
  std::vector<std::vector<int>> port_list_refreshes;  // the active ports of each
  int line_reads = 0;
  int line_shows = 0;
  int selection_reads = 0;

  std::string SelectedPortText() override {
    ++selection_reads;
    return selected_port_text;
  }
  LineSettings ReadLineControls() override {
    ++line_reads;
    return line_settings;
  }
  void ShowLineControls(const LineSettings& line) override {
    line_settings = line;
    ++line_shows;
  }
  void SetConnectCaption(std::string_view caption) override { captions.emplace_back(caption); }
  void SetPauseCaption(std::string_view caption) override { pause_captions.emplace_back(caption); }
  void EnablePause(bool enabled) override { pause_enabled.push_back(enabled); }
  void EnableLineSettings(bool enabled) override { line_settings_enabled.push_back(enabled); }
  void SetStatusText(std::string_view text) override { status_texts.emplace_back(text); }
  void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
  void ShowNotice(std::string_view title, std::string_view text) override {
    notices.push_back(std::string(title) + ": " + std::string(text));
  }
  void SetTrayImage(ui::TrayImage image) override { tray_images.push_back(image); }
  void SetTrayTip(std::string_view text) override { tray_tips.emplace_back(text); }
  void RefreshPortList(const std::vector<int>& active_ports) override { port_list_refreshes.push_back(active_ports); }

  // The caption the Connect button shows now ("" before the logic ever set one).
  std::string caption() const { return captions.empty() ? std::string() : captions.back(); }
  // Whether the line-setting lists are enabled now (they start so).
  bool line_settings_open() const { return line_settings_enabled.empty() || line_settings_enabled.back(); }
  // The Pause button now: its caption, and whether it can be pressed (it starts disabled).
  std::string pause_caption() const { return pause_captions.empty() ? std::string() : pause_captions.back(); }
  bool pause_open() const { return !pause_enabled.empty() && pause_enabled.back(); }
  std::string status() const { return status_texts.empty() ? std::string() : status_texts.back(); }
};

}  // namespace lintrel::testing
