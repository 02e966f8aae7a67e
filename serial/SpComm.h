#pragma once
// TSpComm, TSpCustomComm and ESpCommError: the serial port component: settings as properties, open
// and close, reads and writes, DTR and modem lines, and the dispatch of port events to handlers on
// the main thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/Win32.h"
#include "serial/SpComponent.h"
#include "serial/SpObjects.h"
#include "serial/SpPrst.h"
#include "serial/SpSet.h"
#include "serial/SpThread.h"

class TSpCommEventThread;
class TSpCommWriteThread;
class TSpCustomComm;

class ESpCommError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TSpBaudrate : std::uint8_t {
  brUser,
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000
};
enum TSpParity : std::uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TSpDatabits : std::uint8_t { db4, db5, db6, db7, db8 };
enum TSpStopbits : std::uint8_t { sb1, sb15, sb2 };
enum TSpCommOption : std::uint8_t { coErrorChar, coNullStrip, coParityCheck };
enum TSpCommEvent : std::uint8_t {
  ceBreak,
  ceCts,
  ceDsr,
  ceError,
  ceRing,
  ceRlsd,
  ceRxChar,
  ceTxEmpty,
  ceRxFlag,
  cePErr,
  ceRx80Full,
  ceEvent1,
  ceEvent2
};
inline constexpr unsigned TSpCommEventCount = 13;
inline constexpr unsigned TSpCommOptionCount = 3;

using TSpCommEvents = TSpSet<TSpCommEvent, std::uint16_t>;
using TSpCommOptions = TSpSet<TSpCommOption, std::uint8_t>;
using TSpPortInt = std::int32_t;  // 0..2147483647
using PSpData = const std::uint8_t*;

using TNotifyEvent = std::function<void(TSpCustomComm& sender)>;
using TSpCommErrorEvent = std::function<void(TSpCustomComm& sender, win::DWORD errors)>;
using TSpCommRxCharEvent = std::function<void(TSpCustomComm& sender, std::int32_t count)>;
using TSpCommRxBufEvent =
    std::function<void(TSpCustomComm& sender, PSpData data, std::int32_t count)>;

// What ReadStatus reports: the port's CE_ error flags and its COMSTAT record.
struct CommStatus {
  win::DWORD Errors;
  win::COMSTAT Stat;
};

// A component that shows the events of a comm component; told before each event dispatch.
class TSpDisplay : public TSpComponent {
 public:
  using TSpComponent::TSpComponent;
  virtual void DisplayCommEvent(TSpCustomComm& comm);
};

class TSpCustomComm : public TSpComponent {
 public:
  explicit TSpCustomComm(TSpComponent* owner = nullptr);
  // Closes the port without raising OnClose.
  ~TSpCustomComm() override;

  // --- State and the port
  win::HANDLE Handle() const { return FHandle; }
  bool Active() const;
  void Open();
  void Close();
  // DeviceName with every "%d" replaced by PortNum (and "%%" by "%").
  std::string ExpandedDeviceName() const;
  // The system event mask computed at the last open (or ApplyEventMask).
  win::DWORD EventMask() const { return FEventMask; }
  const std::shared_ptr<TSpCommEventThread>& EventThread() const { return FEventThread; }
  const std::shared_ptr<TSpCommWriteThread>& WriteThread() const { return FWriteThread; }

  // --- Errors
  // Raises "Can't perform this operation while port is open" when the port is open.
  void CheckClosed();
  // Raises ESpCommError with `format` filled with the last system error code ("%d") and its
  // system text ("%s").
  [[noreturn]] void RaiseCommError(std::string_view format);
  void CheckCommResult(bool ok, std::string_view format);

  // --- Locks (the write lock is shared with the write thread)
  const std::shared_ptr<TSpCriticalSection>& WriteLockShared() const { return FWriteLock; }
  void LockWrite() { FWriteLock->Enter(); }
  void UnlockWrite() { FWriteLock->Leave(); }
  void LockRead() { FReadLock->Enter(); }
  void UnlockRead() { FReadLock->Leave(); }

  // --- I/O; every operation does nothing on a closed port (0 / false)
  std::int32_t WriteBuf(const void* buffer, std::int32_t count);
  bool WriteText(std::string_view text);
  std::int32_t ReadBuf(void* buffer, std::int32_t count);
  bool ReadChar(char& ch);
  void ReadStatus(CommStatus& status);
  std::int32_t InQueCount();
  bool CheckLineErrors();
  void PurgeRead();
  void SetDTR(bool value);
  // Line 1 CTS, 2 DSR, 3 RING, 4 RLSD; any other line is false.
  bool GetModemState(int line);

  // --- Dispatch, on the main thread
  void NotifyDisplay();
  virtual void HandleRxChar();
  virtual void HandleEvents(win::DWORD mask);

  // --- Stored properties: one "Name = Value" per line, non-default values only
  std::string WriteStoredProperties() const;
  // Sets the values through the setters inside the loading state, then runs Loaded (which
  // opens the port when AutoOpen is set). Bad text raises before anything is set.
  void ReadStoredProperties(std::string_view text);
  void Loaded() override;

