#pragma once
// HostPort: an opened tty of this machine behind the comm functions: termios for the control
// block, ioctls for the modem lines, and one helper thread that waits (epoll) on the tty and a
// wake-up eventfd, moves received bytes into the port's input queue, and completes overlapped
// reads, writes and event waits as the Windows serial driver would. A thread that waits for a
// pending event wait or read of the port drives it itself (WaitDriver): it polls the tty and
// completes the operation where it stands, so a received byte reaches it without a hop through
// the helper thread, which meanwhile leaves the tty's input alone. Once modem-line events are asked
// for, a line watch waits for their changes (TIOCMIWAIT), and the helper thread looks at the line
// counters every 250 ms as a backstop; where the driver has no such wait, it looks at the lines
// every 10 ms while an event wait is pending.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/CommDriverRules.h"
#include "platform/DeviceWorld.h"
#include "platform/host/HostErrno.h"
#include "platform/host/HostLineWatch.h"
#include "platform/host/HostPortClaim.h"

namespace win::host {

class HostPort : public CommFile, public WaitDriver, public std::enable_shared_from_this<HostPort> {
 public:
  // Takes over `fd`, a tty opened non-blocking that we hold exclusively, and what else we hold
  // with it (`claim`: our lock file, our part in the open watch), which goes after the close.
  static std::shared_ptr<HostPort> Create(int fd, std::string node, bool overlapped,
                                          std::unique_ptr<HostPortClaim> claim);
  ~HostPort() override;
  HostPort(const HostPort&) = delete;
  HostPort& operator=(const HostPort&) = delete;

  const std::string& Node() const { return node_; }
  // The device went away (hang-up, I/O error): every later call fails.
  bool Vanished() const;

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

  bool Drive(DWORD milliseconds) override;
  void Interrupt() override;

 private:
  using Clock = std::chrono::steady_clock;

  // One pending overlapped operation. Its buffer and OVERLAPPED are touched only under mutex_
  // and never again once it has been completed.
  struct Op {
    OVERLAPPED* overlapped = nullptr;
    DWORD thread = 0;
    BYTE* in = nullptr;
    const BYTE* out = nullptr;
    DWORD count = 0;
    DWORD done = 0;
    DWORD* mask = nullptr;
    std::optional<Clock::time_point> deadline;
    Clock::time_point lastByte{};
    bool firstByteEnds = false;
  };

  // The line counters the driver keeps (TIOCGICOUNT), as far as they matter here.
  struct Counters {
    int frame = 0;
    int overrun = 0;
    int parity = 0;
    int brk = 0;
    int bufOverrun = 0;
    int cts = 0;  // transitions of the modem lines: pulses too short to be seen by looking
    int dsr = 0;
    int dcd = 0;
    int rng = 0;
  };

  HostPort(int fd, std::string node, bool overlapped, std::unique_ptr<HostPortClaim> claim);

  BOOL StartWait(DWORD* mask, OVERLAPPED* overlapped);
  BOOL StartRead(void* buffer, DWORD toRead, DWORD* read, OVERLAPPED* overlapped);
  BOOL StartWrite(const void* buffer, DWORD toWrite, DWORD* written, OVERLAPPED* overlapped);
  template <class Issue>
  BOOL Synchronously(DWORD* transferred, Issue issue);

  // Everything below runs with mutex_ held.
  bool UsableLocked();
  void PullInputLocked();
  void ServeReadsLocked(Clock::time_point now);
  void ServeWritesLocked();
  void ExpireLocked(Clock::time_point now);
  void NoteEventsLocked(DWORD events);
  bool ReadLinesLocked() const;
  void RefreshLineStateLocked(bool readLines);
  std::optional<std::chrono::milliseconds> LookIntervalLocked() const;
  int PollTimeoutLocked(Clock::time_point now) const;
  void VanishLocked();
  void CompleteWaitLocked(DWORD error, DWORD events);
  void AbortLocked(std::deque<Op>& ops);
  BOOL FailLocked(int errnoValue, ErrnoUse use);
  BOOL SetModemLineLocked(int line, bool on);

  void StartLineWatchLocked();
  void OnLineWatch(HostLineWatch::Outcome outcome);
  void TtyReadyLocked(bool input, bool hangUp);
  void UpdateInterestLocked();
  void AttachDriverLocked(OVERLAPPED* overlapped);
  void Wake();
  void Run();
  void ReleaseTty();

  const std::string node_;
  const bool overlapped_;
  int fd_ = -1;
  std::unique_ptr<HostPortClaim> claim_;
  int wake_ = -1;       // wakes the helper thread
  int driveWake_ = -1;  // interrupts a waiting thread's drive
  int epoll_ = -1;      // the helper thread's wait: wake_ and the tty
  int exitHook_ = -1;
  std::thread thread_;

  mutable std::mutex mutex_;
  bool closed_ = false;
  bool vanished_ = false;
  bool stop_ = false;
  bool driving_ = false;  // a waiting thread polls the tty (at most one at a time)
  std::condition_variable driveDone_;
  bool ttyWatched_ = false;     // the tty is in the helper thread's epoll set
  std::uint32_t interest_ = 0;  // what the helper thread waits for on the tty
  DCB dcb_{};
  bool dcbSet_ = false;
  COMMTIMEOUTS timeouts_{};
  rules::CommEvents events_;
  rules::CommErrors errors_;
  std::deque<BYTE> input_;
  std::size_t inputCapacity_ = 4096;
  std::deque<Op> reads_;
  std::deque<Op> writes_;
  std::optional<Op> wait_;
  bool txPending_ = false;  // bytes went out since the last transmit-empty event
  bool modemLines_ = true;  // the driver has modem lines (ptys do not)
  int modem_ = 0;
  bool modemKnown_ = false;  // modem_ is where the lines stood at the last look
  bool counting_ = true;     // the driver keeps line counters
  Counters counters_;
  Clock::time_point lastLook_{};
  std::unique_ptr<HostLineWatch> lineWatch_;
  bool lineWatchTried_ = false;
  bool lineWatchActive_ = false;  // modem-line changes need no looking
};

}  // namespace win::host
