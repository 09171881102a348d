#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace lintrel::records {

// How the data of a GS1 Application Identifier begins with a date.
enum class Gs1Date : uint8_t {
  kNone,
  kYymmdd,       // YYMMDD, a real day
  kYymmd0,       // YYMMDD where DD 00 stands for the last day of the month
  kYymmddRange,  // YYMMDD, optionally followed by a second YYMMDD that ends a range
  kYyyymmdd,     // YYYYMMDD
};

// What may follow a date in the data: nothing, or a time of day (HH, then MM, then SS, as far
// as the data's length goes).
enum class Gs1Time : uint8_t { kNone, kFollows };

// One Application Identifier, or a range of AIs of the same length that share their format
// (3100..3105, the net weight in kilograms with 0 to 5 decimals).
struct Gs1Identifier {
  static constexpr uint8_t kAllDigits = 0xFF;

  std::string_view first;  // the AI, or the first of the range
  std::string_view last;   // the same, or the last of the range
  uint8_t min_length;      // of the data, without the AI
  uint8_t max_length;
  uint8_t digits;          // how many characters from the start must be digits; kAllDigits
  uint8_t check_offset;    // where a GS1 modulo-10 check digit's number starts in the data
  uint8_t check_length;    // its length, check digit included; 0: no check digit
  Gs1Date date;
  Gs1Time time;
  // Its length is predefined by its first two digits (GS1's table of predefined lengths), so
  // no separator needs to follow it even where its data is not the last.
  bool predefined_length;
  std::string_view title;  // GS1's data title ("GTIN", "BATCH/LOT")
};

// Every Application Identifier of the GS1 General Specifications (see the .cpp for the
// edition), in the order of their AIs.
std::span<const Gs1Identifier> Gs1Identifiers();

// The identifier that `digits` begins with: AIs are prefix-free, so at most one of the first
// two, three or four characters is an AI. Null when none is.
const Gs1Identifier* FindGs1Identifier(std::string_view digits);

// Whether `ai` names an Application Identifier exactly (not merely begins with one).
const Gs1Identifier* Gs1IdentifierNamed(std::string_view ai);

}  // namespace lintrel::records
