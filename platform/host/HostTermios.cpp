#include "platform/host/HostTermios.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>

// <sys/ioctl.h> would pull in glibc's struct termios, which clashes with the kernel's.
extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace win::host {
namespace {

constexpr tcflag_t kFramingBits =
    CBAUD | CIBAUD | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

tcflag_t SizeBits(int dataBits) {
  switch (dataBits) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

int DataBits(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5:
      return 5;
    case CS6:
      return 6;
    case CS7:
      return 7;
    default:
      return 8;
  }
}

tcflag_t ParityBits(char parity) {
  switch (parity) {
    case 'O':
      return PARENB | PARODD;
    case 'E':
      return PARENB;
    case 'M':
      return PARENB | CMSPAR | PARODD;
    case 'S':
      return PARENB | CMSPAR;
    default:
      return 0;
  }
}

char Parity(tcflag_t cflag) {
  if ((cflag & PARENB) == 0) {
    return 'N';
  }
  if ((cflag & CMSPAR) != 0) {
    return (cflag & PARODD) != 0 ? 'M' : 'S';
  }
  return (cflag & PARODD) != 0 ? 'O' : 'E';
}

// The classic rates keep their B constant, so that other tools (stty) read them as usual; any
// other rate goes as BOTHER with the number itself.
tcflag_t SpeedBits(std::uint32_t baud) {
  static constexpr struct {
    std::uint32_t rate;
    tcflag_t bits;
  } kRates[] = {{50, B50},           {75, B75},           {110, B110},         {134, B134},
                {150, B150},         {200, B200},         {300, B300},         {600, B600},
                {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
                {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
                {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
                {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
                {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
                {3500000, B3500000}, {4000000, B4000000}};
  for (const auto& entry : kRates) {
    if (entry.rate == baud) {
      return entry.bits;
    }
  }
  return BOTHER;
}

// Drivers round the baud rate to what their clock divides to; within 3% a UART still talks.
bool BaudClose(std::uint32_t asked, std::uint32_t got) {
  const auto diff = static_cast<std::uint64_t>(asked > got ? asked - got : got - asked);
  return diff * 100 <= static_cast<std::uint64_t>(asked) * 3;
}

}  // namespace

int ApplyLineSettings(int fd, const LineSettings& settings) {
  if (settings.baud == 0 || settings.dataBits < 5 || settings.dataBits > 8) {
    return EINVAL;
  }
  termios2 old{};
  if (ioctl(fd, TCGETS2, &old) != 0) {
    return errno;
  }
  termios2 next = old;
  next.c_cflag &= ~kFramingBits;
  next.c_cflag |= SpeedBits(settings.baud) | CREAD | CLOCAL | SizeBits(settings.dataBits) |
                  ParityBits(settings.parity) | (settings.twoStop ? CSTOPB : 0) |
                  (settings.rtsCts ? CRTSCTS : 0);
  next.c_ispeed = settings.baud;
  next.c_ospeed = settings.baud;
  // Raw input: bytes pass unchanged (line errors are counted by the driver, not marked), a
  // break is not turned into a NUL.
  next.c_iflag = IGNBRK | (settings.xonOut ? IXON : 0) | (settings.xonIn ? IXOFF : 0);
  next.c_oflag = 0;
  next.c_lflag = 0;
  next.c_cc[VSTART] = static_cast<cc_t>(settings.xonChar);
  next.c_cc[VSTOP] = static_cast<cc_t>(settings.xoffChar);
  next.c_cc[VMIN] = 1;
  next.c_cc[VTIME] = 0;
  if (ioctl(fd, TCSETS2, &next) != 0) {
    return errno;
  }
  termios2 got{};
  if (ioctl(fd, TCGETS2, &got) != 0) {
    return errno;
  }
  const tcflag_t kept = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
  const bool taken =
      (got.c_cflag & kept) == (next.c_cflag & kept) && BaudClose(settings.baud, got.c_ospeed);
  if (!taken) {
    ioctl(fd, TCSETS2, &old);
    return EINVAL;
  }
  return 0;
}

int ReadLineSettings(int fd, LineSettings& settings) {
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) {
    return errno;
  }
  settings.baud = t.c_ospeed;
  settings.dataBits = DataBits(t.c_cflag);
  settings.parity = Parity(t.c_cflag);
  settings.twoStop = (t.c_cflag & CSTOPB) != 0;
  settings.rtsCts = (t.c_cflag & CRTSCTS) != 0;
  settings.xonOut = (t.c_iflag & IXON) != 0;
  settings.xonIn = (t.c_iflag & IXOFF) != 0;
  settings.xonChar = static_cast<char>(t.c_cc[VSTART]);
  settings.xoffChar = static_cast<char>(t.c_cc[VSTOP]);
  return 0;
}

}  // namespace win::host
