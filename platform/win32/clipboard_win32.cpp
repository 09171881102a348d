#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/clipboard.h"
#include "platform/win32/system_error_text.h"
#include "platform/win32/wide_text.h"

namespace lintrel::platform {
namespace {

// How long the window in front has to read the text after Ctrl+V (see AwaitTaken); as long
// as the X11 clipboard waits, for the same reasons.
constexpr DWORD kTakeWaitMs = 2000;
// A program that had another program's read of the text rendered first (a clipboard viewer)
// is given this long after the keys instead: its own read does not reach Lintrel then.
constexpr DWORD kSettleMs = 500;
// How long another program may hold the clipboard open before Lintrel gives up on it.
constexpr auto kOpenPatience = std::chrono::milliseconds(500);
constexpr UINT kRunCommand = WM_APP + 1;

// The formats whose data is no memory block that could be copied (GDI objects, metafile
// handles inside a block, data drawn by its owner, a program's private handles); a bitmap
// comes back through its DIB forms, from which the system makes CF_BITMAP again.
bool IsCopiable(UINT format) {
  switch (format) {
    case CF_BITMAP:
    case CF_PALETTE:
    case CF_METAFILEPICT:
    case CF_ENHMETAFILE:
    case CF_OWNERDISPLAY:
    case CF_DSPBITMAP:
    case CF_DSPMETAFILEPICT:
    case CF_DSPENHMETAFILE:
      return false;
    default:
      return (format < CF_GDIOBJFIRST || format > CF_GDIOBJLAST) &&
             (format < CF_PRIVATEFIRST || format > CF_PRIVATELAST);
  }
}

// One format of what the clipboard held: a copy of its memory block.
struct Kept {
  UINT format = 0;
  std::vector<char> data;
};

HGLOBAL BlockOf(const void* data, std::size_t size) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size == 0 ? 1 : size);
  if (block == nullptr) return nullptr;
  if (void* target = GlobalLock(block)) {
    if (size > 0) std::memcpy(target, data, size);
    GlobalUnlock(block);
    return block;
  }
  GlobalFree(block);
  return nullptr;
}