  // --- Properties
  bool AutoOpen() const { return FAutoOpen; }
  void SetAutoOpen(bool value) { FAutoOpen = value; }
  TSpBaudrate Baudrate() const { return FBaudrate; }
  void SetBaudrate(TSpBaudrate value);
  TSpParity Parity() const { return FParity; }
  void SetParity(TSpParity value);
  TSpDatabits Databits() const { return FDatabits; }
  void SetDatabits(TSpDatabits value);
  TSpStopbits Stopbits() const { return FStopbits; }
  void SetStopbits(TSpStopbits value);
  TSpEventChars& EventChars() { return *FEventChars; }
  const TSpEventChars& EventChars() const { return *FEventChars; }
  void SetEventChars(const TSpEventChars& value) { FEventChars->Assign(value); }
  TSpFlowControl& FlowControl() { return *FFlowControl; }
  const TSpFlowControl& FlowControl() const { return *FFlowControl; }
  void SetFlowControl(const TSpFlowControl& value) { FFlowControl->Assign(value); }
  TSpCommOptions Options() const { return FOptions; }
  void SetOptions(TSpCommOptions value);
  TSpPortInt PortNum() const { return FPortNum; }
  void SetPortNum(TSpPortInt value);
  const std::string& DeviceName() const { return FDeviceName; }
  void SetDeviceName(std::string value);
  TSpCommEvents MonitorEvents() const { return FMonitorEvents; }
  void SetMonitorEvents(TSpCommEvents value);
  TSpBuffers& Buffers() { return *FBuffers; }
  const TSpBuffers& Buffers() const { return *FBuffers; }
  void SetBuffers(const TSpBuffers& value);
  TThreadPriority EventPriority() const { return FEventPriority; }
  void SetEventPriority(TThreadPriority value);
  TThreadPriority WritePriority() const { return FWritePriority; }
  void SetWritePriority(TThreadPriority value);
  bool DirectWrite() const { return FDirectWrite; }
  void SetDirectWrite(bool value);
  bool UpdateDCB() const { return FUpdateDCB; }
  void SetUpdateDCB(bool value);
  std::int32_t UserBaudrate() const { return FUserBaudrate; }
  void SetUserBaudrate(std::int32_t value);
  TSpDisplay* Display() const { return FDisplay; }
  void SetDisplay(TSpDisplay* value);

  // --- Handlers (Sender is always this component)
  TNotifyEvent OnOpen, OnClose, OnCts, OnDsr, OnRlsd, OnRing, OnBreak;
  TSpCommErrorEvent OnError;
  TSpCommRxCharEvent OnRxChar;
  TNotifyEvent OnRxFlag;
  TSpCommRxBufEvent OnRxBuf;  // stored, never raised by the component
  TNotifyEvent OnTxEmpty, OnPErr, OnRx80Full, OnEvent1, OnEvent2;

 protected:
  virtual void OpenDevice();
  void CloseDevice();
  void ApplyCommState();
  void ApplyBufferSizes();
  void ApplyTimeouts();
  void ApplyEventMask();
  virtual void StartThreads();
  void StopThreads();
  void DoOpen();
  void DoClose();
  void Notification(TSpComponent& component, TOperation operation) override;

 private:
  // Waits for the overlapped operation `ov` within `timeout` ms; a timed-out one is cancelled
  // and waited for, so its storage can go. Returns the count transferred.
  std::int32_t FinishIo(win::OVERLAPPED& ov, win::DWORD timeout);
  void BuffersChanged();
  void CommStateChanged();

  win::HANDLE FHandle;
  std::shared_ptr<TSpCriticalSection> FWriteLock;
  std::unique_ptr<TSpCriticalSection> FReadLock;
  std::unique_ptr<TSpWaitEvent> FIoEvent;
  std::shared_ptr<TSpCommEventThread> FEventThread;
  std::shared_ptr<TSpCommWriteThread> FWriteThread;
  win::DWORD FEventMask = 0;
  bool FAutoOpen = false;
  TSpPortInt FPortNum = 0;
  std::string FDeviceName = "COM%d";
  TSpCommEvents FMonitorEvents{ceError, ceRxChar, ceTxEmpty};
  std::unique_ptr<TSpBuffers> FBuffers;
  TThreadPriority FEventPriority = tpNormal;
  TThreadPriority FWritePriority = tpHighest;
  bool FDirectWrite = false;
  TSpBaudrate FBaudrate = br1200;
  TSpParity FParity = paNone;
  TSpDatabits FDatabits = db8;
  TSpStopbits FStopbits = sb1;
  TSpCommOptions FOptions;
  std::unique_ptr<TSpFlowControl> FFlowControl;
  std::unique_ptr<TSpEventChars> FEventChars;
  bool FUpdateDCB = true;
  std::int32_t FUserBaudrate = 0;
  TSpDisplay* FDisplay = nullptr;
};

// The published component; adds no behaviour.
class TSpComm : public TSpCustomComm {
 public:
  using TSpCustomComm::TSpCustomComm;
};
