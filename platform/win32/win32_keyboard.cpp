#include "platform/win32/win32_keyboard.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "common/control_characters.h"
#include "platform/us_layout.h"
#include "platform/win32/system_error_text.h"

namespace lintrel::platform {

namespace {

// The integrity level of a process's token: the last sub-authority of its mandatory label
// (0x2000 medium, 0x3000 high, 0x4000 system).
std::optional<uint32_t> IntegrityOfProcess(HANDLE process) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return std::nullopt;
  DWORD size = 0;
  GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  std::optional<uint32_t> level;
  if (size != 0 && GetTokenInformation(token, TokenIntegrityLevel, buffer.data(), size, &size)) {
    const auto* label = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer.data());
    const UCHAR count = *GetSidSubAuthorityCount(label->Label.Sid);
    if (count > 0) level = *GetSidSubAuthority(label->Label.Sid, count - 1);
  }
  CloseHandle(token);
  return level;
}

INPUT KeyInput(const KeyEvent& event) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = event.key_code;
  input.ki.wScan = 0;
  input.ki.dwFlags = KEYEVENTF_EXTENDEDKEY | (event.pressed ? 0 : KEYEVENTF_KEYUP);
  input.ki.time = 0;
  input.ki.dwExtraInfo = 0;
  return input;
}

INPUT UnicodeInput(wchar_t unit, bool pressed) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = 0;
  input.ki.wScan = unit;
  input.ki.dwFlags = KEYEVENTF_UNICODE | (pressed ? 0 : KEYEVENTF_KEYUP);
  return input;
}

// The inputs of one event: a key, or a character's one or two UTF-16 units.
void AppendInputs(const KeyEvent& event, std::vector<INPUT>& inputs) {
  if (event.character == 0) {
    inputs.push_back(KeyInput(event));
  } else if (event.character < 0x10000) {
    inputs.push_back(UnicodeInput(static_cast<wchar_t>(event.character), event.pressed));
  } else {
    const char32_t above = event.character - 0x10000;
    inputs.push_back(UnicodeInput(static_cast<wchar_t>(0xD800 + (above >> 10)), event.pressed));
    inputs.push_back(UnicodeInput(static_cast<wchar_t>(0xDC00 + (above & 0x3FF)), event.pressed));
  }
}

// The thread that owns the foreground window: the one that turns the keys into characters.
// 0 without a foreground window, which stands for this thread.
DWORD ForegroundThread() {
  HWND window = GetForegroundWindow();
  return window != nullptr ? GetWindowThreadProcessId(window, nullptr) : 0;
}

// Whether Caps Lock is on for `thread` (0: this thread). GetKeyState answers for the calling
// thread's input state, which follows the keyboard only as that thread reads key messages;
// the typing thread reads none, so on its own it keeps the state it started with (seen under
// Wine: Caps Lock switched on at the display was still off here). Attached for the call, the
// two threads share one input state, and the answer is the state the target types with.
// Where attaching fails (a target of a higher integrity level), this thread's state is all
// there is.
bool CapsLockOn(DWORD thread) {
  const DWORD own = GetCurrentThreadId();
  const bool attached = thread != 0 && thread != own && AttachThreadInput(own, thread, TRUE);
  const bool on = (GetKeyState(VK_CAPITAL) & 1) != 0;
  if (attached) AttachThreadInput(own, thread, FALSE);
  return on;
}

// What the key types with the modifiers in `keys` down, in `layout`; kNoCharacter for
// nothing, a dead key or more than one character.
char32_t CharacterOfKey(UINT virtual_key, const BYTE (&keys)[256], HKL layout) {
  wchar_t text[4] = {};
  const UINT scan = MapVirtualKeyExW(virtual_key, MAPVK_VK_TO_VSC, layout);
  // Flag 4: leave the keyboard state (a pending dead key) as it is (Windows 10 1607 on).
  const int length = ToUnicodeEx(virtual_key, scan, keys, text, 4, 4, layout);
  if (length < 0) {
    // A dead key: typed again, it clears itself from older systems' state too.
    ToUnicodeEx(virtual_key, scan, keys, text, 4, 4, layout);
    return kNoCharacter;
  }
  if (length != 1 || IsControlCharacter(static_cast<char32_t>(text[0]))) return kNoCharacter;
  return text[0];
}

// The spacing forms of the accents that dead keys stand for (^ on a German keyboard).
constexpr char32_t kSpacingAccents[] = {U'`',      U'\u00B4', U'^',      U'~',      U'\u00AF', U'\u02D8', U'\u02D9',
                                        U'\u00A8', U'\u02DA', U'\u02DD', U'\u02C7', U'\u00B8', U'\u02DB'};

// The strokes that really type each spacing accent. Windows' ToUnicodeEx tells a dead key by
// a negative answer, but Wine's does not in a thread without a window of its own: there it
// gives the dead key's accent as if the key typed it, and the target, whose thread has an
// input context, then takes the key as the dead key it is (seen: "X^Y" arrived as "XY" on a
// German keymap). VkKeyScanEx looks the character up instead of the key and finds no key for
// an accent that only a dead key makes, on Windows and under Wine. So an accent counts as a
// key's only where both agree; otherwise it goes as a Unicode packet.
class AccentStrokes {
 public:
  explicit AccentStrokes(HKL layout) {
    for (char32_t accent : kSpacingAccents) {
      const SHORT found = VkKeyScanExW(static_cast<WCHAR>(accent), layout);
      if (found != -1) strokes_.push_back({accent, {LOBYTE(found), HIBYTE(found)}});
    }
  }

