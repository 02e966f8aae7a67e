#include "platform/host/HostPort.h"

#include <linux/serial.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <system_error>
#include <utility>

#include "platform/host/HostErrno.h"
#include "platform/host/HostTermios.h"

namespace win::host {
using namespace win;

namespace {

constexpr DWORD kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
constexpr DWORD kLineEvents = EV_ERR | EV_BREAK;
constexpr std::chrono::milliseconds kTick(10);  // modem lines and line counters are polled
// While the line watch runs: a change between two of its waits is caught within this time.
constexpr std::chrono::milliseconds kBackstop(250);
constexpr std::size_t kMinInputQueue = 4096;

DWORD ModemStatusBits(int lines) {
  DWORD status = 0;
  status |= (lines & TIOCM_CTS) != 0 ? MS_CTS_ON : 0;
  status |= (lines & TIOCM_DSR) != 0 ? MS_DSR_ON : 0;
  status |= (lines & TIOCM_RNG) != 0 ? MS_RING_ON : 0;
  status |= (lines & TIOCM_CAR) != 0 ? MS_RLSD_ON : 0;
  return status;
}

char ParityLetter(BYTE parity) {
  static constexpr char kLetters[] = {'N', 'O', 'E', 'M', 'S'};
  return kLetters[parity];
}

// Settings a Linux tty cannot honour: DSR flow and sensitivity, DTR handshake, RTS toggle,
// error-char replacement of parity errors.
bool TtyCanHonour(const DCB& dcb) {
  return dcb.fOutxDsrFlow == 0 && dcb.fDsrSensitivity == 0 &&
         dcb.fDtrControl != DTR_CONTROL_HANDSHAKE && dcb.fRtsControl != RTS_CONTROL_TOGGLE &&
         !(dcb.fErrorChar != 0 && dcb.fParity != 0);
}

}  // namespace

std::shared_ptr<HostPort> HostPort::Create(int fd, std::string node, bool overlapped,
                                           std::unique_ptr<HostPortClaim> claim) {
  std::shared_ptr<HostPort> port(new HostPort(fd, std::move(node), overlapped, std::move(claim)));
  std::weak_ptr<HostPort> weak = port;
  // What a thread leaves pending when it ends is cancelled before its storage goes away.
  port->exitHook_ = AddThreadExitHook([weak](DWORD threadId) {
    if (auto self = weak.lock()) {
      self->CancelIo(nullptr, threadId);
    }
  });
  port->thread_ = std::thread([raw = port.get()] { raw->Run(); });
  return port;
}

HostPort::HostPort(int fd, std::string node, bool overlapped, std::unique_ptr<HostPortClaim> claim)
    : node_(std::move(node)), overlapped_(overlapped), fd_(fd), claim_(std::move(claim)) {
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  driveWake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  epoll_event wake{};
  wake.events = EPOLLIN;
  wake.data.fd = wake_;
  epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &wake);
  epoll_event tty{};
  tty.data.fd = fd_;
  ttyWatched_ = epoll_ctl(epoll_, EPOLL_CTL_ADD, fd_, &tty) == 0;
  // Raw mode at the tty's present speed and framing: a fresh tty echoes and edits lines.
  LineSettings line;
  if (ReadLineSettings(fd_, line) == 0) {
    ApplyLineSettings(fd_, line);
  }
  modemLines_ = ioctl(fd_, TIOCMGET, &modem_) == 0;
  modemKnown_ = modemLines_;
  serial_icounter_struct counts{};
  counting_ = ioctl(fd_, TIOCGICOUNT, &counts) == 0;
  counters_ = {counts.frame, counts.overrun, counts.parity, counts.brk, counts.buf_overrun,
               counts.cts,   counts.dsr,     counts.dcd,    counts.rng};
}

HostPort::~HostPort() {
  std::unique_ptr<HostLineWatch> lineWatch;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    AbortLocked(reads_);
    AbortLocked(writes_);
    if (wait_) {
      CompleteWaitLocked(NO_ERROR, 0);
    }
    lineWatch = std::move(lineWatch_);
  }
  lineWatch.reset();  // its last report may still be waiting for the lock
  Wake();
  if (thread_.joinable()) {
    thread_.join();
  }
  for (const int fd : {wake_, driveWake_, epoll_}) {
    if (fd >= 0) {
      close(fd);
    }
  }
  ReleaseTty();
}

void HostPort::OnClose() {
  std::unique_ptr<HostLineWatch> lineWatch;
  {
    std::lock_guard lock(mutex_);
    if (closed_) {
      return;
    }
    closed_ = true;
    stop_ = true;
    AbortLocked(reads_);
    AbortLocked(writes_);
    if (wait_) {
      CompleteWaitLocked(NO_ERROR, 0);
    }
    lineWatch = std::move(lineWatch_);
  }
  lineWatch.reset();
  Wake();
  if (thread_.joinable()) {
    thread_.join();
  }
  RemoveThreadExitHook(exitHook_);
  std::unique_lock lock(mutex_);
  Interrupt();
  driveDone_.wait(lock, [this] { return !driving_; });  // no waiter polls the tty any more
  ReleaseTty();
}

