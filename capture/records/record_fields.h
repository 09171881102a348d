#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/records/time_format.h"

namespace lintrel::records {

// One field of a record: a named group of the pattern, or a GS1 AI with its data.
struct RecordField {
  std::string name;
  std::u32string value;
  // For a GS1 date AI: the date it holds, for a template's {17:%Y-%m-%d}.
  std::optional<CivilTime> moment{};

  bool operator==(const RecordField&) const = default;
};

using RecordFields = std::vector<RecordField>;

// The field of that name; of two with the same name, the later one. Null when there is none.
inline const RecordField* FindField(const RecordFields& fields, std::string_view name) {
  const auto found = std::find_if(fields.rbegin(), fields.rend(), [name](const RecordField& f) { return f.name == name; });
  return found == fields.rend() ? nullptr : &*found;
}

}  // namespace lintrel::records
