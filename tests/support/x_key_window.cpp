#include "support/x_key_window.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <X11/Xatom.h>

#include <chrono>
#include <clocale>
#include <thread>

#include "support/safety_limit.h"

namespace lintrel::testing {

std::unique_ptr<XKeyWindow> XKeyWindow::Open(const std::string& display_name, const XKeyWindowOptions& options,
                                             std::string* error) {
  // The window's thread and the test's (or a keyboard's) each use Xlib.
  XInitThreads();
  // Xutf8LookupString needs a UTF-8 locale and an input context; no input method runs.
  std::setlocale(LC_CTYPE, "C.UTF-8");
  XSetLocaleModifiers("@im=none");
  Display* display = XOpenDisplay(display_name.c_str());
  if (display == nullptr) {
    *error = "cannot open " + display_name + " for the test window";
    return nullptr;
  }
  std::unique_ptr<XKeyWindow> window(new XKeyWindow(display, options));
  if (!window->Create(error)) return nullptr;
  window->reader_ = std::thread([raw = window.get()] { raw->Read(); });
  return window;
}

bool XKeyWindow::Create(std::string* error) {
  if (pipe2(stop_pipe_, O_CLOEXEC) != 0) {
    *error = "no pipe";
    return false;
  }
  window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 320, 200, 0, 0, 0);
  XSelectInput(display_, window_, KeyPressMask | StructureNotifyMask | PropertyChangeMask);
  wm_protocols_ = XInternAtom(display_, "WM_PROTOCOLS", False);
  net_wm_ping_ = XInternAtom(display_, "_NET_WM_PING", False);
  if (!options_.wm_class.empty()) {
    std::string name = options_.wm_class;
    XClassHint hint{name.data(), name.data()};
    XSetClassHint(display_, window_, &hint);
    XStoreName(display_, window_, name.c_str());
  }
  if (options_.answers_pings) {
    Atom ping = net_wm_ping_;
    XSetWMProtocols(display_, window_, &ping, 1);
  }
  // As a toolkit does: a new keymap reaches Xlib's lookups through these notices.
  constexpr unsigned int kKeymapNotices = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
  int opcode = 0;
  int error_base = 0;
  int major = XkbMajorVersion;
  int minor = XkbMinorVersion;
  if (!XkbQueryExtension(display_, &opcode, &xkb_event_base_, &error_base, &major, &minor)) {
    *error = "no XKEYBOARD extension";
    return false;
  }
  XkbSelectEvents(display_, XkbUseCoreKbd, kKeymapNotices, kKeymapNotices);
  input_method_ = XOpenIM(display_, nullptr, nullptr, nullptr);
  if (input_method_ == nullptr) {
    *error = "no input method for the C.UTF-8 locale";
    return false;
  }
  input_context_ = XCreateIC(input_method_, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow,
                             window_, nullptr);
  if (input_context_ == nullptr) {
    *error = "no input context";
    return false;
  }
  XMapWindow(display_, window_);
  XEvent event;
  do {
    XWindowEvent(display_, window_, StructureNotifyMask, &event);
  } while (event.type != MapNotify);
  XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
  XSync(display_, False);
  return true;
}

unsigned long XKeyWindow::ActiveWindow() {
  // A connection of its own: the reader thread owns the window's.
  Display* display = XOpenDisplay(DisplayString(display_));
  if (display == nullptr) return None;
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  unsigned long active = None;
  if (XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, "_NET_ACTIVE_WINDOW", False), 0,
                         1, False, XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
      data != nullptr && count == 1) {
    active = *reinterpret_cast<unsigned long*>(data);
  }
  if (data != nullptr) XFree(data);
  XCloseDisplay(display);
  return active;
}

bool XKeyWindow::IsActive() { return ActiveWindow() == window_; }