  // `character` as the key types it with `modifiers`, or kNoCharacter for an accent the
  // system does not give to that stroke.
  char32_t Confirmed(char32_t character, KeyStroke stroke) const {
    if (std::find(std::begin(kSpacingAccents), std::end(kSpacingAccents), character) == std::end(kSpacingAccents)) {
      return character;
    }
    for (const auto& [accent, confirmed] : strokes_) {
      if (accent == character && confirmed == stroke) return character;
    }
    return kNoCharacter;
  }

 private:
  std::vector<std::pair<char32_t, KeyStroke>> strokes_;
};

constexpr uint8_t kHeldModifierKeys[] = {VK_LSHIFT, VK_RSHIFT, VK_LCONTROL, VK_RCONTROL,
                                         VK_LMENU,  VK_RMENU,  VK_LWIN,     VK_RWIN};

}  // namespace

Win32Keyboard::Win32Keyboard() : own_integrity_(IntegrityOfProcess(GetCurrentProcess())) {}

KeyboardState Win32Keyboard::ReadState() {
  // Looked up for every line: the user may have switched the input language or another
  // window may be in front since the last one.
  const DWORD thread = ForegroundThread();
  const HKL layout = GetKeyboardLayout(thread);
  if (layout != layout_handle_) ReadLayout(layout);
  KeyboardState state{.layout = &layout_, .caps_lock = CapsLockOn(thread), .held_modifier_keys = {}};
  for (uint8_t key : kHeldModifierKeys) {
    if ((GetAsyncKeyState(key) & 0x8000) != 0) state.held_modifier_keys.push_back(key);
  }
  return state;
}

void Win32Keyboard::ReadLayout(void* layout_handle) {
  const HKL layout = static_cast<HKL>(layout_handle);
  layout_handle_ = layout_handle;
  layout_.Clear();
  layout_.SetModifierKey(kModifierShift, VK_SHIFT);
  layout_.SetModifierKey(kModifierCtrl, VK_CONTROL);
  layout_.SetModifierKey(kModifierAlt, VK_MENU);
  constexpr uint8_t kCombinations[] = {0, kModifierShift, kModifierCtrl | kModifierAlt,
                                       kModifierShift | kModifierCtrl | kModifierAlt};
  const AccentStrokes accents(layout);
  for (UINT key = 1; key < 0xFF; ++key) {
    // The keypad's keys type what the main keys type, which come first there.
    if (key >= VK_NUMPAD0 && key <= VK_DIVIDE) continue;
    for (uint8_t modifiers : kCombinations) {
      BYTE keys[256] = {};
      if (modifiers & kModifierShift) keys[VK_SHIFT] = keys[VK_LSHIFT] = 0x80;
      if (modifiers & kModifierCtrl) keys[VK_CONTROL] = keys[VK_LCONTROL] = 0x80;
      if (modifiers & kModifierAlt) keys[VK_MENU] = keys[VK_RMENU] = 0x80;
      const KeyStroke stroke{static_cast<uint8_t>(key), modifiers};
      const char32_t plain = accents.Confirmed(CharacterOfKey(key, keys, layout), stroke);
      keys[VK_CAPITAL] = 0x01;
      const char32_t with_caps_lock = accents.Confirmed(CharacterOfKey(key, keys, layout), stroke);
      layout_.Add(static_cast<uint8_t>(key), modifiers, plain, with_caps_lock);
    }
  }
  AddControlCharacterKeys(layout_, kVirtualKeyControlKeys);
}

KeyOutputResult Win32Keyboard::TypeKeys(std::span<const KeyEvent> events) { return InjectKeys(*this, events); }

TargetRights Win32Keyboard::ForegroundWindowRights() {
  HWND window = GetForegroundWindow();
  DWORD process_id = 0;
  if (window == nullptr || GetWindowThreadProcessId(window, &process_id) == 0 || !own_integrity_) {
    return TargetRights::kUnknown;
  }
  if (process_id == GetCurrentProcessId()) return TargetRights::kNotHigher;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  if (process == nullptr) return TargetRights::kUnknown;
  const std::optional<uint32_t> level = IntegrityOfProcess(process);
  CloseHandle(process);
  return CompareIntegrity(own_integrity_, level);
}

std::size_t Win32Keyboard::Inject(std::span<const KeyEvent> events) {
  std::vector<INPUT> inputs;
  inputs.reserve(events.size() + 2);
  // Where each event's inputs end, to count the events Windows took whole.
  std::vector<std::size_t> ends;
  ends.reserve(events.size());
  for (const KeyEvent& event : events) {
    AppendInputs(event, inputs);
    ends.push_back(inputs.size());
  }
  // One call: Windows inserts the events of one SendInput together, so that the user's own
  // typing cannot land inside the line.
  const UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  last_error_ = sent < inputs.size() ? GetLastError() : 0;
  return static_cast<std::size_t>(std::upper_bound(ends.begin(), ends.end(), sent) - ends.begin());
}

std::string Win32Keyboard::LastErrorText() { return last_error_ != 0 ? SystemErrorText(last_error_) : std::string(); }

std::vector<std::string> SystemKeyboardNames() { return {"win32"}; }

std::unique_ptr<Keyboard> OpenSystemKeyboard(const KeyboardRequest& request, std::string* error,
                                             std::string* chosen) {
  *chosen = request.name;
  if (request.name == "win32") return std::make_unique<Win32Keyboard>();
  *error = "unknown keyboard \"" + request.name + "\" (available: win32)";
  return nullptr;
}

}  // namespace lintrel::platform
