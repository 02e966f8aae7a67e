#pragma once
// HostLineWatch: waits on a thread of its own for modem-line changes of a tty (TIOCMIWAIT) and
// reports each one. The wait is a blocking ioctl that nothing but a signal ends, so ending the
// watch sends the thread a real-time signal whose handler does nothing, until the thread has left
// its wait.

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace win::host {

class HostLineWatch {
 public:
  enum class Outcome {
    Changed,      // a watched line changed; the watch goes on
    Unsupported,  // the driver has no such wait; the watch has ended
    Failed,       // the wait failed otherwise (the device went away); the watch has ended
  };
  // Blocks until a change: 0, or -1 with errno set.
  using Wait = std::function<int()>;
  using Report = std::function<void(Outcome)>;

  // Starts a watch, or gives none when the interrupting signal is taken by someone else.
  static std::unique_ptr<HostLineWatch> Start(Wait wait, Report report);
  // Waits on the tty with TIOCMIWAIT for CTS, DSR, carrier and ring.
  static Wait ModemLinesOf(int fd);

  // Ends the wait and joins the thread. Must not be called from `report`.
  ~HostLineWatch();
  HostLineWatch(const HostLineWatch&) = delete;
  HostLineWatch& operator=(const HostLineWatch&) = delete;

 private:
  HostLineWatch(Wait wait, Report report);
  void Run();

  const Wait wait_;
  const Report report_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

}  // namespace win::host
