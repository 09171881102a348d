#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_events.h"
#include "capture/delivery.h"
#include "capture/keystroke_sender.h"
#include "capture/thread_starter.h"
#include "platform/clipboard.h"
#include "platform/keyboard.h"

namespace lintrel {

// The one thread that types. Readers hand it their finished lines and go back to their
// ports; it types each line whole, in the order the lines arrived, so lines of different
// ports never interleave and no reader waits on the keyboard (only, until it is stopped,
// for room in a full queue).
//
// It counts what could not be typed and reports it to the front end once per cause: a
// failure is reported when it begins or when its cause changes, not again for every line
// it costs; a line typed in between ends it.
//
// At the stop, once the readers are joined, Finish() begins no more lines: the queued ones
// count as not typed, a paced line being typed is cut short between two keys, and an
// unpaced one gets a short while to finish. An output that takes nothing for that long (a
// stopped X server, a pipe nobody reads) holds the thread inside the keyboard: it is then
// left there together with the keyboard, which it owns, so that nothing is destroyed under
// it; the line it did not type is counted.
//
// Thread contract: Start(), DeliverReports() and Finish() on the UI thread; Enqueue(),
// EnqueueNotTyped(), WakeWaiters(), SetPacing(), SetPortPacing(), output_lost() and
// readers_waiting() from any thread. The observer, the gate, the stroke check and the notice
// are set before Start() and called on the typing thread. Once Finish() has left the thread
// behind nothing is called any more, unless the observer itself was what held the thread.
class Typist {
 public:
  using LineObserver = std::function<void(int port_number, std::u32string_view line)>;
  // Asked just before a line is typed; false drops the line whole, nothing of it typed (the
  // front end keeps lines out of its own windows this way, and accounts for them itself).
  using LineGate = std::function<bool(int port_number)>;
  // Hands out the check for one paced line as it begins, after the gate let it through: it is
  // asked before each key of the line (see StrokeCheck), and a line it cuts short counts as
  // not typed, for its reason. The front end keeps a paced line out of a window that came to
  // the front after the line began this way. An empty check lets every key through.
  using StrokeCheckMaker = std::function<StrokeCheck(int port_number)>;

  // How many characters may wait to be typed before readers wait for room.
  static constexpr std::size_t kQueueCapacity = 64 * 1024;
  // How long the queued lines get when the typist is finished on the way out.
  static constexpr std::chrono::milliseconds kFinishDeadline{500};

  struct Finished {
    bool joined = true;               // false: the thread was left blocked in the keyboard
    std::size_t lines_not_typed = 0;  // in all, since the typist was made
  };

  explicit Typist(std::shared_ptr<platform::Keyboard> keyboard);
  ~Typist();  // Finish() with kFinishDeadline
  Typist(const Typist&) = delete;
  Typist& operator=(const Typist&) = delete;

  // Starts the typing thread unless it runs already; throws std::system_error as `start`
  // does when no thread can be made.
  void Start(const ThreadStarter& start = StartSystemThread);

  // Queues a finished line. While the queue is full it waits for room, until `cancel` is
  // set (WakeWaiters() makes it look). False when the line was dropped (cancelled, after
  // Finish() began, or once the output is lost); it then counts as not typed.
  bool Enqueue(int port_number, std::u32string line, const std::atomic<bool>& cancel);
  // Queues a line that is not to be typed, for `reason` (its shaping or the record stage
  // refused it): in its place among the lines, it counts as not typed and is reported as the
  // others are.
  // False when it could not be queued (as Enqueue()); it counts as not typed all the same.
  bool EnqueueNotTyped(int port_number, std::string reason, const std::atomic<bool>& cancel);
  // Makes every Enqueue() that waits for room look at its `cancel` flag.
  void WakeWaiters();

  // The delays of the lines typed from now on (none at first), for every port that does not
  // set its own. A stop cuts a paced line or a line delay short at once. Any thread.
  void SetPacing(Pacing pacing);
  // The port's own delays, each in place of the shared one (PortPacing{}: none of its own).
  // A port number outside the table is ignored. Any thread.
  void SetPortPacing(int port_number, PortPacing own);

  // Told of every line after it was typed.
  void SetLineObserver(LineObserver observer);
  void SetLineGate(LineGate gate);
  void SetStrokeCheck(StrokeCheckMaker maker);
  // Where and how each port's lines are typed (see Delivery): asked right before a line's
  // keys go out; held lines are typed once their target is in front, looked at every
  // Delivery::kPollInterval while any wait. Lines still held at the end count as not typed.
  // Without it, every line goes to the window in front.
  void SetDelivery(std::shared_ptr<Delivery> delivery);
  // What lines delivered by paste go through (see PasteSender); without it, such lines are
  // not typed.
  void SetClipboard(std::shared_ptr<platform::Clipboard> clipboard);
  // Called whenever a report is waiting for DeliverReports(); must not block.
  void SetReportNotice(std::function<void()> notice);

  // Hands the reports gathered since the last call to `events`.
  void DeliverReports(CaptureEvents& events);
  // Whether the keyboard's output is gone for good.
  bool output_lost() const;
  // How many Enqueue() calls wait for room in the queue now.
  std::size_t readers_waiting() const;

  // Takes no more lines and begins none of those queued, gives the line being typed at most
  // `deadline` (a paced one stops at its next key), and ends the thread, or leaves it behind
  // when it is still inside the keyboard then.
  Finished Finish(std::chrono::milliseconds deadline = kFinishDeadline);

 private:
  struct State;
  static void Run(State& state);
  bool Queue(int port_number, std::u32string line, std::string refusal, const std::atomic<bool>& cancel);

  // Shared with the thread, which keeps it (and the keyboard) alive if it is left behind.
  std::shared_ptr<State> state_;
  std::thread thread_;
  bool left_behind_ = false;
};

}  // namespace lintrel
