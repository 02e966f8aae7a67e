#pragma once
// LineSettings: line settings of a tty through termios2, so that any baud rate (BOTHER) can be
// asked for. Kept apart because the kernel's termios2 header cannot share a file with <termios.h>.

#include <cstdint>

namespace win::host {

struct LineSettings {
  std::uint32_t baud = 9600;
  int dataBits = 8;      // 5 to 8
  char parity = 'N';     // 'N', 'O', 'E', 'M' (mark), 'S' (space)
  bool twoStop = false;  // CSTOPB: two stop bits, or one and a half with five data bits
  bool rtsCts = false;
  bool xonOut = false;  // IXON: our output obeys Xoff / Xon from the far end
  bool xonIn = false;   // IXOFF: we send Xoff / Xon when our input fills
  char xonChar = 0x11;
  char xoffChar = 0x13;
};

// Puts the tty in raw mode with these settings. Returns 0, or an errno value: EINVAL when the
// driver did not take them as asked (the previous settings are then restored).
int ApplyLineSettings(int fd, const LineSettings& settings);
// Returns 0 or an errno value.
int ReadLineSettings(int fd, LineSettings& settings);

}  // namespace win::host
