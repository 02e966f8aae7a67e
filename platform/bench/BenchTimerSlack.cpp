#include "platform/bench/BenchTimerSlack.h"

// Linux lets a timed wait end up to 50 us late by default (the thread's timer slack); the bench
// wants its line events on time, so its clock thread asks for the least slack.
#if defined(__linux__)

#include <sys/prctl.h>

namespace win::bench {

void SharpenTimers() {
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

}  // namespace win::bench

#else

namespace win::bench {

void SharpenTimers() {}

}  // namespace win::bench

#endif
