#include "ui/own_window_guard.h"

#include <utility>

namespace lintrel::ui {

OwnWindowGuard::OwnWindowGuard(std::function<bool()> foreground_is_ours, std::function<void()> tell_ui)
    : foreground_is_ours_(std::move(foreground_is_ours)), tell_ui_(std::move(tell_ui)) {}

bool OwnWindowGuard::MayType(int port_number) {
  if (!foreground_is_ours_ || !foreground_is_ours_()) return true;
  bool first = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    first = dropped_.lines == 0;
    ++dropped_.lines;
    dropped_.last_port = port_number;
  }
  if (first && tell_ui_) tell_ui_();
  return false;
}

OwnWindowGuard::Dropped OwnWindowGuard::TakeDropped() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(dropped_, Dropped{});
}

}  // namespace lintrel::ui
