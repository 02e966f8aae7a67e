#include "serial/SpComm.h"

#include <algorithm>
#include <array>
#include <exception>
#include <limits>
#include <utility>

#include "platform/Additions.h"
#include "serial/SpCommEventThread.h"
#include "serial/SpCommText.h"
#include "serial/SpCommWriteThread.h"
#include "serial/SpStoredProperties.h"

using namespace win;

namespace {

constexpr std::string_view kPortOpen = "Can't perform this operation while port is open";
constexpr std::string_view kBufferFull = "Output buffer is full. Please check comm status.";
constexpr std::string_view kDtrHandshake =
    "DTR line updates not allowed when flowcontrol is set to Handshake.";
constexpr DWORD kCloseDelayMs = 300;
constexpr DWORD kReadIntervalMs = 5;

constexpr std::array<DWORD, 16> kBaudRates = {0,     110,    300,    600,   1200,  2400,
                                              4800,  9600,   14400,  19200, 38400, 56000,
                                              57600, 115200, 128000, 256000};

// System bit of each TSpCommEvent, by ordinal.
constexpr std::array<DWORD, TSpCommEventCount> kEventBits = {
    EV_BREAK,   EV_CTS,    EV_DSR,  EV_ERR,      EV_RING,   EV_RLSD,  EV_RXCHAR,
    EV_TXEMPTY, EV_RXFLAG, EV_PERR, EV_RX80FULL, EV_EVENT1, EV_EVENT2};

constexpr std::array<DWORD, 4> kModemBits = {MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON};

std::int32_t ClampCount(DWORD count) {
  return static_cast<std::int32_t>(
      std::min<DWORD>(count, static_cast<DWORD>(std::numeric_limits<std::int32_t>::max())));
}

void CheckPortInt(std::int32_t value, const char* name) {
  if (value < 0) {
    throw std::out_of_range(std::string(name) + " must be 0..2147483647, not " +
                            std::to_string(value));
  }
}

}  // namespace

void TSpDisplay::DisplayCommEvent(TSpCustomComm& /*comm*/) {}

TSpCustomComm::TSpCustomComm(TSpComponent* owner)
    : TSpComponent(owner), FHandle(INVALID_HANDLE_VALUE) {
  FBuffers = std::make_unique<TSpBuffers>();
  FBuffers->SetOnChange([this](TSpPersistent&) { BuffersChanged(); });
  FEventChars = std::make_unique<TSpEventChars>();
  FEventChars->SetOnChange([this](TSpPersistent&) { CommStateChanged(); });
  FFlowControl = std::make_unique<TSpFlowControl>();
  FFlowControl->SetOnChange([this](TSpPersistent&) { CommStateChanged(); });
  FIoEvent = std::make_unique<TSpWaitEvent>();
  FWriteLock = std::make_shared<TSpCriticalSection>();
  FReadLock = std::make_unique<TSpCriticalSection>();
}

