#include "platform/posix/x11_quiet_errors.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace lintrel::platform {
namespace {

// Xlib's error handlers belong to the process: these take the errors of the quiet
// connections and pass every other connection's on.
struct ErrorRouting {
  std::mutex mutex;
  std::vector<Display*> connections;
  XErrorHandler previous_protocol_handler = nullptr;
  XIOErrorHandler previous_connection_handler = nullptr;

  bool Owns(Display* display) {
    std::lock_guard<std::mutex> lock(mutex);
    return std::find(connections.begin(), connections.end(), display) != connections.end();
  }
  void Add(Display* display) {
    std::lock_guard<std::mutex> lock(mutex);
    connections.push_back(display);
  }
  void Remove(Display* display) {
    std::lock_guard<std::mutex> lock(mutex);
    std::erase(connections, display);
  }
};

ErrorRouting& Routing() {
  static ErrorRouting routing;
  return routing;
}

int OnProtocolError(Display* display, XErrorEvent* error) {
  if (Routing().Owns(display)) return 0;
  XErrorHandler previous = Routing().previous_protocol_handler;
  return previous != nullptr ? previous(display, error) : 0;
}

int OnConnectionLost(Display* display) {
  if (Routing().Owns(display)) return 0;
  XIOErrorHandler previous = Routing().previous_connection_handler;
  return previous != nullptr ? previous(display) : 0;
}

void OnConnectionLostExit(Display* /*display*/, void* lost) { *static_cast<bool*>(lost) = true; }

void InstallErrorHandlers() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    Routing().previous_protocol_handler = XSetErrorHandler(OnProtocolError);
    Routing().previous_connection_handler = XSetIOErrorHandler(OnConnectionLost);
  });
}

}  // namespace

void QuietenErrorsOf(Display* display, bool* lost) {
  InstallErrorHandlers();
  Routing().Add(display);
  XSetIOErrorExitHandler(display, OnConnectionLostExit, lost);
}

void ForgetQuietConnection(Display* display) { Routing().Remove(display); }

}  // namespace lintrel::platform
