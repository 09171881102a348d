// Preloaded into a Wine process (LD_PRELOAD) so that a pseudo-terminal passes for a serial
// port with modem lines. Wine's serial waits ask the device for its modem lines, interrupt
// counters and line status; a pty answers those requests with ENOTTY, and Wine then fails
// every WaitCommEvent. This answers them instead, for ptys only: DSR, CTS, DTR and RTS on,
// and carrier detect as the file <PTYSHIM_DIR>/car<N> says for /dev/pts/<N> ("0" off,
// anything else or no file on). Setting the modem lines is accepted and ignored. A pty whose
// other side has closed (hung up) gets the real error back, as a serial device that was
// unplugged would.
#include <dlfcn.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using IoctlFunction = int (*)(int, unsigned long, ...);

// Unix98 ptys have the major numbers 136 to 143.
int PseudoTerminalNumber(int fd) {
  struct stat status = {};
  if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) return -1;
  const unsigned int major_number = major(status.st_rdev);
  if (major_number < 136 || major_number > 143) return -1;
  return static_cast<int>((major_number - 136) * 256 + minor(status.st_rdev));
}

bool CarrierPresent(int pty_number) {
  const char* directory = std::getenv("PTYSHIM_DIR");
  if (directory == nullptr) return true;
  const std::string path = std::string(directory) + "/car" + std::to_string(pty_number);
  FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return true;
  const int first = std::fgetc(file);
  std::fclose(file);
  return first != '0';
}

bool HungUp(int fd) {
  pollfd state = {.fd = fd, .events = 0, .revents = 0};
  return poll(&state, 1, 0) == 1 && (state.revents & POLLHUP) != 0;
}

bool IsModemRequest(unsigned long request) {
  return request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC ||
         request == TIOCGICOUNT || request == TIOCSERGETLSR;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
  static IoctlFunction real_ioctl = reinterpret_cast<IoctlFunction>(dlsym(RTLD_NEXT, "ioctl"));
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);

  const int result = real_ioctl(fd, request, argument);
  if (result == 0 || !IsModemRequest(request)) return result;
  const int pty_number = PseudoTerminalNumber(fd);
  if (pty_number < 0 || HungUp(fd)) return result;

  if (request == TIOCMGET) {
    *static_cast<int*>(argument) =
        TIOCM_DSR | TIOCM_CTS | TIOCM_DTR | TIOCM_RTS | (CarrierPresent(pty_number) ? TIOCM_CAR : 0);
  } else if (request == TIOCGICOUNT) {
    std::memset(argument, 0, sizeof(serial_icounter_struct));
  } else if (request == TIOCSERGETLSR) {
    *static_cast<unsigned int*>(argument) = TIOCSER_TEMT;
  }
  return 0;
}