TSpCustomComm::~TSpCustomComm() {
  Destroying();
  try {
    Close();
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
  SetDisplay(nullptr);
}

bool TSpCustomComm::Active() const {
  return FHandle != INVALID_HANDLE_VALUE;
}

// ---------------------------------------------------------------------------------------------
// Errors

void TSpCustomComm::CheckClosed() {
  if (Active()) {
    RaiseCommError(kPortOpen);
  }
}

void TSpCustomComm::RaiseCommError(std::string_view format) {
  const DWORD code = GetLastError();
  const std::string text = SysErrorMessage(code);
  throw ESpCommError(SpFormat(format, {static_cast<std::int64_t>(code), text}));
}

void TSpCustomComm::CheckCommResult(bool ok, std::string_view format) {
  if (!ok) {
    RaiseCommError(format);
  }
}

// ---------------------------------------------------------------------------------------------
// Open and close

std::string TSpCustomComm::ExpandedDeviceName() const {
  return SpExpandDeviceName(FDeviceName, FPortNum);
}

void TSpCustomComm::Open() {
  CheckClosed();
  OpenDevice();
  if (!Active()) {
    return;
  }
  try {
    ApplyCommState();
    ApplyBufferSizes();
    ApplyTimeouts();
    ApplyEventMask();
    StartThreads();
    DoOpen();
  } catch (...) {
    // No thread may run on against the handle that is about to close.
    {
      TSpLockGuard lock(*FReadLock);
      StopThreads();
    }
    CloseDevice();
    throw;
  }
}

void TSpCustomComm::OpenDevice() {
  const std::string name = ExpandedDeviceName();
  const std::string path = "\\\\?\\" + name;
  FHandle = win::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
  if (FHandle != INVALID_HANDLE_VALUE) {
    return;
  }
  const DWORD code = GetLastError();
  if (code == ERROR_FILE_NOT_FOUND) {
    throw ESpCommError(SpFormat("Specified device not found (%s).", {name}));
  }
  const std::string text = SysErrorMessage(code);
  throw ESpCommError(SpFormat("Can't open specified device %s (Error %d, %s)",
                              {name, static_cast<std::int64_t>(code), text}));
}

void TSpCustomComm::CloseDevice() {
  win::CloseHandle(FHandle);
  FHandle = INVALID_HANDLE_VALUE;
}

void TSpCustomComm::Close() {
  if (!Active()) {
    return;
  }
  {
    TSpLockGuard lock(*FReadLock);
    StopThreads();
  }
  CloseDevice();
  DoClose();
  Sleep(kCloseDelayMs);
}

void TSpCustomComm::DoOpen() {
  if (!OnOpen) {
    return;
  }
  try {
    OnOpen(*this);
  } catch (...) {
    HandleApplicationException(std::current_exception());
  }
}

void TSpCustomComm::DoClose() {
  if (!IsDestroying() && OnClose) {
    OnClose(*this);
  }
}

void TSpCustomComm::StartThreads() {
  if (FEventMask != 0) {
    FEventThread = TSpCommEventThread::Create(*this);
    FEventThread->SetPriority(FEventPriority);
    FEventThread->Resume();
  }
  if (!FDirectWrite) {
    FWriteThread = TSpCommWriteThread::Create(*this);
    FWriteThread->SetPriority(FWritePriority);
    FWriteThread->Resume();
  }
}

void TSpCustomComm::StopThreads() {
  if (FEventThread) {
    FEventThread->Stop();
    FEventThread.reset();
  }
  if (FWriteThread) {
    FWriteThread->Stop();
    FWriteThread.reset();
  }
}

void TSpCustomComm::Loaded() {
  TSpComponent::Loaded();
  if (!IsDesigning() && FAutoOpen) {
    Open();
  }
}

void TSpCustomComm::Notification(TSpComponent& component, TOperation operation) {
  if (operation == opRemove && &component == FDisplay) {
    FDisplay = nullptr;
  }
  TSpComponent::Notification(component, operation);
}

// ---------------------------------------------------------------------------------------------
// Port state

void TSpCustomComm::ApplyCommState() {
  if (!Active() || !FUpdateDCB) {
    return;
  }
  DCB dcb{};
  dcb.BaudRate = FBaudrate == brUser ? static_cast<DWORD>(FUserBaudrate) : kBaudRates[FBaudrate];
  dcb.fBinary = 1;
  dcb.fOutxCtsFlow = FFlowControl->OutCtsFlow() ? 1 : 0;
  dcb.fOutxDsrFlow = FFlowControl->OutDsrFlow() ? 1 : 0;
  dcb.fOutX = FFlowControl->XonXoffOut() ? 1 : 0;
  dcb.fInX = FFlowControl->XonXoffIn() ? 1 : 0;
  dcb.fDtrControl = FFlowControl->ControlDtr();
  dcb.fRtsControl = FFlowControl->ControlRts();
  dcb.fDsrSensitivity = FFlowControl->DsrSensitivity() ? 1 : 0;
  dcb.fTXContinueOnXoff = FFlowControl->TxContinueOnXoff() ? 1 : 0;
  dcb.fErrorChar = FOptions.contains(coErrorChar) ? 1 : 0;
  dcb.fNull = FOptions.contains(coNullStrip) ? 1 : 0;
  dcb.fParity = FOptions.contains(coParityCheck) ? 1 : 0;
  dcb.XonLim = static_cast<WORD>(FBuffers->XonLimit());
  dcb.XoffLim = static_cast<WORD>(FBuffers->XoffLimit());
  dcb.ByteSize = static_cast<BYTE>(4 + FDatabits);
  dcb.Parity = FParity;
  dcb.StopBits = FStopbits;
  dcb.XonChar = FEventChars->XonChar();
  dcb.XoffChar = FEventChars->XoffChar();
  dcb.ErrorChar = FEventChars->ErrorChar();
  dcb.EofChar = FEventChars->EofChar();
  dcb.EvtChar = FEventChars->EventChar();
  CheckCommResult(win::SetCommState(FHandle, &dcb) != FALSE, "Error writing dcb (%d), %s");
}

void TSpCustomComm::ApplyBufferSizes() {
  if (!Active()) {
    return;
  }
  CheckCommResult(win::SetupComm(FHandle, static_cast<DWORD>(FBuffers->ReadSize()),
                                 static_cast<DWORD>(FBuffers->WriteSize())) != FALSE,
                  "Error initializing buffers (%d), %s");
}

void TSpCustomComm::ApplyTimeouts() {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = kReadIntervalMs;
  CheckCommResult(win::SetCommTimeouts(FHandle, &timeouts) != FALSE,
                  "Error setting timeouts (%d), %s");
}

void TSpCustomComm::ApplyEventMask() {
  DWORD mask = 0;
  for (unsigned event = 0; event < TSpCommEventCount; ++event) {
    if (FMonitorEvents.contains(static_cast<TSpCommEvent>(event))) {
      mask |= kEventBits[event];
    }
  }
  if (!FDirectWrite) {
    mask &= ~EV_TXEMPTY;
  }
  FEventMask = mask;
  if (Active()) {
    CheckCommResult(win::SetCommMask(FHandle, FEventMask) != FALSE,
                    " Error setting EventMask (%d), %s");
  }
}

void TSpCustomComm::BuffersChanged() {
  CheckClosed();
  ApplyBufferSizes();
  ApplyCommState();
}

void TSpCustomComm::CommStateChanged() {
  ApplyCommState();
}

// ---------------------------------------------------------------------------------------------
// Property setters

void TSpCustomComm::SetBaudrate(TSpBaudrate value) {
  if (value == FBaudrate) {
    return;
  }
  FBaudrate = value;
  if (value != brUser) {
    FUserBaudrate = 0;
  }
  ApplyCommState();
}

void TSpCustomComm::SetUserBaudrate(std::int32_t value) {
  if (value == FUserBaudrate) {
    return;
  }
  FUserBaudrate = value;
  FBaudrate = brUser;
  ApplyCommState();
}

void TSpCustomComm::SetParity(TSpParity value) {
  if (value != FParity) {
    FParity = value;
    ApplyCommState();
  }
}

void TSpCustomComm::SetDatabits(TSpDatabits value) {
  if (value != FDatabits) {
    FDatabits = value;
    ApplyCommState();
  }
}

void TSpCustomComm::SetStopbits(TSpStopbits value) {
  if (value != FStopbits) {
    FStopbits = value;
    ApplyCommState();
  }
}

void TSpCustomComm::SetOptions(TSpCommOptions value) {
  if (!(value == FOptions)) {
    FOptions = value;
    ApplyCommState();
  }
}

void TSpCustomComm::SetPortNum(TSpPortInt value) {
  CheckClosed();
  CheckPortInt(value, "PortNum");
  FPortNum = value;
}

void TSpCustomComm::SetDeviceName(std::string value) {
  CheckClosed();
  FDeviceName = std::move(value);
}

void TSpCustomComm::SetMonitorEvents(TSpCommEvents value) {
  CheckClosed();
  FMonitorEvents = value;
}

void TSpCustomComm::SetBuffers(const TSpBuffers& value) {
  CheckClosed();
  FBuffers->Assign(value);
}

void TSpCustomComm::SetEventPriority(TThreadPriority value) {
  if (value == FEventPriority) {
    return;
  }
  FEventPriority = value;
  if (FEventThread) {
    FEventThread->SetPriority(value);
  }
}

void TSpCustomComm::SetWritePriority(TThreadPriority value) {
  if (value == FWritePriority) {
    return;
  }
  FWritePriority = value;
  if (FWriteThread) {
    FWriteThread->SetPriority(value);
  }
}

void TSpCustomComm::SetDirectWrite(bool value) {
  CheckClosed();
  FDirectWrite = value;
}

void TSpCustomComm::SetUpdateDCB(bool value) {
  CheckClosed();
  FUpdateDCB = value;
}

void TSpCustomComm::SetDisplay(TSpDisplay* value) {
  if (value == FDisplay) {
    return;
  }
  if (FDisplay != nullptr) {
    FDisplay->RemoveFreeNotification(this);
  }
  FDisplay = value;
  if (FDisplay != nullptr) {
    FDisplay->FreeNotification(this);
  }
}

// ---------------------------------------------------------------------------------------------
// Reads and writes

std::int32_t TSpCustomComm::FinishIo(OVERLAPPED& ov, DWORD timeout) {
  DWORD transferred = 0;
  if (FIoEvent->WaitFor(timeout) == wrSignaled) {
    // An operation that ended with an error still reports what it transferred before it; those
    // bytes are in the buffer already, so they count.
    win::GetOverlappedResult(FHandle, &ov, &transferred, FALSE);
    return ClampCount(transferred);
  }
  // Timed out: end the operation before its buffer and record go. A cancelled operation still
  // reports what it transferred by then; those bytes are in the buffer, so they are returned.
  win::CancelIoEx(FHandle, &ov);
  win::GetOverlappedResult(FHandle, &ov, &transferred, TRUE);
  return ClampCount(transferred);
}

std::int32_t TSpCustomComm::WriteBuf(const void* buffer, std::int32_t count) {
  if (!Active() || count < 0 || (buffer == nullptr && count > 0)) {
    return 0;
  }
  if (!FDirectWrite) {
    if (!FWriteThread) {
      return 0;
    }
    if (!FWriteThread->Write(buffer, count)) {
      RaiseCommError(kBufferFull);
    }
    return count;
  }
  TSpLockGuard lock(*FWriteLock);
  OVERLAPPED ov{};
  ov.hEvent = FIoEvent->Handle();
  DWORD written = 0;
  if (win::WriteFile(FHandle, buffer, static_cast<DWORD>(count), &written, &ov) == FALSE &&
      GetLastError() != ERROR_IO_PENDING) {
    RaiseCommError("Write error (%d), %s");
  }
  return FinishIo(ov, static_cast<DWORD>(FBuffers->ReadTimeout()));
}

bool TSpCustomComm::WriteText(std::string_view text) {
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return false;
  }
  const auto length = static_cast<std::int32_t>(text.size());
  return WriteBuf(text.data(), length) == length;
}

