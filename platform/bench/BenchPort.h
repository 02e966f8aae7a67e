#pragma once
// BenchPort: one opened bench port: a serial line in real time at the configured control block,
// with its input and output queues, modem lines, event waits and overlapped operations.
//
// Public CommFile calls take the device's lock; the ...Locked members expect the caller (the
// world) to hold it. Completions happen under that lock, exactly once, and only set events.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/CommDriverRules.h"
#include "platform/bench/BenchClock.h"
#include "platform/bench/BenchDevice.h"

namespace win::bench {

class BenchPort final : public CommFile, public std::enable_shared_from_this<BenchPort> {
 public:
  // Use Open: a port is owned by shared pointers and known to the thread-exit cancellation.
  BenchPort(std::shared_ptr<BenchDevice> device, std::shared_ptr<BenchClock> clock,
            bool overlapped);
  ~BenchPort() override;
  BenchPort(const BenchPort&) = delete;
  BenchPort& operator=(const BenchPort&) = delete;

  // Sets up the process-wide list of open ports and its thread-exit hook. Called before any
  // world lock is taken, so that registering the hook never nests inside one.
  static void PrepareRegistry();
  static std::shared_ptr<BenchPort> Open(std::shared_ptr<BenchDevice> device,
                                         std::shared_ptr<BenchClock> clock, bool overlapped);

  BOOL GetCommState(DCB& dcb) override;
  BOOL SetCommState(const DCB& dcb) override;
  BOOL SetupComm(DWORD inQueue, DWORD outQueue) override;
  BOOL GetCommTimeouts(COMMTIMEOUTS& timeouts) override;
  BOOL SetCommTimeouts(const COMMTIMEOUTS& timeouts) override;
  BOOL GetCommMask(DWORD& mask) override;
  BOOL SetCommMask(DWORD mask) override;
  BOOL WaitCommEvent(DWORD* mask, OVERLAPPED* overlapped) override;
  BOOL ReadFile(void* buffer, DWORD toRead, DWORD* read, OVERLAPPED* overlapped) override;
  BOOL WriteFile(const void* buffer, DWORD toWrite, DWORD* written,
                 OVERLAPPED* overlapped) override;
  BOOL CancelIo(OVERLAPPED* overlapped, DWORD threadId) override;
  BOOL ClearCommError(DWORD* errors, COMSTAT* status) override;
  BOOL PurgeComm(DWORD flags) override;
  BOOL EscapeCommFunction(DWORD function) override;
  BOOL GetCommModemStatus(DWORD& status) override;
  void OnClose() override;

  // The device vanished (pulled out, or the bench was reset): pending operations end with
  // ERROR_OPERATION_ABORTED and every later call fails with ERROR_BAD_COMMAND.
  void VanishLocked();
  // The device side transmits; each byte arrives at the end of its wire time.
  void SendLocked(const std::string& bytes);
  void LineErrorLocked(DWORD ceFlags);
  void BreakLocked();
  // The wiring changed: modem inputs are judged again (raising their events).
  void WiringChangedLocked(const Wiring& previous);
  // Ends what the thread left pending (every live port, when any thread ends).
  void CancelThreadLocked(DWORD threadId);
  static void CancelThread(DWORD threadId);
  std::chrono::nanoseconds CharTimeLocked() const { return CharTime(dcb_); }
  // Wire time of one character: start bit, data bits, parity bit, stop bits at the baud rate.
  static std::chrono::nanoseconds CharTime(const DCB& dcb);
  // The control block of a freshly opened port: 9600 baud, 8N1, DTR and RTS disabled.
  static DCB DefaultDcb();

  // Pulls the device out: no longer present, its open file vanishes. False when it was absent.
  static bool PullOutLocked(BenchDevice& device);

