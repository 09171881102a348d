#include "ui/win32/options_dialog.h"

#include <string>
#include <utility>
#include <vector>

#include "common/port_number.h"
#include "platform/win32/wide_text.h"
#include "ui/dialog_lists.h"
#include "ui/win32/requests_dialog.h"
#include "ui/win32/resource.h"

namespace lintrel::ui::win32 {

namespace {

int ControlOf(OptionsField field) {
  switch (field) {
    case OptionsField::kPrefixText:
      return IDC_PREFIX_TEXT;
    case OptionsField::kSuffix:
      return IDC_SUFFIX;
    case OptionsField::kReplacements:
      return IDC_REPLACEMENTS;
    case OptionsField::kKeyDelay:
      return IDC_KEY_DELAY;
    case OptionsField::kLineDelay:
      return IDC_LINE_DELAY;
    case OptionsField::kTargetProgram:
      return IDC_TARGET_PROGRAM;
    case OptionsField::kTargetTitle:
      return IDC_TARGET_TITLE;
    case OptionsField::kDeliveryMethod:
      return IDC_DELIVERY_METHOD;
    case OptionsField::kDelay:
      break;
  }
  return IDC_RECONNECT_DELAY;
}

int ControlOf(RecordField field) {
  switch (field) {
    case RecordField::kPattern: return IDC_PATTERN;
    case RecordField::kTemplate: return IDC_TEMPLATE;
    case RecordField::kRepeatWindow: break;
  }
  return IDC_REPEAT_WINDOW;
}

// The controls a policy has set, by their ids.
std::vector<int> LockedControls(const OptionsLocks& locks) {
  const std::pair<bool, int> controls[] = {
      {locks.prefix, IDC_PORT_PREFIX},       {locks.end_character, IDC_END_CHARACTER},
      {locks.truncate, IDC_TRUNCATE},        {locks.prefix_text, IDC_PREFIX_TEXT},
      {locks.suffix, IDC_SUFFIX},            {locks.replacements, IDC_REPLACEMENTS},
      {locks.control, IDC_CONTROL_MAP},      {locks.reconnect_at_start, IDC_RECONNECT_AT_START},
      {locks.follow_devices, IDC_FOLLOW_DEVICES}, {locks.pattern, IDC_PATTERN},
      {locks.unmatched, IDC_UNMATCHED},      {locks.gs1, IDC_GS1},
      {locks.template_text, IDC_TEMPLATE},   {locks.repeat_window, IDC_REPEAT_WINDOW},
      {locks.encoding, IDC_ENCODING},        {locks.key_delay, IDC_KEY_DELAY},
      {locks.line_delay, IDC_LINE_DELAY},    {locks.reconnect_delay, IDC_RECONNECT_DELAY},
      {locks.target, IDC_TARGET_PROGRAM},    {locks.target, IDC_TARGET_TITLE},
      {locks.elsewhere, IDC_ELSEWHERE},      {locks.delivery, IDC_DELIVERY_METHOD},
      {locks.sound_not_typed, IDC_SOUND_NOT_TYPED}};
  std::vector<int> locked;
  for (const auto& [is_locked, id] : controls) {
    if (is_locked) locked.push_back(id);
  }
  return locked;
}

constexpr int kRecordControls[] = {IDC_PATTERN, IDC_UNMATCHED, IDC_GS1, IDC_TEMPLATE, IDC_REPEAT_WINDOW, IDC_TEST_LINE};
constexpr int kTargetControls[] = {IDC_TARGET_PROGRAM, IDC_TARGET_TITLE, IDC_ELSEWHERE, IDC_DELIVERY_METHOD,
                                    IDC_SOUND_NOT_TYPED};

}  // namespace

OptionsDialog::OptionsDialog(HINSTANCE instance, PortOptions& options, Pacing& pacing,
                             bool end_character_editable, StartupOptions& startup, bool& start_with_windows)
    : Dialog(instance, IDD_OPTIONS),
      options_(options),
      pacing_(pacing),
      end_character_editable_(end_character_editable),
      form_(FormFromOptions(options.options, pacing)),
      startup_(startup),
      start_with_windows_(start_with_windows),
      startup_shown_(startup),
      start_with_windows_shown_(start_with_windows),
      requests_shown_(options.requests) {
  ShapingToForm(options.shaping, form_);
  record_form_ = RecordFormFromRules(options.records);
  DeliveryToForm(options.delivery, form_);
  for (int id : {IDC_PATTERN, IDC_TEMPLATE, IDC_REPEAT_WINDOW, IDC_TEST_LINE}) {
    OnNotification(id, EN_CHANGE, [this] { UpdateTest(); });
  }
  OnNotification(IDC_UNMATCHED, CBN_SELCHANGE, [this] { UpdateTest(); });
  OnCommand(IDC_GS1, [this] { UpdateTest(); });
  OnCommand(IDC_REQUESTS, [this] { OpenRequests(); });
  OnMessage(WM_DRAWITEM, [this](WPARAM, LPARAM item) { return OnDrawItem(*reinterpret_cast<DRAWITEMSTRUCT*>(item)); });
}

void OptionsDialog::FillInitialLists() {
  AddListEntries(Item(IDC_END_CHARACTER), kEndCharacterTexts);
  AddListEntries(Item(IDC_CONTROL_MAP), kControlMapTexts);
  AddListEntries(Item(IDC_ENCODING), kEncodingTexts);
  AddListEntries(Item(IDC_UNMATCHED), kUnmatchedTexts);
  AddListEntries(Item(IDC_ELSEWHERE), kElsewhereTexts);
  AddListEntries(Item(IDC_DELIVERY_METHOD), kDeliveryMethodTexts);
}

bool OptionsDialog::Exchange(DataExchange& exchange) {
  exchange.Check(IDC_PORT_PREFIX, form_.prefix);
  exchange.Text(IDC_RECONNECT_DELAY, form_.delay_text);
  exchange.ListIndex(IDC_END_CHARACTER, form_.end_character_index);
  exchange.Check(IDC_TRUNCATE, form_.truncate);
  exchange.Text(IDC_PREFIX_TEXT, form_.prefix_text);
  exchange.Text(IDC_SUFFIX, form_.suffix);
  exchange.Text(IDC_REPLACEMENTS, form_.replacements);
  exchange.ListIndex(IDC_CONTROL_MAP, form_.control_index);
  exchange.ListIndex(IDC_ENCODING, form_.encoding_index);
  exchange.Text(IDC_KEY_DELAY, form_.key_delay_text);
  exchange.Text(IDC_LINE_DELAY, form_.line_delay_text);
  exchange.Check(IDC_START_WITH_WINDOWS, start_with_windows_shown_);
  exchange.Check(IDC_RECONNECT_AT_START, startup_shown_.reconnect_at_start);
  exchange.Check(IDC_FOLLOW_DEVICES, startup_shown_.follow_devices);
  exchange.Text(IDC_PATTERN, record_form_.pattern);
  exchange.ListIndex(IDC_UNMATCHED, record_form_.unmatched_index);
  exchange.Check(IDC_GS1, record_form_.gs1);
  exchange.Text(IDC_TEMPLATE, record_form_.template_text);
  exchange.Text(IDC_REPEAT_WINDOW, record_form_.repeat_window_text);
  exchange.Text(IDC_TARGET_PROGRAM, form_.target_program);
  exchange.Text(IDC_TARGET_TITLE, form_.target_title);
  exchange.ListIndex(IDC_ELSEWHERE, form_.elsewhere_index);
  exchange.ListIndex(IDC_DELIVERY_METHOD, form_.delivery_index);
  exchange.Check(IDC_SOUND_NOT_TYPED, form_.sound_not_typed);
  return true;
}

BOOL OptionsDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  EnableWindow(Item(IDC_END_CHARACTER), end_character_editable_ ? TRUE : FALSE);
  // Without a port picked, the shaping edited is every port's that sets none of its own.
  const bool has_port = options_.port_number >= 0;
  SetItemText(hwnd(), IDC_SHAPING_GROUP, has_port ? "Lines of " + PortName(options_.port_number) : kSharedLinesGroup);
  // Records are a port's alone: without one picked there is nothing to set up.
  SetItemText(hwnd(), IDC_RECORDS_GROUP,
              has_port ? "Records of " + PortName(options_.port_number) : "Records (no port selected)");
  for (int id : kRecordControls) EnableWindow(Item(id), has_port ? TRUE : FALSE);
  // So is the target.
  SetItemText(hwnd(), IDC_TARGET_GROUP,
              has_port ? "Target of " + PortName(options_.port_number) : "Target (no port selected)");
  for (int id : kTargetControls) EnableWindow(Item(id), has_port ? TRUE : FALSE);
  // So are the requests.
  EnableWindow(Item(IDC_REQUESTS), has_port ? TRUE : FALSE);
  note_.Show(hwnd(), LockedControls(locks_));
  initialized_ = true;
  UpdateTest();
  return TRUE;
}

