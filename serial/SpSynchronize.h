#pragma once
// SpSynchronize: the main-thread call: background threads hand routines to the main thread and wait
// for them.
//
// Queued calls run when the main thread drains the queue (SpDrainMainThreadCalls), which the
// application does on its wake-up event and whenever its event loop is about to block.

#include <functional>

// The calling thread becomes the main thread. Until called, the thread that loaded the program is.
void SpSetMainThread();
bool SpIsMainThread();

// On the main thread: runs the routine at once. From another thread: queues it, wakes the main
// thread, waits until it has run there and raises again on the caller what it let escape.
void SpSynchronize(const std::function<void()>& routine);

// Called (from any thread) each time a call is queued; the application posts its wake-up here.
void SpSetWakeUp(std::function<void()> wakeUp);

// On the main thread: runs every queued call in order; true if any ran. Elsewhere: false.
bool SpDrainMainThreadCalls();
bool SpHasQueuedCalls();
