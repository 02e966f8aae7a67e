#pragma once
// UseBench: the process-wide bench world of the tests and benchmarks.

#include "platform/bench/BenchWorld.h"

namespace win::bench {

// Installs a bench world on first use (and keeps it installed), empties it, and returns it.
// Tests call this in their set-up.
BenchWorld& UseBench();

}  // namespace win::bench
