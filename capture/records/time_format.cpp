#include "capture/records/time_format.h"

#include <array>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace lintrel::records {
namespace {

constexpr std::string_view kKnownConversions = "YyCmdejHIMSpaAbBuwFTDRnt%";

constexpr std::array<std::string_view, 7> kWeekdays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                       "Thursday", "Friday", "Saturday"};
constexpr std::array<std::string_view, 12> kMonths = {"January", "February", "March",     "April",
                                                      "May",     "June",     "July",      "August",
                                                      "September", "October", "November", "December"};

std::chrono::sys_days DaysOf(const CivilTime& time) {
  return std::chrono::year_month_day{std::chrono::year(time.year),
                                     std::chrono::month(static_cast<unsigned>(time.month)),
                                     std::chrono::day(static_cast<unsigned>(time.day))};
}

// 0 for Sunday .. 6 for Saturday.
unsigned Weekday(const CivilTime& time) { return std::chrono::weekday(DaysOf(time)).c_encoding(); }

int DayOfYear(const CivilTime& time) {
  const std::chrono::sys_days first = std::chrono::year_month_day{std::chrono::year(time.year), std::chrono::January,
                                                                  std::chrono::day(1)};
  return static_cast<int>((DaysOf(time) - first).count()) + 1;
}

std::string Number(int value, int width, char fill = '0') {
  char text[16];
  std::snprintf(text, sizeof text, fill == '0' ? "%0*d" : "%*d", width, value);
  return text;
}

int TwelveHour(int hour) { return hour % 12 == 0 ? 12 : hour % 12; }

void AppendConversion(const CivilTime& time, char conversion, std::string& out) {
  switch (conversion) {
    case 'Y': out += Number(time.year, 4); break;
    case 'y': out += Number(time.year % 100, 2); break;
    case 'C': out += Number(time.year / 100, 2); break;
    case 'm': out += Number(time.month, 2); break;
    case 'd': out += Number(time.day, 2); break;
    case 'e': out += Number(time.day, 2, ' '); break;
    case 'j': out += Number(DayOfYear(time), 3); break;
    case 'H': out += Number(time.hour, 2); break;
    case 'I': out += Number(TwelveHour(time.hour), 2); break;
    case 'M': out += Number(time.minute, 2); break;
    case 'S': out += Number(time.second, 2); break;
    case 'p': out += time.hour < 12 ? "AM" : "PM"; break;
    case 'a': out += kWeekdays[Weekday(time)].substr(0, 3); break;
    case 'A': out += kWeekdays[Weekday(time)]; break;
    case 'b': out += kMonths[static_cast<std::size_t>(time.month - 1)].substr(0, 3); break;
    case 'B': out += kMonths[static_cast<std::size_t>(time.month - 1)]; break;
    case 'u': out += std::to_string(Weekday(time) == 0 ? 7 : Weekday(time)); break;
    case 'w': out += std::to_string(Weekday(time)); break;
    case 'F': out += FormatTime(time, "%Y-%m-%d"); break;
    case 'T': out += FormatTime(time, "%H:%M:%S"); break;
    case 'D': out += FormatTime(time, "%m/%d/%y"); break;
    case 'R': out += FormatTime(time, "%H:%M"); break;
    case 'n': out += '\n'; break;
    case 't': out += '\t'; break;
    case '%': out += '%'; break;
    default: out.append({'%', conversion}); break;
  }
}

}  // namespace

CivilTime LocalCivilTime(std::chrono::system_clock::time_point moment) {
  // std::localtime fills one buffer shared by the whole process: readers of several ports
  // ask at once.
  static std::mutex mutex;
  const std::time_t seconds = std::chrono::system_clock::to_time_t(moment);
  std::lock_guard<std::mutex> lock(mutex);
  const std::tm* local = std::localtime(&seconds);
  if (local == nullptr) return {};
  return {local->tm_year + 1900, local->tm_mon + 1, local->tm_mday, local->tm_hour, local->tm_min, local->tm_sec};
}

std::string TimeFormatError(std::string_view format) {
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    if (i + 1 == format.size()) return "the format ends in a lone %";
    const char conversion = format[++i];
    if (kKnownConversions.find(conversion) == std::string_view::npos) {
      return std::string("%") + conversion + " is not one of the time conversions (%Y %m %d %H %M %S ...)";
    }
  }
  return {};
}

std::string FormatTime(const CivilTime& time, std::string_view format) {
  std::string out;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      AppendConversion(time, format[++i], out);
    } else {
      out.push_back(format[i]);
    }
  }
  return out;
}

}  // namespace lintrel::records
