#pragma once
// BenchWorld: the simulated bench: devices of the class "Ports" (and others), the wiring of what
// hangs on each port, port faults, and real-time serial lines. Tests, the demo program and the
// command-line front end drive production code through Platform.h against it.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/DeviceWorld.h"

namespace win::bench {

// A registry property as the device-setup service stores it.
struct Property {
  DWORD type = REG_SZ;
  std::vector<BYTE> data;  // exactly the stored bytes (REG_SZ includes its NUL)

  static Property String(const std::string& text);
  static Property MultiString(const std::vector<std::string>& texts);
  static Property DWord(DWORD value);
  static Property Binary(std::vector<BYTE> bytes);
};

enum class Echo : std::uint8_t { None, Always, WhileDtrHigh };
enum class Carrier : std::uint8_t { Off, On, FollowsDtr };

// What hangs on the port.
struct Wiring {
  Echo echo = Echo::None;
  bool rtsToCts = false;
  bool dtrToDsr = false;
  Carrier carrier = Carrier::Off;
  bool ctsHeldOn = false;
  // Bytes the device sends back for every byte it receives, instead of the byte itself (only
  // where `echo` lets it answer). Empty: the byte itself comes back.
  std::string answer;
  DWORD latencyMs = 0;  // between the end of a received byte and the start of the answer
};

// A call of the comm functions, named as in Platform.h ("CreateFileA", "SetCommState",
// "EscapeCommFunction", "WriteFile", ...).
struct PullOutAt {
  std::string call;
  int count = 1;  // the device vanishes just before the count-th such call runs
};

struct Faults {
  bool held = false;  // another program holds the port: opens fail, ERROR_ACCESS_DENIED
  std::optional<PortHolder> heldBy;  // the program that holds a `held` port, where named
  // This user may not open the port: opens fail with ERROR_ACCESS_DENIED, and the port's facts
  // say so, with the node's group where `group` names one.
  bool accessDenied = false;
  std::string group;
  DWORD openError = 0;                  // non-zero: opens fail with this code
  bool refuseCommState = false;         // SetCommState fails, ERROR_INVALID_PARAMETER
  std::vector<DWORD> refusedBaudRates;  // SetCommState with one of these fails the same way
  bool refuseQueueSizes = false;        // SetupComm fails, ERROR_INVALID_PARAMETER
  std::optional<PullOutAt> pullOutAt;
};

struct Device {
  std::string className = "Ports";
  std::map<DWORD, Property> properties;  // SPDRP_* code to value; a missing code is missing
  // The name the device opens as ("COM3"); empty for a device that is no serial port.
  std::string portName;
  bool present = true;
  Wiring wiring;
  Faults faults;
};

// Convenience: a port of the class "Ports" with friendly name "<description> (<port>)", device
// description and enumerator name.
Device MakePort(const std::string& portName, const std::string& description,
                const std::string& enumerator);

// What a port has seen, for tests to check.
struct PortState {
  bool open = false;
  int opens = 0;         // successful opens
  int refusedOpens = 0;  // opens that failed
  bool dcbSet = false;
  DCB dcb{};  // the last control block accepted
  int dcbWrites = 0;
  DWORD inQueueSize = 0;
  DWORD outQueueSize = 0;
  COMMTIMEOUTS timeouts{};
  DWORD eventMask = 0;
  bool dtr = false;
  bool rts = false;
  int dtrRaised = 0;  // how often DTR went from low to high
  int rtsRaised = 0;
  std::string transmitted;         // every byte that left on the wire, in order
  std::vector<std::string> calls;  // the comm calls made on the port, by name, in order
  bool pulledOut = false;
};

class BenchFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class BenchWorld : public DeviceWorld {
 public:
  static std::shared_ptr<BenchWorld> Create();
  // Reads a bench file; BenchFileError names the file and the field at fault.
  static std::shared_ptr<BenchWorld> LoadFile(const std::string& path);
  static std::shared_ptr<BenchWorld> FromJson(const std::string& json,
                                              const std::string& origin = "<text>");

  // Devices, in their stable order. Adding or changing presence broadcasts arrival / removal
  // (DBT_DEVTYP_PORT for a device with a port name) when `broadcast` is set. Port names are
  // unique without regard to case: adding a second COM3 throws std::invalid_argument, and so
  // do the calls below for a port name that is not on the bench.
  virtual void AddDevice(Device device, bool broadcast = false) = 0;
  virtual void SetPresent(const std::string& portName, bool present, bool broadcast = true) = 0;
  // The device vanishes now: open handles fail every later call, pending operations complete
  // with an error, the device is no longer present, and removal is broadcast.
  virtual void PullOut(const std::string& portName) = 0;
  // Removes every device and ends every open handle, as if all were pulled out, silently.
  virtual void Reset() = 0;

  // A wiring change takes effect at once on an open port (modem-line events included).
  virtual void SetWiring(const std::string& portName, const Wiring& wiring) = 0;
  // Replaces the faults; calls are counted for `pullOutAt` from here on.
  virtual void SetFaults(const std::string& portName, const Faults& faults) = 0;

  // The device side sends bytes; they arrive after their wire time at the port's settings,
  // one after the other. Nothing arrives on a port that is not open.
  virtual void SendFromDevice(const std::string& portName, const std::string& bytes) = 0;
  // Raises CE_ flags (EV_ERR) or a break (EV_BREAK with CE_BREAK) on the port.
  virtual void RaiseLineError(const std::string& portName, DWORD ceFlags) = 0;
  virtual void RaiseBreak(const std::string& portName) = 0;

  virtual PortState State(const std::string& portName) const = 0;

  // Wire time of one character at the port's current settings, in microseconds.
  virtual std::uint64_t CharTimeMicros(const std::string& portName) const = 0;
};

}  // namespace win::bench
