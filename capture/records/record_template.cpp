#include "capture/records/record_template.h"

#include <algorithm>
#include <span>

#include "capture/records/gs1_identifiers.h"
#include "common/text_escapes.h"
#include "common/utf8_text.h"

namespace lintrel::records {
namespace {

constexpr std::string_view kDefaultTimeFormat = "%Y-%m-%d %H:%M:%S";

std::u32string Characters(std::string_view utf8) {
  return DecodeUtf8(std::span(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size()));
}

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// "{field}" and what is wrong with it, built piece by piece: a chain of + here draws a false
// -Wrestrict from MinGW's GCC.
std::string FieldProblem(std::string_view field, std::string_view problem) {
  std::string text;
  text.reserve(field.size() + problem.size() + 2);
  text.push_back('{');
  text.append(field);
  text.push_back('}');
  text.append(problem);
  return text;
}

bool IsGs1DateName(std::string_view name) {
  const Gs1Identifier* id = Gs1IdentifierNamed(name);
  return id != nullptr && id->date != Gs1Date::kNone;
}

}  // namespace

std::optional<RecordTemplate> RecordTemplate::Parse(std::string_view text, std::string* error) {
  const auto fail = [error](std::string reason) {
    if (error != nullptr) *error = std::move(reason);
    return std::nullopt;
  };
  RecordTemplate parsed;
  std::string literal;  // written text since the last field, escapes not yet read
  const auto end_literal = [&]() -> bool {
    if (literal.empty()) return true;
    std::string problem;
    const std::optional<std::string> bytes = ParseEscapes(literal, &problem);
    if (!bytes) {
      if (error != nullptr) *error = problem;
      return false;
    }
    parsed.pieces_.push_back({PieceKind::kText, Characters(*bytes)});
    literal.clear();
    return true;
  };

  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '\\' && at + 1 < text.size()) {
      // An escape goes to ParseEscapes whole: the braces of \u{20AC} are no field, and the
      // brace after \\ is.
      const std::size_t end = text.compare(at + 1, 2, "u{") == 0 ? text.find('}', at) : at + 1;
      const std::size_t last = end == std::string_view::npos ? text.size() - 1 : end;
      literal.append(text.substr(at, last - at + 1));
      at = last;
      continue;
    }
    if ((c == '{' || c == '}') && at + 1 < text.size() && text[at + 1] == c) {
      literal.append(c == '{' ? "\\x7B" : "\\x7D");  // a brace that stays a brace
      ++at;
      continue;
    }
    if (c == '}') return fail("a } without its { (write }} for the brace itself)");
    if (c != '{') {
      literal.push_back(c);
      continue;
    }
    const std::size_t close = text.find('}', at);
    if (close == std::string_view::npos) return fail("a { without its } (write {{ for the brace itself)");
    if (!end_literal()) return std::nullopt;
    const std::string_view field = text.substr(at + 1, close - at - 1);
    const std::size_t colon = field.find(':');
    std::string_view name = field.substr(0, colon);
    Piece piece;
    if (!name.empty() && name.back() == '?') {
      piece.optional = true;
      name.remove_suffix(1);
    }
    if (name.empty() || !std::all_of(name.begin(), name.end(), IsNameCharacter)) {
      return fail(FieldProblem(field, " is no field: a name of letters, digits and _ goes in braces"));
    }
    piece.name = std::string(name);
    piece.kind = name == "line" ? PieceKind::kLine : name == "port" ? PieceKind::kPort
               : name == "time" ? PieceKind::kTime : PieceKind::kField;
    if (colon != std::string_view::npos) {
      piece.format = std::string(field.substr(colon + 1));
      if (piece.kind != PieceKind::kTime && !(piece.kind == PieceKind::kField && IsGs1DateName(name))) {
        return fail(FieldProblem(field, ": only {time} and the GS1 date AIs (11, 17, ...) take a format"));
      }
      if (const std::string problem = TimeFormatError(piece.format); !problem.empty()) {
        return fail(FieldProblem(field, ": " + problem));
      }
    } else if (piece.kind == PieceKind::kTime) {
      piece.format = std::string(kDefaultTimeFormat);
    }
    parsed.pieces_.push_back(std::move(piece));
    at = close;
  }
  if (!end_literal()) return std::nullopt;
  return parsed;
}

std::optional<std::u32string> RecordTemplate::Expand(const TemplateValues& values, std::string* reason) const {
  std::u32string text;
  for (const Piece& piece : pieces_) {
    switch (piece.kind) {
      case PieceKind::kText: text += piece.text; break;
      case PieceKind::kLine: text += values.line; break;
      case PieceKind::kPort: text += Characters(values.port); break;
      case PieceKind::kTime: text += Characters(FormatTime(values.arrival, piece.format)); break;
      case PieceKind::kField: {
        const RecordField* field = FindField(values.fields, piece.name);
        if (field == nullptr) {
          if (piece.optional) break;
          if (reason != nullptr) *reason = "the line has no field " + FieldProblem(piece.name, "");
          return std::nullopt;
        }
        if (piece.format.empty() || !field->moment) {
          text += field->value;
        } else {
          text += Characters(FormatTime(*field->moment, piece.format));
        }
        break;
      }
    }
  }
  return text;
}

bool RecordTemplate::UsesTime() const {
  return std::any_of(pieces_.begin(), pieces_.end(), [](const Piece& p) { return p.kind == PieceKind::kTime; });
}

}  // namespace lintrel::records
