#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "bench/bench_x.h"

namespace lintrel::bench {

// The test lines: 13 digits (a port number of 3, a sequence number of 9 and a check digit
// over both) and a CR, so that every key is a plain key and each typed line can be traced
// back to the port and position it was sent from.
inline constexpr std::size_t kCodeDigits = 13;
std::string MakeLine(int port_number, long sequence);

struct DecodedCode {
  int port_number = 0;
  long sequence = 0;
};
// False for anything that is not a whole code with a correct check digit.
bool DecodeCode(const std::string& digits, DecodedCode* code);

// Splits key presses into the lines they typed: the keys before each Return.
std::vector<std::string> TypedLines(const std::vector<TypedKey>& presses);

// What arrived compared with what was sent: `lines_per_port` lines (sequence 0 up) on
// ports 1..ports.
struct Delivery {
  long sent = 0;
  long arrived = 0;     // whole, distinct, valid lines
  long missing = 0;     // sent but never arrived whole
  long corrupted = 0;   // typed lines that are not a valid code sent (garbled, merged, cut)
  long reordered = 0;   // valid lines that came after a later line of the same port
  long duplicated = 0;  // valid lines that arrived more than once
  int ports_with_faults = 0;
  std::vector<std::string> corrupted_examples;  // the first few corrupted lines, as typed
  bool Clean() const { return missing == 0 && corrupted == 0 && reordered == 0 && duplicated == 0; }
};
Delivery CheckDelivery(const std::vector<std::string>& typed, int ports, long lines_per_port);

// Latencies in milliseconds, summarized.
struct LatencySummary {
  std::size_t count = 0;  // lines measured
  std::size_t lost = 0;   // lines whose end never arrived (or arrived garbled)
  double p50_ms = 0;
  double p99_ms = 0;
  double max_ms = 0;
  double mean_first_quarter_ms = 0;
  double mean_last_quarter_ms = 0;
};
LatencySummary Summarize(const std::vector<double>& latencies_ms, std::size_t lost);

}  // namespace lintrel::bench
