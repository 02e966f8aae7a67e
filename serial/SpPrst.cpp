#include "serial/SpPrst.h"

#include <stdexcept>
#include <string>

namespace {

void CheckIntW(TSpIntW value, const char* name) {
  if (value < 0) {
    throw std::out_of_range(std::string("Buffers.") + name + " must be 0..2147483647, not " +
                            std::to_string(value));
  }
}

}  // namespace

TSpFlowControl::TSpFlowControl()
    : FOutCtsFlow(false),
      FOutDsrFlow(false),
      FControlDtr(dtrDisabled),
      FControlRts(rtsDisabled),
      FXonXoffOut(false),
      FXonXoffIn(false),
      FDsrSensitivity(false),
      FTxContinueOnXoff(false) {}

void TSpFlowControl::Assign(const TSpPersistent* source) {
  const auto* other = dynamic_cast<const TSpFlowControl*>(source);
  if (other == nullptr) {
    TSpPersistent::Assign(source);
    return;
  }
  Updating([&] {
    SetOutCtsFlow(other->OutCtsFlow());
    SetOutDsrFlow(other->OutDsrFlow());
    SetControlDtr(other->ControlDtr());
    SetControlRts(other->ControlRts());
    SetXonXoffOut(other->XonXoffOut());
    SetXonXoffIn(other->XonXoffIn());
    SetDsrSensitivity(other->DsrSensitivity());
    SetTxContinueOnXoff(other->TxContinueOnXoff());
  });
}

void TSpEventChars::SetByIndex(int index, char value) {
  switch (index) {
    case 1:
      FXonChar = value;
      break;
    case 2:
      FXoffChar = value;
      break;
    case 3:
      FErrorChar = value;
      break;
    case 4:
      FEventChar = value;
      break;
    case 5:
      FEofChar = value;
      break;
    default:
      break;
  }
  Changed();
}

char TSpEventChars::ByIndex(int index) const {
  switch (index) {
    case 1:
      return FXonChar;
    case 2:
      return FXoffChar;
    case 3:
      return FErrorChar;
    case 4:
      return FEventChar;
    case 5:
      return FEofChar;
    default:
      return 0;
  }
}

void TSpEventChars::Assign(const TSpPersistent* source) {
  const auto* other = dynamic_cast<const TSpEventChars*>(source);
  if (other == nullptr) {
    TSpPersistent::Assign(source);
    return;
  }
  Updating([&] {
    for (int index = 1; index <= 5; ++index) {
      SetByIndex(index, other->ByIndex(index));
    }
  });
}

void TSpBuffers::Store(TSpIntW& field, TSpIntW value, const char* name) {
  CheckIntW(value, name);
  if (field != value) {
    field = value;
    Changed();
  }
}

void TSpBuffers::SetReadTimeout(TSpIntW value) {
  CheckIntW(value, "ReadTimeout");
  FReadTimeout = value;
}

void TSpBuffers::SetWriteTimeout(TSpIntW value) {
  CheckIntW(value, "WriteTimeout");
  FWriteTimeout = value;
}

void TSpBuffers::Assign(const TSpPersistent* source) {
  const auto* other = dynamic_cast<const TSpBuffers*>(source);
  if (other == nullptr) {
    TSpPersistent::Assign(source);
    return;
  }
  Updating([&] {
    FReadSize = other->FReadSize;
    FReadTimeout = other->FReadTimeout;
    FWriteSize = other->FWriteSize;
    FWriteTimeout = other->FWriteTimeout;
    FXonLimit = other->FXonLimit;
    FXoffLimit = other->FXoffLimit;
  });
}
