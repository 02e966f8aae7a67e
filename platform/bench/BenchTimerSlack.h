#pragma once
// SharpenTimers: timed waits of the bench's clock thread end as close to their deadline as the
// system allows.

namespace win::bench {

// Applies to the calling thread. Where the system offers no such setting it does nothing.
void SharpenTimers();

}  // namespace win::bench
