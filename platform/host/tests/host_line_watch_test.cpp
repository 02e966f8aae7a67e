// The line watch: a blocking wait on its own thread that reports each change and always ends
// when the watch goes, even while nothing happens on the line.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/HostLineWatch.h"
#include "testing/HostPty.h"

namespace win::host {
namespace {

using namespace std::chrono_literals;
using Outcome = HostLineWatch::Outcome;

// A pipe whose read end stands in for a tty that blocks until its lines change: each byte
// written is one change.
class LinePipe {
 public:
  LinePipe() {
    if (pipe2(fds_, O_CLOEXEC) != 0) {
      throw std::runtime_error("no pipe");
    }
  }
  ~LinePipe() {
    close(fds_[0]);
    close(fds_[1]);
  }
  LinePipe(const LinePipe&) = delete;
  LinePipe& operator=(const LinePipe&) = delete;

  HostLineWatch::Wait Wait() const {
    return [fd = fds_[0]] {
      char change = 0;
      const ssize_t n = read(fd, &change, 1);
      return n == 1 ? 0 : -1;
    };
  }
  void Change() const { ASSERT_EQ(write(fds_[1], "x", 1), 1); }

 private:
  int fds_[2] = {-1, -1};
};

struct Reports {
  std::mutex lock;
  std::vector<Outcome> seen;

  HostLineWatch::Report Recorder() {
    return [this](Outcome outcome) {
      std::lock_guard guard(lock);
      seen.push_back(outcome);
    };
  }
  std::vector<Outcome> Seen() {
    std::lock_guard guard(lock);
    return seen;
  }
  bool WaitFor(std::size_t count) {
    const auto limit = std::chrono::steady_clock::now() + 5s;
    while (Seen().size() < count) {
      if (std::chrono::steady_clock::now() > limit) {
        return false;
      }
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }
};

// Ends the watch on another thread, so that a watch that cannot end fails the test instead of
// hanging it: the stuck ending is then left behind.
bool EndsWithin(std::unique_ptr<HostLineWatch>& watch, std::chrono::seconds limit) {
  auto ending = std::make_unique<std::future<void>>(
      std::async(std::launch::async, [gone = std::move(watch)]() mutable { gone.reset(); }));
  if (ending->wait_for(limit) != std::future_status::ready) {
    (void)ending.release();
    return false;
  }
  return true;
}

TEST(HostLineWatch, EndingItInterruptsAWaitThatWouldNeverReturn) {
  for (int round = 0; round < 20; ++round) {  // the end may come before or inside the wait
    LinePipe line;
    Reports reports;
    auto watch = HostLineWatch::Start(line.Wait(), reports.Recorder());
    ASSERT_NE(watch, nullptr);
    if (round % 2 == 1) {
      std::this_thread::sleep_for(2ms);
    }
    ASSERT_TRUE(EndsWithin(watch, 5s)) << "round " << round;
    EXPECT_TRUE(reports.Seen().empty());
  }
}

TEST(HostLineWatch, ReportsEveryChangeAndRidesOutInterruptions) {
  LinePipe line;
  Reports reports;
  std::atomic<int> interruptions{2};
  const HostLineWatch::Wait pipeWait = line.Wait();
  auto watch = HostLineWatch::Start(
      [&] {
        if (interruptions.fetch_sub(1) > 0) {
          errno = EINTR;  // a stray signal: wait again, report nothing
          return -1;
        }
        return pipeWait();
      },
      reports.Recorder());
  ASSERT_NE(watch, nullptr);
  for (std::size_t changes = 1; changes <= 3; ++changes) {
    line.Change();
    ASSERT_TRUE(reports.WaitFor(changes));
  }
  EXPECT_EQ(reports.Seen(), std::vector<Outcome>(3, Outcome::Changed));
  ASSERT_TRUE(EndsWithin(watch, 5s));
}

TEST(HostLineWatch, ADriverWithoutTheWaitIsReportedOnceAndTheWatchEnds) {
  testing::Pty pty;  // ptys have no modem lines to wait for
  const int fd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  Reports reports;
  auto watch = HostLineWatch::Start(HostLineWatch::ModemLinesOf(fd), reports.Recorder());
  ASSERT_NE(watch, nullptr);
  ASSERT_TRUE(reports.WaitFor(1));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(reports.Seen(), std::vector<Outcome>{Outcome::Unsupported});
  ASSERT_TRUE(EndsWithin(watch, 5s));
  close(fd);
}

TEST(HostLineWatch, AFailingWaitEndsTheWatch) {
  Reports reports;
  auto watch = HostLineWatch::Start(
      [] {
        errno = EIO;  // the adapter was pulled out
        return -1;
      },
      reports.Recorder());
  ASSERT_NE(watch, nullptr);
  ASSERT_TRUE(reports.WaitFor(1));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(reports.Seen(), std::vector<Outcome>{Outcome::Failed});
  ASSERT_TRUE(EndsWithin(watch, 5s));
}

// A thread that holds a signal mask until told to end.
class MaskedThread {
 public:
  explicit MaskedThread(const sigset_t& mask)
      : thread_([this, mask] {
          pthread_sigmask(SIG_SETMASK, &mask, nullptr);
          ready_.set_value();
          end_.get_future().wait();
        }) {
    ready_.get_future().wait();
  }
  ~MaskedThread() {
    end_.set_value();
    thread_.join();
  }
  MaskedThread(const MaskedThread&) = delete;
  MaskedThread& operator=(const MaskedThread&) = delete;

