#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// Xlib's types, declared here so that users of this header do not inherit Xlib's macros.
struct _XDisplay;
struct _XIM;
struct _XIC;
union _XEvent;

namespace lintrel::testing {

struct XKeyWindowOptions {
  // Answers the window manager's ping (_NET_WM_PING), as toolkit programs do.
  bool answers_pings = true;
  // A slow program: a pause before each event it reads.
  std::chrono::microseconds pause_per_event{0};
  // Its WM_CLASS, instance and class alike (empty: none), for tests that tell programs
  // apart.
  std::string wm_class;
  // Ctrl+V pastes the CLIPBOARD's text (UTF8_STRING) into the text, as a toolkit's text
  // field does: asked for as the key is read, put in when the answer is.
  bool pastes = false;
  // The key that ends a text (a keysym; XK_Escape).
  unsigned long end_key = 0xff1b;
};

// The CLIPBOARD's text (UTF8_STRING) as a program that pastes reads it, in parts (INCR) if
// its owner sends it so, through a connection of its own; nothing when no program holds
// the clipboard, it refuses the text, or the answer does not come within the safety limit.
std::optional<std::string> ReadClipboardText(const std::string& display_name);

// A window on an X display that takes the input focus and reads what is typed into it on a
// thread and connection of its own, as a toolkit program does: each key press is looked up
// with Xutf8LookupString (an input context of the C.UTF-8 locale, no input method), in the
// keymap as it is when the event is read, because a keymap change (MappingNotify, the
// XKEYBOARD map notices) is taken in when its notice is read.
//
// Thread contract: one test thread calls it; its own thread only reads events.
class XKeyWindow {
 public:
  static std::unique_ptr<XKeyWindow> Open(const std::string& display_name, const XKeyWindowOptions& options,
                                          std::string* error);
  ~XKeyWindow();
  XKeyWindow(const XKeyWindow&) = delete;
  XKeyWindow& operator=(const XKeyWindow&) = delete;

  // The text typed (and pasted) before the next press of the end key (Escape unless the
  // options say otherwise), which it takes with it; nothing if none comes within the safety
  // limit.
  std::optional<std::string> TextUntilEscape();
  // Pings answered so far.
  int PingsAnswered();
  // Takes the clipboard, holding `text` (offered as UTF8_STRING), until another program
  // takes it.
  void Copy(const std::string& text);
  // Whether another program has taken the clipboard since Copy().
  bool LostClipboard();
  // Asks for the clipboard's text as Ctrl+V does (with `pastes`).
  void Paste();

  // Asks the window manager to bring the window to the front (_NET_ACTIVE_WINDOW, as a
  // pager does), and waits until the manager says it is the active window: true once it is,
  // within the safety limit.
  bool Activate();
  // Whether the window manager names it the active window now.
  bool IsActive();

 private:
  XKeyWindow(_XDisplay* display, const XKeyWindowOptions& options) : display_(display), options_(options) {}
  bool Create(std::string* error);
  void Read();
  void HandleEvent(_XEvent& event);
  bool HandleClipboardEvent(const _XEvent& event);
  void RequestClipboard(unsigned long time);
  unsigned long ActiveWindow();

  _XDisplay* display_;
  XKeyWindowOptions options_;
  unsigned long window_ = 0;
  _XIM* input_method_ = nullptr;
  _XIC* input_context_ = nullptr;
  int xkb_event_base_ = 0;
  unsigned long wm_protocols_ = 0;
  unsigned long net_wm_ping_ = 0;
  // Woken by the destructor.
  int stop_pipe_[2] = {-1, -1};
  std::thread reader_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::string text_;                  // typed since the last Escape
  std::deque<std::string> finished_;  // texts each ended by an Escape
  int pings_answered_ = 0;
  std::string copied_;  // what the window offers on the clipboard
  bool owns_clipboard_ = false;
};

}  // namespace lintrel::testing