std::int32_t TSpCustomComm::ReadBuf(void* buffer, std::int32_t count) {
  if (!Active() || count < 0 || (buffer == nullptr && count > 0)) {
    return 0;
  }
  TSpLockGuard lock(*FReadLock);
  OVERLAPPED ov{};
  ov.hEvent = FIoEvent->Handle();
  DWORD read = 0;
  if (win::ReadFile(FHandle, buffer, static_cast<DWORD>(count), &read, &ov) == FALSE &&
      GetLastError() != ERROR_IO_PENDING) {
    RaiseCommError("Read error (%d), %s");
  }
  return FinishIo(ov, static_cast<DWORD>(FBuffers->ReadTimeout()));
}

bool TSpCustomComm::ReadChar(char& ch) {
  char received = 0;
  if (ReadBuf(&received, 1) != 1) {
    return false;
  }
  ch = received;
  return true;
}

void TSpCustomComm::ReadStatus(CommStatus& status) {
  TSpLockGuard lock(*FReadLock);
  status = CommStatus{};
  if (Active()) {
    CheckCommResult(win::ClearCommError(FHandle, &status.Errors, &status.Stat) != FALSE,
                    "Error retrieving statistics (%d), %s");
  }
}

std::int32_t TSpCustomComm::InQueCount() {
  if (!Active()) {
    return 0;
  }
  CommStatus status;
  ReadStatus(status);
  return ClampCount(status.Stat.cbInQue);
}

