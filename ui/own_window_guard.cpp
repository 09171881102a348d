#include "ui/own_window_guard.h"

#include <utility>

namespace lintrel::ui {

OwnWindowGuard::OwnWindowGuard(std::function<bool()> foreground_is_ours,
                               std::function<std::uintptr_t()> foreground_window, std::function<void()> tell_ui)
    : foreground_is_ours_(std::move(foreground_is_ours)),
      foreground_window_(std::move(foreground_window)),
      tell_ui_(std::move(tell_ui)) {}

bool OwnWindowGuard::MayType(int port_number) {
  if (!ForegroundIsOurs()) return true;
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

std::function<std::string()> OwnWindowGuard::PacedLineCheck() const {
  // Without a way to tell windows apart, only this program's own are watched.
  const auto in_front = [this] { return foreground_window_ ? foreground_window_() : 0; };
  return [this, in_front, began_in = in_front()] { return PacedLineStop(ForegroundIsOurs(), began_in, in_front()); };
}

OwnWindowGuard::Dropped OwnWindowGuard::TakeDropped() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(dropped_, Dropped{});
}

std::string PacedLineStop(bool ours_in_front, std::uintptr_t began_in, std::uintptr_t in_front) {
  if (ours_in_front) return std::string(kOwnWindowInFront);
  if (in_front != began_in) return std::string(kOtherWindowInFront);
  return "";
}

}  // namespace lintrel::ui
