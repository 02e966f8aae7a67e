#pragma once
// BenchClock: the bench's real-time scheduler: one thread that runs timed actions in order of their
// time.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace win::bench {

class BenchClock {
 public:
  using Clock = std::chrono::steady_clock;
  using TimePoint = Clock::time_point;
  using Action = std::function<void()>;

  BenchClock();
  ~BenchClock();
  BenchClock(const BenchClock&) = delete;
  BenchClock& operator=(const BenchClock&) = delete;

  static TimePoint Now() { return Clock::now(); }

  // Runs `action` on the clock's thread at `at` (at once if `at` has passed). Actions with the
  // same time run in the order they were scheduled. Actions run without the clock's lock held,
  // so they may schedule further actions.
  void Schedule(TimePoint at, Action action);

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable wake;
    std::map<std::pair<TimePoint, std::uint64_t>, Action> actions;
    std::uint64_t next = 0;
    bool stop = false;
  };
  static void Run(const std::shared_ptr<State>& state);

  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace win::bench