bool TSpCustomComm::CheckLineErrors() {
  CommStatus status;
  ReadStatus(status);
  const bool any = status.Errors != 0;
  if (any && OnError) {
    try {
      OnError(*this, status.Errors);
    } catch (...) {
      HandleApplicationException(std::current_exception());
    }
  }
  return any;
}

void TSpCustomComm::PurgeRead() {
  if (!Active()) {
    return;
  }
  TSpLockGuard lock(*FReadLock);
  CheckCommResult(win::PurgeComm(FHandle, PURGE_RXABORT | PURGE_RXCLEAR) != FALSE,
                  "Error clearing buffers (%d), %s");
}

void TSpCustomComm::SetDTR(bool value) {
  if (FFlowControl->ControlDtr() == dtrHandshake) {
    RaiseCommError(kDtrHandshake);
  }
  if (Active()) {
    CheckCommResult(win::EscapeCommFunction(FHandle, value ? SETDTR : CLRDTR) != FALSE,
                    "Error calling comm function (%d), %s");
  }
}

bool TSpCustomComm::GetModemState(int line) {
  if (line < 1 || line > 4 || !Active()) {
    return false;
  }
  DWORD status = 0;
  CheckCommResult(win::GetCommModemStatus(FHandle, &status) != FALSE,
                  "Error reading modem state (%d), %s");
  return (status & kModemBits[static_cast<std::size_t>(line - 1)]) != 0;
}