// Ends our exclusive open and, with the close, our flock. What is still to be sent is dropped,
// as Windows drops it: a close would otherwise wait up to 30 s for output that cannot drain
// (hardware handshake with CTS low).
void HostPort::ReleaseTty() {
  if (fd_ >= 0) {
    tcflush(fd_, TCOFLUSH);
    ioctl(fd_, TIOCNXCL);
    claim_->BeforeClose();
    close(fd_);
    fd_ = -1;
    claim_.reset();  // our lock file goes once the port is no longer ours
  }
}

bool HostPort::Vanished() const {
  std::lock_guard lock(mutex_);
  return vanished_;
}

// ---------------------------------------------------------------------------------------------
// Settings

BOOL HostPort::GetCommState(DCB& dcb) {
  std::lock_guard lock(mutex_);
  if (!UsableLocked()) {
    return FALSE;
  }
  if (dcbSet_) {
    dcb = dcb_;
    return TRUE;
  }
  LineSettings line;
  if (const int error = ReadLineSettings(fd_, line); error != 0) {
    return FailLocked(error, ErrnoUse::Port);
  }
  dcb = DCB{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = line.baud;
  dcb.fBinary = 1;
  dcb.fOutxCtsFlow = line.rtsCts ? 1 : 0;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;  // the tty raised DTR and RTS when we opened it
  dcb.fRtsControl = line.rtsCts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  dcb.fOutX = line.xonOut ? 1 : 0;
  dcb.fInX = line.xonIn ? 1 : 0;
  dcb.ByteSize = static_cast<BYTE>(line.dataBits);
  static constexpr char kLetters[] = "NOEMS";
  dcb.Parity = static_cast<BYTE>(std::find(kLetters, kLetters + 5, line.parity) - kLetters);
  dcb.StopBits = !line.twoStop ? ONESTOPBIT : (line.dataBits == 5 ? ONE5STOPBITS : TWOSTOPBITS);
  dcb.XonChar = line.xonChar;
  dcb.XoffChar = line.xoffChar;
  return TRUE;
}

BOOL HostPort::SetCommState(const DCB& dcb) {
  std::lock_guard lock(mutex_);
  if (!UsableLocked()) {
    return FALSE;
  }
  if (!rules::ValidControlBlock(dcb) || !TtyCanHonour(dcb)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  LineSettings line;
  line.baud = dcb.BaudRate;
  line.dataBits = dcb.ByteSize;
  line.parity = ParityLetter(dcb.Parity);
  line.twoStop = dcb.StopBits != ONESTOPBIT;
  line.rtsCts = dcb.fOutxCtsFlow != 0 || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
  line.xonOut = dcb.fOutX != 0;
  line.xonIn = dcb.fInX != 0;
  line.xonChar = dcb.XonChar;
  line.xoffChar = dcb.XoffChar;
  if (const int error = ApplyLineSettings(fd_, line); error != 0) {
    return FailLocked(error, ErrnoUse::LineSetting);
  }
  // Linux raised DTR and RTS at open; the block says where they stay. A driver without modem
  // lines has nothing to set.
  if (modemLines_) {
    SetModemLineLocked(TIOCM_DTR, dcb.fDtrControl == DTR_CONTROL_ENABLE);
    if (dcb.fRtsControl != RTS_CONTROL_HANDSHAKE) {
      SetModemLineLocked(TIOCM_RTS, dcb.fRtsControl == RTS_CONTROL_ENABLE);
    }
    if (vanished_) {
      SetLastError(rules::kGonePortError);
      return FALSE;
    }
  }
  dcb_ = dcb;
  dcb_.DCBlength = sizeof(DCB);
  dcbSet_ = true;
  return TRUE;
}

BOOL HostPort::SetupComm(DWORD inQueue, DWORD /*outQueue*/) {
  std::lock_guard lock(mutex_);
  if (!UsableLocked()) {
    return FALSE;
  }
  inputCapacity_ = std::max<std::size_t>(inQueue, kMinInputQueue);
  return TRUE;
}

BOOL HostPort::GetCommTimeouts(COMMTIMEOUTS& timeouts) {
  std::lock_guard lock(mutex_);
  if (!UsableLocked()) {
    return FALSE;
  }
  timeouts = timeouts_;
  return TRUE;
}

BOOL HostPort::SetCommTimeouts(const COMMTIMEOUTS& timeouts) {
  std::lock_guard lock(mutex_);
  if (!UsableLocked()) {
    return FALSE;
  }
  if (!rules::ValidTimeouts(timeouts)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  timeouts_ = timeouts;
  return TRUE;
}

BOOL HostPort::GetCommMask(DWORD& mask) {
  std::lock_guard lock(mutex_);
  if (!UsableLocked()) {
    return FALSE;
  }
  mask = events_.Mask();
  return TRUE;
}

BOOL HostPort::SetCommMask(DWORD mask) {
  {
    std::lock_guard lock(mutex_);
    if (!UsableLocked()) {
      return FALSE;
    }
    // What arrived or changed before the new mask is not reported under it.
    PullInputLocked();
    RefreshLineStateLocked(ReadLinesLocked());
    events_.SetMask(mask);
    if ((mask & kModemEvents) != 0) {
      StartLineWatchLocked();
    }
    if (ReadLinesLocked() && !modemKnown_) {
      RefreshLineStateLocked(true);  // where the lines stand now, for the looks to come
    }
    if (wait_) {
      CompleteWaitLocked(NO_ERROR, 0);
    }
  }
  Wake();
  return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Overlapped calls

template <class Issue>
BOOL HostPort::Synchronously(DWORD* transferred, Issue issue) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (overlapped.hEvent == nullptr) {
    return FALSE;
  }
  DWORD count = 0;
  BOOL ok = issue(&count, &overlapped);
  DWORD error = ok ? NO_ERROR : GetLastError();
  if (!ok && error == ERROR_IO_PENDING) {
    WaitForSingleObject(overlapped.hEvent, INFINITE);
    error =
        static_cast<DWORD>(std::atomic_ref(overlapped.Internal).load(std::memory_order_acquire));
    count = static_cast<DWORD>(overlapped.InternalHigh);
    ok = error == NO_ERROR ? TRUE : FALSE;
  }
  CloseHandle(overlapped.hEvent);
  if (transferred != nullptr) {
    *transferred = count;
  }
  SetLastError(error);
  return ok;
}

BOOL HostPort::WaitCommEvent(DWORD* mask, OVERLAPPED* overlapped) {
  if (overlapped_ && overlapped != nullptr) {
    return StartWait(mask, overlapped);
  }
  return Synchronously(nullptr, [&](DWORD*, OVERLAPPED* local) { return StartWait(mask, local); });
}

BOOL HostPort::ReadFile(void* buffer, DWORD toRead, DWORD* read, OVERLAPPED* overlapped) {
  if (overlapped_ && overlapped != nullptr) {
    return StartRead(buffer, toRead, read, overlapped);
  }
  return Synchronously(read, [&](DWORD* count, OVERLAPPED* local) {
    return StartRead(buffer, toRead, count, local);
  });
}

BOOL HostPort::WriteFile(const void* buffer, DWORD toWrite, DWORD* written,
                         OVERLAPPED* overlapped) {
  if (overlapped_ && overlapped != nullptr) {
    return StartWrite(buffer, toWrite, written, overlapped);
  }
  return Synchronously(written, [&](DWORD* count, OVERLAPPED* local) {
    return StartWrite(buffer, toWrite, count, local);
  });
}

BOOL HostPort::StartWait(DWORD* mask, OVERLAPPED* overlapped) {
  bool tick = false;
  {
    std::lock_guard lock(mutex_);
    if (!UsableLocked()) {
      return FALSE;
    }
    if (const DWORD refusal = events_.RefuseWait(wait_.has_value()); refusal != NO_ERROR) {
      SetLastError(refusal);
      return FALSE;
    }
    StartOverlapped(overlapped);
    PullInputLocked();
    RefreshLineStateLocked(ReadLinesLocked());
    if (vanished_) {
      *mask = 0;
      CompleteOverlapped(overlapped, rules::kGonePortError, 0);
      SetLastError(rules::kGonePortError);
      return FALSE;
    }
    if (const DWORD events = events_.TakeForWait(); events != 0) {
      *mask = events;
      CompleteOverlapped(overlapped, NO_ERROR, sizeof(DWORD));
      return TRUE;
    }
    Op op;
    op.overlapped = overlapped;
    op.thread = GetCurrentThreadId();
    op.mask = mask;
    wait_ = op;
    lastLook_ = Clock::now();
    UpdateInterestLocked();
    AttachDriverLocked(overlapped);
    tick = LookIntervalLocked().has_value();
  }
  if (tick) {
    Wake();  // the helper thread keeps the time of the look at the lines
  }
  SetLastError(ERROR_IO_PENDING);
  return FALSE;
}

BOOL HostPort::StartRead(void* buffer, DWORD toRead, DWORD* read, OVERLAPPED* overlapped) {
  bool timed = false;
  {
    std::lock_guard lock(mutex_);
    if (!UsableLocked()) {
      return FALSE;
    }
    StartOverlapped(overlapped);
    PullInputLocked();
    const auto now = Clock::now();
    const rules::ReadPlan plan = rules::PlanRead(timeouts_, toRead);
    const bool wasFull = input_.size() >= inputCapacity_;
    timed = plan.total.has_value() || plan.interval.has_value();
    Op op;
    op.overlapped = overlapped;
    op.thread = GetCurrentThreadId();
    op.in = static_cast<BYTE*>(buffer);
    op.count = toRead;
    op.firstByteEnds = plan.firstByteEnds;
    if (reads_.empty()) {
      const DWORD take = static_cast<DWORD>(std::min<std::size_t>(toRead, input_.size()));
      std::copy_n(input_.begin(), take, op.in);
      input_.erase(input_.begin(), input_.begin() + take);
      op.done = take;
      op.lastByte = now;
      if (rules::ReadSatisfied(plan, toRead, take)) {
        if (read != nullptr) {
          *read = take;
        }
        CompleteOverlapped(overlapped, NO_ERROR, take);
        if (wasFull) {
          UpdateInterestLocked();  // the helper thread takes bytes from the tty again
        }
        return TRUE;
      }
    }
    if (vanished_) {
      CompleteOverlapped(overlapped, rules::kGonePortError, op.done);
      SetLastError(rules::kGonePortError);
      return FALSE;
    }
    if (plan.total) {
      op.deadline = now + *plan.total;
    }
    reads_.push_back(op);
    UpdateInterestLocked();
    AttachDriverLocked(overlapped);
  }
  if (timed) {
    Wake();  // the helper thread keeps the read's time
  }
  SetLastError(ERROR_IO_PENDING);
  return FALSE;
}

BOOL HostPort::StartWrite(const void* buffer, DWORD toWrite, DWORD* written,
                          OVERLAPPED* overlapped) {
  bool timed = false;
  {
    std::lock_guard lock(mutex_);
    if (!UsableLocked()) {
      return FALSE;
    }
    StartOverlapped(overlapped);
    Op op;
    op.overlapped = overlapped;
    op.thread = GetCurrentThreadId();
    op.out = static_cast<const BYTE*>(buffer);
    op.count = toWrite;
    if (const auto limit = rules::WriteLimit(timeouts_, toWrite)) {
      op.deadline = Clock::now() + *limit;
    }
    const bool first = writes_.empty();
    writes_.push_back(op);
    ServeWritesLocked();
    if (first && (writes_.empty() || writes_.front().overlapped != overlapped)) {
      // Done at once (or failed at once, which ServeWritesLocked reported through the record).
      const DWORD error =
          static_cast<DWORD>(std::atomic_ref(overlapped->Internal).load(std::memory_order_acquire));
      if (error != NO_ERROR) {
        SetLastError(error);
        return FALSE;
      }
      if (written != nullptr) {
        *written = toWrite;
      }
      if (wait_ && (events_.Mask() & EV_TXEMPTY) != 0) {
        Wake();  // the helper thread watches for the end of transmission
      }
      return TRUE;
    }
    UpdateInterestLocked();  // the helper thread writes the rest when the tty takes it
    timed = op.deadline.has_value();
  }
  if (timed) {
    Wake();
  }
  SetLastError(ERROR_IO_PENDING);
  return FALSE;
}

BOOL HostPort::CancelIo(OVERLAPPED* overlapped, DWORD threadId) {
  std::lock_guard lock(mutex_);
  const auto matches = [&](const Op& op) {
    return overlapped != nullptr ? op.overlapped == overlapped
                                 : threadId == 0 || op.thread == threadId;
  };
  bool found = false;
  for (auto* ops : {&reads_, &writes_}) {
    std::deque<Op> cancelled;
    std::erase_if(*ops, [&](Op& op) {
      if (!matches(op)) {
        return false;
      }
      cancelled.push_back(op);
      return true;
    });
    found = found || !cancelled.empty();
    AbortLocked(cancelled);
  }
  if (wait_ && matches(*wait_)) {
    found = true;
    CompleteWaitLocked(rules::kAbortedError, 0);
  }
  // CancelIo of the calling thread succeeds with nothing to cancel; CancelIoEx does not.
  if (!found && (overlapped != nullptr || threadId == 0)) {
    SetLastError(ERROR_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Status, purge, modem lines

BOOL HostPort::ClearCommError(DWORD* errors, COMSTAT* status) {
  std::lock_guard lock(mutex_);
  if (!UsableLocked()) {
    return FALSE;
  }
  PullInputLocked();
  RefreshLineStateLocked(ReadLinesLocked());
  if (vanished_) {
    SetLastError(rules::kGonePortError);
    return FALSE;
  }
  const DWORD flags = errors_.Take();
  if (errors != nullptr) {
    *errors = flags;
  }
  if (status != nullptr) {
    *status = COMSTAT{};
    int kernelIn = 0;
    int kernelOut = 0;
    ioctl(fd_, FIONREAD, &kernelIn);
    ioctl(fd_, TIOCOUTQ, &kernelOut);
    std::size_t out = static_cast<std::size_t>(std::max(kernelOut, 0));
    for (const auto& op : writes_) {
      out += op.count - op.done;
    }
    status->cbInQue =
        static_cast<DWORD>(input_.size() + static_cast<std::size_t>(std::max(kernelIn, 0)));
    status->cbOutQue = static_cast<DWORD>(out);
  }
  return TRUE;
}

BOOL HostPort::PurgeComm(DWORD flags) {
  std::lock_guard lock(mutex_);
  if (!UsableLocked()) {
    return FALSE;
  }
  const auto plan = rules::PlanPurge(flags);
  if (!plan) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (plan->abortWrites) {
    AbortLocked(writes_);
  }
  if (plan->abortReads) {
    AbortLocked(reads_);
  }
  if (plan->clearOutput) {
    tcflush(fd_, TCOFLUSH);
  }
  if (plan->clearInput) {
    input_.clear();
    tcflush(fd_, TCIFLUSH);
  }
  return TRUE;
}

BOOL HostPort::EscapeCommFunction(DWORD function) {
  std::lock_guard lock(mutex_);
  if (!UsableLocked()) {
    return FALSE;
  }
  const bool dtrHandshake = dcbSet_ && dcb_.fDtrControl == DTR_CONTROL_HANDSHAKE;
  const bool rtsHandshake = dcbSet_ && dcb_.fRtsControl == RTS_CONTROL_HANDSHAKE;
  int result = 0;
  switch (function) {
    case SETDTR:
    case CLRDTR:
      if (dtrHandshake) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
      }
      return SetModemLineLocked(TIOCM_DTR, function == SETDTR);
    case SETRTS:
    case CLRRTS:
      if (rtsHandshake) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
      }
      return SetModemLineLocked(TIOCM_RTS, function == SETRTS);
    case SETBREAK:
      result = ioctl(fd_, TIOCSBRK);
      break;
    case CLRBREAK:
      result = ioctl(fd_, TIOCCBRK);
      break;
    case SETXOFF:
      result = tcflow(fd_, TCOOFF);
      break;
    case SETXON:
      result = tcflow(fd_, TCOON);
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
  if (result != 0) {
    return FailLocked(errno, ErrnoUse::Port);
  }
  return TRUE;
}

BOOL HostPort::GetCommModemStatus(DWORD& status) {
  std::lock_guard lock(mutex_);
  if (!UsableLocked()) {
    return FALSE;
  }
  int lines = 0;
  if (ioctl(fd_, TIOCMGET, &lines) != 0) {
    return FailLocked(errno, ErrnoUse::Port);
  }
  status = ModemStatusBits(lines);
  return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Internals (mutex_ held)

bool HostPort::UsableLocked() {
  if (closed_) {
    SetLastError(rules::kClosedPortError);
    return false;
  }
  if (vanished_) {
    SetLastError(rules::kGonePortError);
    return false;
  }
  return true;
}

// A failed system call: its errno becomes the last error (with the errno beside it), and a
// device that went away makes the port vanish.
BOOL HostPort::FailLocked(int errnoValue, ErrnoUse use) {
  if (DeviceGone(errnoValue)) {
    VanishLocked();
  }
  FailWithErrno(errnoValue, use);
  return FALSE;
}

BOOL HostPort::SetModemLineLocked(int line, bool on) {
  if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line) != 0) {
    return FailLocked(errno, ErrnoUse::Port);
  }
  return TRUE;
}

void HostPort::PullInputLocked() {
  if (vanished_ || closed_) {
    return;
  }
  BYTE chunk[1024];
  DWORD events = 0;
  while (input_.size() < inputCapacity_) {
    const std::size_t room = std::min(sizeof chunk, inputCapacity_ - input_.size());
    const ssize_t n = read(fd_, chunk, room);
    if (n > 0) {
      for (ssize_t i = 0; i < n; ++i) {
        if (chunk[i] == 0 && dcbSet_ && dcb_.fNull != 0) {
          continue;
        }
        if (dcbSet_ && chunk[i] == static_cast<BYTE>(dcb_.EvtChar)) {
          events |= EV_RXFLAG;
        }
        input_.push_back(chunk[i]);
        events |= EV_RXCHAR;
      }
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n == 0 || DeviceGone(errno)) {
      VanishLocked();  // a hung-up tty reads as end of file, a pulled-out one as EIO
    }
    break;
  }
  if (events != 0) {
    ServeReadsLocked(Clock::now());
    NoteEventsLocked(events);
  }
}

void HostPort::ServeReadsLocked(Clock::time_point now) {
  while (!reads_.empty()) {
    Op& op = reads_.front();
    const DWORD take = static_cast<DWORD>(std::min<std::size_t>(op.count - op.done, input_.size()));
    if (take > 0) {
      std::copy_n(input_.begin(), take, op.in + op.done);
      input_.erase(input_.begin(), input_.begin() + take);
      op.done += take;
      op.lastByte = now;
    }
    if (op.done < op.count && !(op.firstByteEnds && op.done > 0)) {
      return;
    }
    CompleteOverlapped(op.overlapped, NO_ERROR, op.done);
    reads_.pop_front();
  }
}

void HostPort::ServeWritesLocked() {
  while (!writes_.empty() && !vanished_) {
    Op& op = writes_.front();
    if (op.done < op.count) {
      const ssize_t n = write(fd_, op.out + op.done, op.count - op.done);
      if (n < 0) {
        if (errno == EINTR) {
          continue;
        }
        if (errno == EAGAIN) {
          return;
        }
        if (DeviceGone(errno)) {
          VanishLocked();
          return;
        }
        CompleteOverlapped(op.overlapped, Win32ErrorOf(errno, ErrnoUse::Port), op.done);
        writes_.pop_front();
        continue;
      }
      op.done += static_cast<DWORD>(n);
      txPending_ = true;
      if (op.done < op.count) {
        continue;
      }
    }
    txPending_ = true;
    CompleteOverlapped(op.overlapped, NO_ERROR, op.done);
    writes_.pop_front();
  }
}

// Read and write time-outs: a read ends with what it has once its total time is up or, after
// its first byte, when the line has been quiet for the interval.
void HostPort::ExpireLocked(Clock::time_point now) {
  const auto interval = rules::PlanRead(timeouts_, 0).interval;
  for (auto it = reads_.begin(); it != reads_.end();) {
    const bool quiet =
        it == reads_.begin() && it->done > 0 && interval && now - it->lastByte >= *interval;
    if (quiet || (it->deadline && now >= *it->deadline)) {
      CompleteOverlapped(it->overlapped, NO_ERROR, it->done);
      it = reads_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = writes_.begin(); it != writes_.end();) {
    if (it->deadline && now >= *it->deadline) {
      CompleteOverlapped(it->overlapped, NO_ERROR, it->done);
      it = writes_.erase(it);
    } else {
      ++it;
    }
  }
}

void HostPort::NoteEventsLocked(DWORD events) {
  if (const DWORD seen = events_.Raise(events, wait_.has_value()); seen != 0) {
    CompleteWaitLocked(NO_ERROR, seen);
  }
}

// Whether a look reads the modem lines themselves (TIOCMGET, on USB adapters a control transfer
// each time): only while modem-line events are asked for and no line watch tells of their
// changes (or the driver keeps no line counters to tell which line changed).
bool HostPort::ReadLinesLocked() const {
  return (events_.Mask() & kModemEvents) != 0 && modemLines_ && (!lineWatchActive_ || !counting_);
}

// Modem-line changes, line errors and breaks, and the end of transmission, as seen since the
// last look. The line counters (TIOCGICOUNT, kept by the driver in memory) are always read; the
// lines themselves only when `readLines`.
void HostPort::RefreshLineStateLocked(bool readLines) {
  if (vanished_ || closed_) {
    return;
  }
  DWORD events = 0;
  if (readLines && modemLines_) {
    int lines = 0;
    if (ioctl(fd_, TIOCMGET, &lines) == 0) {
      // After looks that skipped the lines, this one only learns where they stand: the
      // counters told of the changes meanwhile.
      const int changed = modemKnown_ ? lines ^ modem_ : 0;
      modem_ = lines;
      modemKnown_ = true;
      events |= (changed & TIOCM_CTS) != 0 ? EV_CTS : 0;
      events |= (changed & TIOCM_DSR) != 0 ? EV_DSR : 0;
      events |= (changed & TIOCM_CAR) != 0 ? EV_RLSD : 0;
      events |= (lines & TIOCM_RNG) == 0 && (changed & TIOCM_RNG) != 0 ? EV_RING : 0;
    } else if (DeviceGone(errno)) {
      VanishLocked();
      return;
    }
  } else {
    modemKnown_ = false;
  }
  if (counting_) {
    serial_icounter_struct now{};
    if (ioctl(fd_, TIOCGICOUNT, &now) == 0) {
      if (modemLines_) {
        events |= now.cts != counters_.cts ? EV_CTS : 0;
        events |= now.dsr != counters_.dsr ? EV_DSR : 0;
        events |= now.dcd != counters_.dcd ? EV_RLSD : 0;
        events |= now.rng != counters_.rng ? EV_RING : 0;  // counted at the ring's end
      }
      DWORD flags = 0;
      flags |= now.frame != counters_.frame ? CE_FRAME : 0;
      flags |= now.overrun != counters_.overrun ? CE_OVERRUN : 0;
      flags |= now.parity != counters_.parity && dcbSet_ && dcb_.fParity != 0 ? CE_RXPARITY : 0;
      flags |= now.buf_overrun != counters_.bufOverrun ? CE_RXOVER : 0;
      flags |= now.brk != counters_.brk ? CE_BREAK : 0;
      counters_ = {now.frame, now.overrun, now.parity, now.brk, now.buf_overrun,
                   now.cts,   now.dsr,     now.dcd,    now.rng};
      events |= errors_.Add(flags);
    } else if (DeviceGone(errno)) {
      VanishLocked();
      return;
    }
  }
  if (txPending_ && writes_.empty()) {
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued == 0) {
      txPending_ = false;
      events |= EV_TXEMPTY;
    }
  }
  if (events != 0) {
    NoteEventsLocked(events);
  }
}

// How often the helper thread looks while an event wait is pending: every 10 ms for what only
// looking finds; every 250 ms while the line watch runs, for a change that came between two of
// its waits; not at all otherwise.
std::optional<std::chrono::milliseconds> HostPort::LookIntervalLocked() const {
  if (!wait_) {
    return std::nullopt;
  }
  const DWORD mask = events_.Mask();
  const bool modem = (mask & kModemEvents) != 0 && modemLines_;
  if ((modem && !lineWatchActive_) || ((mask & kLineEvents) != 0 && counting_) ||
      ((mask & EV_TXEMPTY) != 0 && txPending_)) {
    return kTick;
  }
  if (modem) {
    return kBackstop;
  }
  return std::nullopt;
}

int HostPort::PollTimeoutLocked(Clock::time_point now) const {
  std::optional<Clock::time_point> next;
  const auto consider = [&](Clock::time_point t) {
    if (!next || t < *next) {
      next = t;
    }
  };
  const auto interval = rules::PlanRead(timeouts_, 0).interval;
  if (!reads_.empty() && reads_.front().done > 0 && interval) {
    consider(reads_.front().lastByte + *interval);
  }
  for (const auto& op : reads_) {
    if (op.deadline) {
      consider(*op.deadline);
    }
  }
  for (const auto& op : writes_) {
    if (op.deadline) {
      consider(*op.deadline);
    }
  }
  if (const auto look = LookIntervalLocked()) {
    consider(lastLook_ + *look);
  }
  if (!next) {
    return -1;
  }
  if (*next <= now) {
    return 0;
  }
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*next - now).count();
  return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

void HostPort::VanishLocked() {
  if (vanished_) {
    return;
  }
  vanished_ = true;
  for (auto* ops : {&reads_, &writes_}) {
    for (const auto& op : *ops) {
      CompleteOverlapped(op.overlapped, rules::kAbortedError, op.done);
    }
    ops->clear();
  }
  if (wait_) {
    CompleteWaitLocked(rules::kAbortedError, 0);
  }
}

void HostPort::CompleteWaitLocked(DWORD error, DWORD events) {
  *wait_->mask = events;
  CompleteOverlapped(wait_->overlapped, error, error == NO_ERROR ? sizeof(DWORD) : 0);
  wait_.reset();
}

void HostPort::AbortLocked(std::deque<Op>& ops) {
  for (const auto& op : ops) {
    CompleteOverlapped(op.overlapped, rules::kAbortedError, op.done);
  }
  ops.clear();
}

// The first mask with modem-line events starts the line watch, on drivers with modem lines.
void HostPort::StartLineWatchLocked() {
  if (lineWatchTried_ || !modemLines_) {
    return;
  }
  lineWatchTried_ = true;
  try {
    lineWatch_ =
        HostLineWatch::Start(HostLineWatch::ModemLinesOf(fd_),
                             [this](HostLineWatch::Outcome outcome) { OnLineWatch(outcome); });
  } catch (const std::system_error&) {
    lineWatch_.reset();  // no thread to spare: the helper thread looks at the lines instead
  }
  lineWatchActive_ = lineWatch_ != nullptr;
}

// ---------------------------------------------------------------------------------------------
// The helper thread and the line watch

void HostPort::OnLineWatch(HostLineWatch::Outcome outcome) {
  {
    std::lock_guard lock(mutex_);
    if (stop_) {
      return;
    }
    if (outcome == HostLineWatch::Outcome::Changed) {
      RefreshLineStateLocked(ReadLinesLocked() || !counting_);
      return;
    }
    lineWatchActive_ = false;  // the helper thread looks at the lines from now on
    lastLook_ = Clock::now();
  }
  Wake();
}

void HostPort::Wake() {
  const std::uint64_t one = 1;
  (void)!write(wake_, &one, sizeof one);
}

void HostPort::Run() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    UpdateInterestLocked();
    const int timeout = PollTimeoutLocked(Clock::now());
    lock.unlock();
    epoll_event events[2];
    const int ready = epoll_wait(epoll_, events, 2, timeout);
    lock.lock();
    if (ready < 0 && errno != EINTR) {
      break;
    }
    std::uint32_t tty = 0;
    for (int i = 0; i < ready; ++i) {
      if (events[i].data.fd == wake_) {
        std::uint64_t count = 0;
        (void)!read(wake_, &count, sizeof count);
      } else {
        tty = events[i].events;
      }
    }
    if (stop_) {
      break;
    }
    if ((tty & EPOLLOUT) != 0 && !vanished_) {
      ServeWritesLocked();
    }
    TtyReadyLocked((tty & EPOLLIN) != 0, (tty & (EPOLLHUP | EPOLLERR)) != 0);
  }
}

void HostPort::TtyReadyLocked(bool input, bool hangUp) {
  if (!vanished_ && (input || hangUp)) {
    PullInputLocked();
    if (hangUp) {
      PullInputLocked();  // what arrived before the hang-up is still delivered
      VanishLocked();
    }
  }
  const auto now = Clock::now();
  ExpireLocked(now);
  if (const auto look = LookIntervalLocked(); look && now >= lastLook_ + *look) {
    RefreshLineStateLocked(ReadLinesLocked());
    lastLook_ = now;
  }
}

// The helper thread watches the tty for input while a read or an event wait is pending and no
// waiting thread drives it, and for room while writes wait. Input that arrives with nothing
// pending stays in the tty until the next call takes it in (and raises its events then).
// Changing the interest does not wake the helper thread.
void HostPort::UpdateInterestLocked() {
  if (!ttyWatched_) {
    return;
  }
  if (vanished_ || closed_) {
    epoll_ctl(epoll_, EPOLL_CTL_DEL, fd_, nullptr);  // a hung-up tty would report for ever
    ttyWatched_ = false;
    return;
  }
  constexpr std::uint32_t kIn = EPOLLIN;
  constexpr std::uint32_t kOut = EPOLLOUT;
  const std::uint32_t wanted =
      (!driving_ && (wait_ || !reads_.empty()) && input_.size() < inputCapacity_ ? kIn : 0) |
      (writes_.empty() ? 0 : kOut);
  if (wanted != interest_) {
    epoll_event tty{};
    tty.events = wanted;
    tty.data.fd = fd_;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, fd_, &tty);
    interest_ = wanted;
  }
}

void HostPort::AttachDriverLocked(OVERLAPPED* overlapped) {
  if (overlapped->hEvent != nullptr) {
    AttachWaitDriver(overlapped->hEvent, weak_from_this());
  }
}

// A thread about to wait for a pending wait or read of this port polls the tty itself and
// completes the operation where it stands, instead of sleeping until the helper thread has done
// it and set the event.
bool HostPort::Drive(DWORD milliseconds) {
  std::unique_lock lock(mutex_);
  if (driving_ || stop_ || vanished_ || closed_) {
    return false;
  }
  driving_ = true;
  UpdateInterestLocked();
  int timeout = PollTimeoutLocked(Clock::now());
  if (milliseconds != INFINITE) {
    const int limit = static_cast<int>(std::min<DWORD>(milliseconds, INT_MAX));
    timeout = timeout < 0 ? limit : std::min(timeout, limit);
  }
  // A full input queue takes nothing more until a read makes room.
  pollfd fds[2] = {{driveWake_, POLLIN, 0},
                   {fd_, static_cast<short>(input_.size() < inputCapacity_ ? POLLIN : 0), 0}};
  lock.unlock();
  const int ready = poll(fds, 2, timeout);
  lock.lock();
  if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
    std::uint64_t count = 0;
    (void)!read(driveWake_, &count, sizeof count);
  }
  if (!stop_) {
    TtyReadyLocked(ready > 0 && (fds[1].revents & POLLIN) != 0,
                   ready > 0 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0);
  }
  driving_ = false;
  UpdateInterestLocked();
  const bool helperKeepsTime = !stop_ && PollTimeoutLocked(Clock::now()) >= 0;
  lock.unlock();
  driveDone_.notify_all();
  if (helperKeepsTime) {
    Wake();  // time-outs and looks that the drive kept pass back to the helper thread
  }
  return true;
}

void HostPort::Interrupt() {
  const std::uint64_t one = 1;
  (void)!write(driveWake_, &one, sizeof one);
}

}  // namespace win::host
