#include "bench/bench_workloads.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string_view>
#include <thread>

#include "bench/bench_pty.h"
#include "support/trace.h"

namespace lintrel::bench {

namespace {

using std::chrono::milliseconds;

constexpr int kKeyEventsPerLine = 2 * 14;  // 13 digits and Return, each down and up
constexpr auto kQuietLimit = std::chrono::seconds(3);

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

std::string Digits(const std::string& line) { return line.substr(0, kCodeDigits); }

// The ports, the subject on them, and the receiver emptied once every port is connected.
// A device server on the loopback interface standing in for a network port's: the subject
// connects to it (tcp://127.0.0.1:PORT) and the benchmark writes to the connection it
// accepted, as it writes to a pseudo-terminal's master.
class TcpDevice {
 public:
  static std::unique_ptr<TcpDevice> Listen(std::string* error) {
    auto device = std::unique_ptr<TcpDevice>(new TcpDevice);
    device->listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (device->listener_ < 0 || bind(device->listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(device->listener_, 1) != 0 ||
        getsockname(device->listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      *error = "cannot listen on the loopback interface";
      return nullptr;
    }
    device->port_ = ntohs(address.sin_port);
    return device;
  }
  ~TcpDevice() {
    if (connection_ >= 0) close(connection_);
    if (listener_ >= 0) close(listener_);
  }

  std::string Address() const { return "tcp://127.0.0.1:" + std::to_string(port_); }
  // The subject's connection, written to without blocking and without Nagle's delay.
  bool Accept(std::string* error) {
    pollfd waiting = {.fd = listener_, .events = POLLIN, .revents = 0};
    if (poll(&waiting, 1, 5000) == 1) connection_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    const int on = 1;
    if (connection_ < 0 || setsockopt(connection_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
      *error = "the subject did not connect to its network port";
      return false;
    }
    return true;
  }
  int fd() const { return connection_; }

 private:
  TcpDevice() = default;
  int listener_ = -1;
  int connection_ = -1;
  int port_ = 0;
};

class Session {
 public:
  ~Session() {
    if (!subject_) return;
    subject_.reset();  // stops the subject before its devices go away
    ptys_.clear();
    tcp_.reset();
    if (const int held = stage_->x_server->ReleaseHeldKeys(); held > 0) {
      std::fprintf(stderr, "bench: %s left %d key(s) held down; released\n", SubjectName(kind_),
                   held);
    }
    stage_->receiver->Clear();
  }

  // On `device` kNetwork, one port: a TCP connection instead of a pseudo-terminal.
  bool Open(const Stage& stage, SubjectKind kind, int ports, bool trace, std::string* error,
            const std::vector<std::string>& lintrel_options = {}, PortDevice device = PortDevice::kPty) {
    stage_ = &stage;
    kind_ = kind;
    std::vector<std::string> devices;
    if (device == PortDevice::kNetwork) {
      tcp_ = TcpDevice::Listen(error);
      if (!tcp_) return false;
      devices.push_back(tcp_->Address());
    }
    for (int i = 0; i < ports && device == PortDevice::kPty; ++i) {
      ptys_.push_back(PtyPair::Open(error));
      if (!ptys_.back()) return false;
      devices.push_back(ptys_.back()->slave_path());
    }
    subject_ = Subject::Start(kind, stage.programs, devices, trace, error, lintrel_options);
    if (!subject_) return false;
    const auto limit = std::chrono::seconds(20) + milliseconds(100) * ports;
    if (!subject_->WaitConnected(limit, error)) return false;
    if (tcp_ && !tcp_->Accept(error)) return false;
    stage.receiver->Clear();
    return true;
  }

  PtyPair& pty(std::size_t index) { return *ptys_[index]; }
  // Where the first port's device bytes are written: the pseudo-terminal's master or the
  // network connection.
  int device_fd() const { return tcp_ ? tcp_->fd() : ptys_.front()->master_fd(); }
  Subject& subject() { return *subject_; }

 private:
  const Stage* stage_ = nullptr;
  SubjectKind kind_ = SubjectKind::kLintrel;
  std::vector<std::unique_ptr<PtyPair>> ptys_;
  std::unique_ptr<TcpDevice> tcp_;
  std::unique_ptr<Subject> subject_;
};

// Writes all of `bytes` to a device's descriptor (non-blocking), waiting for room while the
// pseudo-terminal or the connection is full.
bool WriteAll(int fd, std::string_view bytes, Clock::time_point deadline) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
      continue;
    }
    if (written < 0 && errno != EAGAIN && errno != EINTR) return false;
    if (Clock::now() > deadline) return false;
    pollfd room = {.fd = fd, .events = POLLOUT, .revents = 0};
    poll(&room, 1, 10);
  }
  return true;
}

// A short random pause between isolated lines, so that they do not fall into step with
// any periodic activity of the subject.
void PauseBetweenLines(std::mt19937& random) {
  std::this_thread::sleep_for(std::chrono::microseconds(200 + random() % 800));
}

// lintrel-cli's trace output, read back into typed lines.
class TraceReader {
 public:
  explicit TraceReader(int fd) : fd_(fd) {}

