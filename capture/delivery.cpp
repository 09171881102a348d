#include "capture/delivery.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>
#include <utility>

namespace lintrel {
namespace {

using Kind = DeliveryNotice::Kind;

char LowerChar(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerChar(x) == LowerChar(y); });
}

bool ContainsIgnoringCase(std::string_view text, std::string_view part) {
  // std::search finds an empty part at the end of an empty text, which is text.end().
  if (part.empty()) return true;
  return std::search(text.begin(), text.end(), part.begin(), part.end(),
                     [](char x, char y) { return LowerChar(x) == LowerChar(y); }) != text.end();
}

// "excel.exe" and "excel" name the same program.
std::string_view WithoutExe(std::string_view name) {
  constexpr std::string_view kExe = ".exe";
  if (name.size() > kExe.size() && EqualsIgnoringCase(name.substr(name.size() - kExe.size()), kExe)) {
    name.remove_suffix(kExe.size());
  }
  return name;
}

// Whether two targets name the same windows ("Excel.exe" and "excel" do).
bool SameTarget(const std::optional<DeliveryTarget>& a, const std::optional<DeliveryTarget>& b) {
  if (!a || !b) return !a && !b;
  return EqualsIgnoringCase(WithoutExe(a->program), WithoutExe(b->program)) &&
         EqualsIgnoringCase(a->title_part, b->title_part);
}

// The window in front as a status line names it.
std::string Describe(const std::optional<platform::WindowInfo>& window) {
  if (!window) return "no window is in front";
  if (window->program_names.empty()) return "another window is in front";
  return window->program_names.front() + " is in front";
}

}  // namespace

bool MatchesTarget(const DeliveryTarget& target, const platform::WindowInfo& window) {
  const bool program = std::any_of(window.program_names.begin(), window.program_names.end(), [&](const auto& name) {
    return EqualsIgnoringCase(WithoutExe(name), WithoutExe(target.program));
  });
  return program && ContainsIgnoringCase(window.title, target.title_part);
}

bool IsRemoteSessionWindow(const platform::WindowInfo& window) {
  static constexpr std::array<std::string_view, 4> kViewers = {"mstsc", "wfica32", "CDViewer", "vmware-view"};
  return std::any_of(window.program_names.begin(), window.program_names.end(), [](const std::string& name) {
    return std::any_of(kViewers.begin(), kViewers.end(),
                       [&](std::string_view viewer) { return EqualsIgnoringCase(WithoutExe(name), viewer); });
  });
}

std::size_t HoldQueue::Push(std::u32string line, Clock::time_point now) {
  lines_.push_back({std::move(line), now});
  std::size_t pushed_out = 0;
  for (; lines_.size() > kMaxLines; ++pushed_out) lines_.pop_front();
  return pushed_out;
}

std::size_t HoldQueue::Expire(Clock::time_point now) {
  std::size_t expired = 0;
  for (; !lines_.empty() && now - lines_.front().since > kMaxWait; ++expired) lines_.pop_front();
  return expired;
}

std::optional<std::u32string> HoldQueue::Pop() {
  if (lines_.empty()) return std::nullopt;
  std::u32string line = std::move(lines_.front().text);
  lines_.pop_front();
  return line;
}

Delivery::Delivery(std::unique_ptr<platform::ForegroundWindows> windows, std::function<Clock::time_point()> clock)
    : windows_(std::move(windows)), clock_(std::move(clock)) {}

void Delivery::SetRules(int port_number, DeliveryRules rules) {
  // Without a way to see the window in front, a target could never be found: the front end
  // refuses such a run before it begins.
  if (!windows_) rules.target.reset();
  ports_[port_number].rules = std::move(rules);
}

void Delivery::PublishRules(int port_number, DeliveryRules rules) {
  if (!IsPortNumber(port_number)) return;
  published_[static_cast<std::size_t>(port_number - kLowestPortNumber)].store(
      std::make_shared<const DeliveryRules>(std::move(rules)));
  // After the rules: whoever sees the flag finds them.
  rules_published_.store(true);
}

void Delivery::TakePublishedRules() {
  if (!rules_published_.exchange(false)) return;
  for (std::size_t slot = 0; slot < published_.size(); ++slot) {
    if (std::shared_ptr<const DeliveryRules> rules = published_[slot].exchange(nullptr)) {
      ApplyRules(static_cast<int>(slot) + kLowestPortNumber, *rules);
    }
  }
}

void Delivery::ApplyRules(int port_number, DeliveryRules rules) {
  if (!windows_) rules.target.reset();
  Port& port = ports_[port_number];
  const bool same_target = SameTarget(rules.target, port.rules.target);
  if (!port.held.empty() && !same_target) {
    const std::size_t count = port.held.size();
    port.held = HoldQueue{};
    Notice(port_number, port, Kind::kNotTyped,
           "they waited for " + DeliveryTargetText(*port.rules.target) + ", no longer the port's target", count);
    Notice(port_number, port, Kind::kReleased, "");
  }
  if (!same_target) port.told_unicode = false;
  port.rules = std::move(rules);
}

bool Delivery::HasTargets() const {
  return std::any_of(ports_.begin(), ports_.end(), [](const auto& port) { return port.second.rules.target; });
}

bool Delivery::HasTarget(int port_number) {
  TakePublishedRules();
  const auto found = ports_.find(port_number);
  return found != ports_.end() && found->second.rules.target.has_value();
}

