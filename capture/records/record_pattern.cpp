#include "capture/records/record_pattern.h"

#include <re2/re2.h>

#include <algorithm>
#include <span>
#include <vector>

#include "common/utf8_text.h"

namespace lintrel::records {
namespace {

std::u32string CharactersOf(re2::StringPiece utf8) {
  return DecodeUtf8(std::span(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size()));
}

}  // namespace

bool IsBuiltInFieldName(std::string_view name) { return name == "line" || name == "port" || name == "time"; }

RecordPattern::RecordPattern(std::unique_ptr<re2::RE2> compiled) : compiled_(std::move(compiled)) {
  // RE2 lists the named groups by name; fields come in the pattern's order.
  for (const auto& [name, index] : compiled_->NamedCapturingGroups()) named_groups_.emplace_back(index, name);
  std::sort(named_groups_.begin(), named_groups_.end());
}

RecordPattern::~RecordPattern() = default;

std::shared_ptr<const RecordPattern> RecordPattern::Compile(std::string_view pattern, std::string* error) {
  re2::RE2::Options options;
  options.set_log_errors(false);  // the reason goes to the user through *error
  auto compiled = std::make_unique<re2::RE2>(re2::StringPiece(pattern.data(), pattern.size()), options);
  if (!compiled->ok()) {
    if (error != nullptr) *error = compiled->error();
    return nullptr;
  }
  for (const auto& [name, index] : compiled->NamedCapturingGroups()) {
    if (IsBuiltInFieldName(name)) {
      if (error != nullptr) *error = "the group name \"" + name + "\" is taken by the template's {" + name + "}";
      return nullptr;
    }
  }
  return std::shared_ptr<const RecordPattern>(new RecordPattern(std::move(compiled)));
}

std::optional<RecordFields> RecordPattern::Match(std::u32string_view line) const {
  const std::string text = EncodeUtf8(line);
  const int groups = compiled_->NumberOfCapturingGroups();
  std::vector<re2::StringPiece> found(static_cast<std::size_t>(groups) + 1);
  if (!compiled_->Match(text, 0, text.size(), re2::RE2::UNANCHORED, found.data(), groups + 1)) return std::nullopt;
  RecordFields fields;
  for (const auto& [index, name] : named_groups_) {
    const re2::StringPiece& piece = found[static_cast<std::size_t>(index)];
    if (piece.data() != nullptr) fields.push_back({name, CharactersOf(piece)});
  }
  return fields;
}

}  // namespace lintrel::records
