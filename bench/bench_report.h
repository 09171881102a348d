#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lintrel::bench {

// A JSON value, enough for the results file: objects keep their keys in insertion order.
class Json {
 public:
  static Json Object() { return Json(Kind::kObject); }
  static Json Array() { return Json(Kind::kArray); }
  static Json Number(double value);
  static Json Text(const std::string& value);
  static Json Boolean(bool value);
  static Json Null() { return Json(Kind::kNull); }

  // On an object: adds (or replaces) a member and returns it.
  Json& Set(const std::string& key, Json value);
  // On an array: appends and returns the element.
  Json& Add(Json value);
  std::string Dump(int indent = 0) const;

 private:
  enum class Kind { kNull, kNumber, kText, kBoolean, kObject, kArray };
  explicit Json(Kind kind) : kind_(kind) {}

  Kind kind_;
  double number_ = 0;
  std::string text_;
  bool boolean_ = false;
  std::vector<std::pair<std::string, Json>> members_;
  std::vector<Json> elements_;
};

// One cell of a subject's column: a number, or a text such as "0 / 0 / 0" or "failed".
struct Cell {
  std::optional<double> value;
  std::string text;
};

enum class Verdict { kNone, kPass, kFail };

struct Row {
  std::string figure;
  Cell lintrel;
  Cell floor;
  Cell shell;
  bool with_ratios = true;
  std::string target;
  Verdict verdict = Verdict::kNone;
};

// The table printed on standard output (Markdown, ready to paste into a README).
std::string FormatTable(const std::vector<Row>& rows);
std::string FormatNumber(double value);
Json RowsToJson(const std::vector<Row>& rows);

}  // namespace lintrel::bench
