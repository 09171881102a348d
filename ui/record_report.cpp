#include "ui/record_report.h"

#include <array>
#include <cstdio>

#include "capture/records/time_format.h"
#include "common/control_characters.h"
#include "common/port_number.h"
#include "common/utf8_text.h"

namespace lintrel::ui {
namespace {

std::string KeyName(char32_t c) {
  switch (c) {
    case U'\r':
    case U'\n': return "<Enter>";
    case U'\t': return "<Tab>";
    case 0x08: return "<Backspace>";
    case 0x1B: return "<Esc>";
    case 0x7F: return "<DEL>";
    default: break;
  }
  if (c < 0x20) {
    // Built piece by piece: "<" + a temporary draws a false -Wrestrict from MinGW's GCC.
    std::string name(1, '<');
    name.append(AsciiControlName(c));
    name.push_back('>');
    return name;
  }
  char code[16];
  std::snprintf(code, sizeof code, "<U+%04X>", static_cast<unsigned>(c));
  return code;
}

std::string Hex(std::span<const uint8_t> bytes) {
  std::string hex;
  for (const uint8_t byte : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02X", byte);
    if (!hex.empty()) hex += ' ';
    hex += pair;
  }
  return hex;
}

std::string Quoted(std::u32string_view text) {
  std::string quoted = "\"";
  for (const char32_t c : text) {
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
      quoted += KeyName(c);
    } else {
      quoted += EncodeUtf8(c);
    }
  }
  return quoted + "\"";
}

}  // namespace

std::string KeysText(std::u32string_view text) {
  std::string keys;
  for (const char32_t c : text) {
    const bool control = c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0);
    keys += control ? KeyName(c) : EncodeUtf8(c);
  }
  return keys;
}

std::string QuotedBytes(std::span<const uint8_t> bytes) {
  std::string text = "\"";
  for (const uint8_t byte : bytes) {
    switch (byte) {
      case '\r': text += "\\r"; break;
      case '\n': text += "\\n"; break;
      case '\t': text += "\\t"; break;
      case '"': text += "\\\""; break;
      case '\\': text += "\\\\"; break;
      default:
        if (byte >= 0x20 && byte < 0x7F) {
          text.push_back(static_cast<char>(byte));
        } else {
          char code[8];
          std::snprintf(code, sizeof code, "\\x%02X", byte);
          text += code;
        }
    }
  }
  return text + "\"";
}

std::string TimeOfDayText(std::chrono::system_clock::time_point when) {
  const records::CivilTime local = records::LocalCivilTime(when);
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.hour, local.minute, local.second,
                static_cast<int>(milliseconds));
  return text;
}

std::string ChunkReport(int port_number, std::chrono::system_clock::time_point when,
                        std::span<const uint8_t> bytes) {
  return TimeOfDayText(when) + " " + PortName(port_number) + " received " + std::to_string(bytes.size()) +
         (bytes.size() == 1 ? " byte: " : " bytes: ") + Hex(bytes) + "  " + QuotedBytes(bytes);
}

std::vector<std::string> OutcomeReport(const LineResult& result) {
  std::vector<std::string> report;
  for (const records::RecordField& field : result.outcome.fields) {
    report.push_back("  field " + field.name + " = " + Quoted(field.value));
  }
  switch (result.outcome.verdict) {
    case records::RecordVerdict::kType:
      report.push_back(result.outcome.text.empty() ? "  types nothing" : "  types: " + KeysText(result.outcome.text));
      break;
    case records::RecordVerdict::kNotTyped:
      report.push_back("  not typed: " + result.outcome.reason);
      break;
    case records::RecordVerdict::kDropped:
      report.push_back("  not typed, not reported: " + result.outcome.reason);
      break;
  }
  return report;
}

std::vector<std::string> LineReport(int port_number, std::chrono::system_clock::time_point when,
                                    const FinishedLine& line, const LineResult& result) {
  std::vector<std::string> report = {TimeOfDayText(when) + " " + PortName(port_number) +
                                     " line: " + QuotedBytes(line.text) +
                                     (line.ended_by_end_character ? " (ended by its end character)"
                                                                  : " (cut: the line was full)")};
  for (std::string& text : OutcomeReport(result)) report.push_back(std::move(text));
  return report;
}

}  // namespace lintrel::ui