  // The text of the next typed line (without its carriage return) and when the output that
  // finished it arrived.
  std::optional<std::pair<std::string, Clock::time_point>> NextLine(Clock::time_point deadline) {
    while (true) {
      const std::size_t end = decoder_.text().find('\r', taken_);
      if (end != std::string::npos) {
        std::string line = decoder_.text().substr(taken_, end - taken_);
        taken_ = end + 1;
        return std::make_pair(std::move(line), arrived_);
      }
      const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
      if (left.count() <= 0 || !decoder_.error().empty()) return std::nullopt;
      pollfd output = {.fd = fd_, .events = POLLIN, .revents = 0};
      if (poll(&output, 1, static_cast<int>(left.count())) <= 0) continue;
      char chunk[65536];
      const ssize_t count = read(fd_, chunk, sizeof chunk);
      arrived_ = Clock::now();
      if (count <= 0) return std::nullopt;
      decoder_.Feed(std::string_view(chunk, static_cast<std::size_t>(count)));
    }
  }

 private:
  int fd_;
  testing::TraceDecoder decoder_;
  std::size_t taken_ = 0;
  Clock::time_point arrived_;
};

// The next Return press and the digits typed before it, from the receiving window.
std::optional<std::pair<std::string, Clock::time_point>> NextTypedLine(KeyReceiver& receiver,
                                                                       Clock::time_point deadline) {
  std::string digits;
  while (const std::optional<TypedKey> press = receiver.Next(deadline)) {
    if (press->key == '\r') return std::make_pair(digits, press->at);
    digits += press->key;
  }
  return std::nullopt;
}

}  // namespace

LatencyResult MeasureIsolatedLatency(const Stage& stage, SubjectKind kind, bool trace, int lines,
                                     Clock::duration per_line_limit, PortDevice device) {
  LatencyResult result;
  Session session;
  if (!session.Open(stage, kind, 1, trace, &result.error, {}, device)) return result;
  std::optional<TraceReader> trace_reader;
  if (trace) trace_reader.emplace(session.subject().trace_fd());
  std::mt19937 random(12345);
  std::vector<double> latencies;
  std::size_t lost = 0;
  for (int sequence = 0; sequence < lines; ++sequence) {
    const std::string line = MakeLine(1, sequence);
    const Clock::time_point written_at = Clock::now();
    const Clock::time_point deadline = written_at + per_line_limit;
    if (!WriteAll(session.device_fd(), line, deadline)) {
      result.error = "the device stayed full";
      return result;
    }
    const auto typed =
        trace ? trace_reader->NextLine(deadline) : NextTypedLine(*stage.receiver, deadline);
    if (typed && typed->first == Digits(line)) {
      latencies.push_back(Milliseconds(typed->second - written_at));
    } else {
      ++lost;
      // Let a late line arrive now rather than be taken for the next one.
      std::this_thread::sleep_for(milliseconds(200));
      stage.receiver->Clear();
    }
    PauseBetweenLines(random);
  }
  result.summary = Summarize(latencies, lost);
  return result;
}

ThroughputResult MeasureThroughput(const Stage& stage, SubjectKind kind, int lines,
                                   Clock::duration limit, PortDevice device) {
  ThroughputResult result;
  result.lines_sent = lines;
  Session session;
  if (!session.Open(stage, kind, 1, false, &result.error, {}, device)) return result;
  std::string all;
  for (int sequence = 0; sequence < lines; ++sequence) all += MakeLine(1, sequence);

  ProcessFigures subject_before = session.subject().Figures();
  ProcessFigures x_before;
  ReadProcessFigures(stage.x_server->pid(), &x_before);
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + limit;
  WriteAll(session.device_fd(), all, deadline);
  stage.receiver->WaitForReturns(static_cast<std::size_t>(lines), kQuietLimit, deadline);
  const std::vector<TypedKey> presses = stage.receiver->TakeAll();
  const ProcessFigures subject_after = session.subject().Figures();
  ProcessFigures x_after;
  ReadProcessFigures(stage.x_server->pid(), &x_after);

  result.delivery = CheckDelivery(TypedLines(presses), 1, lines);
  const auto last_return = std::find_if(presses.rbegin(), presses.rend(),
                                        [](const TypedKey& p) { return p.key == '\r'; });
  if (last_return == presses.rend() || result.delivery.arrived == 0) {
    result.error = "no line arrived";
    return result;
  }
  result.seconds = Seconds(last_return->at - start);
  const double arrived = static_cast<double>(result.delivery.arrived);
  result.lines_per_second = arrived / result.seconds;
  result.keys_per_second = static_cast<double>(presses.size()) * 2 / result.seconds;
  result.cpu_seconds_per_1000_lines =
      (subject_after.cpu_seconds - subject_before.cpu_seconds) * 1000 / arrived;
  result.run_seconds_per_1000_lines =
      (subject_after.run_seconds - subject_before.run_seconds) * 1000 / arrived;
  result.x_cpu_seconds_per_1000_lines =
      (x_after.cpu_seconds - x_before.cpu_seconds) * 1000 / arrived;
  return result;
}

LineRateResult MeasureLineRate(const Stage& stage, const std::vector<std::string>& lintrel_options,
                               std::string_view line, int lines, Clock::duration limit) {
  LineRateResult result;
  result.lines_sent = lines;
  Session session;
  if (!session.Open(stage, SubjectKind::kLintrel, 1, false, &result.error, lintrel_options)) return result;
  std::string all;
  for (int i = 0; i < lines; ++i) (all += line) += '\r';
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + limit;
  WriteAll(session.device_fd(), all, deadline);
  stage.receiver->WaitForReturns(static_cast<std::size_t>(lines), kQuietLimit, deadline);
  const std::vector<TypedKey> presses = stage.receiver->TakeAll();
  const auto returns = std::count_if(presses.begin(), presses.end(), [](const TypedKey& p) { return p.key == '\r'; });
  const auto last_return = std::find_if(presses.rbegin(), presses.rend(),
                                        [](const TypedKey& p) { return p.key == '\r'; });
  if (last_return == presses.rend()) {
    result.error = "no line arrived";
    return result;
  }
  result.lines_arrived = static_cast<int>(returns);
  result.lines_per_second = static_cast<double>(returns) / Seconds(last_return->at - start);
  return result;
}

PacedResult MeasurePaced(const Stage& stage, SubjectKind kind, int baud, int lines,
                         Clock::duration limit) {
  PacedResult result;
  result.baud = baud;
  Session session;
  if (!session.Open(stage, kind, 1, false, &result.error)) return result;
  std::string all;
  for (int sequence = 0; sequence < lines; ++sequence) all += MakeLine(1, sequence);

  // 8N1: a start bit, 8 data bits and a stop bit for every byte.
  const auto byte_time =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(10.0 / baud));
  const Clock::time_point start = Clock::now() + milliseconds(10);
  const Clock::time_point deadline = start + byte_time * static_cast<long>(all.size()) + limit;
  std::vector<Clock::time_point> cr_written(static_cast<std::size_t>(lines));
  std::vector<bool> cr_inner(static_cast<std::size_t>(lines), false);
  std::size_t written = 0;
  int line_index = 0;
  while (written < all.size() && Clock::now() < deadline) {
    std::this_thread::sleep_until(start + byte_time * static_cast<long>(written));
    const auto due = static_cast<std::size_t>((Clock::now() - start) / byte_time) + 1;
    const std::size_t end = std::min(all.size(), due);
    const Clock::time_point write_time = Clock::now();
    const std::size_t count =
        session.pty(0).WriteSome(std::string_view(all).substr(written, end - written));
    for (std::size_t at = written; at < written + count; ++at) {
      if (all[at] != '\r') continue;
      cr_inner[static_cast<std::size_t>(line_index)] = at + 1 < written + count;
      cr_written[static_cast<std::size_t>(line_index++)] = write_time;
    }
    written += count;
    if (count == 0) {
      pollfd room = {.fd = session.pty(0).master_fd(), .events = POLLOUT, .revents = 0};
      poll(&room, 1, 1);
    }
  }
  stage.receiver->WaitForReturns(static_cast<std::size_t>(lines), kQuietLimit, deadline);
  const std::vector<TypedKey> presses = stage.receiver->TakeAll();

