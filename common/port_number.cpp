#include "common/port_number.h"

namespace lintrel {

namespace {

constexpr std::string_view kPrefix = "COM";
// Enough for the highest port number; a longer number is out of range anyway.
constexpr std::size_t kMaxDigits = 3;

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool StartsWithPrefix(std::string_view name) {
  if (name.size() < kPrefix.size()) return false;
  for (std::size_t i = 0; i < kPrefix.size(); ++i) {
    if (UpperAscii(name[i]) != kPrefix[i]) return false;
  }
  return true;
}

}  // namespace

std::optional<int> ParsePortName(std::string_view name) {
  if (!StartsWithPrefix(name)) return std::nullopt;
  const std::string_view digits = name.substr(kPrefix.size());
  if (digits.empty() || digits.size() > kMaxDigits) return std::nullopt;
  if (digits.size() > 1 && digits.front() == '0') return std::nullopt;
  int number = 0;
  for (const char digit : digits) {
    if (!IsDigit(digit)) return std::nullopt;
    number = number * 10 + (digit - '0');
  }
  if (!IsPortNumber(number)) return std::nullopt;
  return number;
}

std::string PortName(int port_number) { return std::string(kPrefix) + std::to_string(port_number); }

}  // namespace lintrel
