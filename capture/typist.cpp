#include "capture/typist.h"

#include <array>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

#include "capture/keystroke_sender.h"
#include "capture/paste_sender.h"
#include "common/port_number.h"

namespace lintrel {

namespace {

struct QueuedLine {
  int port_number = 0;
  std::u32string text;
  std::string refusal;  // not empty: a line not to be typed, and why
};

struct Report {
  int port_number = 0;
  std::string reason;
  bool output_lost = false;
  std::optional<DeliveryNotice> notice;  // set: a notice of delivery instead
};

// Delays in milliseconds, read and written whole; -1 where a port leaves a delay to the one
// every port shares.
struct alignas(8) DelaysMs {
  int32_t key = -1;
  int32_t line = -1;
};
static_assert(std::atomic<DelaysMs>::is_always_lock_free);

int32_t Milliseconds(std::optional<std::chrono::milliseconds> delay) {
  return delay ? static_cast<int32_t>(delay->count()) : -1;
}

}  // namespace

struct Typist::State {
  explicit State(std::shared_ptr<platform::Keyboard> owned)
      : keyboard(std::move(owned)), sender(*keyboard, [this](std::chrono::milliseconds time) { return Pause(time); }) {}

  // Waits unless the typist is being finished, which cuts pacing short. Called without the
  // mutex.
  bool Pause(std::chrono::milliseconds time) {
    std::unique_lock<std::mutex> lock(mutex);
    return !work.wait_for(lock, time, [&] { return finishing || ending; });
  }

  // The delays of the port's lines now: its own, else the shared ones.
  Pacing PacingFor(int port_number) const {
    const DelaysMs shared = shared_pacing.load();
    const DelaysMs own = IsPortNumber(port_number) ? port_pacing[Slot(port_number)].load() : DelaysMs{};
    return {std::chrono::milliseconds(own.key >= 0 ? own.key : shared.key),
            std::chrono::milliseconds(own.line >= 0 ? own.line : shared.line)};
  }

  static std::size_t Slot(int port_number) { return static_cast<std::size_t>(port_number - kLowestPortNumber); }

  // Counts a line that was not typed and reports its cause unless that is the cause
  // already reported. Called with the mutex held.
  void RecordNotTyped(int port_number, const LineOutcome& outcome, std::size_t count = 1) {
    lines_not_typed += count;
    if (outcome.output_lost) output_lost = true;
    if (outcome.reason == current_cause) return;
    current_cause = outcome.reason;
    reports.push_back({port_number, outcome.reason, outcome.output_lost, std::nullopt});
    if (notice) notice();
  }

  // Passes delivery's notices on. Lines it gave up count as not typed, and are reported, with
  // their count, once per cause as other lines not typed are. Called with the mutex held.
  void RecordNotices(std::vector<DeliveryNotice> notices) {
    for (DeliveryNotice& told : notices) {
      if (told.kind == DeliveryNotice::Kind::kNotTyped) {
        lines_not_typed += told.count;
        if (told.detail == current_cause) continue;
        current_cause = told.detail;
      }
      reports.push_back({told.port_number, {}, false, std::move(told)});
      if (notice) notice();
    }
  }

  std::vector<DeliveryNotice> TakeNotices() { return delivery ? delivery->TakeNotices() : std::vector<DeliveryNotice>{}; }

  // The port's sound for a line not typed, if it has one; for the lines delivery gave up,
  // one for each notice. Called without the mutex: the sound goes through the desktop.
  void SoundNotTyped(int port_number) {
    if (delivery) delivery->LineNotTyped(port_number);
  }
  void SoundNotTyped(const std::vector<DeliveryNotice>& notices) {
    for (const DeliveryNotice& told : notices) {
      if (told.kind == DeliveryNotice::Kind::kNotTyped) SoundNotTyped(told.port_number);
    }
  }

  // The check of one paced line: the front end's, then whether the line's target is still
  // in front.
  StrokeCheck CheckFor(int port_number) {
    StrokeCheck front_end = check_maker ? check_maker(port_number) : StrokeCheck{};
    if (!delivery) return front_end;
    return [this, port_number, front_end] {
      if (front_end) {
        if (std::string why = front_end(); !why.empty()) return why;
      }
      return delivery->StrokeCheck(port_number);
    };
  }

  // Types the oldest held line whose target is in front now, if any. As Type().
  bool TypeHeld(std::unique_lock<std::mutex>& lock) {
    if (finishing) return true;
    lock.unlock();
    std::optional<Delivery::Ready> ready = delivery->NextReady();
    std::vector<DeliveryNotice> notices = TakeNotices();
    SoundNotTyped(notices);
    lock.lock();
    RecordNotices(std::move(notices));
    if (!ready) return true;
    const DeliveryStep step{DeliveryStep::Kind::kType, ready->method, {}};
    return Type(lock, {ready->port_number, std::move(ready->line), {}}, step);
  }

