#include "platform/bench/BenchPort.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

namespace win::bench {

using namespace win;
using std::chrono::milliseconds;

namespace {

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace

DCB BenchPort::DefaultDcb() {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = 9600;
  dcb.fBinary = 1;
  dcb.XonLim = 2048;
  dcb.XoffLim = 512;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return dcb;
}

namespace {

// Every live port, for the thread-exit cancellation. Ports outlive their world: the hook belongs
// to the process and is never removed.
struct PortRegistry {
  std::mutex mutex;
  std::map<const BenchPort*, std::weak_ptr<BenchPort>> ports;
};

PortRegistry& Registry() {
  static PortRegistry* const registry = [] {
    AddThreadExitHook([](DWORD threadId) { BenchPort::CancelThread(threadId); });
    return new PortRegistry;
  }();
  return *registry;
}

}  // namespace

BenchPort::BenchPort(std::shared_ptr<BenchDevice> device, std::shared_ptr<BenchClock> clock,
                     bool overlapped)
    : device_(std::move(device)), clock_(std::move(clock)), overlapped_(overlapped) {
  dcb_ = DefaultDcb();
}

BenchPort::~BenchPort() {
  auto& registry = Registry();
  std::lock_guard lock(registry.mutex);
  registry.ports.erase(this);
}

std::shared_ptr<BenchPort> BenchPort::Open(std::shared_ptr<BenchDevice> device,
                                           std::shared_ptr<BenchClock> clock, bool overlapped) {
  auto port = std::make_shared<BenchPort>(std::move(device), std::move(clock), overlapped);
  auto& registry = Registry();
  std::lock_guard lock(registry.mutex);
  registry.ports.emplace(port.get(), port);
  return port;
}

void BenchPort::PrepareRegistry() {
  Registry();
}

void BenchPort::CancelThread(DWORD threadId) {
  std::vector<std::shared_ptr<BenchPort>> ports;  // let go after every lock
  {
    auto& registry = Registry();
    std::lock_guard lock(registry.mutex);
    for (const auto& [key, handle] : registry.ports) {
      if (auto port = handle.lock()) {
        ports.push_back(std::move(port));
      }
    }
  }
  for (const auto& port : ports) {
    std::lock_guard lock(port->device_->mutex);
    port->CancelThreadLocked(threadId);
  }
}

template <class Function>
void BenchPort::At(BenchClock::TimePoint time, Function function) {
  clock_->Schedule(time, [weak = weak_from_this(), function] {
    if (auto self = weak.lock()) {
      function(*self);
    }
  });
}

// ---------------------------------------------------------------------------------------------
// Calls, completion

bool BenchPort::Enter(const char* name, std::unique_lock<std::mutex>& lock) {
  lock = std::unique_lock(device_->mutex);
  // A call that looked the handle up just before another thread closed it: nothing may start
  // once the close has ended what was pending.
  if (closed_) {
    lock.unlock();
    SetLastError(rules::kClosedPortError);
    return false;
  }
  if (device_->CountCall(name) && !gone_) {
    PullOutLocked(*device_);
    lock.unlock();
    BroadcastDeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT);
    SetLastError(rules::kGonePortError);
    return false;
  }
  if (gone_) {
    lock.unlock();
    SetLastError(rules::kGonePortError);
    return false;
  }
  return true;
}

bool BenchPort::PullOutLocked(BenchDevice& device) {
  const bool wasPresent = device.device.present;
  device.device.present = false;
  device.state.pulledOut = true;
  device.state.open = false;
  if (auto port = device.port.lock()) {
    port->VanishLocked();
  }
  device.port.reset();
  return wasPresent;
}

std::shared_ptr<BenchPort::SyncResult> BenchPort::NewOpLocked(Op& op, OpKind kind,
                                                              OVERLAPPED* overlapped) {
  op.id = ++nextOp_;
  op.kind = kind;
  op.threadId = GetCurrentThreadId();
  if (overlapped_) {
    op.overlapped = overlapped;
    StartOverlapped(overlapped);
    return nullptr;
  }
  op.sync = std::make_shared<SyncResult>();
  return op.sync;
}

BOOL BenchPort::PendLocked(std::unique_lock<std::mutex>& lock,
                           const std::shared_ptr<SyncResult>& sync, DWORD* count) {
  if (!sync) {
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
  }
  syncDone_.wait(lock, [&] { return sync->done; });
  if (count != nullptr) {
    *count = sync->count;
  }
  if (sync->error != ERROR_SUCCESS) {
    return Fail(sync->error);
  }
  return TRUE;
}

void BenchPort::CompleteLocked(Op& op, DWORD error, DWORD count) {
  if (op.kind == OpKind::Read && count > 0) {
    std::memcpy(op.buffer, op.bytes.data(), count);
  }
  if (op.kind == OpKind::Wait) {
    *op.mask = op.events;
  }
  if (op.overlapped != nullptr) {
    CompleteOverlapped(op.overlapped, error, count);
  } else if (op.sync) {
    op.sync->done = true;
    op.sync->error = error;
    op.sync->count = count;
    syncDone_.notify_all();
  }
}

template <class Match>
int BenchPort::CancelLocked(Match match, DWORD waitError) {
  int cancelled = 0;
  if (wait_ && match(*wait_)) {
    Op op = std::move(*wait_);
    wait_.reset();
    op.events = 0;
    CompleteLocked(op, waitError, 0);
    ++cancelled;
  }
  for (auto it = reads_.begin(); it != reads_.end();) {
    if (!match(*it)) {
      ++it;
      continue;
    }
    Op op = std::move(*it);
    it = reads_.erase(it);
    CompleteLocked(op, rules::kAbortedError, static_cast<DWORD>(op.bytes.size()));
    ++cancelled;
  }
  const bool firstWriteGoes = !writes_.empty() && match(writes_.front());
  for (auto it = writes_.begin(); it != writes_.end();) {
    if (!match(*it)) {
      ++it;
      continue;
    }
    Op op = std::move(*it);
    it = writes_.erase(it);
    CompleteLocked(op, rules::kAbortedError, op.sent);
    ++cancelled;
  }
  if (firstWriteGoes) {
    // The character on the wire is cut off.
    ++txGeneration_;
    transmitting_ = false;
  }
  if (!gone_ && !closed_) {
    ServeReadsLocked();
    StartTransmitLocked(false);
  }
  return cancelled;
}

// ---------------------------------------------------------------------------------------------
// Settings

BOOL BenchPort::GetCommState(DCB& dcb) {
  std::unique_lock<std::mutex> lock;
  if (!Enter("GetCommState", lock)) {
    return FALSE;
  }
  dcb = dcb_;
  return TRUE;
}

BOOL BenchPort::SetCommState(const DCB& dcb) {
  std::unique_lock<std::mutex> lock;
  if (!Enter("SetCommState", lock)) {
    return FALSE;
  }
  const Faults& faults = device_->device.faults;
  const auto& refused = faults.refusedBaudRates;
  if (faults.refuseCommState || !rules::ValidControlBlock(dcb) ||
      std::find(refused.begin(), refused.end(), dcb.BaudRate) != refused.end()) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  dcb_ = dcb;
  device_->state.dcb = dcb;
  device_->state.dcbSet = true;
  ++device_->state.dcbWrites;
  const bool dtr = dcb.fDtrControl != DTR_CONTROL_DISABLE;
  const bool rts =
      dcb.fRtsControl == RTS_CONTROL_ENABLE || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
  SetOutputsLocked(dtr, rts);
  StartTransmitLocked(false);  // flow control may have let go
  return TRUE;
}

BOOL BenchPort::SetupComm(DWORD inQueue, DWORD outQueue) {
  std::unique_lock<std::mutex> lock;
  if (!Enter("SetupComm", lock)) {
    return FALSE;
  }
  if (device_->device.faults.refuseQueueSizes) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  inQueueSize_ = inQueue;
  device_->state.inQueueSize = inQueue;
  device_->state.outQueueSize = outQueue;
  return TRUE;
}

BOOL BenchPort::GetCommTimeouts(COMMTIMEOUTS& timeouts) {
  std::unique_lock<std::mutex> lock;
  if (!Enter("GetCommTimeouts", lock)) {
    return FALSE;
  }
  timeouts = timeouts_;
  return TRUE;
}

BOOL BenchPort::SetCommTimeouts(const COMMTIMEOUTS& timeouts) {
  std::unique_lock<std::mutex> lock;
  if (!Enter("SetCommTimeouts", lock)) {
    return FALSE;
  }
  if (!rules::ValidTimeouts(timeouts)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  timeouts_ = timeouts;
  device_->state.timeouts = timeouts;
  return TRUE;
}

BOOL BenchPort::GetCommMask(DWORD& mask) {
  std::unique_lock<std::mutex> lock;
  if (!Enter("GetCommMask", lock)) {
    return FALSE;
  }
  mask = events_.Mask();
  return TRUE;
}

BOOL BenchPort::SetCommMask(DWORD mask) {
  std::unique_lock<std::mutex> lock;
  if (!Enter("SetCommMask", lock)) {
    return FALSE;
  }
  if (wait_) {
    Op op = std::move(*wait_);
    wait_.reset();
    op.events = 0;
    CompleteLocked(op, ERROR_SUCCESS, 0);
  }
  events_.SetMask(mask);
  device_->state.eventMask = mask;
  return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Events

BOOL BenchPort::WaitCommEvent(DWORD* mask, OVERLAPPED* overlapped) {
  std::unique_lock<std::mutex> lock;
  if (!Enter("WaitCommEvent", lock)) {
    return FALSE;
  }
  if (overlapped_ && overlapped == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (const DWORD refusal = events_.RefuseWait(wait_.has_value()); refusal != NO_ERROR) {
    return Fail(refusal);
  }
  Op op;
  auto sync = NewOpLocked(op, OpKind::Wait, overlapped);
  op.mask = mask;
  if (const DWORD events = events_.TakeForWait(); events != 0) {
    op.events = events;
    CompleteLocked(op, ERROR_SUCCESS, 0);
    return TRUE;
  }
  wait_ = std::move(op);
  return PendLocked(lock, sync, nullptr);
}

void BenchPort::EventLocked(DWORD events) {
  events = events_.Raise(events, wait_.has_value());
  if (events == 0) {
    return;
  }
  Op op = std::move(*wait_);
  wait_.reset();
  op.events = events;
  CompleteLocked(op, ERROR_SUCCESS, 0);
}

bool BenchPort::AbortOnErrorLocked() const {
  return errors_.Blocking(dcb_);
}

void BenchPort::LineErrorLocked(DWORD ceFlags) {
  EventLocked(errors_.Add(ceFlags));
  if (AbortOnErrorLocked()) {
    CancelLocked([](const Op& op) { return op.kind != OpKind::Wait; }, ERROR_SUCCESS);
  }
}

void BenchPort::BreakLocked() {
  LineErrorLocked(CE_BREAK);
}

BOOL BenchPort::ClearCommError(DWORD* errors, COMSTAT* status) {
  std::unique_lock<std::mutex> lock;
  if (!Enter("ClearCommError", lock)) {
    return FALSE;
  }
  const DWORD flags = errors_.Take();
  if (errors != nullptr) {
    *errors = flags;
  }
  if (status != nullptr) {
    DWORD outQueue = 0;
    for (const Op& op : writes_) {
      outQueue += static_cast<DWORD>(op.bytes.size()) - op.sent;
    }
    const Inputs inputs = InputsOf(device_->device.wiring);
    *status = COMSTAT{};
    status->fCtsHold = (outQueue > 0 && dcb_.fOutxCtsFlow && !inputs.cts) ? 1 : 0;
    status->fDsrHold = (outQueue > 0 && dcb_.fOutxDsrFlow && !inputs.dsr) ? 1 : 0;
    status->cbInQue = static_cast<DWORD>(input_.size());
    status->cbOutQue = outQueue;
  }
  return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Modem lines

BenchPort::Inputs BenchPort::InputsOf(const Wiring& wiring) const {
  Inputs inputs;
  inputs.cts = wiring.ctsHeldOn || (wiring.rtsToCts && rts_);
  inputs.dsr = wiring.dtrToDsr && dtr_;
  inputs.rlsd = wiring.carrier == Carrier::On || (wiring.carrier == Carrier::FollowsDtr && dtr_);
  return inputs;
}

void BenchPort::SetOutputsLocked(std::optional<bool> dtr, std::optional<bool> rts) {
  const Inputs before = InputsOf(device_->device.wiring);
  PortState& state = device_->state;
  if (dtr) {
    if (*dtr && !dtr_) {
      ++state.dtrRaised;
    }
    dtr_ = *dtr;
    state.dtr = *dtr;
  }
  if (rts) {
    if (*rts && !rts_) {
      ++state.rtsRaised;
    }
    rts_ = *rts;
    state.rts = *rts;
  }
  InputsChangedLocked(before);
}

void BenchPort::InputsChangedLocked(const Inputs& before) {
  const Inputs after = InputsOf(device_->device.wiring);
  DWORD events = 0;
  if (before.cts != after.cts) {
    events |= EV_CTS;
  }
  if (before.dsr != after.dsr) {
    events |= EV_DSR;
  }
  if (before.rlsd != after.rlsd) {
    events |= EV_RLSD;
  }
  EventLocked(events);
  StartTransmitLocked(false);
}

void BenchPort::WiringChangedLocked(const Wiring& previous) {
  if (!gone_ && !closed_) {
    InputsChangedLocked(InputsOf(previous));
  }
}

BOOL BenchPort::EscapeCommFunction(DWORD function) {
  std::unique_lock<std::mutex> lock;
  if (!Enter("EscapeCommFunction", lock)) {
    return FALSE;
  }
  switch (function) {
    case SETRTS:
    case CLRRTS:
      SetOutputsLocked(std::nullopt, function == SETRTS);
      return TRUE;
    case SETDTR:
    case CLRDTR:
      SetOutputsLocked(function == SETDTR, std::nullopt);
      return TRUE;
    case SETBREAK:
      break_ = true;
      return TRUE;
    case CLRBREAK:
      break_ = false;
      StartTransmitLocked(false);
      return TRUE;
    case SETXOFF:
    case SETXON:
      return TRUE;
    default:
      return Fail(ERROR_INVALID_PARAMETER);
  }
}

BOOL BenchPort::GetCommModemStatus(DWORD& status) {
  std::unique_lock<std::mutex> lock;
  if (!Enter("GetCommModemStatus", lock)) {
    return FALSE;
  }
  const Inputs inputs = InputsOf(device_->device.wiring);
  status =
      (inputs.cts ? MS_CTS_ON : 0) | (inputs.dsr ? MS_DSR_ON : 0) | (inputs.rlsd ? MS_RLSD_ON : 0);
  return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Transmission

std::chrono::nanoseconds BenchPort::CharTime(const DCB& dcb) {
  double bits = 1.0 + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1.0 : 0.0);
  bits += dcb.StopBits == ONESTOPBIT ? 1.0 : dcb.StopBits == ONE5STOPBITS ? 1.5 : 2.0;
  const double baud = dcb.BaudRate != 0 ? dcb.BaudRate : 9600.0;
  return std::chrono::nanoseconds(std::llround(1e9 * bits / baud));
}

bool BenchPort::TransmitHeldLocked() const {
  const Inputs inputs = InputsOf(device_->device.wiring);
  return break_ || (dcb_.fOutxCtsFlow && !inputs.cts) || (dcb_.fOutxDsrFlow && !inputs.dsr);
}

BOOL BenchPort::WriteFile(const void* buffer, DWORD toWrite, DWORD* written,
                          OVERLAPPED* overlapped) {
  std::unique_lock<std::mutex> lock;
  if (!Enter("WriteFile", lock)) {
    return FALSE;
  }
  if (overlapped_ && overlapped == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (AbortOnErrorLocked()) {
    return Fail(rules::kAbortedError);
  }
  Op op;
  auto sync = NewOpLocked(op, OpKind::Write, overlapped);
  if (toWrite == 0) {
    CompleteLocked(op, ERROR_SUCCESS, 0);
    if (written != nullptr) {
      *written = 0;
    }
    return TRUE;
  }
  const auto* bytes = static_cast<const BYTE*>(buffer);
  op.bytes.assign(bytes, bytes + toWrite);
  if (const auto limit = rules::WriteLimit(timeouts_, toWrite)) {
    At(BenchClock::Now() + *limit, [id = op.id](BenchPort& port) { port.OnWriteTimeout(id); });
  }
  writes_.push_back(std::move(op));
  StartTransmitLocked(false);
  return PendLocked(lock, sync, written);
}

void BenchPort::OnWriteTimeout(std::uint64_t id) {
  std::lock_guard lock(device_->mutex);
  if (closed_ || gone_) {
    return;
  }
  auto it =
      std::find_if(writes_.begin(), writes_.end(), [id](const Op& op) { return op.id == id; });
  if (it == writes_.end()) {
    return;
  }
  // The write ends with what has left; the rest of its bytes are dropped.
  if (it == writes_.begin()) {
    ++txGeneration_;
    transmitting_ = false;
  }
  Op op = std::move(*it);
  writes_.erase(it);
  CompleteLocked(op, ERROR_SUCCESS, op.sent);
  StartTransmitLocked(false);
}

void BenchPort::StartTransmitLocked(bool continuing) {
  if (transmitting_ || writes_.empty() || gone_ || closed_ || TransmitHeldLocked()) {
    return;
  }
  // Back to back, the next character starts where the last one ended; after a pause, now.
  const auto start = continuing ? lastCharEnd_ : std::max(lastCharEnd_, BenchClock::Now());
  const auto end = start + CharTimeLocked();
  transmitting_ = true;
  At(end,
     [generation = txGeneration_, end](BenchPort& port) { port.OnCharacterLeft(generation, end); });
}

void BenchPort::OnCharacterLeft(std::uint64_t generation, BenchClock::TimePoint end) {
  std::lock_guard lock(device_->mutex);
  if (closed_ || gone_ || generation != txGeneration_ || writes_.empty()) {
    return;
  }
  transmitting_ = false;
  lastCharEnd_ = end;
  Op& first = writes_.front();
  const BYTE byte = first.bytes[first.sent++];
  device_->state.transmitted.push_back(static_cast<char>(byte));
  if (first.sent == first.bytes.size()) {
    Op op = std::move(first);
    writes_.pop_front();
    CompleteLocked(op, ERROR_SUCCESS, op.sent);
  }
  ReplyLocked(byte, end);
  if (writes_.empty()) {
    EventLocked(EV_TXEMPTY);
  } else {
    StartTransmitLocked(true);
  }
}

void BenchPort::ReplyLocked(BYTE byte, BenchClock::TimePoint end) {
  const Wiring& wiring = device_->device.wiring;
  const bool replies = wiring.echo == Echo::Always || (wiring.echo == Echo::WhileDtrHigh && dtr_);
  if (!replies) {
    return;
  }
  if (wiring.answer.empty() && wiring.latencyMs == 0) {
    ArriveLocked(byte, end);  // a plain loop: the byte is received as it is sent
    return;
  }
  const std::string reply =
      wiring.answer.empty() ? std::string(1, static_cast<char>(byte)) : wiring.answer;
  DeviceSendLocked(reply, end + milliseconds(wiring.latencyMs));
}

// ---------------------------------------------------------------------------------------------
// Reception

void BenchPort::SendLocked(const std::string& bytes) {
  if (!gone_ && !closed_) {
    DeviceSendLocked(bytes, BenchClock::Now());
  }
}

void BenchPort::DeviceSendLocked(const std::string& bytes, BenchClock::TimePoint earliest) {
  auto time = std::max(earliest, deviceFree_);
  const auto charTime = CharTimeLocked();
  for (char c : bytes) {
    time += charTime;
    At(time, [byte = static_cast<BYTE>(c), time](BenchPort& port) { port.OnArrival(byte, time); });
  }
  deviceFree_ = time;
}

void BenchPort::OnArrival(BYTE byte, BenchClock::TimePoint at) {
  std::lock_guard lock(device_->mutex);
  if (!closed_ && !gone_) {
    ArriveLocked(byte, at);
  }
}

void BenchPort::ArriveLocked(BYTE byte, BenchClock::TimePoint at) {
  DWORD events = EV_RXCHAR;
  if (byte == static_cast<BYTE>(dcb_.EvtChar)) {
    events |= EV_RXFLAG;
  }
  if (!reads_.empty()) {
    Op& first = reads_.front();
    first.bytes.push_back(byte);
    first.lastByte = at;
    if (first.bytes.size() == first.wanted || first.returnOnFirst) {
      CompleteFirstReadLocked(ERROR_SUCCESS);
    } else {
      ArmIntervalLocked(first);
    }
  } else if (inQueueSize_ != 0 && input_.size() >= inQueueSize_) {
    errors_.Add(CE_RXOVER);
  } else {
    input_.push_back(byte);
  }
  EventLocked(events);
}

BOOL BenchPort::ReadFile(void* buffer, DWORD toRead, DWORD* read, OVERLAPPED* overlapped) {
  std::unique_lock<std::mutex> lock;
  if (!Enter("ReadFile", lock)) {
    return FALSE;
  }
  if (overlapped_ && overlapped == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (AbortOnErrorLocked()) {
    return Fail(rules::kAbortedError);
  }
  Op op;
  auto sync = NewOpLocked(op, OpKind::Read, overlapped);
  op.buffer = static_cast<BYTE*>(buffer);
  op.wanted = toRead;
  if (reads_.empty() && ActivateReadLocked(op)) {
    const auto count = static_cast<DWORD>(op.bytes.size());
    CompleteLocked(op, ERROR_SUCCESS, count);
    if (read != nullptr) {
      *read = count;
    }
    return TRUE;
  }
  reads_.push_back(std::move(op));
  return PendLocked(lock, sync, read);
}

bool BenchPort::ActivateReadLocked(Op& op) {
  op.active = true;
  while (op.bytes.size() < op.wanted && !input_.empty()) {
    op.bytes.push_back(input_.front());
    input_.pop_front();
  }
  const rules::ReadPlan plan = rules::PlanRead(timeouts_, op.wanted);
  if (rules::ReadSatisfied(plan, op.wanted, static_cast<DWORD>(op.bytes.size()))) {
    return true;
  }
  op.returnOnFirst = plan.firstByteEnds;
  const auto now = BenchClock::Now();
  if (plan.total) {
    At(now + *plan.total, [id = op.id](BenchPort& port) { port.OnReadTimer(id, false); });
  }
  if (!op.bytes.empty()) {
    op.lastByte = now;
    ArmIntervalLocked(op);
  }
  return false;
}

void BenchPort::ArmIntervalLocked(const Op& op) {
  const auto interval = rules::PlanRead(timeouts_, op.wanted).interval;
  if (!interval) {
    return;
  }
  At(op.lastByte + *interval, [id = op.id](BenchPort& port) { port.OnReadTimer(id, true); });
}

void BenchPort::OnReadTimer(std::uint64_t id, bool interval) {
  std::lock_guard lock(device_->mutex);
  if (closed_ || gone_ || reads_.empty() || reads_.front().id != id) {
    return;
  }
  const Op& first = reads_.front();
  const auto quiet = rules::PlanRead(timeouts_, first.wanted).interval;
  if (interval && (first.bytes.empty() || !quiet || BenchClock::Now() < first.lastByte + *quiet)) {
    return;  // a later byte moved the interval on
  }
  CompleteFirstReadLocked(ERROR_SUCCESS);
}

void BenchPort::CompleteFirstReadLocked(DWORD error) {
  Op op = std::move(reads_.front());
  reads_.pop_front();
  CompleteLocked(op, error, static_cast<DWORD>(op.bytes.size()));
  ServeReadsLocked();
}

void BenchPort::ServeReadsLocked() {
  while (!reads_.empty() && !reads_.front().active) {
    if (!ActivateReadLocked(reads_.front())) {
      return;
    }
    Op op = std::move(reads_.front());
    reads_.pop_front();
    CompleteLocked(op, ERROR_SUCCESS, static_cast<DWORD>(op.bytes.size()));
  }
}

// ---------------------------------------------------------------------------------------------
// Purge, cancel, close

BOOL BenchPort::PurgeComm(DWORD flags) {
  std::unique_lock<std::mutex> lock;
  if (!Enter("PurgeComm", lock)) {
    return FALSE;
  }
  const auto plan = rules::PlanPurge(flags);
  if (!plan) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (plan->abortReads) {
    CancelLocked([](const Op& op) { return op.kind == OpKind::Read; }, ERROR_SUCCESS);
  }
  if (plan->abortWrites || plan->clearOutput) {
    // Everything queued for sending belongs to a pending write: clearing the queue ends them.
    CancelLocked([](const Op& op) { return op.kind == OpKind::Write; }, ERROR_SUCCESS);
  }
  if (plan->clearInput) {
    input_.clear();
  }
  return TRUE;
}

BOOL BenchPort::CancelIo(OVERLAPPED* overlapped, DWORD threadId) {
  std::unique_lock<std::mutex> lock;
  if (!Enter(threadId == 0 ? "CancelIoEx" : "CancelIo", lock)) {
    return FALSE;
  }
  const int cancelled = CancelLocked(
      [&](const Op& op) {
        if (overlapped != nullptr) {
          return op.overlapped == overlapped;
        }
        return threadId == 0 || op.threadId == threadId;
      },
      rules::kAbortedError);
  if (cancelled == 0 && (overlapped != nullptr || threadId == 0)) {
    return Fail(ERROR_NOT_FOUND);
  }
  return TRUE;
}

void BenchPort::CancelThreadLocked(DWORD threadId) {
  CancelLocked(
      [threadId](const Op& op) { return op.overlapped != nullptr && op.threadId == threadId; },
      rules::kAbortedError);
}

void BenchPort::VanishLocked() {
  if (gone_ || closed_) {
    return;
  }
  gone_ = true;
  CancelLocked([](const Op&) { return true; }, rules::kAbortedError);
  ++txGeneration_;
  transmitting_ = false;
  input_.clear();
}

void BenchPort::OnClose() {
  bool broadcast = false;
  {
    std::lock_guard lock(device_->mutex);
    if (device_->CountCall("CloseHandle") && !gone_) {
      broadcast = PullOutLocked(*device_);
    }
    if (!gone_) {
      CancelLocked([](const Op&) { return true; }, ERROR_SUCCESS);
    }
    closed_ = true;
    if (device_->port.lock().get() == this) {
      device_->port.reset();
      device_->state.open = false;
    }
  }
  if (broadcast) {
    BroadcastDeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT);
  }
}

}  // namespace win::bench
