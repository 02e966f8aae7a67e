#include "platform/host/HostErrno.h"

#include <cerrno>

#include "platform/CommDriverRules.h"

namespace win::host {

bool DeviceGone(int errnoValue) {
  return errnoValue == EIO || errnoValue == ENXIO || errnoValue == ENODEV;
}

DWORD Win32ErrorOf(int errnoValue, ErrnoUse use) {
  switch (use) {
    case ErrnoUse::Open:
      switch (errnoValue) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
          return ERROR_FILE_NOT_FOUND;
        case EBUSY:
        case EACCES:
        case EPERM:
        case EWOULDBLOCK:
          return ERROR_ACCESS_DENIED;
        default:
          return ERROR_GEN_FAILURE;
      }
    case ErrnoUse::LineSetting:
      if (errnoValue == EINVAL) {
        return ERROR_INVALID_PARAMETER;
      }
      [[fallthrough]];
    case ErrnoUse::Port:
      if (DeviceGone(errnoValue)) {
        return rules::kGonePortError;
      }
      if (errnoValue == ENOTTY || errnoValue == EINVAL || errnoValue == EOPNOTSUPP) {
        return ERROR_NOT_SUPPORTED;  // a driver without modem lines, breaks or counters
      }
      return ERROR_GEN_FAILURE;
    case ErrnoUse::Attribute:
      switch (errnoValue) {
        case EACCES:
        case EPERM:
        case EROFS:
          return ERROR_ACCESS_DENIED;
        case ENOENT:
        case ENODEV:
        case ENXIO:
          return ERROR_FILE_NOT_FOUND;  // the adapter went away
        case EINVAL:
        case ERANGE:
          return ERROR_INVALID_PARAMETER;
        default:
          return ERROR_GEN_FAILURE;
      }
  }
  return ERROR_GEN_FAILURE;
}

DWORD FailWithErrno(int errnoValue, ErrnoUse use) {
  const DWORD code = Win32ErrorOf(errnoValue, use);
  SetLastErrorFromErrno(code, errnoValue);
  return code;
}

}  // namespace win::host
