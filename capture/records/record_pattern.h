#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "capture/records/record_fields.h"

namespace re2 {
class RE2;
}

namespace lintrel::records {

// A user's pattern, compiled once: RE2's syntax, matched in time linear in the line's
// length, so that no pattern can hang the program. It is searched for anywhere in the line
// (^ and $ anchor it); its named groups (?P<name>...) are the record's fields.
//
// Thread contract: immutable once made; Match() from any number of threads at once.
class RecordPattern {
 public:
  // Null with *error (RE2's reason, or a group named like a built-in field) when the
  // pattern is wrong.
  static std::shared_ptr<const RecordPattern> Compile(std::string_view pattern, std::string* error);
  ~RecordPattern();
  RecordPattern(const RecordPattern&) = delete;
  RecordPattern& operator=(const RecordPattern&) = delete;

  // The named groups that took part in the match, in the order of the pattern; nullopt when
  // the pattern is not found in `line`.
  std::optional<RecordFields> Match(std::u32string_view line) const;

 private:
  explicit RecordPattern(std::unique_ptr<re2::RE2> compiled);

  std::unique_ptr<re2::RE2> compiled_;
  std::vector<std::pair<int, std::string>> named_groups_;  // group number and name, in order
};

// Field names a template has built in, which a pattern's group may not take.
bool IsBuiltInFieldName(std::string_view name);

}  // namespace lintrel::records