std::optional<platform::WindowInfo> Delivery::TargetInFront(const Port& port) {
  std::optional<platform::WindowInfo> window = windows_->Foreground();
  if (window && MatchesTarget(*port.rules.target, *window)) return window;
  return std::nullopt;
}

DeliveryMethod Delivery::MethodFor(int port_number, Port& port, const platform::WindowInfo& window) {
  if (port.rules.method != DeliveryMethod::kKeys || !IsRemoteSessionWindow(window)) return port.rules.method;
  if (!port.told_unicode) {
    port.told_unicode = true;
    Notice(port_number, port, Kind::kUnicode, window.program_names.front());
  }
  return DeliveryMethod::kUnicode;
}

DeliveryStep Delivery::Route(int port_number, std::u32string line) {
  TakePublishedRules();
  const auto found = ports_.find(port_number);
  if (found == ports_.end() || !found->second.rules.target) {
    const DeliveryMethod method = found == ports_.end() ? DeliveryMethod::kKeys : found->second.rules.method;
    return {DeliveryStep::Kind::kType, method, {}};
  }
  Port& port = found->second;
  const std::optional<platform::WindowInfo> front = windows_->Foreground();
  // A line never overtakes those that wait before it.
  if (port.held.empty() && front && MatchesTarget(*port.rules.target, *front)) {
    return {DeliveryStep::Kind::kType, MethodFor(port_number, port, *front), {}};
  }
  const std::string target = DeliveryTargetText(*port.rules.target);
  switch (port.rules.elsewhere) {
    case Elsewhere::kDrop:
      return {DeliveryStep::Kind::kNotTyped, port.rules.method, target + " is not in front (" + Describe(front) + ")"};
    case Elsewhere::kActivate:
      if (std::string why = BringUp(*port.rules.target); !why.empty()) {
        return Hold(port_number, port, std::move(line), why);
      }
      break;
    case Elsewhere::kHold:
      break;
  }
  return Hold(port_number, port, std::move(line), Describe(front));
}

DeliveryStep Delivery::Hold(int port_number, Port& port, std::u32string line, const std::string& why) {
  const bool began = port.held.empty();
  const std::size_t pushed_out = port.held.Push(std::move(line), clock_());
  if (began) {
    Notice(port_number, port, Kind::kHolding, why);
    windows_->Bell();
  }
  if (pushed_out > 0) {
    Notice(port_number, port, Kind::kNotTyped,
           "more than " + std::to_string(HoldQueue::kMaxLines) + " lines waited for " +
               DeliveryTargetText(*port.rules.target),
           pushed_out);
  }
  return {DeliveryStep::Kind::kHeld, port.rules.method, {}};
}

// Asks for the target's window to come up; empty when it was asked, else why not.
std::string Delivery::BringUp(const DeliveryTarget& target) {
  for (const platform::WindowInfo& window : windows_->Windows()) {
    if (!MatchesTarget(target, window)) continue;
    std::string error;
    if (windows_->Activate(window.id, &error)) return "";
    return DeliveryTargetText(target) + " could not be brought to the front: " + error;
  }
  return DeliveryTargetText(target) + " is not running";
}

std::optional<Delivery::Ready> Delivery::NextReady() {
  TakePublishedRules();
  const Clock::time_point now = clock_();
  for (auto& [number, port] : ports_) {
    if (port.held.empty()) continue;
    if (const std::size_t expired = port.held.Expire(now); expired > 0) {
      Notice(number, port, Kind::kNotTyped,
             "waited longer than " + std::to_string(HoldQueue::kMaxWait.count() / 60) + " minutes for " +
                 DeliveryTargetText(*port.rules.target),
             expired);
      if (port.held.empty()) Notice(number, port, Kind::kReleased, "");
    }
  }
  if (!AnyHeld()) return std::nullopt;
  const std::optional<platform::WindowInfo> front = windows_->Foreground();
  if (!front) return std::nullopt;
  for (auto& [number, port] : ports_) {
    if (port.held.empty() || !MatchesTarget(*port.rules.target, *front)) continue;
    Ready ready{number, *port.held.Pop(), MethodFor(number, port, *front)};
    if (port.held.empty()) Notice(number, port, Kind::kReleased, "");
    return ready;
  }
  return std::nullopt;
}

bool Delivery::AnyHeld() const { return HeldCount() > 0; }

std::size_t Delivery::HeldCount() const {
  std::size_t count = 0;
  for (const auto& port : ports_) count += port.second.held.size();
  return count;
}

std::string Delivery::StrokeCheck(int port_number) {
  TakePublishedRules();
  const auto found = ports_.find(port_number);
  if (found == ports_.end() || !found->second.rules.target) return "";
  const std::optional<platform::WindowInfo> front = windows_->Foreground();
  if (front && MatchesTarget(*found->second.rules.target, *front)) return "";
  return DeliveryTargetText(*found->second.rules.target) + " is no longer in front (" + Describe(front) + ")";
}

void Delivery::LineNotTyped(int port_number) {
  const auto found = ports_.find(port_number);
  if (windows_ && found != ports_.end() && found->second.rules.sound_not_typed) windows_->Bell();
}

std::vector<DeliveryNotice> Delivery::TakeNotices() {
  std::vector<DeliveryNotice> taken;
  taken.swap(notices_);
  return taken;
}

void Delivery::Notice(int port_number, const Port& port, DeliveryNotice::Kind kind, std::string detail,
                      std::size_t count) {
  notices_.push_back({port_number, kind, DeliveryTargetText(*port.rules.target), std::move(detail), count});
}

}  // namespace lintrel
