// The floor of the benchmark: the least a program can do to type the lines arriving on
// serial ports. It reads every port with one poll(), and types each complete line (up to
// and including its CR) through one X connection with XTest, one flush per line. Nothing
// else: no reconnection, no options, no keymap changes followed.
//
// Usage: lintrel_floor_typer DEVICE... (the X display from $DISPLAY)

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace lintrel::bench {
namespace {

constexpr char kEndCharacter = '\r';

class Typer {
 public:
  explicit Typer(Display* display) : display_(display) {
    for (int character = 0x20; character < 0x7F; ++character) {
      keycodes_[static_cast<std::size_t>(character)] =
          XKeysymToKeycode(display, static_cast<KeySym>(character));
    }
    keycodes_[static_cast<std::size_t>(kEndCharacter)] = XKeysymToKeycode(display, XK_Return);
  }

  void TypeLine(const std::string& line) {
    for (char character : line) {
      const KeyCode keycode = keycodes_[static_cast<unsigned char>(character)];
      if (keycode == 0) continue;
      XTestFakeKeyEvent(display_, keycode, True, CurrentTime);
      XTestFakeKeyEvent(display_, keycode, False, CurrentTime);
    }
    XFlush(display_);
  }

 private:
  Display* display_;
  std::array<KeyCode, 256> keycodes_{};
};

int OpenRaw(const char* path) {
  const int fd = open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  termios settings = {};
  tcgetattr(fd, &settings);
  cfmakeraw(&settings);
  tcsetattr(fd, TCSANOW, &settings);
  return fd;
}

int Run(int argc, char** argv) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "floor: cannot open the X display\n");
    return 1;
  }
  Typer typer(display);
  std::vector<pollfd> ports;
  for (int i = 1; i < argc; ++i) {
    const int fd = OpenRaw(argv[i]);
    if (fd < 0) {
      std::fprintf(stderr, "floor: %s: %s\n", argv[i], std::strerror(errno));
      return 1;
    }
    ports.push_back({.fd = fd, .events = POLLIN, .revents = 0});
    std::fprintf(stderr, "floor: port connected (%s)\n", argv[i]);
  }
  std::vector<std::string> pending(ports.size());
  while (poll(ports.data(), ports.size(), -1) >= 0 || errno == EINTR) {
    for (std::size_t i = 0; i < ports.size(); ++i) {
      if (ports[i].revents == 0) continue;
      char chunk[4096];
      const ssize_t count = read(ports[i].fd, chunk, sizeof chunk);
      if (count < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (count <= 0) {
        ports[i].fd = -1;  // hung up: poll() skips it from now on
        continue;
      }
      std::string& line = pending[i];
      for (ssize_t at = 0; at < count; ++at) {
        line += chunk[at];
        if (chunk[at] != kEndCharacter) continue;
        typer.TypeLine(line);
        line.clear();
      }
    }
  }
  return 1;
}

}  // namespace
}  // namespace lintrel::bench

int main(int argc, char** argv) { return lintrel::bench::Run(argc, argv); }
