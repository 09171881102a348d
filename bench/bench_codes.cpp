#include "bench/bench_codes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <set>

namespace lintrel::bench {

namespace {

constexpr int kPortDigits = 3;
constexpr int kSequenceDigits = 9;
constexpr std::size_t kCorruptedExamples = 4;

// Alternating weights 1 and 3, as retail bar codes use: catches any single wrong digit and
// most swaps of neighbours.
int CheckDigit(const std::string& digits) {
  int sum = 0;
  for (std::size_t i = 0; i < digits.size(); ++i) sum += (digits[i] - '0') * (i % 2 == 0 ? 1 : 3);
  return (10 - sum % 10) % 10;
}

double MeanOf(std::vector<double>::const_iterator begin, std::vector<double>::const_iterator end) {
  if (begin == end) return 0;
  return std::accumulate(begin, end, 0.0) / static_cast<double>(end - begin);
}

}  // namespace

std::string MakeLine(int port_number, long sequence) {
  char digits[kCodeDigits + 1];
  std::snprintf(digits, sizeof digits, "%0*d%0*ld", kPortDigits, port_number, kSequenceDigits,
                sequence);
  std::string line(digits, kCodeDigits - 1);
  line += static_cast<char>('0' + CheckDigit(line));
  line += '\r';
  return line;
}

bool DecodeCode(const std::string& digits, DecodedCode* code) {
  if (digits.size() != kCodeDigits) return false;
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  const std::string body = digits.substr(0, kCodeDigits - 1);
  if (digits.back() - '0' != CheckDigit(body)) return false;
  code->port_number = std::stoi(body.substr(0, kPortDigits));
  code->sequence = std::stol(body.substr(kPortDigits));
  return true;
}

std::vector<std::string> TypedLines(const std::vector<TypedKey>& presses) {
  std::vector<std::string> lines;
  std::string current;
  for (const TypedKey& press : presses) {
    if (press.key == '\r') {
      lines.push_back(current);
      current.clear();
    } else {
      current += press.key;
    }
  }
  // Keys after the last Return belong to a line that never ended.
  if (!current.empty()) lines.push_back(current);
  return lines;
}

Delivery CheckDelivery(const std::vector<std::string>& typed, int ports, long lines_per_port) {
  Delivery delivery;
  delivery.sent = static_cast<long>(ports) * lines_per_port;
  std::vector<std::set<long>> seen(static_cast<std::size_t>(ports) + 1);
  std::vector<long> highest(static_cast<std::size_t>(ports) + 1, -1);
  std::vector<bool> faulty(static_cast<std::size_t>(ports) + 1, false);
  for (const std::string& line : typed) {
    DecodedCode code;
    if (!DecodeCode(line, &code) || code.port_number < 1 || code.port_number > ports ||
        code.sequence < 0 || code.sequence >= lines_per_port) {
      ++delivery.corrupted;
      if (delivery.corrupted_examples.size() < kCorruptedExamples) delivery.corrupted_examples.push_back(line);
      continue;
    }
    const auto port = static_cast<std::size_t>(code.port_number);
    if (!seen[port].insert(code.sequence).second) {
      ++delivery.duplicated;
      faulty[port] = true;
      continue;
    }
    if (code.sequence < highest[port]) {
      ++delivery.reordered;
      faulty[port] = true;
    }
    highest[port] = std::max(highest[port], code.sequence);
  }
  for (int port = 1; port <= ports; ++port) {
    const auto index = static_cast<std::size_t>(port);
    delivery.arrived += static_cast<long>(seen[index].size());
    if (static_cast<long>(seen[index].size()) != lines_per_port) faulty[index] = true;
  }
  delivery.missing = delivery.sent - delivery.arrived;
  delivery.ports_with_faults = static_cast<int>(std::count(faulty.begin(), faulty.end(), true));
  return delivery;
}

LatencySummary Summarize(const std::vector<double>& latencies_ms, std::size_t lost) {
  LatencySummary summary;
  summary.count = latencies_ms.size();
  summary.lost = lost;
  if (latencies_ms.empty()) return summary;
  const std::size_t quarter = std::max<std::size_t>(1, latencies_ms.size() / 4);
  summary.mean_first_quarter_ms =
      MeanOf(latencies_ms.begin(), latencies_ms.begin() + static_cast<long>(quarter));
  summary.mean_last_quarter_ms =
      MeanOf(latencies_ms.end() - static_cast<long>(quarter), latencies_ms.end());
  std::vector<double> sorted = latencies_ms;
  std::sort(sorted.begin(), sorted.end());
  // Nearest rank.
  const auto rank = [&](double fraction) {
    const auto index =
        static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
    return sorted[std::min(sorted.size(), std::max<std::size_t>(index, 1)) - 1];
  };
  summary.p50_ms = rank(0.50);
  summary.p99_ms = rank(0.99);
  summary.max_ms = sorted.back();
  return summary;
}

}  // namespace lintrel::bench