void OptionsDialog::OnOK() {
  UpdateData(true);
  PortOptions updated = options_;
  Pacing pacing = pacing_;
  std::optional<OptionsFormError> error = ApplyOptionsForm(form_, updated.options, pacing);
  if (!error) error = ApplyShapingForm(form_, updated.shaping);
  if (!error && updated.port_number >= 0) error = ApplyDeliveryForm(form_, updated.delivery);
  if (error) {
    DataExchange exchange(hwnd(), true);
    exchange.Fail(ControlOf(error->field), error->message);
    return;
  }
  if (const std::optional<RecordFormError> record_error = ApplyRecordForm(record_form_, updated.records)) {
    DataExchange exchange(hwnd(), true);
    exchange.Fail(ControlOf(record_error->field), record_error->message);
    return;
  }
  // All at once, by the caller: a reader sees the old options or the new ones, never a mix.
  updated.requests = requests_shown_;
  options_ = updated;
  pacing_ = pacing;
  startup_ = startup_shown_;
  start_with_windows_ = start_with_windows_shown_;
  EndDialog(IDOK);
}

void OptionsDialog::OpenRequests() {
  if (options_.port_number < 0) return;
  PortRequestValues edited = requests_shown_;
  RequestsDialog requests(instance(), options_.port_number, edited, other_hotkeys_, locks_);
  if (requests.RunModal(hwnd()) == IDOK) requests_shown_ = edited;
}

