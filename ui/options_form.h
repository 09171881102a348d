#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "settings/capture_options.h"

namespace lintrel::ui {

inline constexpr std::string_view kNotAnIntegerMessage = "Please enter an integer.";
inline constexpr std::string_view kIntegerRangeMessage = "Please enter an integer between %1 and %2.";

// The Options dialog's controls, as text and positions rather than as the values they
// stand for.
struct OptionsForm {
  bool prefix = false;             // "ComInfo display"
  std::string delay_text;          // "Reconnection Delay(ms):"
  int end_character_index = -1;    // selected entry of "End Char:", -1 when none
  bool truncate = false;           // "Truncate End Char."
};

// Which control a rejected form is about.
enum class OptionsField { kDelay };

struct OptionsFormError {
  OptionsField field;
  std::string message;
};

// The form as the dialog opens it. An end character outside the list selects no entry.
OptionsForm FormFromOptions(const CaptureOptions& options);

// Checks the form and, only when every value is acceptable, stores all four in `options`;
// published whole, readers never see a half-applied dialog. With no end-character entry
// selected (text typed into the combo's edit field) the end character stays as it was.
std::optional<OptionsFormError> ApplyOptionsForm(const OptionsForm& form, CaptureOptions& options);

// A whole decimal integer with an optional sign, blanks allowed around it; nullopt for
// anything else, including values that do not fit 32 bits.
std::optional<int> ParseDialogInteger(std::string_view text);

// The range message with %1 and %2 filled in.
std::string IntegerRangeMessage(int low, int high);

}  // namespace lintrel::ui
