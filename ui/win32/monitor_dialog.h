#pragma once

#include <atomic>
#include <memory>

#include "ui/main_window.h"
#include "ui/monitor_feed.h"
#include "ui/win32/dialog.h"

namespace lintrel::ui::win32 {

// The Monitor window: what one port receives and what becomes of each line, live, while the
// port goes on typing (see MonitorFeed). Shown from the main window's Monitor button for
// the port selected there.
//
// Thread contract: UI thread; the readers hand the feed their reports, and the feed posts
// this window a message to fetch them.
class MonitorDialog : public Dialog {
 public:
  MonitorDialog(HINSTANCE instance, MainWindow& window, int port_number);
  ~MonitorDialog() override;

 private:
  // Posted by the feed when reports wait.
  static constexpr UINT kReportsMessage = WM_APP + 2;
  // The text the window keeps; beyond it the oldest half goes.
  static constexpr int kMaxShown = 200 * 1024;

  BOOL OnInitDialog() override;
  void ShowWaitingReports();

  MainWindow& window_;
  int port_number_;
  std::shared_ptr<MonitorFeed> feed_;
  // Where the feed posts: this window, null once it is gone (a reader may still hold the
  // feed for a moment).
  std::shared_ptr<std::atomic<HWND>> post_to_ = std::make_shared<std::atomic<HWND>>(nullptr);
  HFONT font_ = nullptr;
};

}  // namespace lintrel::ui::win32
