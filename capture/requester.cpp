#include "capture/requester.h"

#include <algorithm>
#include <span>

#include "capture/text_decoding.h"

namespace lintrel {

namespace {
constexpr const char* kNoReply = "no reply to the poll";
}  // namespace

Requester::Requester(PortTable& table, const SharedCaptureOptions& options, CaptureEvents& events)
    : table_(table), options_(options), events_(events) {}

PortRequests Requester::RequestsOf(int port_number) const {
  const std::shared_ptr<const PortCaptureRules> rules = options_.PortRules(port_number);
  return rules ? rules->requests : PortRequests{};
}

void Requester::RunDue(Clock::time_point now) {
  for (int port_number = kLowestPortNumber; port_number <= kHighestPortNumber; ++port_number) {
    RunPort(port_number, now);
  }
}

void Requester::RunPort(int port_number, Clock::time_point now) {
  const PortSlot& slot = table_[port_number];
  PortState& state = StateOf(port_number);
  // A network port sends nothing before its link is up (what it is handed then waits), and
  // its polls count from then.
  if (!slot.connected.load() || slot.awaiting_link_up) {
    state.next_poll.reset();
    state.reply_due.reset();
    return;
  }
  const PortRequests requests = RequestsOf(port_number);
  if (slot.opens != state.opens_seen) {
    state.opens_seen = slot.opens;
    state.lines_seen = slot.lines_finished.load();
    state.last_poll.reset();
    state.next_poll.reset();  // a re-opened port's polls count from its open
    state.reply_due.reset();
    if (!requests.send_on_connect.empty()) Send(port_number, requests.send_on_connect, "text to send on connect");
  }
  TakeReplies(port_number, state, now);
  if (!requests.PollsOnTimer()) {
    state.next_poll.reset();
    return;
  }
  const auto every = std::chrono::milliseconds(requests.poll_every_ms);
  if (!state.next_poll) state.next_poll = now + every;
  if (now < *state.next_poll) return;
  // The timer keeps its beat; after a long stall it starts again from now.
  *state.next_poll += every;
  if (*state.next_poll <= now) state.next_poll = now + every;
  if (slot.paused.load()) return;
  const bool reply_under_way = slot.line_under_way.load() && state.last_poll &&
                               now - *state.last_poll < kIncompleteReplyHold;
  if (reply_under_way) return;
  SendPoll(port_number, requests, now);
}

void Requester::TakeReplies(int port_number, PortState& state, Clock::time_point now) {
  const uint64_t lines = table_[port_number].lines_finished.load();
  if (lines != state.lines_seen) {
    state.lines_seen = lines;
    state.reply_due.reset();
    if (!state.reported.empty()) {
      state.reported.clear();
      events_.RequestsAnswered(port_number);
    }
    return;
  }
  if (state.reply_due && now >= *state.reply_due) {
    state.reply_due.reset();
    Report(port_number, kNoReply);
  }
}

bool Requester::SendPoll(int port_number, const PortRequests& requests, Clock::time_point now) {
  PortState& state = StateOf(port_number);
  // Lines that came before this poll are no reply to it.
  TakeReplies(port_number, state, now);
  if (!Send(port_number, requests.poll, "poll")) return false;
  state.last_poll = now;
  if (requests.reply_timeout_ms > 0 && !state.reply_due) {
    state.reply_due = now + std::chrono::milliseconds(requests.reply_timeout_ms);
  }
  return true;
}

bool Requester::Send(int port_number, const std::string& text, const std::string& what) {
  PortSlot& slot = table_[port_number];
  const PortCaptureSnapshot snapshot = options_.LoadFor(port_number);
  std::string problem;
  const std::optional<std::string> bytes = EncodeText(text, snapshot.options.encoding, options_.ansi_code_page(), &problem);
  if (!bytes) {
    Report(port_number, what + " not sent: " + problem);
    return false;
  }
  const std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size());
  const platform::WriteResult written = slot.port->Write(data);
  if (written.error.kind != platform::SerialErrorKind::kNone) {
    Report(port_number, what + " not sent: " + written.error.message);
    return false;
  }
  return true;
}

void Requester::Report(int port_number, const std::string& problem) {
  std::string& reported = StateOf(port_number).reported;
  if (reported == problem) return;
  reported = problem;
  events_.RequestProblem(port_number, problem);
}

std::optional<Requester::Clock::time_point> Requester::NextDue() const {
  std::optional<Clock::time_point> next;
  const auto take = [&next](const std::optional<Clock::time_point>& due) {
    if (due && (!next || *due < *next)) next = due;
  };
  for (int port_number = kLowestPortNumber; port_number <= kHighestPortNumber; ++port_number) {
    const PortSlot& slot = table_[port_number];
    const PortState& state = states_[static_cast<std::size_t>(port_number)];
    // A port opened since the last run has its text on connect to send, and its timer to set.
    if (slot.connected.load() && !slot.awaiting_link_up && slot.opens != state.opens_seen &&
        RequestsOf(port_number).SendsAnything()) {
      take(Clock::time_point::min());
    }
    take(state.next_poll);
    take(state.reply_due);
  }
  return next;
}

bool Requester::SendNow(int port_number, Clock::time_point now) {
  if (!IsPortNumber(port_number)) return false;
  const PortSlot& slot = table_[port_number];
  if (!slot.connected.load() || slot.awaiting_link_up || slot.paused.load()) return false;
  const PortRequests requests = RequestsOf(port_number);
  if (requests.poll.empty()) return false;
  return SendPoll(port_number, requests, now);
}

void Requester::SendNowToAll(Clock::time_point now) {
  for (int port_number = kLowestPortNumber; port_number <= kHighestPortNumber; ++port_number) {
    SendNow(port_number, now);
  }
}

}  // namespace lintrel
