#include "capture/port_name.h"

#include <cctype>

#include "capture/port_table.h"

namespace lintrel {

namespace {
constexpr std::size_t kPrefixLength = 3;  // "COM"
constexpr std::size_t kMaxDigits = 3;     // the port number text has room for three digits
}  // namespace

std::optional<int> PortNumberFromName(std::string_view name) {
  std::string_view rest = name.size() > kPrefixLength ? name.substr(kPrefixLength) : std::string_view{};
  // As atoi reads it: leading white space and one sign are allowed; a number that is
  // negative has no slot.
  std::size_t pos = 0;
  while (pos < rest.size() && std::isspace(static_cast<unsigned char>(rest[pos]))) ++pos;
  bool negative = false;
  if (pos < rest.size() && (rest[pos] == '+' || rest[pos] == '-')) negative = rest[pos++] == '-';
  std::size_t digits = 0;
  int value = 0;
  while (pos < rest.size() && std::isdigit(static_cast<unsigned char>(rest[pos]))) {
    if (++digits > kMaxDigits) return std::nullopt;
    value = value * 10 + (rest[pos++] - '0');
  }
  if (negative && value != 0) return std::nullopt;
  if (value > kHighestPortNumber) return std::nullopt;
  return value;
}

std::string PortName(int port_number) { return "COM" + std::to_string(port_number); }

}  // namespace lintrel
