#include "platform/win32/system_error_text.h"

#include "platform/win32/wide_text.h"

namespace lintrel::platform {

std::string SystemErrorText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::string message = length != 0 && text != nullptr ? Utf8Text(std::wstring_view(text, length)) : std::string();
  if (text != nullptr) LocalFree(text);
  // The system's texts end in ".\r\n".
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' ||
                              message.back() == '.')) {
    message.pop_back();
  }
  if (message.empty()) message = "system error";
  return message + " (error " + std::to_string(code) + ")";
}

}  // namespace lintrel::platform