// ---------------------------------------------------------------------------------------------
// Event dispatch

void TSpCustomComm::NotifyDisplay() {
  if (FDisplay != nullptr) {
    FDisplay->DisplayCommEvent(*this);
  }
}

void TSpCustomComm::HandleRxChar() {
  const std::int32_t count = InQueCount();
  if (count > 0 && OnRxChar) {
    OnRxChar(*this, count);
  }
}

void TSpCustomComm::HandleEvents(DWORD mask) {
  const auto raise = [&](DWORD bit, const TNotifyEvent& handler) {
    if ((mask & bit) != 0 && handler) {
      handler(*this);
    }
  };
  if ((mask & EV_ERR) != 0) {
    CheckLineErrors();
  }
  raise(EV_RXFLAG, OnRxFlag);
  raise(EV_CTS, OnCts);
  raise(EV_DSR, OnDsr);
  raise(EV_RING, OnRing);
  raise(EV_RLSD, OnRlsd);
  raise(EV_TXEMPTY, OnTxEmpty);
  raise(EV_BREAK, OnBreak);
  raise(EV_PERR, OnPErr);
  raise(EV_RX80FULL, OnRx80Full);
  raise(EV_EVENT1, OnEvent1);
  raise(EV_EVENT2, OnEvent2);
}

// ---------------------------------------------------------------------------------------------
// Stored properties

std::string TSpCustomComm::WriteStoredProperties() const {
  return SpWriteStoredProperties(*this);
}

void TSpCustomComm::ReadStoredProperties(std::string_view text) {
  SpReadStoredProperties(*this, text);
  Loaded();
}
