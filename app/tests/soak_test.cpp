// Long runs of the window: a hundred scans with devices pulled out at random steps of the probe,
// and a storm of device-change broadcasts while a scan runs, which brings one more scan. This
// program counts its allocations, so that a scan that leaves something behind shows.

#include <QTimer>
#include <atomic>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/PortList.h"
#include "app/tests/AppTestSupport.h"
#include "platform/KernelObject.h"
#include "testing/AllocationCounter.h"

namespace talvik_test {
namespace {

using win::bench::Echo;

constexpr const char* kCalls[] = {
    "CreateFileA",     "CloseHandle",        "GetCommState",      "SetCommState", "SetupComm",
    "GetCommTimeouts", "SetCommTimeouts",    "GetCommMask",       "SetCommMask",  "WaitCommEvent",
    "ReadFile",        "WriteFile",          "CancelIo",          "CancelIoEx",   "ClearCommError",
    "PurgeComm",       "EscapeCommFunction", "GetCommModemStatus"};

std::size_t ThreadCount() {
  const std::filesystem::path tasks("/proc/self/task");
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(tasks),
                                                std::filesystem::directory_iterator()));
}

using SoakTest = AppTest;

TEST_F(SoakTest, HundredScansWithPulledDevicesEndCleanlyAndLeaveNothingBehind) {
  constexpr int kScans = 100;
  const std::vector<std::string> ports{"COM1", "COM2", "COM3"};
  std::mt19937 random(20261209);
  // Before each scan the bench is laid anew (so that its own records of calls do not grow): each
  // port held or free, and half of them pulled out at a random call and count.
  const auto shuffle = [&] {
    Bench->Reset();
    for (const std::string& port : ports) {
      AddPort(port, EchoWiring(Echo::Always));
      win::bench::Faults faults;
      faults.held = random() % 2 == 0;
      if (random() % 2 == 0) {
        faults.pullOutAt =
            win::bench::PullOutAt{kCalls[random() % std::size(kCalls)], 1 + int(random() % 3)};
      }
      Bench->SetFaults(port, faults);
    }
    Boxes.clear();
  };
  shuffle();
  RecordReports = false;
  TForm1& form = CreateForm();
  // The echo is back within 20 ms; a late one only moves the probe to its second phase.
  form.Timer1().setInterval(100);

  // What each scan left when it finished, taken before anything else can run.
  struct ScanEnd {
    int rows;
    bool buttonBack;
    bool portClosed;
  };
  std::vector<ScanEnd> ends;
  ends.reserve(2 * kScans);
  QObject::connect(&form, &TForm1::ScanFinished, [&] {
    ends.push_back(
        {form.Frame21().RowCount(), form.ACheck().isEnabled(), !form.SpComm1().Active()});
  });
  // A device pulled out as the scan ends broadcasts its removal, which starts one more scan with
  // the devices still present; only the scans started here are checked for every row.
  const auto waitUntilIdle = [&] {
    do {
      ASSERT_TRUE(SpinUntil([&] { return !form.Scanning(); }));
      SpinFor(30);
    } while (form.Scanning());
  };

  long long allocationsAtTen = 0;
  std::size_t handlesAtTen = 0;
  std::size_t threadsAtTen = 0;
  for (int scan = 1; scan <= kScans; ++scan) {
    std::size_t mine = 0;
    if (scan > 1) {
      waitUntilIdle();
      shuffle();
      mine = ends.size();
      form.CheckButton().click();
    }
    ASSERT_TRUE(SpinUntil([&] { return ends.size() > mine; })) << "scan " << scan;
    EXPECT_EQ(ends[mine].rows, static_cast<int>(ports.size())) << "scan " << scan;
    EXPECT_TRUE(ends[mine].buttonBack) << "scan " << scan;
    EXPECT_TRUE(ends[mine].portClosed) << "scan " << scan;
    if (scan == 10) {
      waitUntilIdle();
      SpinFor(500);  // the threads of the last port end by themselves
      allocationsAtTen = talvik_count::LiveAllocations();
      handlesAtTen = win::OpenHandleCount();
      threadsAtTen = ThreadCount();
    }
  }
  waitUntilIdle();
  EXPECT_TRUE(SpinUntil([&] { return ThreadCount() <= threadsAtTen; }, 10000))
      << ThreadCount() << " threads, " << threadsAtTen << " after the tenth scan";
  EXPECT_LE(win::OpenHandleCount(), handlesAtTen);
  const long long growth = talvik_count::LiveAllocations() - allocationsAtTen;
  EXPECT_LE(growth, 0) << growth << " more blocks live than after the tenth scan";
}

TEST_F(SoakTest, StormOfBroadcastsDuringAScanBringsExactlyOneMoreScan) {
  AddPort("COM1", EchoWiring(Echo::Always));
  AddPort("COM2");
  AddHeldPort("COM3");
  AddPort("COM9");
  TForm1& form = CreateForm();
  int started = 0;
  bool scanning = false;
  bool startedInsideAScan = false;
  const std::function<void()> execute = form.ACheck().OnExecute;
  form.ACheck().OnExecute = [&] {
    startedInsideAScan = startedInsideAScan || scanning;
    scanning = true;
    ++started;
    execute();
  };
  QObject::connect(&form, &TForm1::ScanFinished, [&] { scanning = false; });
  ASSERT_TRUE(SpinUntil([&] { return form.Scanning(); }));

  // 1,000 arrivals and removals of COM9 from another thread; it ends present.
  std::atomic<bool> stormOver{false};
  std::thread storm([&] {
    for (int i = 0; i < 1000; ++i) {
      Bench->SetPresent("COM9", i % 2 != 0, true);
    }
    stormOver = true;
  });
  const bool over = SpinUntil([&] { return stormOver.load(); });
  storm.join();
  ASSERT_TRUE(over);
  // The storm (milliseconds) is over before the probe of COM2 (a second) has begun, so every
  // broadcast is handled while the first scan runs.
  ASSERT_TRUE(form.Scanning());
  ASSERT_LE(form.ProbeIndex(), 1);
  ASSERT_TRUE(WaitForScans(2));
  SpinFor(500);
  EXPECT_FALSE(form.Scanning());
  EXPECT_FALSE(startedInsideAScan);
  EXPECT_EQ(started, 2);
  EXPECT_EQ(ScansFinished, 2);
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[3].Port, Cell("COM9"));
}

}  // namespace
}  // namespace talvik_test