 private:
  std::promise<void> ready_;
  std::promise<void> end_;
  std::thread thread_;
};

// The signal that ends the wait is taken only when no other part of the process uses it: not
// when it has a handler of its own, nor while a thread blocks it (to read it with sigwaitinfo or
// a signalfd). A helper thread that blocks every signal does not count.
TEST(HostLineWatch, TakesItsSignalOnlyWhenNothingElseHandlesOrBlocksIt) {
  LinePipe line;
  Reports reports;
  const int signal = SIGRTMIN + 5;
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  {
    const MaskedThread reader(only);
    EXPECT_EQ(HostLineWatch::Start(line.Wait(), reports.Recorder()), nullptr);
  }
  sigset_t every;
  sigfillset(&every);
  {
    const MaskedThread helper(every);
    auto watch = HostLineWatch::Start(line.Wait(), reports.Recorder());
    ASSERT_NE(watch, nullptr);
    ASSERT_TRUE(EndsWithin(watch, 5s));
  }
  struct sigaction ours {};
  struct sigaction theirs {};
  theirs.sa_handler = [](int) {};
  sigemptyset(&theirs.sa_mask);
  ASSERT_EQ(sigaction(signal, &theirs, &ours), 0);
  EXPECT_EQ(HostLineWatch::Start(line.Wait(), reports.Recorder()), nullptr);
  ASSERT_EQ(sigaction(signal, &ours, nullptr), 0);
  EXPECT_NE(HostLineWatch::Start(line.Wait(), reports.Recorder()), nullptr);
}

// A driver whose wait a signal does not end: ending the watch takes a bounded time, leaves the
// thread behind and says so; the thread reports nothing more once its wait returns.
TEST(HostLineWatch, AWaitThatNoSignalEndsIsLeftBehindWithinItsLimit) {
  auto entered = std::make_shared<std::promise<void>>();
  auto release = std::make_shared<std::promise<void>>();
  auto returned = std::make_shared<std::promise<void>>();
  Reports reports;
  auto watch = HostLineWatch::Start(
      [entered, gate = release->get_future().share(), returned] {
        entered->set_value();
        gate.wait();
        returned->set_value();
        return 0;
      },
      reports.Recorder());
  ASSERT_NE(watch, nullptr);
  entered->get_future().wait();  // an end that came before the wait would never call it
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(EndsWithin(watch, 5s));
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("left behind"), std::string::npos);
  release->set_value();
  returned->get_future().wait();
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(reports.Seen().empty());
}

}  // namespace
}  // namespace win::host
