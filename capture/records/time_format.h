#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace lintrel::records {

// A date and time of day as a calendar shows it.
struct CivilTime {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;

  bool operator==(const CivilTime&) const = default;
};

// The local time of `moment`, in the time zone of the system.
CivilTime LocalCivilTime(std::chrono::system_clock::time_point moment);

// Why `format` cannot be used, or empty when it can. Formats are strftime's, with the
// conversions that mean the same on every system and in every locale: %Y %y %C %m %d %e %j
// %H %I %M %S %p %a %A %b %B %u %w %F %T %D %R %n %t %% (names in English).
std::string TimeFormatError(std::string_view format);

// `time` written as `format` says; a format that TimeFormatError() refuses gives the
// conversions it does not know as they stand.
std::string FormatTime(const CivilTime& time, std::string_view format);

}  // namespace lintrel::records