 private:
  enum class OpKind : std::uint8_t { Read, Write, Wait };
  // The result of a blocking call, for a handle opened without FILE_FLAG_OVERLAPPED.
  struct SyncResult {
    bool done = false;
    DWORD error = 0;
    DWORD count = 0;
  };
  struct Op {
    std::uint64_t id = 0;
    OpKind kind = OpKind::Read;
    OVERLAPPED* overlapped = nullptr;
    std::shared_ptr<SyncResult> sync;
    DWORD threadId = 0;
    BYTE* buffer = nullptr;      // read: the caller's buffer
    DWORD wanted = 0;            // read: bytes asked for
    std::vector<BYTE> bytes;     // read: collected so far; write: the bytes to send
    DWORD sent = 0;              // write: bytes that have left
    bool returnOnFirst = false;  // read: ends with the first byte (MAXDWORD interval rule)
    BenchClock::TimePoint lastByte{};
    bool active = false;    // read: the first in line, collecting bytes
    DWORD* mask = nullptr;  // wait: where the events go
    DWORD events = 0;       // wait: what it reports
  };

  // Takes the lock and records the call. False (lock released, last error set) when the port
  // can no longer be used; a pull-out fault at this call fires here.
  bool Enter(const char* name, std::unique_lock<std::mutex>& lock);
  // Leaves an operation under way: ERROR_IO_PENDING on an overlapped handle, otherwise waits
  // (releasing the lock meanwhile) until it has completed.
  BOOL PendLocked(std::unique_lock<std::mutex>& lock, const std::shared_ptr<SyncResult>& sync,
                  DWORD* count);
  std::shared_ptr<SyncResult> NewOpLocked(Op& op, OpKind kind, OVERLAPPED* overlapped);
  void CompleteLocked(Op& op, DWORD error, DWORD count);
  // Ends the pending operations that `match` selects: reads and writes with
  // ERROR_OPERATION_ABORTED, the event wait with mask 0 and `waitError`. Returns how many.
  template <class Match>
  int CancelLocked(Match match, DWORD waitError);

  struct Inputs {
    bool cts = false;
    bool dsr = false;
    bool rlsd = false;
  };
  Inputs InputsOf(const Wiring& wiring) const;
  void SetOutputsLocked(std::optional<bool> dtr, std::optional<bool> rts);
  void InputsChangedLocked(const Inputs& before);
  void EventLocked(DWORD events);
  bool AbortOnErrorLocked() const;

  bool TransmitHeldLocked() const;
  void StartTransmitLocked(bool continuing);
  void OnCharacterLeft(std::uint64_t generation, BenchClock::TimePoint end);
  void ReplyLocked(BYTE byte, BenchClock::TimePoint end);
  void DeviceSendLocked(const std::string& bytes, BenchClock::TimePoint earliest);
  void ArriveLocked(BYTE byte, BenchClock::TimePoint at);
  void OnArrival(BYTE byte, BenchClock::TimePoint at);
  void OnWriteTimeout(std::uint64_t id);

  // Starts the first queued read: takes what is waiting and arms its time limits. Completes
  // reads that are satisfied at once and goes on with the next.
  void ServeReadsLocked();
  bool ActivateReadLocked(Op& op);
  void OnReadTimer(std::uint64_t id, bool interval);
  void ArmIntervalLocked(const Op& op);
  void CompleteFirstReadLocked(DWORD error);

  template <class Function>
  void At(BenchClock::TimePoint time, Function function);

  std::shared_ptr<BenchDevice> device_;
  std::shared_ptr<BenchClock> clock_;
  const bool overlapped_;

  bool closed_ = false;
  bool gone_ = false;
  DCB dcb_{};
  COMMTIMEOUTS timeouts_{};
  DWORD inQueueSize_ = 0;
  rules::CommEvents events_;
  rules::CommErrors errors_;
  bool dtr_ = false;
  bool rts_ = false;
  bool break_ = false;

  std::deque<BYTE> input_;
  std::deque<Op> reads_;
  std::deque<Op> writes_;
  std::optional<Op> wait_;
  std::uint64_t nextOp_ = 0;
  std::condition_variable syncDone_;

  bool transmitting_ = false;
  std::uint64_t txGeneration_ = 0;  // stale character timers are ignored
  BenchClock::TimePoint lastCharEnd_{};
  BenchClock::TimePoint deviceFree_{};  // when the device's own transmitter is free
};

}  // namespace win::bench
