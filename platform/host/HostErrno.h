#pragma once
// HostErrno: the one map from an errno of this machine's system calls to the Win32 code the
// host world answers with. The errno stays beside the code as the thread's last errno
// (platform/Additions.h), so that the call trace can name both.

#include <cstdint>

#include "platform/Additions.h"

namespace win::host {

// Where an errno arose; the same errno means different things to the callers of each.
enum class ErrnoUse : std::uint8_t {
  Open,         // opening a device node: missing, held or forbidden
  Port,         // a call on an open tty: gone, or not supported by its driver
  LineSetting,  // a setting the tty refuses (termios): EINVAL is an invalid parameter
  Attribute,    // writing a sysfs attribute of the device
};

DWORD Win32ErrorOf(int errnoValue, ErrnoUse use);

// The device behind an open tty went away (a pulled-out adapter answers EIO, ENXIO or ENODEV).
bool DeviceGone(int errnoValue);

// Sets the thread's last error to the code of `errnoValue`, keeping the errno beside it, and
// returns the code.
DWORD FailWithErrno(int errnoValue, ErrnoUse use);

}  // namespace win::host
