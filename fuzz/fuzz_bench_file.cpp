// Bench files: any text either loads as a bench or is refused with BenchFileError.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzInput.h"
#include "platform/bench/BenchWorld.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const auto world =
        win::bench::BenchWorld::FromJson(std::string(talvik_fuzz::Text(data, size)), "fuzz");
    static_cast<void>(world);
  } catch (const win::bench::BenchFileError&) {
  }
  return 0;
}
