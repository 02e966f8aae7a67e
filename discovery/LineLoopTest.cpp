#include "discovery/LineLoopTest.h"

#include "discovery/ExistingSerialPorts.h"
#include "discovery/PortHandle.h"
#include "platform/Additions.h"

using namespace win;

namespace {
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
    MessageBoxA(nullptr, ("Ошибка проверки USB порта " + name).c_str(), ApplicationTitle().c_str(),
                MB_OK);
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
  EscapeCommFunction(port, SETRTS);
  const bool looped = ModemLineIsSet(port, LineCts);
  EscapeCommFunction(port, CLRRTS);
  return looped;
}

bool TestDtrDsrLoop(HANDLE port) {
  EscapeCommFunction(port, SETDTR);
  const bool looped = ModemLineIsSet(port, LineDsr);
  EscapeCommFunction(port, CLRDTR);
  return looped;
}

bool ModemLineIsSet(HANDLE port, std::int32_t line) {
  if (line < 1 || line > static_cast<std::int32_t>(ModemLineMasks.size())) {
    return false;
  }
  DWORD status = 0;
  if (!GetCommModemStatus(port, &status)) {
    status = 0;
  }
  return (status & ModemLineMasks[static_cast<std::size_t>(line - 1)]) != 0;
}
