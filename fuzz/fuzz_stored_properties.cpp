// The stored properties text of the comm component: any text is read or refused with EReadError,
// and what was read writes back to a text that reads again to the same settings.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzInput.h"
#include "serial/SpComm.h"
#include "serial/SpStoredProperties.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TSpComm comm;
  try {
    SpReadStoredProperties(comm, talvik_fuzz::Text(data, size));
  } catch (const EReadError&) {
    return 0;
  }
  const std::string written = SpWriteStoredProperties(comm);
  TSpComm again;
  SpReadStoredProperties(again, written);
  if (SpWriteStoredProperties(again) != written) {
    std::abort();  // the written form does not read back to the same settings
  }
  return 0;
}
