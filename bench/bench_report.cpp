#include "bench/bench_report.h"

#include <cmath>
#include <cstdio>

namespace lintrel::bench {

namespace {

std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string CellText(const Cell& cell) {
  if (!cell.text.empty()) return cell.text;
  return cell.value ? FormatNumber(*cell.value) : "-";
}

std::string Ratio(const Cell& numerator, const Cell& denominator) {
  // A zero is below the resolution of what was measured: no ratio.
  if (!numerator.value || !denominator.value || *numerator.value == 0 || *denominator.value == 0)
    return "-";
  return FormatNumber(*numerator.value / *denominator.value) + "x";
}

const char* VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::kPass:
      return "PASS";
    case Verdict::kFail:
      return "FAIL";
    case Verdict::kNone:
      return "";
  }
  return "";
}

Json CellToJson(const Cell& cell) {
  if (cell.value) return Json::Number(*cell.value);
  if (!cell.text.empty()) return Json::Text(cell.text);
  return Json::Null();
}

}  // namespace

Json Json::Number(double value) {
  Json json(Kind::kNumber);
  json.number_ = value;
  return json;
}

Json Json::Text(const std::string& value) {
  Json json(Kind::kText);
  json.text_ = value;
  return json;
}

Json Json::Boolean(bool value) {
  Json json(Kind::kBoolean);
  json.boolean_ = value;
  return json;
}

Json& Json::Set(const std::string& key, Json value) {
  for (auto& [name, member] : members_) {
    if (name == key) return member = std::move(value);
  }
  members_.emplace_back(key, std::move(value));
  return members_.back().second;
}

Json& Json::Add(Json value) {
  elements_.push_back(std::move(value));
  return elements_.back();
}

std::string Json::Dump(int indent) const {
  const std::string inner(static_cast<std::size_t>(indent + 2), ' ');
  const std::string outer(static_cast<std::size_t>(indent), ' ');
  switch (kind_) {
    case Kind::kNull:
      return "null";
    case Kind::kBoolean:
      return boolean_ ? "true" : "false";
    case Kind::kText:
      return Quoted(text_);
    case Kind::kNumber: {
      if (!std::isfinite(number_)) return "null";
      char text[32];
      std::snprintf(text, sizeof text, "%.6g", number_);
      return text;
    }
    case Kind::kObject: {
      if (members_.empty()) return "{}";
      std::string out = "{\n";
      for (std::size_t i = 0; i < members_.size(); ++i) {
        out += inner + Quoted(members_[i].first) + ": " + members_[i].second.Dump(indent + 2);
        out += i + 1 < members_.size() ? ",\n" : "\n";
      }
      return out + outer + "}";
    }
    case Kind::kArray: {
      if (elements_.empty()) return "[]";
      std::string out = "[\n";
      for (std::size_t i = 0; i < elements_.size(); ++i) {
        out += inner + elements_[i].Dump(indent + 2);
        out += i + 1 < elements_.size() ? ",\n" : "\n";
      }
      return out + outer + "]";
    }
  }
  return "null";
}

std::string FormatNumber(double value) {
  char text[32];
  const double magnitude = std::fabs(value);
  if (magnitude >= 100 || value == std::floor(value)) {
    std::snprintf(text, sizeof text, "%.0f", value);
  } else if (magnitude >= 10) {
    std::snprintf(text, sizeof text, "%.1f", value);
  } else if (magnitude >= 0.1) {
    std::snprintf(text, sizeof text, "%.2f", value);
  } else {
    std::snprintf(text, sizeof text, "%.2g", value);
  }
  return text;
}

std::string FormatTable(const std::vector<Row>& rows) {
  std::vector<std::vector<std::string>> cells = {{"figure", "lintrel", "floor", "shell loop",
                                                  "lintrel/floor", "lintrel/shell", "target",
                                                  "result"}};
  for (const Row& row : rows) {
    cells.push_back({row.figure, CellText(row.lintrel), CellText(row.floor), CellText(row.shell),
                     row.with_ratios ? Ratio(row.lintrel, row.floor) : "-",
                     row.with_ratios ? Ratio(row.lintrel, row.shell) : "-", row.target,
                     VerdictText(row.verdict)});
  }
  std::vector<std::size_t> widths(cells.front().size(), 0);
  for (const auto& line : cells) {
    for (std::size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], line[i].size());
  }
  std::string table;
  const auto add_line = [&](const std::vector<std::string>& line) {
    table += "|";
    for (std::size_t i = 0; i < line.size(); ++i) {
      table += " " + line[i] + std::string(widths[i] - line[i].size(), ' ') + " |";
    }
    table += "\n";
  };
  add_line(cells.front());
  std::vector<std::string> rule;
  for (std::size_t width : widths) rule.push_back(std::string(width, '-'));
  add_line(rule);
  for (std::size_t i = 1; i < cells.size(); ++i) add_line(cells[i]);
  return table;
}

Json RowsToJson(const std::vector<Row>& rows) {
  Json array = Json::Array();
  for (const Row& row : rows) {
    Json& item = array.Add(Json::Object());
    item.Set("figure", Json::Text(row.figure));
    item.Set("lintrel", CellToJson(row.lintrel));
    item.Set("floor", CellToJson(row.floor));
    item.Set("shell_loop", CellToJson(row.shell));
    if (row.with_ratios && row.lintrel.value && row.floor.value && *row.lintrel.value != 0 &&
        *row.floor.value != 0) {
      item.Set("lintrel_over_floor", Json::Number(*row.lintrel.value / *row.floor.value));
    }
    if (row.with_ratios && row.lintrel.value && row.shell.value && *row.lintrel.value != 0 &&
        *row.shell.value != 0) {
      item.Set("lintrel_over_shell_loop", Json::Number(*row.lintrel.value / *row.shell.value));
    }
    if (!row.target.empty()) item.Set("target", Json::Text(row.target));
    if (row.verdict != Verdict::kNone)
      item.Set("pass", Json::Boolean(row.verdict == Verdict::kPass));
  }
  return array;
}

}  // namespace lintrel::bench
