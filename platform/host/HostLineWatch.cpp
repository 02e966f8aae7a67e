#include "platform/host/HostLineWatch.h"

#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <chrono>
#include <utility>

namespace win::host {

namespace {

constexpr int kNoIoctlCommand = 515;  // ENOIOCTLCMD, as some drivers leak it
constexpr auto kResend = std::chrono::milliseconds(1);

int InterruptSignal() {
  return SIGRTMIN + 5;
}

void Ignore(int /*signal*/) {}

// Installs the do-nothing handler once, without SA_RESTART so a blocked ioctl returns EINTR.
// False when the program already uses the signal for something else.
bool InterruptSignalReady() {
  static const bool ready = [] {
    struct sigaction present {};
    if (sigaction(InterruptSignal(), nullptr, &present) != 0 || present.sa_handler != SIG_DFL) {
      return false;
    }
    struct sigaction action {};
    action.sa_handler = &Ignore;
    sigemptyset(&action.sa_mask);
    return sigaction(InterruptSignal(), &action, nullptr) == 0;
  }();
  return ready;
}

bool NotSupported(int error) {
  return error == ENOTTY || error == EINVAL || error == EOPNOTSUPP || error == kNoIoctlCommand;
}

}  // namespace

std::unique_ptr<HostLineWatch> HostLineWatch::Start(Wait wait, Report report) {
  if (!InterruptSignalReady()) {
    return nullptr;
  }
  return std::unique_ptr<HostLineWatch>(new HostLineWatch(std::move(wait), std::move(report)));
}

HostLineWatch::Wait HostLineWatch::ModemLinesOf(int fd) {
  return [fd] { return ioctl(fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG); };
}

HostLineWatch::HostLineWatch(Wait wait, Report report)
    : wait_(std::move(wait)), report_(std::move(report)) {
  thread_ = std::thread([this] { Run(); });
}

HostLineWatch::~HostLineWatch() {
  stop_.store(true);
  // A signal that lands just before the thread enters its wait is lost; the next one is not.
  while (!done_.load()) {
    pthread_kill(thread_.native_handle(), InterruptSignal());
    std::this_thread::sleep_for(kResend);
  }
  thread_.join();
}

void HostLineWatch::Run() {
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, InterruptSignal());
  pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);
  while (!stop_.load()) {
    const int result = wait_();
    const int error = errno;
    if (stop_.load()) {
      break;
    }
    if (result == 0) {
      report_(Outcome::Changed);
    } else if (error != EINTR) {
      report_(NotSupported(error) ? Outcome::Unsupported : Outcome::Failed);
      break;
    }
  }
  done_.store(true);
}

}  // namespace win::host
