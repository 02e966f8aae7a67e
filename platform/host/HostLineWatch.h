#pragma once
// HostLineWatch: waits on a thread of its own for modem-line changes of a tty (TIOCMIWAIT) and
// reports each one. The wait is a blocking ioctl that nothing but a signal ends, so ending the
// watch sends the thread a real-time signal whose handler does nothing, until the thread has left
// its wait.

#include <chrono>
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

  // How long ending a watch may take before its thread is left behind.
  static constexpr std::chrono::seconds kEndLimit{1};

  // Starts a watch, or gives none when the interrupting signal is not free: handled by another
  // part of the process, or blocked by one of its threads, which may be waiting for it with
  // sigwaitinfo or a signalfd. (A helper thread that blocks every signal, as sanitizer runtimes
  // and GLib's worker do, wants no signal at all and waits for none; unless the calling thread
  // blocks them all too, as programs that take every signal in one thread do.)
  static std::unique_ptr<HostLineWatch> Start(Wait wait, Report report);
  // Waits on the tty with TIOCMIWAIT for CTS, DSR, carrier and ring.
  static Wait ModemLinesOf(int fd);

  // Ends the wait and joins the thread. A wait that has not ended after kEndLimit (a driver
  // that does not let a signal end it) is left behind, reporting nothing more, and said so on
  // standard error. Must not be called from `report`.
  ~HostLineWatch();
  HostLineWatch(const HostLineWatch&) = delete;
  HostLineWatch& operator=(const HostLineWatch&) = delete;

 private:
  struct State;  // shared with the thread, which may outlive the watch
  explicit HostLineWatch(std::shared_ptr<State> state);
  static void Run(const std::shared_ptr<State>& state);

  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace win::host