  // Each Return press ends the line typed before it; its code tells which line was sent.
  std::vector<double> latencies;
  std::vector<double> inner_cr_latencies;
  std::string digits;
  for (const TypedKey& press : presses) {
    if (press.key != '\r') {
      digits += press.key;
      continue;
    }
    DecodedCode code;
    if (DecodeCode(digits, &code) && code.port_number == 1 && code.sequence < line_index) {
      const auto line = static_cast<std::size_t>(code.sequence);
      latencies.push_back(Milliseconds(press.at - cr_written[line]));
      if (cr_inner[line]) inner_cr_latencies.push_back(latencies.back());
    }
    digits.clear();
  }
  const std::size_t lost =
      static_cast<std::size_t>(lines) - std::min<std::size_t>(latencies.size(), lines);
  result.summary = Summarize(latencies, lost);
  result.lines_with_inner_cr = std::count(cr_inner.begin(), cr_inner.end(), true);
  result.inner_cr_summary = Summarize(inner_cr_latencies, 0);
  result.drift_ms = result.summary.mean_last_quarter_ms - result.summary.mean_first_quarter_ms;
  // Bounded: no line lost, and the lines at the end wait no longer than those at the start
  // (within two line times, or 2 ms for noise).
  const double line_ms = Milliseconds(byte_time) * static_cast<double>(kCodeDigits + 1);
  result.bounded = lost == 0 && result.drift_ms < std::max(2 * line_ms, 2.0);
  return result;
}

