#include "platform/bench/BenchClock.h"

#include "platform/ThreadExitHooks.h"
#include "platform/bench/BenchTimerSlack.h"

namespace win::bench {

BenchClock::BenchClock() : state_(std::make_shared<State>()) {
  thread_ = std::thread([state = state_] { Run(state); });
}

BenchClock::~BenchClock() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stop = true;
    state_->actions.clear();
  }
  state_->wake.notify_all();
  // The last owner may be an action running on the clock's own thread, or a thread-exit hook,
  // which must not wait for a thread to end; the thread keeps its own reference to the state and
  // ends by itself then.
  if (thread_.get_id() == std::this_thread::get_id() || detail::InThreadExitHooks()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void BenchClock::Schedule(TimePoint at, Action action) {
  bool earliest = false;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->stop) {
      return;
    }
    auto position = state_->actions.emplace(std::pair(at, state_->next++), std::move(action)).first;
    earliest = position == state_->actions.begin();
  }
  if (earliest) {
    state_->wake.notify_one();
  }
}

void BenchClock::Run(const std::shared_ptr<State>& state) {
  SharpenTimers();
  std::unique_lock lock(state->mutex);
  while (!state->stop) {
    if (state->actions.empty()) {
      state->wake.wait(lock);
      continue;
    }
    auto first = state->actions.begin();
    if (first->first.first > Clock::now()) {
      state->wake.wait_until(lock, first->first.first);
      continue;
    }
    Action action = std::move(first->second);
    state->actions.erase(first);
    lock.unlock();
    action();
    action = nullptr;  // release what it captured before taking the lock again
    lock.lock();
  }
}

}  // namespace win::bench