bool XKeyWindow::Activate() {
  Display* display = XOpenDisplay(DisplayString(display_));
  if (display == nullptr) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window_;
  event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = 2;  // a pager, acting for the user
  XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XCloseDisplay(display);
  // The manager answers by setting the property; looked at until it does.
  const auto end = std::chrono::steady_clock::now() + kSafetyLimit;
  while (std::chrono::steady_clock::now() < end) {
    if (IsActive()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

XKeyWindow::~XKeyWindow() {
  if (reader_.joinable()) {
    const char stop = 0;
    [[maybe_unused]] const ssize_t written = write(stop_pipe_[1], &stop, 1);
    reader_.join();
  }
  if (input_context_ != nullptr) XDestroyIC(input_context_);
  if (input_method_ != nullptr) XCloseIM(input_method_);
  XCloseDisplay(display_);
  for (int fd : stop_pipe_) {
    if (fd >= 0) close(fd);
  }
}

void XKeyWindow::Read() {
  for (;;) {
    while (XPending(display_) > 0) {
      if (options_.pause_per_event.count() > 0) std::this_thread::sleep_for(options_.pause_per_event);
      XEvent event;
      XNextEvent(display_, &event);
      HandleEvent(event);
    }
    pollfd waits[2] = {{ConnectionNumber(display_), POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    poll(waits, 2, -1);
    if (waits[1].revents != 0) return;
  }
}

void XKeyWindow::HandleEvent(XEvent& event) {
  if (event.type == MappingNotify) {
    XRefreshKeyboardMapping(&event.xmapping);
    return;
  }
  if (event.type == xkb_event_base_) {
    XkbRefreshKeyboardMapping(reinterpret_cast<XkbMapNotifyEvent*>(&event));
    return;
  }
  if (event.type == ClientMessage && event.xclient.message_type == wm_protocols_ &&
      static_cast<Atom>(event.xclient.data.l[0]) == net_wm_ping_) {
    // The answer: the same message, to the root window.
    event.xclient.window = DefaultRootWindow(display_);
    XSendEvent(display_, event.xclient.window, False, SubstructureNotifyMask | SubstructureRedirectMask, &event);
    XFlush(display_);
    std::lock_guard<std::mutex> lock(mutex_);
    ++pings_answered_;
    return;
  }
  if (HandleClipboardEvent(event)) return;
  if (XFilterEvent(&event, None) || event.type != KeyPress) return;
  char buffer[32];
  KeySym keysym = NoSymbol;
  Status status = 0;
  const int length = Xutf8LookupString(input_context_, &event.xkey, buffer, sizeof buffer, &keysym, &status);
  if (options_.pastes && (event.xkey.state & ControlMask) != 0 && (keysym == XK_v || keysym == XK_V)) {
    RequestClipboard(event.xkey.time);
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (keysym == options_.end_key) {
    finished_.push_back(std::move(text_));
    text_.clear();
    changed_.notify_all();
  } else if (status == XLookupChars || status == XLookupBoth) {
    text_.append(buffer, static_cast<std::size_t>(length));
  }
}

namespace {

// Reads (and deletes) a window's property whole; its type in *type.
std::string TakeProperty(Display* display, Window window, Atom property, Atom* type) {
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string value;
  if (XGetWindowProperty(display, window, property, 0, 0x1FFFFFFF, True, AnyPropertyType, type, &format, &count, &after,
                         &data) == Success &&
      data != nullptr) {
    value.assign(reinterpret_cast<const char*>(data), count * static_cast<std::size_t>(format / 8));
  }
  if (data != nullptr) XFree(data);
  return value;
}

// Waits (within the safety limit) for an event of `type` to `window`.
bool AwaitEvent(Display* display, Window window, int type, XEvent* event) {
  const auto end = std::chrono::steady_clock::now() + kSafetyLimit;
  while (std::chrono::steady_clock::now() < end) {
    if (XCheckTypedWindowEvent(display, window, type, event)) return true;
    pollfd wait{ConnectionNumber(display), POLLIN, 0};
    poll(&wait, 1, 10);
  }
  return false;
}

}  // namespace

std::optional<std::string> ReadClipboardText(const std::string& display_name) {
  Display* display = XOpenDisplay(display_name.c_str());
  if (display == nullptr) return std::nullopt;
  const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
  XSelectInput(display, window, PropertyChangeMask);
  const Atom property = XInternAtom(display, "READ", False);
  XConvertSelection(display, XInternAtom(display, "CLIPBOARD", False), XInternAtom(display, "UTF8_STRING", False),
                    property, window, CurrentTime);
  std::optional<std::string> text;
  XEvent event;
  if (AwaitEvent(display, window, SelectionNotify, &event) && event.xselection.property != None) {
    Atom type = None;
    text = TakeProperty(display, window, property, &type);
    if (type == XInternAtom(display, "INCR", False)) {
      // In parts: each new value is taken to ask for the next, until an empty one.
      text->clear();
      for (;;) {
        if (!AwaitEvent(display, window, PropertyNotify, &event)) {
          text.reset();
          break;
        }
        if (event.xproperty.atom != property || event.xproperty.state != PropertyNewValue) continue;
        const std::string part = TakeProperty(display, window, property, &type);
        // The notice of the INCR property itself, read late: no part.
        if (type == None) continue;
        if (part.empty()) break;
        *text += part;
      }
    }
  }
  XDestroyWindow(display, window);
  XCloseDisplay(display);
  return text;
}

void XKeyWindow::Copy(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    copied_ = text;
    owns_clipboard_ = true;
  }
  XSetSelectionOwner(display_, XInternAtom(display_, "CLIPBOARD", False), window_, CurrentTime);
  XSync(display_, False);
}

void XKeyWindow::RequestClipboard(unsigned long time) {
  XConvertSelection(display_, XInternAtom(display_, "CLIPBOARD", False), XInternAtom(display_, "UTF8_STRING", False),
                    XInternAtom(display_, "PASTED", False), window_, time);
  XFlush(display_);
}

void XKeyWindow::Paste() { RequestClipboard(CurrentTime); }

bool XKeyWindow::LostClipboard() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !owns_clipboard_;
}

// Serves the copied text, takes the loss of the clipboard and a pasted text in; false for
// other events.
bool XKeyWindow::HandleClipboardEvent(const XEvent& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (event.type == SelectionClear) {
    owns_clipboard_ = false;
    return true;
  }
  if (event.type == SelectionRequest) {
    const XSelectionRequestEvent& request = event.xselectionrequest;
    XSelectionEvent reply{SelectionNotify, 0, True, display_, request.requestor, request.selection, request.target,
                          None, request.time};
    const Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
    if (owns_clipboard_ && request.target == utf8) {
      XChangeProperty(display_, request.requestor, request.property, utf8, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(copied_.data()), static_cast<int>(copied_.size()));
      reply.property = request.property;
    } else if (owns_clipboard_ && request.target == XInternAtom(display_, "TARGETS", False)) {
      const long targets[] = {static_cast<long>(utf8)};
      XChangeProperty(display_, request.requestor, request.property, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(targets), 1);
      reply.property = request.property;
    }
    XSendEvent(display_, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
    XFlush(display_);
    return true;
  }
  if (event.type == SelectionNotify && event.xselection.requestor == window_) {
    if (event.xselection.property == None) {
      text_ += "<no paste>";
      return true;
    }
    Atom type = None;
    const std::string pasted = TakeProperty(display_, window_, event.xselection.property, &type);
    text_ += type == XInternAtom(display_, "UTF8_STRING", False) ? pasted : "<not UTF8_STRING>";
    return true;
  }
  return event.type == PropertyNotify;
}

std::optional<std::string> XKeyWindow::TextUntilEscape() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!changed_.wait_for(lock, kSafetyLimit, [this] { return !finished_.empty(); })) return std::nullopt;
  std::string text = std::move(finished_.front());
  finished_.pop_front();
  return text;
}

int XKeyWindow::PingsAnswered() {
  std::lock_guard<std::mutex> lock(mutex_);
  return pings_answered_;
}

}  // namespace lintrel::testing
