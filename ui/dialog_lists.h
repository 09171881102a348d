#pragma once

#include <array>
#include <string_view>

#include "common/trim.h"

namespace lintrel::ui {

// The fixed lists of the main window's line-setting combo boxes. A line setting is stored
// as the position of its entry, so the order of each list is part of the stored settings.
inline constexpr std::array<std::string_view, 11> kBaudRateTexts = {
    "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000", "57600", "115200"};
inline constexpr std::array<std::string_view, 5> kParityTexts = {"None", "Odd", "Even", "Mark", "Space"};
inline constexpr std::array<std::string_view, 2> kDataBitTexts = {"7", "8"};
inline constexpr std::array<std::string_view, 2> kStopBitTexts = {"1", "2"};

// The end characters the Options dialog offers: entry i stands for character code i + 1.
// The blanks are part of each text (they line the codes up in the dialog's font).
inline constexpr std::array<std::string_view, 31> kEndCharacterTexts = {
    "SOH [01]",   "STX  [02] ", "ETX  [03]",   "EOT  [04]",  "ENQ [05]",   "ACK  [06]",  "BEL  [07]",
    "BS    [08]", "HT    [09]", "LF     [0A]", "VT     [0B]", "FF     [0C]", "CR    [0D]", "SO    [0E]",
    "SI     [0F]", "DLE  [10]", "DC1  [11]",   "DC2  [12]",  "DC3  [13]",  "DC4  [14]",  "NAK  [15]",
    "SYN  [16]",  "ETB  [17]",  "CAN  [18]",   "EM    [19]", "SUB  [1A]",  "ESC  [1B]",  "FS     [1C]",
    "GS    [1D]", "RS    [1E]", "US    [1F]"};

// An end-character entry as two columns, the name ("CR") and the code ("[0D]"). The blanks
// between them line the codes up in one font only, so the dialog draws the columns itself.
struct EndCharacterColumns {
  std::string_view name;
  std::string_view code;
};

constexpr EndCharacterColumns SplitEndCharacterText(std::string_view text) {
  const std::size_t open = text.find('[');
  if (open == std::string_view::npos) return {Trim(text), {}};
  return {Trim(text.substr(0, open)), Trim(text.substr(open))};
}

// Between the list position in the Options dialog and the character code.
constexpr int EndCharacterIndex(int character_code) { return character_code - 1; }
constexpr int EndCharacterCode(int index) { return index + 1; }

}  // namespace lintrel::ui