CorrectnessResult MeasureCorrectness(const Stage& stage, SubjectKind kind, int ports,
                                     long lines_per_port, Clock::duration limit) {
  CorrectnessResult result;
  result.ports = ports;
  result.lines_per_port = lines_per_port;
  Session session;
  if (!session.Open(stage, kind, ports, false, &result.error)) return result;

  // One line to every port in turn; a port whose pseudo-terminal is full gets the rest of
  // its line on a later round.
  std::vector<std::string> pending(static_cast<std::size_t>(ports));
  for (long sequence = 0; sequence < lines_per_port; ++sequence) {
    for (int port = 1; port <= ports; ++port)
      pending[static_cast<std::size_t>(port - 1)] += MakeLine(port, sequence);
  }
  std::vector<std::size_t> offset(pending.size(), 0);
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + limit;
  for (bool left = true; left && Clock::now() < deadline;) {
    left = false;
    bool progress = false;
    for (std::size_t port = 0; port < pending.size(); ++port) {
      const std::size_t remaining = pending[port].size() - offset[port];
      if (remaining == 0) continue;
      const std::size_t chunk = std::min(remaining, kCodeDigits + 1);
      const std::size_t written =
          session.pty(port).WriteSome(std::string_view(pending[port]).substr(offset[port], chunk));
      offset[port] += written;
      progress = progress || written > 0;
      left = left || offset[port] < pending[port].size();
    }
    if (left && !progress) std::this_thread::sleep_for(milliseconds(1));
  }
  const auto expected = static_cast<std::size_t>(ports * lines_per_port);
  result.finished = stage.receiver->WaitForReturns(expected, kQuietLimit * 2, deadline);
  result.seconds = Seconds(Clock::now() - start);
  result.peak_rss_kib = session.subject().Figures().peak_rss_kib;
  result.x_connections_refused = session.subject().DisplayRefusals();
  result.delivery = CheckDelivery(TypedLines(stage.receiver->TakeAll()), ports, lines_per_port);
  return result;
}

IdleResult MeasureIdle(const Stage& stage, SubjectKind kind, int ports, Clock::duration duration) {
  IdleResult result;
  result.ports = ports;
  result.seconds = Seconds(duration);
  Session session;
  if (!session.Open(stage, kind, ports, false, &result.error)) return result;
  // Let start-up settle first.
  std::this_thread::sleep_for(milliseconds(500));
  const ProcessFigures before = session.subject().Figures();
  std::this_thread::sleep_for(duration);
  const ProcessFigures after = session.subject().Figures();
  result.wakeups_per_second =
      static_cast<double>(after.context_switches - before.context_switches) / result.seconds;
  result.cpu_seconds = after.cpu_seconds - before.cpu_seconds;
  result.peak_rss_kib = after.peak_rss_kib;
  return result;
}

}  // namespace lintrel::bench
