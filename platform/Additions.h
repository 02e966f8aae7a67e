#pragma once
// Additions: the project's own additions to the Win32 subset, in namespace win.
//
// =============================================================================================
//  NOT WIN32. Nothing below is part of <windows.h>. These are the seams between the platform
//  layer and the application (hooks, message targets, the pump), helpers the design's code
//  needs (SysErrorMessage, ProcCast), the errno kept beside the last error, the call trace, the
//  built-in module registry, and what the device worlds know of a device beyond the
//  device-setup properties.
// =============================================================================================

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Win32.h"

namespace win {

// ---------------------------------------------------------------------------------------------
// System message texts

// The system's text for an error code as messages quote it: the message table's text without
// its trailing blanks, control characters and full stops; empty when the system has none.
std::string SysErrorMessage(DWORD code);

// ---------------------------------------------------------------------------------------------
// The errno behind a last error

// Where a POSIX call caused a failure, its errno is kept beside the Win32 code it was mapped to.
// Sets the thread's last error to `code` and keeps `errnoValue` beside it.
void SetLastErrorFromErrno(DWORD code, int errnoValue);
// The errno behind the thread's last error; 0 when the last error came without one (or a later
// code replaced the one the errno came with).
int LastErrno();
void ForgetLastErrno();
// The C library's text for an errno value.
std::string ErrnoText(int errnoValue);

// ---------------------------------------------------------------------------------------------
// The call trace

// One line on standard error for every comm and device-setup call: the call, the port (or the
// device), the result, the Win32 code and the errno. Off unless the environment variable
// TALVIK_TRACE is "1" at start or SetCallTrace(true) switched it on; off, it costs one load.
void SetCallTrace(bool on);
bool CallTraceOn();

// ---------------------------------------------------------------------------------------------
// Built-in modules: what LoadLibraryA loads where the system has no such library

// A module that LoadLibraryA can load by name (compared without regard to case).
struct BuiltinModule {
  std::string name;
  std::vector<std::pair<std::string, FARPROC>> exports;
  DWORD loadError = 0;  // non-zero: LoadLibraryA fails with this code
};
// Registers or replaces a module. Replacing one that is loaded affects only later loads.
void RegisterBuiltinModule(BuiltinModule module);
void UnregisterBuiltinModule(const std::string& name);

// Casts an export to its real type (through the one function type that converts cleanly).
template <class Function>
Function ProcCast(FARPROC proc) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}
template <class Function>
FARPROC ToFarProc(Function function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

// ---------------------------------------------------------------------------------------------
// Message targets: what an HWND names here, and the application's pump

// A message target: what an HWND names. Its owner creates it on the thread that will run its
// window procedure (the owning thread) and keeps it alive until it is unregistered.
class MessageTarget {
 public:
  virtual ~MessageTarget() = default;
  // Runs on the owning thread.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) = 0;
  // Queues the message for a later DeliverQueued call on the owning thread. Called from any
  // thread, sometimes under the messaging lock: it must not call the messaging functions.
  virtual void PostToQueue(UINT message, WPARAM wParam, LPARAM lParam) = 0;
  // The queue hands every queued message here, on the owning thread. It runs WindowProc, or,
  // for a message that another thread sent with SendMessage, runs that message and lets the
  // sending thread go on with the result.
  LRESULT DeliverQueued(UINT message, WPARAM wParam, LPARAM lParam);
};

// Registers a target owned by the calling thread. Top-level targets receive the device-change
// broadcast (WM_DEVICECHANGE, posted, with lParam pointing to a header of static storage).
HWND RegisterMessageTarget(MessageTarget* target, bool topLevel);
void UnregisterMessageTarget(HWND window);

// Posts WM_DEVICECHANGE (event, header of the device type) to every top-level target. Device
// worlds call this when a device arrives or leaves.
void BroadcastDeviceChange(WPARAM event, DWORD deviceType);

// "Let the application handle one message": the application installs its pump (the default
// does nothing). Discovery and the controller call it between ports.
void SetMessagePump(std::function<void()> pump);
void PumpOneMessage();

// ---------------------------------------------------------------------------------------------
// The application's seams: message boxes, title, the default error report

// The one seam every message box goes through. The application installs the real box; tests
// and the headless front end install recorders. Without one, the text goes to stderr.
using MessageBoxHook =
    std::function<int(HWND owner, const std::string& text, const std::string& caption, UINT type)>;
void SetMessageBoxHook(MessageBoxHook hook);

// The application's title: the caption of its message boxes.
void SetApplicationTitle(std::string title);
std::string ApplicationTitle();

// The application-wide handler for exceptions that escape a handler (the default error report).
// Without one installed, the exception's text goes to stderr.
using ExceptionHook = std::function<void(std::exception_ptr error)>;
void SetApplicationExceptionHook(ExceptionHook hook);
void HandleApplicationException(std::exception_ptr error);

// ---------------------------------------------------------------------------------------------
// Devices

// The flags word of a control block (fBinary is bit 0), as the driver sees it.
DWORD DcbFlags(const DCB& dcb);

// A fact that a device world can tell of a device. The worlds hand up the code and its value;
// the application words both.
enum class DeviceFact : std::uint8_t {
  Node,  // the device node's path
  ById,  // its name in /dev/serial/by-id
  ByPath,
  Driver,
  Bus,  // the enumerator ("USB", "ACPI")
  VendorId,
  ProductId,
  Manufacturer,
  SerialNumber,
  LowLatency,    // the driver's low-latency mode: number 1 when on, 0 when off
  LatencyTimer,  // an FTDI adapter's latency timer: text, milliseconds as the driver gives them
  Wiring,        // the bench: what is connected to the port
  State,         // the bench: how the device stands
};

// A part of what the bench has connected to a port.
enum class Wire : std::uint8_t {
  Echo,
  EchoWhileDtrHigh,
  Answer,         // number: the bytes of the answer
  AnswerLatency,  // number: milliseconds before the answer
  RtsToCts,
  DtrToDsr,
  CarrierOn,
  CarrierFollowsDtr,
  CtsHeldOn,
};
struct WiringPart {
  explicit WiringPart(Wire wire_, std::int64_t number_ = 0) : wire(wire_), number(number_) {}
  Wire wire;
  std::int64_t number;
};

// How a bench device stands.
enum class DeviceState : std::uint8_t {
  Free,
  Open,
  Held,          // by another program
  AccessDenied,  // to this user
  OpenFails,     // with the error in the detail's number
  Absent,
  PulledOut,
};

// One fact of a device and its value. Only the fields that the fact names are set.
struct DeviceDetail {
  DeviceFact fact = DeviceFact::Node;
  std::string text;         // the facts that are texts: names, paths, IDs, milliseconds
  std::int64_t number = 0;  // LowLatency; State: the error of an open that fails
  DeviceState state = DeviceState::Free;  // State
  std::vector<WiringPart> wiring;         // Wiring: empty when nothing is connected

  static DeviceDetail Text(DeviceFact fact, std::string text) {
    DeviceDetail detail;
    detail.fact = fact;
    detail.text = std::move(text);
    return detail;
  }
  static DeviceDetail Switch(DeviceFact fact, bool on) {
    DeviceDetail detail;
    detail.fact = fact;
    detail.number = on ? 1 : 0;
    return detail;
  }
  static DeviceDetail Wired(std::vector<WiringPart> parts) {
    DeviceDetail detail;
    detail.fact = DeviceFact::Wiring;
    detail.wiring = std::move(parts);
    return detail;
  }
  static DeviceDetail Standing(DeviceState state, std::int64_t error = 0) {
    DeviceDetail detail;
    detail.fact = DeviceFact::State;
    detail.state = state;
    detail.number = error;
    return detail;
  }
};

// What the device world knows of one device of a list, for the application's own
// advanced-settings page, which shows the friendly name and description itself. Empty for an
// unknown device.
std::vector<DeviceDetail> DescribeDevice(HDEVINFO list, PSP_DEVINFO_DATA data);

// The key of an FTDI adapter's latency timer among the device settings.
inline constexpr char kLatencyTimerKey[] = "latency_timer";

// A setting of a device that its settings page may change, such as the latency timer of an FTDI
// adapter. The page words it by its key.
struct DeviceSetting {
  std::string key;  // the device world's name for it
  int value = 0;
  int minimum = 0;
  int maximum = 0;
  bool changeable = false;  // false: this user may only look at it
};

// The settings of one device of a list that the device world can change. Empty for an unknown
// device and in worlds without such settings.
std::vector<DeviceSetting> DeviceSettingsOf(HDEVINFO list, PSP_DEVINFO_DATA data);

// Changes one of them. FALSE with the last error set: ERROR_INVALID_PARAMETER for an unknown
// key or a value out of its range, ERROR_ACCESS_DENIED when the user may not change it,
// ERROR_FILE_NOT_FOUND when the device went away, ERROR_GEN_FAILURE when the driver refused.
BOOL ChangeDeviceSetting(HDEVINFO list, PSP_DEVINFO_DATA data, const std::string& key, int value);

// A program that holds a port, as far as the device world can see it.
struct PortHolder {
  long pid = 0;      // 0 when not known
  std::string name;  // the program's name, where known
  std::string user;  // its user, when that is not the user of this program
};

// How the last open of a port went, as far as rights are concerned.
enum class PortAccess : std::uint8_t { Unknown, Granted, Denied };

// What the user can do about a port that another program holds or that this user may not open.
enum class Hint : std::uint8_t {
  None,
  JoinGroup,     // join the node's group, whose members may open it
  UdevRule,      // the node's mode shuts out its group too: an administrator's udev rule
  ModemManager,  // keep ModemManager off the adapter with a udev property
  Brltty,        // switch off brltty, which grabs common USB adapter chips
  Getty,         // stop the getty that waits for a login on the port
};
// A hint and the values its wording needs.
struct PortHint {
  Hint code = Hint::None;
  std::string group;    // JoinGroup, UdevRule: the node's group
  std::string program;  // Getty: the program that waits for a login ("agetty")
  std::string line;     // Getty: the tty's name ("ttyS0"), as its service is named
  // ModemManager: the adapter's USB vendor and product IDs; empty for a device without them.
  std::string vendorId;
  std::string productId;
};

// What the device world knows of a port beyond its device-setup properties: where it lives, who
// holds it or why it could not be opened, and what the user can do about it. Empty fields are
// not known; a world without such knowledge gives empty facts.
struct PortFacts {
  std::string node;  // the device node ("/dev/ttyUSB0")
  std::string byId;  // its name in /dev/serial/by-id
  std::string driver;
  std::string vendorId;  // USB vendor and product IDs, four hex digits each
  std::string productId;
  std::string serial;    // the USB serial number
  bool console = false;  // the port is the system console
  bool held = false;     // another program holds it: the last open was refused untried
  std::optional<PortHolder> heldBy;
  PortAccess access = PortAccess::Unknown;
  std::string group;  // the node's group, when access was denied
  PortHint hint;      // what the user can do about a holder or missing rights
  // The world's own description of the device (the bench's).
  std::vector<DeviceDetail> details;
};

// The facts of a port found by the last walk of the device list.
PortFacts PortFactsOf(const std::string& portName);

// "msports.dll": the serial class installer's advanced-settings page. Where the system has
// none, the application registers its own page under this export name.
using SerialDisplayAdvancedSettingsProc = LONG (*)(HWND parent, HDEVINFO list,
                                                   PSP_DEVINFO_DATA data);

}  // namespace win
