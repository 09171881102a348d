#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "capture/line_records.h"

namespace lintrel::ui {

// What `lintrel-cli --monitor`, `--preview` and the Monitor window show: plain lines of
// text, the same everywhere, for setting up a device.

// The keys a text types, readable: characters as they are, Enter, Tab, Backspace and Esc
// as <Enter>, <Tab>, <Backspace>, <Esc>, other control characters by their names (<GS>,
// <U+0085>).
std::string KeysText(std::u32string_view text);

// Bytes as text: printable ASCII as it is, quotes and backslashes and every other byte
// escaped (\r, \t, \n, \xHH), in double quotes.
std::string QuotedBytes(std::span<const uint8_t> bytes);

// "14:03:07.512": the local time of day, to the millisecond.
std::string TimeOfDayText(std::chrono::system_clock::time_point when);

// "14:03:07.512 COM1 received 3 bytes: 53 54 0D  "ST\r"".
std::string ChunkReport(int port_number, std::chrono::system_clock::time_point when,
                        std::span<const uint8_t> bytes);

// What became of a line, one text a line of output: its fields ("  field weight =
// "1.250""), then "  types: 1.250<Enter>", "  not typed: REASON" or "  not typed, not
// reported: REASON".
std::vector<std::string> OutcomeReport(const LineResult& result);

// "14:03:07.512 COM1 line: "ST\r" (ended by its end character)", then OutcomeReport().
std::vector<std::string> LineReport(int port_number, std::chrono::system_clock::time_point when,
                                    const FinishedLine& line, const LineResult& result);

}  // namespace lintrel::ui
