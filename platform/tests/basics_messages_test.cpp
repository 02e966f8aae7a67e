// Message targets: sent messages run at once on the owner, posted ones wait in its queue, sends
// from other threads block until the owner has run them, and the device-change broadcast.

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/Additions.h"

using namespace win;

namespace {

constexpr UINT kPing = WM_USER + 1;

using Message = std::tuple<UINT, WPARAM, LPARAM>;

// A target whose queue the test drains by hand, on the thread that created it.
class QueueTarget : public MessageTarget {
 public:
  explicit QueueTarget(bool topLevel = true) : window(RegisterMessageTarget(this, topLevel)) {}
  ~QueueTarget() override { UnregisterMessageTarget(window); }
  QueueTarget(const QueueTarget&) = delete;
  QueueTarget& operator=(const QueueTarget&) = delete;

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    handled.emplace_back(message, wParam, lParam);
    handledOn = GetCurrentThreadId();
    return static_cast<LRESULT>(wParam) * 2;
  }

  void PostToQueue(UINT message, WPARAM wParam, LPARAM lParam) override {
    std::lock_guard lock(mutex_);
    queue_.emplace_back(message, wParam, lParam);
  }

  std::vector<Message> Queued() {
    std::lock_guard lock(mutex_);
    return queue_;
  }

  void Drain() {
    std::vector<Message> queued;
    {
      std::lock_guard lock(mutex_);
      queued.swap(queue_);
    }
    for (const auto& [message, wParam, lParam] : queued) {
      DeliverQueued(message, wParam, lParam);
    }
  }

  HWND window;
  std::vector<Message> handled;
  DWORD handledOn = 0;

 private:
  std::mutex mutex_;
  std::vector<Message> queue_;
};

TEST(BasicsMessages, SendRunsAtOncePostWaitsInTheQueue) {
  QueueTarget target;
  ASSERT_NE(target.window, nullptr);
  EXPECT_EQ(win::SendMessage(target.window, kPing, 21, 5), 42);
  ASSERT_EQ(target.handled.size(), 1u);
  EXPECT_EQ(target.handled[0], Message(kPing, 21, 5));

  EXPECT_TRUE(win::PostMessage(target.window, kPing, 3, 4));
  EXPECT_EQ(target.handled.size(), 1u);
  EXPECT_EQ(target.Queued(), std::vector<Message>{Message(kPing, 3, 4)});
  target.Drain();
  ASSERT_EQ(target.handled.size(), 2u);
  EXPECT_EQ(target.handled[1], Message(kPing, 3, 4));
}

TEST(BasicsMessages, UnknownWindowsFail) {
  HWND gone = nullptr;
  {
    QueueTarget target;
    gone = target.window;
  }
  for (HWND window : {HWND{nullptr}, gone}) {
    SetLastError(0);
    EXPECT_EQ(win::SendMessage(window, kPing, 1, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(win::PostMessage(window, kPing, 1, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  }
}

TEST(BasicsMessages, SendFromAnotherThreadBlocksUntilTheOwnerRunsIt) {
  QueueTarget target;
  std::atomic<bool> returned{false};
  LRESULT result = 0;
  std::thread sender([&] {
    result = win::SendMessage(target.window, kPing, 50, 7);
    returned = true;
  });
  while (target.Queued().empty()) {
    Sleep(1);
  }
  Sleep(30);
  EXPECT_FALSE(returned);
  EXPECT_TRUE(target.handled.empty());
  target.Drain();
  sender.join();
  EXPECT_EQ(result, 100);
  ASSERT_EQ(target.handled.size(), 1u);
  EXPECT_EQ(target.handled[0], Message(kPing, 50, 7));
  EXPECT_EQ(target.handledOn, GetCurrentThreadId());
}

TEST(BasicsMessages, UnregisteringReleasesAWaitingSender) {
  auto target = std::make_unique<QueueTarget>();
  std::atomic<bool> returned{false};
  DWORD error = 0;
  std::thread sender([&, window = target->window] {
    EXPECT_EQ(win::SendMessage(window, kPing, 50, 7), 0);
    error = GetLastError();
    returned = true;
  });
  while (target->Queued().empty()) {
    Sleep(1);
  }
  target.reset();
  sender.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(error, ERROR_INVALID_WINDOW_HANDLE);
}

TEST(BasicsMessages, BroadcastReachesTopLevelTargetsWithAStaticHeader) {
  QueueTarget first, second;
  QueueTarget child(false);
  BroadcastDeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT);
  BroadcastDeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT);
  BroadcastDeviceChange(DBT_DEVNODES_CHANGED, DBT_DEVTYP_VOLUME);
  EXPECT_TRUE(child.Queued().empty());
  const auto queued = first.Queued();
  ASSERT_EQ(queued.size(), 3u);
  EXPECT_EQ(second.Queued(), queued);
  EXPECT_EQ(std::get<0>(queued[0]), WM_DEVICECHANGE);
  EXPECT_EQ(std::get<1>(queued[0]), DBT_DEVICEARRIVAL);
  EXPECT_EQ(std::get<1>(queued[1]), DBT_DEVICEREMOVECOMPLETE);
  EXPECT_EQ(std::get<2>(queued[0]), std::get<2>(queued[1]));  // same storage for the same type
  const auto* port = reinterpret_cast<const DEV_BROADCAST_HDR*>(std::get<2>(queued[0]));
  const auto* volume = reinterpret_cast<const DEV_BROADCAST_HDR*>(std::get<2>(queued[2]));
  EXPECT_EQ(port->dbch_devicetype, DBT_DEVTYP_PORT);
  EXPECT_EQ(port->dbch_size, sizeof(DEV_BROADCAST_HDR));
  EXPECT_EQ(volume->dbch_devicetype, DBT_DEVTYP_VOLUME);
}

}  // namespace
