#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/records/gs1_identifiers.h"
#include "capture/records/time_format.h"

namespace lintrel::records {

// GS (U+001D): FNC1 as a scanner sends it, the separator after variable-length data.
inline constexpr char32_t kGroupSeparator = 0x1D;

struct Gs1Element {
  std::string ai;  // "01", "3103"
  std::u32string data;
  const Gs1Identifier* identifier = nullptr;
  // For a date AI: its date (and time), the century resolved and DD 00 made the last day.
  std::optional<CivilTime> moment;
};

struct Gs1Reading {
  std::vector<Gs1Element> elements;  // in the order of the line
  std::string error;                 // why the line is no GS1 element string; empty when it is
};

// Reads a line as a GS1 element string: an optional symbology identifier of a GS1 symbol
// (]C1, ]e0, ]e1, ]e2, ]d2, ]Q3, ]J1), an optional leading GS, then AIs with their data, GS
// after each variable-length one that is not the last. Verifies each AI's length, its
// digits, the check digits of the GS1 keys (GTIN, SSCC, GLN, ...) and its dates (a two-digit
// year is read in the century GS1 puts it in, seen from `current_year`). An AI given twice
// must have the same data both times.
Gs1Reading ReadGs1ElementString(std::u32string_view line, int current_year);

// Whether the last of `digits` is the GS1 modulo-10 check digit of the ones before it.
bool HasValidCheckDigit(std::u32string_view digits);

// The year of a two-digit YY seen from `current_year` (GS1's rule: up to 50 years ahead, else
// in the past).
int Gs1Year(int yy, int current_year);

}  // namespace lintrel::records
