// The dispatch of port events to the comm component's handlers, called on the main thread.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "serial/tests/CommFixture.h"

using namespace win;

namespace {

using CommEvents = CommFixture;

// Records which handler ran, in order.
struct Log {
  std::vector<std::string> names;
  TNotifyEvent Note(const char* name) {
    return [this, name](TSpCustomComm&) { names.emplace_back(name); };
  }
};

void HookAll(TSpCustomComm& comm, Log& log) {
  comm.OnRxFlag = log.Note("RxFlag");
  comm.OnCts = log.Note("Cts");
  comm.OnDsr = log.Note("Dsr");
  comm.OnRing = log.Note("Ring");
  comm.OnRlsd = log.Note("Rlsd");
  comm.OnTxEmpty = log.Note("TxEmpty");
  comm.OnBreak = log.Note("Break");
  comm.OnPErr = log.Note("PErr");
  comm.OnRx80Full = log.Note("Rx80Full");
  comm.OnEvent1 = log.Note("Event1");
  comm.OnEvent2 = log.Note("Event2");
  comm.OnError = [&log](TSpCustomComm&, DWORD) { log.names.emplace_back("Error"); };
  comm.OnRxChar = [&log](TSpCustomComm&, std::int32_t count) {
    log.names.push_back("RxChar " + std::to_string(count));
  };
}

TEST_F(CommEvents, HandleEventsRunsHandlersInItsFixedOrder) {
  TSpComm comm;
  Quiet(comm);
  comm.Open();
  Log log;
  HookAll(comm, log);
  comm.HandleEvents(0x1FFF);
  const std::vector<std::string> all = {"RxFlag", "Cts",  "Dsr",      "Ring",   "Rlsd",  "TxEmpty",
                                        "Break",  "PErr", "Rx80Full", "Event1", "Event2"};
  EXPECT_EQ(log.names, all);

  log.names.clear();
  comm.HandleEvents(EV_BREAK | EV_TXEMPTY | EV_RLSD | EV_RING | EV_DSR | EV_CTS);
  EXPECT_EQ(log.names,
            (std::vector<std::string>{"Cts", "Dsr", "Ring", "Rlsd", "TxEmpty", "Break"}));

  log.names.clear();
  comm.HandleEvents(EV_RXCHAR);  // received characters are not dispatched here
  comm.HandleEvents(0);
  EXPECT_TRUE(log.names.empty());
}

TEST_F(CommEvents, ErrorBitRaisesOnErrorOnlyWhenFlagsArePending) {
  TSpComm comm;
  Quiet(comm);
  comm.Open();
  Log log;
  HookAll(comm, log);
  comm.HandleEvents(EV_ERR);
  EXPECT_TRUE(log.names.empty());
  bench->RaiseLineError("COM3", CE_BREAK);
  ASSERT_TRUE(PumpUntil(
      [&] {
        log.names.clear();
        comm.HandleEvents(EV_ERR | EV_CTS);
        return log.names.size() == 2;
      },
      5000));
  EXPECT_EQ(log.names, (std::vector<std::string>{"Error", "Cts"}));
}

TEST_F(CommEvents, OnErrorExceptionIsReportedAndLaterBitsStillRun) {
  TSpComm comm;
  Quiet(comm);
  comm.Open();
  Log log;
  HookAll(comm, log);
  comm.OnError = [](TSpCustomComm&, DWORD) { throw std::runtime_error("bad line"); };
  bench->RaiseLineError("COM3", CE_FRAME);
  ASSERT_TRUE(PumpUntil(
      [&] {
        log.names.clear();
        comm.HandleEvents(EV_ERR | EV_DSR);
        return !reported.empty();
      },
      5000));
  EXPECT_EQ(reported, std::vector<std::string>{"bad line"});
  EXPECT_EQ(log.names, std::vector<std::string>{"Dsr"});
}

TEST_F(CommEvents, OtherHandlerExceptionEndsTheDispatchAtOnce) {
  TSpComm comm;
  Quiet(comm);
  comm.Open();
  Log log;
  HookAll(comm, log);
  comm.OnRing = [](TSpCustomComm&) { throw std::runtime_error("ring failed"); };
  try {
    comm.HandleEvents(EV_CTS | EV_RING | EV_RLSD | EV_EVENT2);
    FAIL() << "the handler's exception was swallowed";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "ring failed");
  }
  EXPECT_EQ(log.names, std::vector<std::string>{"Cts"});
  EXPECT_TRUE(reported.empty());
}

TEST_F(CommEvents, HandleRxCharReportsEveryQueuedByteOnceAndNothingWhenEmpty) {
  TSpComm comm;
  Quiet(comm);
  comm.SetBaudrate(br115200);
  comm.Open();
  Log log;
  HookAll(comm, log);
  comm.HandleRxChar();
  EXPECT_TRUE(log.names.empty());
  bench->SendFromDevice("COM3", "abcd");
  ASSERT_TRUE(PumpUntil([&] { return comm.InQueCount() == 4; }, 5000));
  comm.HandleRxChar();
  EXPECT_EQ(log.names, std::vector<std::string>{"RxChar 4"});
  // The component reads nothing itself.
  EXPECT_EQ(comm.InQueCount(), 4);
  comm.PurgeRead();
  comm.HandleRxChar();
  EXPECT_EQ(log.names.size(), 1u);
}

TEST_F(CommEvents, ReceivedByteReachesOnRxCharOnTheMainThread) {
  TSpComm comm;
  comm.SetDeviceName("COM3");
  comm.SetBaudrate(br115200);
  std::string received;
  comm.OnRxChar = [&](TSpCustomComm& sender, std::int32_t count) {
    EXPECT_TRUE(SpIsMainThread());
    for (std::int32_t i = 0; i < count; ++i) {
      char ch = 0;
      if (sender.ReadChar(ch)) {
        received += ch;
      }
    }
  };
  comm.Open();
  bench->SendFromDevice("COM3", "U");
  EXPECT_TRUE(PumpUntil([&] { return received == "U"; }, 5000));
}

// A display that records the components it was told about.
class RecordingDisplay : public TSpDisplay {
 public:
  using TSpDisplay::TSpDisplay;
  void DisplayCommEvent(TSpCustomComm& comm) override { shown.push_back(&comm); }
  std::vector<TSpCustomComm*> shown;
};

TEST_F(CommEvents, DisplayIsToldAndForgottenWhenItGoes) {
  TSpComm comm;
  comm.NotifyDisplay();  // no display: nothing
  {
    RecordingDisplay display;
    comm.SetDisplay(&display);
    comm.NotifyDisplay();
    EXPECT_EQ(display.shown, std::vector<TSpCustomComm*>{&comm});
  }
  EXPECT_EQ(comm.Display(), nullptr);
  comm.NotifyDisplay();

  // And a display outliving its component is not told about it any more.
  RecordingDisplay display;
  {
    TSpComm other;
    other.SetDisplay(&display);
  }
  RecordingDisplay second;
  comm.SetDisplay(&display);
  comm.SetDisplay(&second);
  comm.NotifyDisplay();
  EXPECT_TRUE(display.shown.empty());
  EXPECT_EQ(second.shown.size(), 1u);
}

}  // namespace
