#pragma once

#include <string>
#include <string_view>

#include "bench/bench_codes.h"
#include "bench/bench_subjects.h"
#include "bench/bench_x.h"

namespace lintrel::bench {

// What every workload runs against: the programs, the private X server and the window
// that receives the keys.
struct Stage {
  Programs programs;
  XServer* x_server = nullptr;
  KeyReceiver* receiver = nullptr;
};

// A workload that could not run at all says why in `error`; one that ran but lost lines
// says so in its figures.
struct LatencyResult {
  std::string error;
  LatencySummary summary;
};

struct ThroughputResult {
  std::string error;
  long lines_sent = 0;
  Delivery delivery;
  double seconds = 0;
  double lines_per_second = 0;
  double keys_per_second = 0;             // key events, down and up
  double cpu_seconds_per_1000_lines = 0;  // user + system, clock ticks
  double run_seconds_per_1000_lines = 0;  // scheduler clock; without children
  double x_cpu_seconds_per_1000_lines = 0;
};

struct PacedResult {
  std::string error;
  int baud = 0;
  LatencySummary summary;
  double drift_ms = 0;  // mean latency of the last quarter of lines minus the first quarter's
  bool bounded = false;
  // Lines whose CR went out in one write with the next line's first byte(s), as happens
  // when the writer wakes late; a reader sees both in one read. Their own latencies:
  long lines_with_inner_cr = 0;
  LatencySummary inner_cr_summary;
};

struct CorrectnessResult {
  std::string error;
  int ports = 0;
  long lines_per_port = 0;
  Delivery delivery;
  double seconds = 0;
  long peak_rss_kib = 0;
  int x_connections_refused = 0;  // X connections the subject reported refused
  bool finished = false;          // every line's Return arrived before the time limit
};

// Lines of any text typed by lintrel-cli with given options, counted by their Returns.
struct LineRateResult {
  std::string error;
  int lines_sent = 0;
  int lines_arrived = 0;
  double lines_per_second = 0;
};

struct IdleResult {
  std::string error;
  int ports = 0;
  double seconds = 0;
  double wakeups_per_second = 0;
  double cpu_seconds = 0;
  long peak_rss_kib = 0;
};

// Lines sent one at a time, each after the previous one's last key arrived; latency from
// the write of the line (its CR included) to its Return key press (x11) or to its last
// trace line ("up 0x0D") on lintrel-cli's standard output (trace).
// What a measured port reads from: a pseudo-terminal, or a TCP connection from the
// benchmark (a network port, tcp://127.0.0.1:PORT; lintrel-cli only).
enum class PortDevice { kPty, kNetwork };

LatencyResult MeasureIsolatedLatency(const Stage& stage, SubjectKind kind, bool trace, int lines,
                                     Clock::duration per_line_limit, PortDevice device = PortDevice::kPty);
// Lines written as fast as the pseudo-terminal (or the connection) takes them, to one port.
ThroughputResult MeasureThroughput(const Stage& stage, SubjectKind kind, int lines,
                                   Clock::duration limit, PortDevice device = PortDevice::kPty);
// `lines` copies of `line` (and a CR) written to one port of lintrel-cli started with
// `lintrel_options`, as fast as the pseudo-terminal takes them.
LineRateResult MeasureLineRate(const Stage& stage, const std::vector<std::string>& lintrel_options,
                               std::string_view line, int lines, Clock::duration limit);
// Lines written at the byte rate of `baud` (10 bits a byte), back to back.
PacedResult MeasurePaced(const Stage& stage, SubjectKind kind, int baud, int lines,
                         Clock::duration limit);
// `lines_per_port` lines on each of `ports` ports at once, one line per port in turn.
CorrectnessResult MeasureCorrectness(const Stage& stage, SubjectKind kind, int ports,
                                     long lines_per_port, Clock::duration limit);
// `ports` ports connected and no data, for `duration`.
IdleResult MeasureIdle(const Stage& stage, SubjectKind kind, int ports, Clock::duration duration);

}  // namespace lintrel::bench
