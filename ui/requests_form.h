#pragma once

#include <map>
#include <optional>
#include <string>

#include "settings/hotkey.h"
#include "settings/port_requests.h"

namespace lintrel::ui {

// What a port sends to its device, and its hotkey, as the Requests dialog edits them.
struct PortRequestValues {
  PortRequests requests{};
  std::optional<Hotkey> hotkey{};

  bool operator==(const PortRequestValues&) const = default;
};

// The Requests dialog's fields as text. The texts take the escapes of the shaping texts
// (common/text_escapes.h); an empty number field turns its timer off.
struct RequestsForm {
  std::string send_on_connect{};     // "Send on connect:"
  std::string poll{};                // "Poll text:"
  std::string poll_every_text{};     // "Poll every (ms):"
  std::string reply_timeout_text{};  // "Reply timeout (ms):"
  std::string hotkey_text{};         // "Hotkey:", such as Ctrl+Alt+F9
};

enum class RequestsField { kSendOnConnect, kPoll, kPollEvery, kReplyTimeout, kHotkey };

// The message begins with the field's label ("Poll every (ms): Please enter ...").
struct RequestsFormError {
  RequestsField field;
  std::string message;
};

RequestsForm RequestsFormFrom(const PortRequestValues& values);

// Checks every field and, only when all are acceptable, stores them in `values`. A poll on a
// timer needs a poll text; a hotkey may not be one that another port already has
// (`other_hotkeys`: port number to hotkey), which the system would refuse.
std::optional<RequestsFormError> ApplyRequestsForm(const RequestsForm& form, PortRequestValues& values,
                                                   const std::map<int, Hotkey>& other_hotkeys = {});

}  // namespace lintrel::ui
