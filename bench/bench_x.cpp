#include "bench/bench_x.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>

namespace lintrel::bench {

namespace {

char KeyOfKeysym(KeySym keysym) {
  if (keysym >= XK_0 && keysym <= XK_9) return static_cast<char>('0' + (keysym - XK_0));
  if (keysym == XK_Return || keysym == XK_KP_Enter) return '\r';
  return '?';
}

}  // namespace

std::unique_ptr<XServer> XServer::Start(std::string* error) {
  std::unique_ptr<XServer> server(new XServer());
  if (!server->server_.Start(error)) return nullptr;
  return server;
}

int XServer::ReleaseHeldKeys() {
  Display* display = XOpenDisplay(display_name().c_str());
  if (display == nullptr) return 0;
  char keys[32] = {};
  XQueryKeymap(display, keys);
  int held = 0;
  for (int keycode = 0; keycode < 256; ++keycode) {
    if ((keys[keycode / 8] & (1 << (keycode % 8))) == 0) continue;
    XTestFakeKeyEvent(display, static_cast<unsigned int>(keycode), False, CurrentTime);
    ++held;
  }
  XSync(display, False);
  XCloseDisplay(display);
  return held;
}

struct KeyReceiver::XState {
  Display* display = nullptr;
  Window window = 0;
  std::array<char, 256> key_of_keycode{};
  Atom clipboard = None;
  Atom utf8 = None;
  Atom pasted = None;
};

std::unique_ptr<KeyReceiver> KeyReceiver::Open(const std::string& display_name,
                                               std::string* error) {
  std::unique_ptr<KeyReceiver> receiver(new KeyReceiver());
  if (!receiver->Setup(display_name, error)) return nullptr;
  receiver->thread_ = std::thread(&KeyReceiver::Run, receiver.get());
  return receiver;
}

bool KeyReceiver::Setup(const std::string& display_name, std::string* error) {
  x_ = std::make_unique<XState>();
  wake_fd_ = eventfd(0, EFD_CLOEXEC);
  x_->display = XOpenDisplay(display_name.c_str());
  if (x_->display == nullptr) {
    *error = "cannot open X display " + display_name;
    return false;
  }
  Display* display = x_->display;
  const int screen = DefaultScreen(display);
  x_->window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, 200, 100, 0,
                                   BlackPixel(display, screen), WhitePixel(display, screen));
  XSelectInput(display, x_->window, KeyPressMask | StructureNotifyMask | FocusChangeMask);
  XMapWindow(display, x_->window);
  XEvent event;
  do {
    XNextEvent(display, &event);
  } while (event.type != MapNotify);
  // There is no window manager on the private server to give the window the focus.
  XSetInputFocus(display, x_->window, RevertToParent, CurrentTime);
  XSync(display, False);
  x_->clipboard = XInternAtom(display, "CLIPBOARD", False);
  x_->utf8 = XInternAtom(display, "UTF8_STRING", False);
  x_->pasted = XInternAtom(display, "PASTED", False);
  RebuildKeyTable();
  return true;
}

KeyReceiver::~KeyReceiver() {
  if (thread_.joinable()) {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(wake_fd_, &one, sizeof one);
    thread_.join();
  }
  if (x_ && x_->display != nullptr) XCloseDisplay(x_->display);
  if (wake_fd_ >= 0) close(wake_fd_);
}

void KeyReceiver::RebuildKeyTable() {
  Display* display = x_->display;
  int min_keycode = 0;
  int max_keycode = 0;
  XDisplayKeycodes(display, &min_keycode, &max_keycode);
  int per_keycode = 0;
  KeySym* keysyms = XGetKeyboardMapping(display, static_cast<KeyCode>(min_keycode),
                                        max_keycode - min_keycode + 1, &per_keycode);
  x_->key_of_keycode.fill('?');
  for (int keycode = min_keycode; keycode <= max_keycode && keysyms != nullptr; ++keycode) {
    x_->key_of_keycode[static_cast<std::size_t>(keycode)] =
        KeyOfKeysym(keysyms[(keycode - min_keycode) * per_keycode]);
  }
  if (keysyms != nullptr) XFree(keysyms);
}

void KeyReceiver::Run() {
  Display* display = x_->display;
  pollfd fds[2] = {{.fd = ConnectionNumber(display), .events = POLLIN, .revents = 0},
                   {.fd = wake_fd_, .events = POLLIN, .revents = 0}};
  while (true) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      const Clock::time_point now = Clock::now();
      if (event.type == KeyPress && (event.xkey.state & ControlMask) != 0 &&
          XLookupKeysym(&event.xkey, 0) == XK_v) {
        // Ctrl+V: the clipboard's text is asked for, as a text field's paste does.
        XConvertSelection(display, x_->clipboard, x_->utf8, x_->pasted, x_->window, event.xkey.time);
        XFlush(display);
      } else if (event.type == SelectionNotify) {
        TakePaste(event.xselection.property, now);
      } else if (event.type == KeyPress) {
        const char key = x_->key_of_keycode[event.xkey.keycode & 0xFF];
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back({now, key});
        if (key == '\r') ++returns_queued_;
        arrived_.notify_all();
      } else if (event.type == MappingNotify) {
        XRefreshKeyboardMapping(&event.xmapping);
        RebuildKeyTable();
      } else if (event.type == FocusOut) {
        XSetInputFocus(display, x_->window, RevertToParent, CurrentTime);
        XFlush(display);
      }
    }
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) return;
  }
}

// The pasted text arrives as if each of its characters had been typed then.
void KeyReceiver::TakePaste(unsigned long property, Clock::time_point now) {
  if (property == None) return;
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  XGetWindowProperty(x_->display, x_->window, property, 0, 0x1FFFFFFF, True, AnyPropertyType, &type, &format, &count,
                     &after, &data);
  std::lock_guard<std::mutex> lock(mutex_);
  for (unsigned long i = 0; data != nullptr && format == 8 && i < count; ++i) {
    const char character = static_cast<char>(data[i]);
    const char key = (character >= '0' && character <= '9') || character == '\r' ? character : '?';
    queue_.push_back({now, key});
    if (key == '\r') ++returns_queued_;
  }
  if (data != nullptr) XFree(data);
  arrived_.notify_all();
}

std::optional<TypedKey> KeyReceiver::Next(Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!arrived_.wait_until(lock, deadline, [&] { return !queue_.empty(); })) return std::nullopt;
  const TypedKey press = queue_.front();
  queue_.pop_front();
  if (press.key == '\r') --returns_queued_;
  return press;
}

std::vector<TypedKey> KeyReceiver::TakeAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<TypedKey> presses(queue_.begin(), queue_.end());
  queue_.clear();
  returns_queued_ = 0;
  return presses;
}

bool KeyReceiver::WaitForReturns(std::size_t returns, Clock::duration quiet,
                                 Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (returns_queued_ < returns) {
    const std::size_t before = queue_.size();
    const Clock::time_point wake = std::min(deadline, Clock::now() + quiet);
    arrived_.wait_until(lock, wake,
                        [&] { return returns_queued_ >= returns || queue_.size() != before; });
    if (returns_queued_ >= returns) break;
    if (queue_.size() == before || Clock::now() >= deadline) return false;
  }
  return true;
}

void KeyReceiver::Clear() { TakeAll(); }

}  // namespace lintrel::bench
