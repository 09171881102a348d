#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "capture/delivery.h"
#include "settings/capture_options.h"
#include "settings/delivery_rules.h"
#include "settings/pacing.h"
#include "settings/shaping_rules.h"
#include "ui/messages.h"

namespace lintrel::ui {

inline constexpr std::string_view kNotAnIntegerMessage = "Please enter an integer.";
inline constexpr std::string_view kIntegerRangeMessage = "Please enter an integer between %1 and %2.";

// The Options dialog's controls, as text and positions rather than as the values they
// stand for.
struct OptionsForm {
  bool prefix = false;             // "ComInfo display"
  std::string delay_text{};        // "Reconnection Delay(ms):"
  int end_character_index = -1;    // selected entry of "End Char:", -1 when none
  bool truncate = false;           // "Truncate End Char."
  // The shaping of the port, texts with escapes (see common/text_escapes.h).
  std::string prefix_text{};       // "Prefix text:"
  std::string suffix{};            // "Suffix:"
  std::string replacements{};      // "Replace:", one FROM=TO a line
  int control_index = 0;           // "Control characters:", an entry of kControlMapTexts
  int encoding_index = 0;          // "Encoding:", in the order of kEncodingTexts
  std::string key_delay_text{};    // "Key delay (ms):"
  std::string line_delay_text{};   // "Line delay (ms):"
  // Where and how the port's lines are typed (see DeliveryRules).
  std::string target_program{};    // "Target application:", empty for the window in front
  std::string target_title{};      // "Title part:"
  int elsewhere_index = 0;         // "When another window is in front:", in the order of Elsewhere
  int delivery_index = 0;          // "Typed as:", in the order of DeliveryMethod
  bool sound_not_typed = false;    // "Sound if not typed"
};

// The entries of the control-character list, in the order of ControlMap.
inline constexpr std::array<std::string_view, 3> kControlMapTexts = {"Keep", "Drop", "Name (<GS>)"};
// The entries of "Encoding:", in the order of TextEncoding.
inline constexpr std::array<std::string_view, 3> kEncodingTexts = {"ANSI (system code page)", "UTF-8", "Latin-1"};

// The entries of "When another window is in front:", in the order of Elsewhere.
inline constexpr std::array<std::string_view, 3> kElsewhereTexts = {"Hold the lines until it is in front",
                                                                     "Bring it to the front", "Report as not typed"};
// The entries of "Typed as:", in the order of DeliveryMethod.
inline constexpr std::array<std::string_view, 3> kDeliveryMethodTexts = {"Keys", "Unicode characters", "Paste"};

// Which control a rejected form is about.
enum class OptionsField {
  kDelay,
  kPrefixText,
  kSuffix,
  kReplacements,
  kKeyDelay,
  kLineDelay,
  kTargetProgram,
  kTargetTitle,
  kDeliveryMethod
};

// The message begins with the field's label ("Key delay (ms): Please enter an integer.").
struct OptionsFormError {
  OptionsField field;
  std::string message;
};

// The form as the dialog opens it. An end character outside the list selects no entry.
OptionsForm FormFromOptions(const CaptureOptions& options, const Pacing& pacing = {});

// The shaping fields of the form for `rules`.
void ShapingToForm(const ShapingRules& rules, OptionsForm& form);

// Reads the shaping fields into `rules` only when every one is acceptable; a wrong escape or
// replacement is an error naming its field and what is wrong, never text typed as it stands.
std::optional<OptionsFormError> ApplyShapingForm(const OptionsForm& form, ShapingRules& rules);

// Checks the form and, only when every value is acceptable, stores all four in `options`;
// published whole, readers never see a half-applied dialog. With no end-character entry
// selected (text typed into the combo's edit field) the end character stays as it was.
std::optional<OptionsFormError> ApplyOptionsForm(const OptionsForm& form, CaptureOptions& options);
// The same, with the typing delays: nothing is stored unless every value is acceptable.
std::optional<OptionsFormError> ApplyOptionsForm(const OptionsForm& form, CaptureOptions& options, Pacing& pacing);

// The delivery fields of the form for `rules`.
void DeliveryToForm(const DeliveryRules& rules, OptionsForm& form);
// Reads the delivery fields into `rules` only when every one is acceptable: a program name
// alone (no folder, no colon: the title part has a field of its own), a title part only with
// a program. An empty program is no target.
std::optional<OptionsFormError> ApplyDeliveryForm(const OptionsForm& form, DeliveryRules& rules);

// A whole decimal integer with an optional sign, blanks allowed around it; nullopt for
// anything else, including values that do not fit 32 bits.
std::optional<int> ParseDialogInteger(std::string_view text);

// The range message with %1 and %2 filled in.
std::string IntegerRangeMessage(int low, int high);

}  // namespace lintrel::ui
