#include "platform/win32/win32_keyboard.h"

#include <windows.h>

#include <string>
#include <vector>

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

}  // namespace

Win32Keyboard::Win32Keyboard() : own_integrity_(IntegrityOfProcess(GetCurrentProcess())) {}

KeyMapping Win32Keyboard::Map(uint8_t character) {
  // The layout is the one active for this thread: the thread that types the lines.
  const SHORT scan = VkKeyScanA(static_cast<CHAR>(character));
  const auto bits = static_cast<uint16_t>(scan);
  return {.key_code = static_cast<uint8_t>(bits & 0xFF), .shift_state = static_cast<uint8_t>(bits >> 8)};
}

uint8_t Win32Keyboard::ShiftKey() const { return VK_SHIFT; }

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
  if (!level) return TargetRights::kUnknown;
  return *level > *own_integrity_ ? TargetRights::kHigher : TargetRights::kNotHigher;
}

std::size_t Win32Keyboard::Inject(std::span<const KeyEvent> events) {
  std::vector<INPUT> inputs;
  inputs.reserve(events.size());
  for (const KeyEvent& event : events) inputs.push_back(KeyInput(event));
  // One call: Windows inserts the events of one SendInput together, so that the user's own
  // typing cannot land inside the line.
  const UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  last_error_ = sent < inputs.size() ? GetLastError() : 0;
  return sent;
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
