// Kernel uevent datagrams: the parser reads any datagram without reading past it.

#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzInput.h"
#include "platform/host/UeventParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static_cast<void>(win::host::ParseUevent(talvik_fuzz::Text(data, size)));
  return 0;
}
