// The template parser and expander on arbitrary templates and fields.
//
// The input: a field of template text, then fields taken in pairs as (name, value) for the
// record. Traps when a template that parsed cannot be expanded for a reason other than a
// field the record lacks, when every {name} with a value does not come out, or when a
// template without braces or backslashes does not type itself.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "capture/records/record_template.h"
#include "common/utf8_text.h"
#include "fuzz/fuzz_input.h"

namespace {

using lintrel::fuzz::InputReader;
using lintrel::fuzz::Require;
using namespace lintrel::records;

std::u32string Latin1(const std::string& bytes) {
  std::u32string text;
  for (const char c : bytes) text.push_back(static_cast<unsigned char>(c));
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  InputReader input({data, size});
  const std::string text = input.Field();
  RecordFields fields;
  while (!input.done()) {
    std::string name = input.Field();
    std::u32string value = Latin1(input.Field());
    fields.push_back({std::move(name), std::move(value), CivilTime{2000 + input.Byte(), 1 + input.Byte() % 12, 1}});
  }
  std::string error;
  const std::optional<RecordTemplate> parsed = RecordTemplate::Parse(text, &error);
  if (!parsed) {
    Require(!error.empty());
    return 0;
  }
  const TemplateValues values{fields, U"LINE", "COM1", CivilTime{2026, 12, 31, 23, 59, 59}};
  std::string reason;
  const std::optional<std::u32string> typed = parsed->Expand(values, &reason);
  if (!typed) {
    Require(reason.rfind("the line has no field {", 0) == 0);
    return 0;
  }
  if (text.find_first_of("{}\\") == std::string::npos) {
    Require(*typed == lintrel::DecodeUtf8({reinterpret_cast<const uint8_t*>(text.data()), text.size()}));
  }
  // A field alone types its value: of two with one name, the later. (A name with other
  // characters than a field name's, such as "a?", says something else in braces.)
  for (const RecordField& field : fields) {
    const bool plain_name = !field.name.empty() && std::all_of(field.name.begin(), field.name.end(), [](char c) {
      return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    });
    const bool built_in = field.name == "line" || field.name == "port" || field.name == "time";
    if (!plain_name || built_in) continue;
    const std::optional<RecordTemplate> alone = RecordTemplate::Parse("{" + field.name + "}", &error);
    Require(alone.has_value());
    const std::optional<std::u32string> value = alone->Expand(values, &reason);
    Require(value && *value == FindField(fields, field.name)->value);
  }
  return 0;
}
