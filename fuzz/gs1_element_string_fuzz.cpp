// The GS1 element-string reader on arbitrary lines, and the write -> read round trip.
//
// The input is the line, one character a byte (0xFF stands for GS, so that separators come
// often). Traps when a line read as valid breaks the AI table's rules (an AI of the table,
// data of its length, its digits and check digit, a date where it has one), or when the
// elements, written back as an element string with GS after each variable-length one, do
// not read back the same.

#include <cstddef>
#include <cstdint>
#include <string>

#include "capture/records/gs1_element_string.h"
#include "fuzz/fuzz_input.h"

namespace {

using lintrel::fuzz::Require;
using namespace lintrel::records;

void CheckElement(const Gs1Element& element) {
  const Gs1Identifier* id = element.identifier;
  Require(id != nullptr && id == Gs1IdentifierNamed(element.ai));
  Require(element.data.size() >= id->min_length && element.data.size() <= id->max_length);
  for (std::size_t i = 0; i < element.data.size(); ++i) {
    const char32_t c = element.data[i];
    Require(c > 0x20 && c < 0x7F);
    if (i < id->digits) Require(c >= U'0' && c <= U'9');
  }
  if (id->check_length > 0) {
    Require(HasValidCheckDigit(std::u32string_view(element.data).substr(id->check_offset, id->check_length)));
  }
  Require(element.moment.has_value() == (id->date != Gs1Date::kNone));
  if (element.moment) Require(element.moment->month >= 1 && element.moment->month <= 12 && element.moment->day >= 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::u32string line;
  for (std::size_t i = 0; i < size; ++i) line.push_back(data[i] == 0xFF ? kGroupSeparator : data[i]);
  const Gs1Reading reading = ReadGs1ElementString(line, 2026);
  Require(reading.error.empty() != reading.elements.empty());
  if (!reading.error.empty()) return 0;
  std::u32string written;
  for (const Gs1Element& element : reading.elements) {
    CheckElement(element);
    written += std::u32string(element.ai.begin(), element.ai.end()) + element.data;
    if (!element.identifier->predefined_length) written.push_back(kGroupSeparator);
  }
  const Gs1Reading again = ReadGs1ElementString(written, 2026);
  Require(again.error.empty() && again.elements.size() == reading.elements.size());
  for (std::size_t i = 0; i < again.elements.size(); ++i) {
    Require(again.elements[i].ai == reading.elements[i].ai && again.elements[i].data == reading.elements[i].data);
  }
  return 0;
}
