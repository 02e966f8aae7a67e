#include "platform/host/HostLineWatch.h"

#include <dirent.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <utility>

namespace win::host {

struct HostLineWatch::State {
  Wait wait;
  Report report;
  std::atomic<bool> stop{false};
  std::atomic<bool> done{false};
};

namespace {

constexpr int kNoIoctlCommand = 515;  // ENOIOCTLCMD, as some drivers leak it
constexpr auto kResend = std::chrono::milliseconds(1);

int InterruptSignal() {
  return SIGRTMIN + 5;
}

void Ignore(int /*signal*/) {}

// The signals a thread of this process blocks, from /proc/self/task/<tid>/status.
unsigned long long BlockedSignals(const std::string& task) {
  std::ifstream status("/proc/self/task/" + task + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigBlk:", 0) == 0) {
      return std::strtoull(line.c_str() + 7, nullptr, 16);
    }
  }
  return 0;
}

// A mask that blocks every signal a thread can block (the C library's own two may be left out).
bool BlocksEverySignal(unsigned long long mask) {
  const auto bit = [](int signal) { return 1ull << (signal - 1); };
  const unsigned long long catchable = ~(bit(SIGKILL) | bit(SIGSTOP) | bit(32) | bit(33));
  return (mask & catchable) == catchable;
}

// Whether a thread this process can see blocks the signal, to take it some other way.
bool BlockedElsewhere(int signal) {
  const unsigned long long bit = 1ull << (signal - 1);
  const bool callerBlocksAll = BlocksEverySignal(BlockedSignals(std::to_string(gettid())));
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) {
    return false;
  }
  bool blocked = false;
  while (const dirent* task = readdir(tasks)) {
    if (task->d_name[0] == '.') {
      continue;
    }
    const unsigned long long mask = BlockedSignals(task->d_name);
    if ((mask & bit) != 0 && (!BlocksEverySignal(mask) || callerBlocksAll)) {
      blocked = true;
      break;
    }
  }
  closedir(tasks);
  return blocked;
}

// Takes the signal with a do-nothing handler, without SA_RESTART so that a blocked ioctl returns
// EINTR; false when the signal is not free.
bool TakeInterruptSignal() {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  struct sigaction present {};
  if (sigaction(InterruptSignal(), nullptr, &present) != 0) {
    return false;
  }
  const bool ours = (present.sa_flags & SA_SIGINFO) == 0 && present.sa_handler == &Ignore;
  if ((!ours && ((present.sa_flags & SA_SIGINFO) != 0 || present.sa_handler != SIG_DFL)) ||
      BlockedElsewhere(InterruptSignal())) {
    return false;
  }
  if (ours) {
    return true;
  }
  struct sigaction action {};
  action.sa_handler = &Ignore;
  sigemptyset(&action.sa_mask);
  return sigaction(InterruptSignal(), &action, nullptr) == 0;
}

bool NotSupported(int error) {
  return error == ENOTTY || error == EINVAL || error == EOPNOTSUPP || error == kNoIoctlCommand;
}

}  // namespace

std::unique_ptr<HostLineWatch> HostLineWatch::Start(Wait wait, Report report) {
  if (!TakeInterruptSignal()) {
    return nullptr;
  }
  auto state = std::make_shared<State>();
  state->wait = std::move(wait);
  state->report = std::move(report);
  return std::unique_ptr<HostLineWatch>(new HostLineWatch(std::move(state)));
}

HostLineWatch::Wait HostLineWatch::ModemLinesOf(int fd) {
  return [fd] { return ioctl(fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG); };
}

HostLineWatch::HostLineWatch(std::shared_ptr<State> state) : state_(std::move(state)) {
  thread_ = std::thread([state = state_] { Run(state); });
}

HostLineWatch::~HostLineWatch() {
  state_->stop.store(true);
  // A signal that lands just before the thread enters its wait is lost; the next one is not.
  const auto limit = std::chrono::steady_clock::now() + kEndLimit;
  while (!state_->done.load() && std::chrono::steady_clock::now() < limit) {
    pthread_kill(thread_.native_handle(), InterruptSignal());
    std::this_thread::sleep_for(kResend);
  }
  if (state_->done.load()) {
    thread_.join();
    return;
  }
  std::fprintf(stderr,
               "talvik: the modem-line wait did not end within %lld s; its thread is left behind\n",
               static_cast<long long>(kEndLimit.count()));
  thread_.detach();
}

void HostLineWatch::Run(const std::shared_ptr<State>& state) {
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, InterruptSignal());
  pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);
  while (!state->stop.load()) {
    const int result = state->wait();
    const int error = errno;
    if (state->stop.load()) {
      break;
    }
    if (result == 0) {
      state->report(Outcome::Changed);
    } else if (error != EINTR) {
      state->report(NotSupported(error) ? Outcome::Unsupported : Outcome::Failed);
      break;
    }
  }
  state->done.store(true);
}

}  // namespace win::host