  // Types or pastes one line's text. Called without the mutex.
  // *warning: see PasteSender::PasteLine.
  LineOutcome Deliver(std::u32string_view text, DeliveryMethod method, Pacing pacing, const StrokeCheck& check,
                      std::string* warning) {
    if (method != DeliveryMethod::kPaste) {
      return sender.TypeLine(text, pacing, check, method == DeliveryMethod::kUnicode);
    }
    if (!clipboard) return {false, "no clipboard to paste with", false};
    return PasteSender(*clipboard, sender).PasteLine(text, pacing, check, warning);
  }

  // Types one line, the mutex released meanwhile, and accounts for it. False when Finish()
  // left the thread behind in the meantime: whoever would hear of the line may have gone.
  // `decided`: where and how, decided already (a held line whose target came to the front);
  // else delivery decides now.
  bool Type(std::unique_lock<std::mutex>& lock, const QueuedLine& line, std::optional<DeliveryStep> decided = {}) {
    typing = true;
    lock.unlock();
    const bool allowed = !gate || gate(line.port_number);
    DeliveryStep step = decided.value_or(DeliveryStep{});
    if (allowed && delivery && !decided) step = delivery->Route(line.port_number, line.text);
    std::vector<DeliveryNotice> notices = TakeNotices();
    const Pacing pacing = PacingFor(line.port_number);
    const bool types = allowed && step.kind == DeliveryStep::Kind::kType;
    const StrokeCheck check = types && pacing.key_delay.count() > 0 ? CheckFor(line.port_number) : StrokeCheck{};
    LineOutcome outcome;
    std::string warning;
    if (types) {
      outcome = Deliver(line.text, step.method, pacing, check, &warning);
    } else if (step.kind == DeliveryStep::Kind::kNotTyped) {
      outcome = {false, step.reason, false};
    }
    if (types && outcome.typed && pacing.line_delay.count() > 0) Pause(pacing.line_delay);
    SoundNotTyped(notices);
    if (allowed && !outcome.typed && !outcome.output_lost) SoundNotTyped(line.port_number);
    lock.lock();
    RecordNotices(std::move(notices));
    if (!warning.empty()) {
      reports.push_back({line.port_number, {}, false,
                         DeliveryNotice{line.port_number, DeliveryNotice::Kind::kWarning, {}, std::move(warning), 0}});
      if (notice) notice();
    }
    if (step.kind == DeliveryStep::Kind::kHeld) {
      if (ending) return false;
      typing = false;
      return true;
    }
    if (ending) return false;
    if (allowed && outcome.typed && observer) {
      lock.unlock();
      observer(line.port_number, line.text);
      lock.lock();
      if (ending) return false;
    }
    typing = false;
    // A line the gate refused is the front end's to account for.
    if (!allowed) return true;
    if (outcome.typed) {
      current_cause.clear();
    } else {
      RecordNotTyped(line.port_number, outcome);
    }
    return true;
  }

  const std::shared_ptr<platform::Keyboard> keyboard;
  KeystrokeSender sender;
  LineObserver observer;
  LineGate gate;
  std::shared_ptr<Delivery> delivery;
  std::shared_ptr<platform::Clipboard> clipboard;
  StrokeCheckMaker check_maker;
  std::function<void()> notice;
  std::atomic<DelaysMs> shared_pacing{DelaysMs{0, 0}};
  std::array<std::atomic<DelaysMs>, kPortNumberCount> port_pacing{};

