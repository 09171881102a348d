#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <limits.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/foreground_window.h"
#include "platform/posix/x11_quiet_errors.h"

namespace lintrel::platform {
namespace {

std::string ReadFirstLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

std::string FileName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The EWMH desktop as seen through a connection of its own, used by the typist's thread.
class X11ForegroundWindows : public ForegroundWindows {
 public:
  explicit X11ForegroundWindows(Display* display) : display_(display), root_(DefaultRootWindow(display)) {
    QuietenErrorsOf(display_, &lost_);
    active_ = XInternAtom(display_, "_NET_ACTIVE_WINDOW", False);
    stacking_ = XInternAtom(display_, "_NET_CLIENT_LIST_STACKING", False);
    client_list_ = XInternAtom(display_, "_NET_CLIENT_LIST", False);
    pid_ = XInternAtom(display_, "_NET_WM_PID", False);
    name_ = XInternAtom(display_, "_NET_WM_NAME", False);
    utf8_ = XInternAtom(display_, "UTF8_STRING", False);
  }
  ~X11ForegroundWindows() override {
    XCloseDisplay(display_);
    ForgetQuietConnection(display_);
  }
  X11ForegroundWindows(const X11ForegroundWindows&) = delete;
  X11ForegroundWindows& operator=(const X11ForegroundWindows&) = delete;

  std::optional<WindowInfo> Foreground() override {
    if (lost_) return std::nullopt;
    const std::vector<unsigned long> active = Cardinals(root_, active_, XA_WINDOW);
    if (active.empty() || active.front() == None) return std::nullopt;
    return Describe(active.front());
  }

  std::vector<WindowInfo> Windows() override {
    std::vector<WindowInfo> windows;
    if (lost_) return windows;
    // Bottom to top as the window manager stacks them: the topmost first.
    std::vector<unsigned long> stacked = Cardinals(root_, stacking_, XA_WINDOW);
    if (stacked.empty()) stacked = Cardinals(root_, client_list_, XA_WINDOW);
    for (auto window = stacked.rbegin(); window != stacked.rend(); ++window) windows.push_back(Describe(*window));
    return windows;
  }

  bool Activate(uint64_t id, std::string* error) override {
    if (lost_) {
      *error = "the X server is gone";
      return false;
    }
    // EWMH: source 2 is a pager acting for the user, which window managers obey rather than
    // treat as a program stealing the focus.
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = static_cast<Window>(id);
    event.xclient.message_type = active_;
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;
    event.xclient.data.l[1] = CurrentTime;
    if (XSendEvent(display_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &event) == 0) {
      *error = "the X server refused the request";
      return false;
    }
    XFlush(display_);
    return true;
  }

  void Bell() override {
    if (lost_) return;
    XBell(display_, 0);
    XFlush(display_);
  }

 private:
  // A property of 32-bit items (windows, cardinals); empty when the window or the property
  // is not there.
  std::vector<unsigned long> Cardinals(Window window, Atom property, Atom type) {
    Atom actual_type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> values;
    if (XGetWindowProperty(display_, window, property, 0, 4096, False, type, &actual_type, &format, &count, &after,
                           &data) == Success &&
        data != nullptr && format == 32) {
      // Xlib hands 32-bit items as longs.
      const unsigned long* items = reinterpret_cast<const unsigned long*>(data);
      values.assign(items, items + count);
    }
    if (data != nullptr) XFree(data);
    return values;
  }

  std::string Utf8Title(Window window) {
    Atom actual_type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display_, window, name_, 0, 1024, False, utf8_, &actual_type, &format, &count, &after,
                           &data) == Success &&
        data != nullptr && format == 8) {
      title.assign(reinterpret_cast<const char*>(data), count);
    }
    if (data != nullptr) XFree(data);
    if (title.empty()) {
      char* name = nullptr;
      if (XFetchName(display_, window, &name) != 0 && name != nullptr) {
        title = name;
        XFree(name);
      }
    }
    return title;
  }

  WindowInfo Describe(unsigned long id) {
    const Window window = static_cast<Window>(id);
    WindowInfo info;
    info.id = id;
    XClassHint hint{};
    if (XGetClassHint(display_, window, &hint) != 0) {
      if (hint.res_name != nullptr) info.program_names.emplace_back(hint.res_name);
      if (hint.res_class != nullptr) info.program_names.emplace_back(hint.res_class);
      XFree(hint.res_name);
      XFree(hint.res_class);
    }
    // The program of the process that says it owns the window (on this machine, if it is
    // ours: a remote client's pid means nothing here, and the names above still match).
    const std::vector<unsigned long> pid = Cardinals(window, pid_, XA_CARDINAL);
    if (!pid.empty() && pid.front() > 0) {
      const std::string proc = "/proc/" + std::to_string(pid.front());
      if (std::string comm = ReadFirstLine(proc + "/comm"); !comm.empty()) info.program_names.push_back(comm);
      char target[PATH_MAX];
      const ssize_t length = readlink((proc + "/exe").c_str(), target, sizeof target - 1);
      if (length > 0) info.program_names.push_back(FileName(std::string(target, static_cast<std::size_t>(length))));
    }
    info.title = Utf8Title(window);
    return info;
  }

  Display* display_;
  Window root_;
  bool lost_ = false;
  Atom active_ = None;
  Atom stacking_ = None;
  Atom client_list_ = None;
  Atom pid_ = None;
  Atom name_ = None;
  Atom utf8_ = None;
};

}  // namespace

std::unique_ptr<ForegroundWindows> OpenForegroundWindows(std::string* error) {
  // Other threads of the process use Xlib with connections of their own.
  XInitThreads();
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    const std::string name = XDisplayName(nullptr);
    *error = name.empty() ? "cannot open X display: DISPLAY is not set"
                          : "cannot open X display \"" + name + "\" to see which window is in front";
    return nullptr;
  }
  return std::make_unique<X11ForegroundWindows>(display);
}

}  // namespace lintrel::platform