// The clipboard through a hidden window on a thread of its own, which owns the clipboard
// while a paste lasts and answers the system's messages about it at any time (a program
// that empties the clipboard waits for its owner to hear of it). The typist's calls run on
// that thread, one at a time.
//
// The pasted text is offered by delayed rendering: the system asks Lintrel for it when a
// program reads it, so Lintrel knows when the window in front has taken it, and puts the
// clipboard back only then. The line is kept out of clipboard histories
// ("ExcludeClipboardContentFromMonitorProcessing").
class Win32Clipboard : public Clipboard {
 public:
  Win32Clipboard() : taken_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    std::promise<HWND> created;
    std::future<HWND> window = created.get_future();
    thread_ = std::thread([this, &created] { Run(created); });
    window_ = window.get();
  }

  ~Win32Clipboard() override {
    if (window_ != nullptr) PostMessageW(window_, WM_CLOSE, 0, 0);
    thread_.join();
    CloseHandle(taken_);
  }
  Win32Clipboard(const Win32Clipboard&) = delete;
  Win32Clipboard& operator=(const Win32Clipboard&) = delete;

  bool usable() const { return window_ != nullptr && taken_ != nullptr; }

  bool Save(std::string* error) override {
    return OnThread([this, error] { return DoSave(error); });
  }
  bool PutText(const std::string& text, std::string* error) override {
    return OnThread([this, &text, error] { return DoPutText(text, error); });
  }
  bool AwaitTaken(std::string* error) override {
    // On the typist's thread: the clipboard's thread answers the read meanwhile.
    if (WaitForSingleObject(taken_, kTakeWaitMs) == WAIT_OBJECT_0) {
      if (rendered_for_other_.load()) Sleep(kSettleMs);
      return true;
    }
    if (rendered_for_other_.load()) return true;  // given its time, as far as Lintrel can tell
    *error = "the window in front did not take the pasted text within " + std::to_string(kTakeWaitMs / 1000) + " s";
    return false;
  }
  bool Restore(std::string* error) override {
    return OnThread([this, error] { return DoRestore(error); });
  }

 private:
  bool OnThread(const std::function<bool()>& work) {
    return SendMessageW(window_, kRunCommand, 0, reinterpret_cast<LPARAM>(&work)) != 0;
  }

  void Run(std::promise<HWND>& created) {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = &Win32Clipboard::Procedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"LintrelClipboard";
    RegisterClassW(&window_class);
    HWND window = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  window_class.hInstance, this);
    created.set_value(window);
    if (window == nullptr) return;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  }

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
    if (message == WM_NCCREATE) {
      SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(l_param)->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32Clipboard*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
      case kRunCommand:
        return (*reinterpret_cast<const std::function<bool()>*>(l_param))() ? 1 : 0;
      case WM_RENDERFORMAT:
        if (self != nullptr && w_param == CF_UNICODETEXT) self->Render();
        return 0;
      case WM_RENDERALLFORMATS:
        // Lintrel ends while it offers the text: it goes on the clipboard as it is.
        if (self != nullptr && OpenClipboard(window)) {
          if (GetClipboardOwner() == window) self->Render();
          CloseClipboard();
        }
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
      default:
        return DefWindowProcW(window, message, w_param, l_param);
    }
  }

  // Opens the clipboard, waiting a little for a program that holds it open.
  bool Open(std::string* error) {
    const auto end = std::chrono::steady_clock::now() + kOpenPatience;
    while (!OpenClipboard(window_)) {
      if (std::chrono::steady_clock::now() >= end) {
        *error = "another program holds it open (" + SystemErrorText(GetLastError()) + ")";
        return false;
      }
      Sleep(10);
    }
    return true;
  }

  bool DoSave(std::string* error) {
    saved_.clear();
    if (!Open(error)) return false;
    for (UINT format = EnumClipboardFormats(0); format != 0; format = EnumClipboardFormats(format)) {
      if (!IsCopiable(format)) continue;
      HANDLE data = GetClipboardData(format);
      if (data == nullptr) continue;
      const SIZE_T size = GlobalSize(data);
      const void* bytes = GlobalLock(data);
      if (bytes == nullptr) continue;
      saved_.push_back({format, std::vector<char>(static_cast<const char*>(bytes), static_cast<const char*>(bytes) + size)});
      GlobalUnlock(data);
    }
    CloseClipboard();
    return true;
  }

  bool DoPutText(const std::string& text, std::string* error) {
    text_ = WideText(text);
    ResetEvent(taken_);
    rendered_for_other_.store(false);
    // The reader that counts: the program of the window in front, which Ctrl+V goes to.
    target_process_ = 0;
    if (HWND front = GetForegroundWindow()) GetWindowThreadProcessId(front, &target_process_);
    if (!Open(error)) return false;
    bool set = EmptyClipboard() != 0;
    if (set) {
      // Offered now, handed over when read (a null handle: delayed rendering).
      SetClipboardData(CF_UNICODETEXT, nullptr);
      set = GetClipboardOwner() == window_ && IsClipboardFormatAvailable(CF_UNICODETEXT);
    }
    if (const UINT exclude = RegisterClipboardFormatW(L"ExcludeClipboardContentFromMonitorProcessing")) {
      const DWORD zero = 0;
      if (HGLOBAL block = BlockOf(&zero, sizeof zero); block != nullptr && SetClipboardData(exclude, block) == nullptr) {
        GlobalFree(block);
      }
    }
    const DWORD failure = set ? 0 : GetLastError();
    CloseClipboard();
    if (!set) *error = SystemErrorText(failure);
    return set;
  }

  // Hands the text over as it is asked for (the clipboard is open, by the reader).
  void Render() {
    HGLOBAL block = BlockOf(text_.c_str(), (text_.size() + 1) * sizeof(wchar_t));
    if (block == nullptr) return;
    if (SetClipboardData(CF_UNICODETEXT, block) == nullptr) {
      GlobalFree(block);
      return;
    }
    DWORD reader = 0;
    if (HWND opener = GetOpenClipboardWindow()) GetWindowThreadProcessId(opener, &reader);
    // A reader that opened the clipboard without a window cannot be told apart: taken.
    if (reader != 0 && reader != target_process_ && reader != GetCurrentProcessId()) rendered_for_other_.store(true);
    SetEvent(taken_);
  }

  bool DoRestore(std::string* error) {
    std::vector<Kept> saved = std::move(saved_);
    saved_.clear();
    if (!Open(error)) return false;
    // What another program put on the clipboard since the paste is newer: it stays.
    if (GetClipboardOwner() != window_) {
      CloseClipboard();
      return true;
    }
    EmptyClipboard();
    for (const Kept& kept : saved) {
      HGLOBAL block = BlockOf(kept.data.data(), kept.data.size());
      if (block != nullptr && SetClipboardData(kept.format, block) == nullptr) GlobalFree(block);
    }
    CloseClipboard();
    return true;
  }

  HWND window_ = nullptr;
  HANDLE taken_;  // set once the text was read
  std::atomic<bool> rendered_for_other_{false};
  std::thread thread_;

  // The clipboard thread's alone.
  std::wstring text_;
  DWORD target_process_ = 0;
  std::vector<Kept> saved_;
};

}  // namespace

std::unique_ptr<Clipboard> OpenSystemClipboard(std::string* error) {
  auto clipboard = std::make_unique<Win32Clipboard>();
  if (!clipboard->usable()) {
    *error = "no window for the clipboard: " + SystemErrorText(GetLastError());
    return nullptr;
  }
  return clipboard;
}

}  // namespace lintrel::platform