  std::mutex mutex;
  std::condition_variable work;  // a line was queued, or the thread should end
  std::condition_variable room;  // room in the queue, or a reason to stop waiting for it
  std::condition_variable idle;  // nothing queued and nothing being typed
  std::deque<QueuedLine> queue;
  std::size_t queued_bytes = 0;
  std::size_t waiting_for_room = 0;  // Enqueue() calls waiting for room
  bool typing = false;
  bool finishing = false;  // Finish() began: no more lines are taken
  bool ending = false;     // the thread returns as soon as it looks
  bool output_lost = false;
  std::size_t lines_not_typed = 0;
  std::string current_cause;  // of the failure going on; empty while lines are typed
  std::vector<Report> reports;
};

Typist::Typist(std::shared_ptr<platform::Keyboard> keyboard) : state_(std::make_shared<State>(std::move(keyboard))) {}

Typist::~Typist() { Finish(); }

void Typist::Start(const ThreadStarter& start) {
  if (thread_.joinable() || left_behind_) return;
  thread_ = start([state = state_] { Run(*state); });
}

void Typist::Run(State& state) {
  std::unique_lock<std::mutex> lock(state.mutex);
  const auto has_work = [&] { return state.ending || !state.queue.empty(); };
  while (true) {
    if (state.delivery && state.delivery->AnyHeld()) {
      state.work.wait_for(lock, Delivery::kPollInterval, has_work);
    } else {
      state.work.wait(lock, has_work);
    }
    if (state.ending) return;
    if (state.delivery && !state.TypeHeld(lock)) return;
    if (state.queue.empty()) {
      state.idle.notify_all();
      continue;
    }
    QueuedLine line = std::move(state.queue.front());
    state.queue.pop_front();
    state.queued_bytes -= line.text.size();
    state.room.notify_all();
    if (state.output_lost) {
      // Lines queued before the output went away: counted, their cause reported already.
      ++state.lines_not_typed;
    } else if (!line.refusal.empty()) {
      lock.unlock();
      state.SoundNotTyped(line.port_number);
      lock.lock();
      state.RecordNotTyped(line.port_number, {false, line.refusal, false});
    } else if (!state.Type(lock, line)) {
      return;
    }
    if (state.queue.empty()) state.idle.notify_all();
  }
}

bool Typist::Enqueue(int port_number, std::u32string line, const std::atomic<bool>& cancel) {
  return Queue(port_number, std::move(line), {}, cancel);
}

bool Typist::EnqueueNotTyped(int port_number, std::string reason, const std::atomic<bool>& cancel) {
  return Queue(port_number, {}, std::move(reason), cancel);
}

bool Typist::Queue(int port_number, std::u32string line, std::string refusal, const std::atomic<bool>& cancel) {
  State& state = *state_;
  std::unique_lock<std::mutex> lock(state.mutex);
  const auto has_room = [&] {
    return state.queue.empty() || state.queued_bytes + line.size() <= kQueueCapacity;
  };
  ++state.waiting_for_room;
  state.room.wait(lock, [&] { return has_room() || state.finishing || state.output_lost || cancel.load(); });
  --state.waiting_for_room;
  if (state.finishing || state.output_lost || !has_room()) {
    ++state.lines_not_typed;
    return false;
  }
  state.queued_bytes += line.size();
  state.queue.push_back({port_number, std::move(line), std::move(refusal)});
  state.work.notify_one();
  return true;
}

void Typist::WakeWaiters() {
  // Taking the mutex orders this after a waiter's last look at its flag: the notification
  // cannot fall between that look and its wait.
  { std::lock_guard<std::mutex> lock(state_->mutex); }
  state_->room.notify_all();
}

void Typist::SetPacing(Pacing pacing) {
  state_->shared_pacing.store({Milliseconds(pacing.key_delay), Milliseconds(pacing.line_delay)});
}

void Typist::SetPortPacing(int port_number, PortPacing own) {
  if (!IsPortNumber(port_number)) return;
  state_->port_pacing[State::Slot(port_number)].store({Milliseconds(own.key_delay), Milliseconds(own.line_delay)});
}

void Typist::SetLineObserver(LineObserver observer) { state_->observer = std::move(observer); }

void Typist::SetLineGate(LineGate gate) { state_->gate = std::move(gate); }

void Typist::SetDelivery(std::shared_ptr<Delivery> delivery) { state_->delivery = std::move(delivery); }

void Typist::SetClipboard(std::shared_ptr<platform::Clipboard> clipboard) { state_->clipboard = std::move(clipboard); }

void Typist::SetStrokeCheck(StrokeCheckMaker maker) { state_->check_maker = std::move(maker); }

void Typist::SetReportNotice(std::function<void()> notice) { state_->notice = std::move(notice); }

void Typist::DeliverReports(CaptureEvents& events) {
  std::vector<Report> reports;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    reports.swap(state_->reports);
  }
  for (const Report& report : reports) {
    if (report.notice) {
      events.DeliveryChanged(*report.notice);
    } else {
      events.LineNotTyped(report.port_number, report.reason, report.output_lost);
    }
  }
}

std::size_t Typist::readers_waiting() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->waiting_for_room;
}

bool Typist::output_lost() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->output_lost;
}

Typist::Finished Typist::Finish(std::chrono::milliseconds deadline) {
  State& state = *state_;
  std::unique_lock<std::mutex> lock(state.mutex);
  if (left_behind_) return {false, state.lines_not_typed};
  state.finishing = true;
  // No line is begun from now on, paced or not: its keys would land in whatever window is
  // in front by then, and paced ones would outlast any deadline. The lines waiting count as
  // not typed.
  state.lines_not_typed += state.queue.size();
  state.queue.clear();
  state.queued_bytes = 0;
  state.room.notify_all();
  state.work.notify_all();  // cuts a pause of a paced line short
  const bool drained = !thread_.joinable() || state.idle.wait_for(lock, deadline, [&] { return !state.typing; });
  if (!drained) ++state.lines_not_typed;
  state.ending = true;
  state.work.notify_all();
  std::size_t not_typed = state.lines_not_typed;
  lock.unlock();
  if (thread_.joinable()) {
    if (drained) {
      thread_.join();
      // The lines that still waited for their target when the typing ended.
      const std::size_t held = state.delivery ? state.delivery->HeldCount() : 0;
      lock.lock();
      state.lines_not_typed += held;
      not_typed = state.lines_not_typed;
      lock.unlock();
    } else {
      // Blocked inside the keyboard by an output that takes nothing: joining would wait for
      // ever. The thread keeps the state and the keyboard alive for as long as it runs.
      thread_.detach();
      left_behind_ = true;
    }
  }
  return {!left_behind_, not_typed};
}

}  // namespace lintrel
