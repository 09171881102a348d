#include "capture/records/gs1_element_string.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace lintrel::records {
namespace {

// The symbology identifiers of the symbols that carry GS1 element strings.
constexpr std::array<std::u32string_view, 7> kGs1Symbologies = {U"]C1", U"]e0", U"]e1", U"]e2",
                                                                  U"]d2", U"]Q3", U"]J1"};

bool IsDigit(char32_t c) { return c >= U'0' && c <= U'9'; }
int DigitValue(char32_t c) { return static_cast<int>(c - U'0'); }

// ASCII text of a piece of the line for a message, every other character as U+XXXX.
std::string Shown(std::u32string_view text) {
  std::string shown;
  for (const char32_t c : text) {
    if (c > 0x20 && c < 0x7F) {
      shown.push_back(static_cast<char>(c));
    } else {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
      shown += code;
    }
  }
  return shown;
}

int TwoDigits(std::u32string_view data, std::size_t at) { return DigitValue(data[at]) * 10 + DigitValue(data[at + 1]); }

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

// The date at `at` in `data` (YYMMDD, or YYYYMMDD), or nullopt when it is none.
std::optional<CivilTime> DateAt(std::u32string_view data, std::size_t at, Gs1Date kind, int current_year) {
  CivilTime moment;
  std::size_t next = at;
  if (kind == Gs1Date::kYyyymmdd) {
    moment.year = TwoDigits(data, at) * 100 + TwoDigits(data, at + 2);
    next += 4;
  } else {
    moment.year = Gs1Year(TwoDigits(data, at), current_year);
    next += 2;
  }
  moment.month = TwoDigits(data, next);
  moment.day = TwoDigits(data, next + 2);
  if (moment.month < 1 || moment.month > 12) return std::nullopt;
  const int last_day = DaysInMonth(moment.year, moment.month);
  if (moment.day == 0 && kind == Gs1Date::kYymmd0) moment.day = last_day;
  if (moment.day < 1 || moment.day > last_day) return std::nullopt;
  return moment;
}

// HH, then MM, then SS, as far as `data` goes from `at`; false when one is out of range.
bool ReadTime(std::u32string_view data, std::size_t at, CivilTime& moment) {
  int* const parts[] = {&moment.hour, &moment.minute, &moment.second};
  constexpr int kLimits[] = {23, 59, 59};
  for (std::size_t i = 0; i < 3 && at + 2 <= data.size(); ++i, at += 2) {
    *parts[i] = TwoDigits(data, at);
    if (*parts[i] > kLimits[i]) return false;
  }
  return true;
}

// "YYMMDD", "YYMMDDHHMM", "YYMMDDHH[MM[SS]]": how the data of a date AI is laid out.
std::string DateLayout(const Gs1Identifier& id) {
  if (id.date == Gs1Date::kYymmddRange) return "YYMMDD[YYMMDD]";
  const std::size_t date_length = id.date == Gs1Date::kYyyymmdd ? 8 : 6;
  std::string layout = date_length == 8 ? "YYYYMMDD" : "YYMMDD";
  if (id.time == Gs1Time::kNone) return layout;
  constexpr std::array<const char*, 3> kParts = {"HH", "MM", "SS"};
  const std::size_t needed = (id.min_length - date_length) / 2;
  const std::size_t parts = std::min<std::size_t>((id.max_length - date_length) / 2, kParts.size());
  for (std::size_t i = 0; i < parts; ++i) layout += std::string(i >= needed ? "[" : "") + kParts[i];
  return layout + std::string(parts - std::min(needed, parts), ']');
}

// Reads the element strings of a line, one after another.
class ElementReader {
 public:
  ElementReader(std::u32string_view line, int current_year) : line_(line), current_year_(current_year) {}

  Gs1Reading Read() {
    SkipSymbologyIdentifier();
    if (failed()) return {{}, error_};
    if (at_ < line_.size() && line_[at_] == kGroupSeparator) ++at_;  // FNC1 in first position
    if (at_ == line_.size()) return {{}, "GS1: no element string"};
    while (at_ < line_.size() && !failed()) ReadElement();
    if (failed()) return {{}, error_};
    return {std::move(elements_), {}};
  }

 private:
  bool failed() const { return !error_.empty(); }
  void Fail(const std::string& reason) { error_ = "GS1: " + reason; }
  void FailAi(const Gs1Element& element, const std::string& reason) { Fail("AI " + element.ai + ": " + reason); }

  void SkipSymbologyIdentifier() {
    if (line_.empty() || line_[0] != U']') return;
    const std::u32string_view identifier = line_.substr(0, 3);
    if (std::find(kGs1Symbologies.begin(), kGs1Symbologies.end(), identifier) == kGs1Symbologies.end()) {
      Fail(Shown(identifier) + " is not the identifier of a GS1 symbol");
      return;
    }
    at_ = 3;
  }

