#include "ui/requests_form.h"

#include "common/port_number.h"
#include "common/text_escapes.h"
#include "common/trim.h"
#include "ui/options_form.h"

namespace lintrel::ui {
namespace {

// A number of milliseconds or empty (0: off).
std::string TimeText(int milliseconds) { return milliseconds > 0 ? std::to_string(milliseconds) : std::string(); }

struct TimeField {
  RequestsField field;
  const char* label;
  const std::string& text;
  int low;
  int high;
};

std::optional<RequestsFormError> ReadTime(const TimeField& field, int& milliseconds) {
  if (Trim(field.text).empty()) {
    milliseconds = 0;
    return std::nullopt;
  }
  const std::string label = std::string(field.label) + ": ";
  const std::optional<int> value = ParseDialogInteger(field.text);
  if (!value) return RequestsFormError{field.field, label + std::string(kNotAnIntegerMessage)};
  if (*value < field.low || *value > field.high) {
    return RequestsFormError{field.field, label + IntegerRangeMessage(field.low, field.high) + " Empty: off."};
  }
  milliseconds = *value;
  return std::nullopt;
}

}  // namespace

RequestsForm RequestsFormFrom(const PortRequestValues& values) {
  return {.send_on_connect = FormatEscapes(values.requests.send_on_connect),
          .poll = FormatEscapes(values.requests.poll),
          .poll_every_text = TimeText(values.requests.poll_every_ms),
          .reply_timeout_text = TimeText(values.requests.reply_timeout_ms),
          .hotkey_text = values.hotkey ? values.hotkey->Text() : std::string()};
}

std::optional<RequestsFormError> ApplyRequestsForm(const RequestsForm& form, PortRequestValues& values,
                                                   const std::map<int, Hotkey>& other_hotkeys) {
  PortRequestValues read;
  std::string problem;
  const std::optional<std::string> send_on_connect = ParseEscapes(form.send_on_connect, &problem);
  if (!send_on_connect) return RequestsFormError{RequestsField::kSendOnConnect, "Send on connect: " + problem};
  const std::optional<std::string> poll = ParseEscapes(form.poll, &problem);
  if (!poll) return RequestsFormError{RequestsField::kPoll, "Poll text: " + problem};
  read.requests.send_on_connect = *send_on_connect;
  read.requests.poll = *poll;
  const TimeField times[] = {{RequestsField::kPollEvery, "Poll every (ms)", form.poll_every_text,
                              PortRequests::kMinPollEveryMs, PortRequests::kMaxPollEveryMs},
                             {RequestsField::kReplyTimeout, "Reply timeout (ms)", form.reply_timeout_text,
                              PortRequests::kMinReplyTimeoutMs, PortRequests::kMaxReplyTimeoutMs}};
  if (auto error = ReadTime(times[0], read.requests.poll_every_ms)) return error;
  if (auto error = ReadTime(times[1], read.requests.reply_timeout_ms)) return error;
  if (read.requests.poll_every_ms > 0 && read.requests.poll.empty()) {
    return RequestsFormError{RequestsField::kPollEvery, "Poll every (ms): there is no poll text to send."};
  }
  if (!Trim(form.hotkey_text).empty()) {
    read.hotkey = ParseHotkey(form.hotkey_text, &problem);
    if (!read.hotkey) return RequestsFormError{RequestsField::kHotkey, "Hotkey: " + problem};
    for (const auto& [port_number, hotkey] : other_hotkeys) {
      if (hotkey == *read.hotkey) {
        return RequestsFormError{RequestsField::kHotkey,
                                 "Hotkey: " + hotkey.Text() + " already sends the poll of " + PortName(port_number)};
      }
    }
  }
  values = read;
  return std::nullopt;
}

}  // namespace lintrel::ui
