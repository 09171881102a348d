#include "platform/posix/line_settings.h"

namespace lintrel::platform {
namespace {

std::optional<tcflag_t> DataBitsFlag(int data_bits) {
  switch (data_bits) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    case 8:
      return CS8;
    default:
      return std::nullopt;
  }
}

std::optional<tcflag_t> ParityFlags(int parity) {
  switch (parity) {
    case kParityNone:
      return 0;
    case kParityOdd:
      return PARENB | PARODD;
    case kParityEven:
      return PARENB;
    // CMSPAR turns odd/even into a parity bit that is always 1 (PARODD) or always 0.
    case kParityMark:
      return PARENB | CMSPAR | PARODD;
    case kParitySpace:
      return PARENB | CMSPAR;
    default:
      return std::nullopt;
  }
}

std::optional<speed_t> StandardSpeed(uint32_t baud_rate) {
  switch (baud_rate) {
    case 50:
      return B50;
    case 75:
      return B75;
    case 110:
      return B110;
    case 134:
      return B134;
    case 150:
      return B150;
    case 200:
      return B200;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 1800:
      return B1800;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    case 500000:
      return B500000;
    case 576000:
      return B576000;
    case 921600:
      return B921600;
    case 1000000:
      return B1000000;
    case 1152000:
      return B1152000;
    case 1500000:
      return B1500000;
    case 2000000:
      return B2000000;
    case 2500000:
      return B2500000;
    case 3000000:
      return B3000000;
    case 3500000:
      return B3500000;
    case 4000000:
      return B4000000;
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<std::string> FindInvalidLineParameter(const LineParameters& parameters) {
  if (!DataBitsFlag(parameters.data_bits)) {
    return std::to_string(parameters.data_bits) + " data bits are not supported (5 to 8 are)";
  }
  if (!ParityFlags(parameters.parity)) {
    return "unknown parity code " + std::to_string(parameters.parity);
  }
  // B0 would mean "hang up", not a rate.
  if (parameters.baud_rate == 0u) return "0 baud is not a rate";
  return std::nullopt;
}

void ApplyLineParameters(const LineParameters& parameters, termios* settings) {
  cfmakeraw(settings);
  settings->c_iflag &= ~(IXON | IXOFF | IXANY);
  settings->c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  settings->c_cflag |= CREAD | CLOCAL | HUPCL;
  settings->c_cflag |= *DataBitsFlag(parameters.data_bits) | *ParityFlags(parameters.parity);
  if (parameters.two_stop_bits) settings->c_cflag |= CSTOPB;
  // With O_NONBLOCK an empty read fails with EAGAIN, while a hung-up terminal reads 0:
  // that is how a device that has gone is told apart from one with nothing to say.
  settings->c_cc[VMIN] = 1;
  settings->c_cc[VTIME] = 0;
  if (!parameters.baud_rate) return;
  if (std::optional<speed_t> speed = StandardSpeed(*parameters.baud_rate)) {
    cfsetispeed(settings, *speed);
    cfsetospeed(settings, *speed);
  }
}

bool NeedsCustomBaudRate(const LineParameters& parameters) {
  return parameters.baud_rate && !StandardSpeed(*parameters.baud_rate);
}

}  // namespace lintrel::platform