void OptionsDialog::UpdateTest() {
  if (!initialized_ || options_.port_number < 0) return;
  UpdateData(true);
  // The dialog's values as they stand; one not yet acceptable keeps the value it had.
  PortOptions shown = options_;
  Pacing pacing = pacing_;
  ApplyOptionsForm(form_, shown.options, pacing);
  ApplyShapingForm(form_, shown.shaping);
  const std::string sample = WindowText(Item(IDC_TEST_LINE));
  const std::string result =
      sample.empty() ? "" : TestRecordForm(record_form_, sample, shown.options, {.shaping = shown.shaping},
                                           options_.port_number);
  SetItemText(hwnd(), IDC_TEST_RESULT, result);
}

std::optional<LRESULT> OptionsDialog::OnDrawItem(const DRAWITEMSTRUCT& item) {
  if (item.CtlID != IDC_END_CHARACTER) return std::nullopt;
  const HDC dc = item.hDC;
  RECT area = item.rcItem;
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  FillRect(dc, &area, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  if (item.itemID != static_cast<UINT>(-1)) {
    const std::string text = ListEntryText(Item(IDC_END_CHARACTER), static_cast<int>(item.itemID));
    const HGDIOBJ old_font = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(hwnd(), WM_GETFONT, 0, 0)));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(disabled ? COLOR_GRAYTEXT : selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    // The code column starts where the widest name ends, whatever the font.
    SIZE widest{};
    GetTextExtentPoint32W(dc, L"WWW ", 4, &widest);
    const EndCharacterColumns columns = SplitEndCharacterText(text);
    RECT name_area = area;
    name_area.left += 2;
    DrawTextW(dc, platform::WideText(columns.name).c_str(), -1, &name_area, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    RECT code_area = name_area;
    code_area.left += widest.cx;
    DrawTextW(dc, platform::WideText(columns.code).c_str(), -1, &code_area, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SelectObject(dc, old_font);
  }
  if ((item.itemState & ODS_FOCUS) != 0) DrawFocusRect(dc, &area);
  return TRUE;
}

}  // namespace lintrel::ui::win32
