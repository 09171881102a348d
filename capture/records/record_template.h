#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/records/record_fields.h"
#include "capture/records/time_format.h"

namespace lintrel::records {

// What a template is expanded with, for one line.
struct TemplateValues {
  const RecordFields& fields;  // the pattern's groups and the GS1 AIs
  std::u32string_view line;    // {line}: the line as shaping makes it
  std::string_view port;       // {port}: "COM5"
  CivilTime arrival;           // {time:...}: the local time the line arrived
};

// What is typed for a line: text with the escapes of shaping (\t, \r, \xHH, ...) and fields
// in braces: {name} (a group of the pattern, or a GS1 AI such as {01}), {line}, {port},
// {time:FORMAT} (local time of arrival; {time} alone is %Y-%m-%d %H:%M:%S) and a GS1 date
// reformatted, {17:%Y-%m-%d}. {name?} types nothing for a field the line lacks, where
// {name} makes the line not typed. {{ and }} are the braces themselves.
class RecordTemplate {
 public:
  // Nullopt with *error naming what is wrong.
  static std::optional<RecordTemplate> Parse(std::string_view text, std::string* error);

  // The text for a line, or nullopt with *reason naming the field it lacks.
  std::optional<std::u32string> Expand(const TemplateValues& values, std::string* reason) const;

  // Whether it types the time of arrival (worked out only when it does).
  bool UsesTime() const;

 private:
  enum class PieceKind { kText, kField, kLine, kPort, kTime };
  struct Piece {
    PieceKind kind = PieceKind::kText;
    std::u32string text{};   // kText
    std::string name{};      // kField
    std::string format{};    // kField of a GS1 date, or kTime; empty: the field as it is
    bool optional = false;   // {name?}
  };

  std::vector<Piece> pieces_;
};

}  // namespace lintrel::records
