#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/port_number.h"
#include "platform/foreground_window.h"
#include "settings/delivery_rules.h"

namespace lintrel {

// Whether `window` is the target's: one of its program names equals the target's program,
// ignoring case ("Excel" matches "EXCEL.EXE" too: a trailing ".exe" is not needed), and its
// title holds the target's title part, ignoring case.
bool MatchesTarget(const DeliveryTarget& target, const platform::WindowInfo& window);

// Whether the window belongs to a remote-session or virtual-desktop viewer, whose keyboard
// layout is on the far side (mstsc.exe, wfica32.exe, CDViewer.exe, vmware-view.exe).
bool IsRemoteSessionWindow(const platform::WindowInfo& window);

// The lines of one port that wait for its target, oldest first.
//
// Bounded both ways, and the oldest go first: at most kMaxLines (a runaway device or a scanner
// left in a continuous mode must not fill the memory: a line may be 65536 characters), and
// none longer than kMaxWait (a scan typed minutes after it was made lands in whatever field
// the application shows by then, no longer the one it was scanned for; by then the user
// has seen the status, heard the bell and scanned again). A hundred lines is more than a
// worker scans without looking at the screen.
class HoldQueue {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::size_t kMaxLines = 100;
  static constexpr std::chrono::seconds kMaxWait{300};

  // Adds a line at the end; says how many of the oldest it pushed out beyond kMaxLines.
  std::size_t Push(std::u32string line, Clock::time_point now);
  // Takes out the lines that have waited longer than kMaxWait; says how many.
  std::size_t Expire(Clock::time_point now);
  std::optional<std::u32string> Pop();
  bool empty() const { return lines_.empty(); }
  std::size_t size() const { return lines_.size(); }

 private:
  struct Held {
    std::u32string text;
    Clock::time_point since;
  };
  std::deque<Held> lines_;
};

// What to do with a line now.
struct DeliveryStep {
  enum class Kind { kType, kHeld, kNotTyped };
  Kind kind = Kind::kType;
  DeliveryMethod method = DeliveryMethod::kKeys;  // kType: how
  std::string reason;                             // kNotTyped: why
};

// Something the front end is told about a port's delivery (a status line, the tray icon).
struct DeliveryNotice {
  enum class Kind {
    kHolding,   // lines began to wait for `target`; `detail`: the window in front, or why
                // the target could not be brought up
    kReleased,  // no line waits for `target` any more
    kNotTyped,  // `count` lines were not typed, for the reason `detail`
    kUnicode,   // `target` in front is a remote session (`detail`): typed as Unicode
    kWarning,   // something went wrong beside a line (`detail`): the clipboard not put back
  };
  int port_number = 0;
  Kind kind = Kind::kHolding;
  std::string target;
  std::string detail;
  std::size_t count = 0;

  bool operator==(const DeliveryNotice&) const = default;
};

// Decides where and how each port's lines are typed: into the window in front (no target),
// or only into the target's window, held (or dropped, or the target brought up) while
// another is in front. A held line is never typed into another window: the window in front
// is read right before a line's keys go out, and (see StrokeCheck) before each key of a
// paced line.
//
// Thread contract: SetRules() before the typist starts; PublishRules() from any thread;
// everything else on the typist's thread alone, which also owns the windows it was given.
class Delivery {
 public:
  using Clock = std::chrono::steady_clock;
  // How often the window in front is looked at while lines wait.
  static constexpr std::chrono::milliseconds kPollInterval{100};

  explicit Delivery(std::unique_ptr<platform::ForegroundWindows> windows,
                    std::function<Clock::time_point()> clock = Clock::now);

  // The port's rules, before its first line.
  void SetRules(int port_number, DeliveryRules rules);
  // The port's rules from now on, from any thread (a front end whose user changes them while
  // lines are typed): taken on the typist's thread before its next look at the port. Lines
  // that wait for another target than the new rules' are not typed (they were made for that
  // one) and reported so.
  void PublishRules(int port_number, DeliveryRules rules);
  bool HasTargets() const;
  // Whether the port's lines go to a target of their own (the rules published so far taken).
  bool HasTarget(int port_number);

  // A line of the port, right before it would be typed: type it now (and how), hold it, or
  // not type it.
  DeliveryStep Route(int port_number, std::u32string line);
  // Takes out the lines that waited too long, then the oldest held line whose target is in
  // front now, with the method to type it by.
  struct Ready {
    int port_number = 0;
    std::u32string line;
    DeliveryMethod method = DeliveryMethod::kKeys;
  };
  std::optional<Ready> NextReady();
  bool AnyHeld() const;
  std::size_t HeldCount() const;
  // Why a paced line of the port may not go on now (its target no longer in front); empty
  // while it may.
  std::string StrokeCheck(int port_number);

  // What happened since the last call, for the front end.
  std::vector<DeliveryNotice> TakeNotices();
  // A line of the port was not typed: the system's warning sound when its rules ask for it.
  void LineNotTyped(int port_number);

 private:
  struct Port {
    DeliveryRules rules;
    HoldQueue held;
    bool told_unicode = false;
  };

  // The rules published since the last look, put in force.
  void TakePublishedRules();
  void ApplyRules(int port_number, DeliveryRules rules);
  std::optional<platform::WindowInfo> TargetInFront(const Port& port);
  DeliveryMethod MethodFor(int port_number, Port& port, const platform::WindowInfo& window);
  DeliveryStep Hold(int port_number, Port& port, std::u32string line, const std::string& why);
  std::string BringUp(const DeliveryTarget& target);
  void Notice(int port_number, const Port& port, DeliveryNotice::Kind kind, std::string detail,
              std::size_t count = 0);

  std::unique_ptr<platform::ForegroundWindows> windows_;
  std::function<Clock::time_point()> clock_;
  std::map<int, Port> ports_;
  std::vector<DeliveryNotice> notices_;
  // What PublishRules() left for the typist's thread, by port slot.
  std::array<std::atomic<std::shared_ptr<const DeliveryRules>>, kPortNumberCount> published_{};
  std::atomic<bool> rules_published_{false};
};

}  // namespace lintrel
