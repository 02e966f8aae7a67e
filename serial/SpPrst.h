#pragma once
// TSpFlowControl, TSpEventChars and TSpBuffers: the port settings objects: flow control, event
// characters, buffer sizes and time limits.

#include <cstdint>

#include "serial/SpClasses.h"

enum TSpControlDtr : std::uint8_t { dtrDisabled, dtrEnabled, dtrHandshake };
enum TSpControlRts : std::uint8_t { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };

// 0..2147483647; setters refuse negative values with std::out_of_range.
using TSpIntW = std::int32_t;

class TSpFlowControl : public TSpPersistent {
 public:
  TSpFlowControl();

  const char* ClassName() const override { return "TSpFlowControl"; }
  void Assign(const TSpPersistent* source) override;
  using TSpPersistent::Assign;

  bool OutCtsFlow() const { return FOutCtsFlow; }
  bool OutDsrFlow() const { return FOutDsrFlow; }
  TSpControlDtr ControlDtr() const { return FControlDtr; }
  TSpControlRts ControlRts() const { return FControlRts; }
  bool XonXoffOut() const { return FXonXoffOut; }
  bool XonXoffIn() const { return FXonXoffIn; }
  bool DsrSensitivity() const { return FDsrSensitivity; }
  bool TxContinueOnXoff() const { return FTxContinueOnXoff; }

  // Each setter stores and notifies only when the value differs.
  void SetOutCtsFlow(bool value) { Store(FOutCtsFlow, value); }
  void SetOutDsrFlow(bool value) { Store(FOutDsrFlow, value); }
  void SetControlDtr(TSpControlDtr value) { Store(FControlDtr, value); }
  void SetControlRts(TSpControlRts value) { Store(FControlRts, value); }
  void SetXonXoffOut(bool value) { Store(FXonXoffOut, value); }
  void SetXonXoffIn(bool value) { Store(FXonXoffIn, value); }
  void SetDsrSensitivity(bool value) { Store(FDsrSensitivity, value); }
  void SetTxContinueOnXoff(bool value) { Store(FTxContinueOnXoff, value); }

 private:
  template <class T>
  void Store(T& field, T value) {
    if (field != value) {
      field = value;
      Changed();
    }
  }

  bool FOutCtsFlow;
  bool FOutDsrFlow;
  TSpControlDtr FControlDtr;
  TSpControlRts FControlRts;
  bool FXonXoffOut;
  bool FXonXoffIn;
  bool FDsrSensitivity;
  bool FTxContinueOnXoff;
};

class TSpEventChars : public TSpPersistent {
 public:
  static constexpr char DefaultXonChar = 17;
  static constexpr char DefaultXoffChar = 19;

  TSpEventChars() = default;

  const char* ClassName() const override { return "TSpEventChars"; }
  void Assign(const TSpPersistent* source) override;
  using TSpPersistent::Assign;

  // Index 1 XonChar, 2 XoffChar, 3 ErrorChar, 4 EventChar, 5 EofChar; any other index stores
  // nothing. Notifies in every case, even when the value is unchanged.
  void SetByIndex(int index, char value);
  // The character of index 1..5; 0 for any other index.
  char ByIndex(int index) const;

  char XonChar() const { return FXonChar; }
  char XoffChar() const { return FXoffChar; }
  char ErrorChar() const { return FErrorChar; }
  char EventChar() const { return FEventChar; }
  char EofChar() const { return FEofChar; }
  void SetXonChar(char value) { SetByIndex(1, value); }
  void SetXoffChar(char value) { SetByIndex(2, value); }
  void SetErrorChar(char value) { SetByIndex(3, value); }
  void SetEventChar(char value) { SetByIndex(4, value); }
  void SetEofChar(char value) { SetByIndex(5, value); }

 private:
  char FXonChar = DefaultXonChar;
  char FXoffChar = DefaultXoffChar;
  char FErrorChar = 0;
  char FEventChar = 0;
  char FEofChar = 0;
};

class TSpBuffers : public TSpPersistent {
 public:
  static constexpr TSpIntW DefaultReadSize = 4096;
  static constexpr TSpIntW DefaultWriteSize = 2048;
  static constexpr TSpIntW DefaultReadTimeout = 1000;
  static constexpr TSpIntW DefaultWriteTimeout = 1000;
  static constexpr TSpIntW DefaultXonLimit = 1024;
  static constexpr TSpIntW DefaultXoffLimit = 1024;

  TSpBuffers() = default;

  const char* ClassName() const override { return "TSpBuffers"; }
  void Assign(const TSpPersistent* source) override;
  using TSpPersistent::Assign;

  TSpIntW ReadSize() const { return FReadSize; }
  TSpIntW WriteSize() const { return FWriteSize; }
  TSpIntW ReadTimeout() const { return FReadTimeout; }
  TSpIntW WriteTimeout() const { return FWriteTimeout; }
  TSpIntW XonLimit() const { return FXonLimit; }
  TSpIntW XoffLimit() const { return FXoffLimit; }

  // Sizes and limits notify when they change; the two time limits are plain stores.
  void SetReadSize(TSpIntW value) { Store(FReadSize, value, "ReadSize"); }
  void SetWriteSize(TSpIntW value) { Store(FWriteSize, value, "WriteSize"); }
  void SetReadTimeout(TSpIntW value);
  void SetWriteTimeout(TSpIntW value);
  void SetXonLimit(TSpIntW value) { Store(FXonLimit, value, "XonLimit"); }
  void SetXoffLimit(TSpIntW value) { Store(FXoffLimit, value, "XoffLimit"); }

 private:
  void Store(TSpIntW& field, TSpIntW value, const char* name);

  TSpIntW FReadSize = DefaultReadSize;
  TSpIntW FWriteSize = DefaultWriteSize;
  TSpIntW FReadTimeout = DefaultReadTimeout;
  TSpIntW FWriteTimeout = DefaultWriteTimeout;
  TSpIntW FXonLimit = DefaultXonLimit;
  TSpIntW FXoffLimit = DefaultXoffLimit;
};
