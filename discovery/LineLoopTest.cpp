#include "discovery/LineLoopTest.h"

#include <array>

#include "discovery/ExistingSerialPorts.h"
#include "discovery/PortHandle.h"
#include "platform/Additions.h"

using namespace win;

namespace {
// Masks of the modem status word for the line numbers 1 (CTS), 2 (DSR), 3 (RING), 4 (RLSD).
constexpr std::array<DWORD, 4> ModemLineMasks{MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON};
constexpr std::int32_t LineCts = 1;
constexpr std::int32_t LineDsr = 2;
}  // namespace

std::int32_t TestUsbLineLoops(const std::string& name) {
  std::int32_t result = 0;
  if (name.find("COM") == std::string::npos) {
    return result;
  }
  try {
    const TPortHandle port(ExtractPortName(name));
    if (port.Valid()) {
      result = ClassifyLineLoops(port.Handle());
    }
  } catch (...) {
    win::MessageBoxA(nullptr, ("Ошибка проверки USB порта " + name).c_str(),
                     ApplicationTitle().c_str(), MB_OK);
    result = 0;
  }
  return result;
}

std::int32_t ClassifyLineLoops(HANDLE port) {
  if (!TestRtsCtsLoop(port)) {
    return 0;
  }
  return TestDtrDsrLoop(port) ? 2 : 3;
}

bool TestRtsCtsLoop(HANDLE port) {
  win::EscapeCommFunction(port, SETRTS);
  const bool looped = ModemLineIsSet(port, LineCts);
  win::EscapeCommFunction(port, CLRRTS);
  return looped;
}

bool TestDtrDsrLoop(HANDLE port) {
  win::EscapeCommFunction(port, SETDTR);
  const bool looped = ModemLineIsSet(port, LineDsr);
  win::EscapeCommFunction(port, CLRDTR);
  return looped;
}

bool ModemLineIsSet(HANDLE port, std::int32_t line) {
  if (line < 1 || line > static_cast<std::int32_t>(ModemLineMasks.size())) {
    return false;
  }
  DWORD status = 0;
  if (!win::GetCommModemStatus(port, &status)) {
    status = 0;
  }
  return (status & ModemLineMasks[static_cast<std::size_t>(line - 1)]) != 0;
}