  void ReadElement() {
    std::string digits;
    for (std::size_t i = at_; i < line_.size() && i < at_ + 4 && IsDigit(line_[i]); ++i) {
      digits.push_back(static_cast<char>(line_[i]));
    }
    const Gs1Identifier* id = FindGs1Identifier(digits);
    if (id == nullptr) {
      Fail("no Application Identifier at \"" + Shown(line_.substr(at_, 8)) + "\"");
      return;
    }
    Gs1Element element{digits.substr(0, id->first.size()), {}, id, std::nullopt};
    at_ += element.ai.size();
    const std::size_t end = std::min(line_.find(kGroupSeparator, at_), line_.size());
    const bool fixed = id->min_length == id->max_length;
    const std::size_t length = fixed ? std::min<std::size_t>(id->max_length, end - at_) : end - at_;
    element.data = std::u32string(line_.substr(at_, length));
    at_ += length;
    if (!CheckLength(element) || !CheckSeparator(element) || !CheckContent(element)) return;
    Add(std::move(element));
  }

  bool CheckLength(const Gs1Element& element) {
    const Gs1Identifier& id = *element.identifier;
    const std::size_t length = element.data.size();
    if (length == 0) {
      FailAi(element, "no data");
    } else if (length < id.min_length) {
      FailAi(element, std::to_string(length) + " characters of data, " +
                          (id.min_length == id.max_length ? "" : "at least ") + std::to_string(id.min_length) +
                          " needed");
    } else if (length > id.max_length) {
      FailAi(element, "data longer than " + std::to_string(id.max_length) + " characters (a GS separator missing?)");
    }
    return !failed();
  }

  // After data of a length that is not predefined, the line ends or a GS follows.
  bool CheckSeparator(const Gs1Element& element) {
    if (at_ == line_.size()) return true;
    if (line_[at_] == kGroupSeparator) {
      ++at_;
      if (at_ == line_.size() || line_[at_] != kGroupSeparator) return true;
      Fail("two GS separators in a row after AI " + element.ai);
      return false;
    }
    if (element.identifier->predefined_length) return true;
    FailAi(element, "no GS separator after its " + std::to_string(element.data.size()) + " characters");
    return false;
  }

  bool CheckContent(Gs1Element& element) {
    const Gs1Identifier& id = *element.identifier;
    const std::u32string_view data = element.data;
    const std::size_t digits = std::min<std::size_t>(id.digits, data.size());
    for (std::size_t i = 0; i < data.size(); ++i) {
      if (i < digits && !IsDigit(data[i])) {
        FailAi(element, id.digits == Gs1Identifier::kAllDigits ? "data must be digits"
                                                               : "the first " + std::to_string(id.digits) +
                                                                     " characters must be digits");
        return false;
      }
      if (data[i] <= 0x20 || data[i] >= 0x7F) {
        FailAi(element, Shown(data.substr(i, 1)) + " is not allowed in GS1 data");
        return false;
      }
    }
    if (id.check_length > 0 && !HasValidCheckDigit(data.substr(id.check_offset, id.check_length))) {
      FailAi(element, "wrong check digit in " + Shown(data.substr(id.check_offset, id.check_length)));
      return false;
    }
    return CheckDate(element);
  }

  bool CheckDate(Gs1Element& element) {
    const Gs1Identifier& id = *element.identifier;
    if (id.date == Gs1Date::kNone) return true;
    element.moment = DateAt(element.data, 0, id.date, current_year_);
    const std::size_t date_length = id.date == Gs1Date::kYyyymmdd ? 8 : 6;
    bool valid = element.moment.has_value();
    if (valid && id.date == Gs1Date::kYymmddRange && element.data.size() > date_length) {
      valid = element.data.size() == 2 * date_length && DateAt(element.data, date_length, id.date, current_year_);
    }
    if (valid && id.time == Gs1Time::kFollows) valid = ReadTime(element.data, date_length, *element.moment);
    if (!valid) FailAi(element, Shown(element.data) + " is no date (" + DateLayout(id) + ")");
    return valid;
  }

  void Add(Gs1Element element) {
    const auto same = std::find_if(elements_.begin(), elements_.end(),
                                   [&](const Gs1Element& earlier) { return earlier.ai == element.ai; });
    if (same == elements_.end()) {
      elements_.push_back(std::move(element));
    } else if (same->data != element.data) {
      Fail("AI " + element.ai + " twice, with different data");
    }
  }

  std::u32string_view line_;
  int current_year_;
  std::size_t at_ = 0;
  std::vector<Gs1Element> elements_;
  std::string error_;
};

}  // namespace

bool HasValidCheckDigit(std::u32string_view digits) {
  if (digits.size() < 2) return false;
  int sum = 0;
  // From the right, the digits before the check digit weigh 3, 1, 3, 1, ...
  for (std::size_t i = 1; i < digits.size(); ++i) {
    const char32_t digit = digits[digits.size() - 1 - i];
    if (!IsDigit(digit)) return false;
    sum += DigitValue(digit) * (i % 2 == 1 ? 3 : 1);
  }
  return IsDigit(digits.back()) && DigitValue(digits.back()) == (10 - sum % 10) % 10;
}

int Gs1Year(int yy, int current_year) {
  const int century = current_year - current_year % 100;
  const int difference = yy - current_year % 100;
  if (difference >= 51) return century - 100 + yy;
  if (difference <= -50) return century + 100 + yy;
  return century + yy;
}

Gs1Reading ReadGs1ElementString(std::u32string_view line, int current_year) {
  return ElementReader(line, current_year).Read();
}

}  // namespace lintrel::records
