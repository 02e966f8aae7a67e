#include "platform/CommDriverRules.h"

#include <cstdint>

namespace win::rules {

namespace {

std::optional<std::chrono::milliseconds> Limit(DWORD multiplier, DWORD constant, DWORD count) {
  const std::uint64_t total = std::uint64_t{multiplier} * count + constant;
  if (total == 0) {
    return std::nullopt;
  }
  return std::chrono::milliseconds(total);
}

}  // namespace

bool ValidControlBlock(const DCB& dcb) {
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
      dcb.StopBits > TWOSTOPBITS) {
    return false;
  }
  // As the UART allows: 1.5 stop bits only with 5 data bits, 2 stop bits never with 5.
  if ((dcb.StopBits == ONE5STOPBITS) != (dcb.StopBits != ONESTOPBIT && dcb.ByteSize == 5)) {
    return false;
  }
  return !((dcb.fOutX != 0 || dcb.fInX != 0) && dcb.XonChar == dcb.XoffChar);
}

bool ValidTimeouts(const COMMTIMEOUTS& timeouts) {
  return !(timeouts.ReadIntervalTimeout == MAXDWORD &&
           timeouts.ReadTotalTimeoutMultiplier == MAXDWORD &&
           timeouts.ReadTotalTimeoutConstant == MAXDWORD);
}

ReadPlan PlanRead(const COMMTIMEOUTS& timeouts, DWORD count) {
  ReadPlan plan;
  const DWORD interval = timeouts.ReadIntervalTimeout;
  const DWORD multiplier = timeouts.ReadTotalTimeoutMultiplier;
  const DWORD constant = timeouts.ReadTotalTimeoutConstant;
  if (interval == MAXDWORD && multiplier == MAXDWORD) {
    // The first-byte rule: what is queued, else the first byte, else nothing after the constant.
    plan.firstByteEnds = constant != 0;
    plan.atOnce = constant == 0;
    plan.total = Limit(0, constant, count);
    return plan;
  }
  if (interval == MAXDWORD && multiplier == 0 && constant == 0) {
    plan.atOnce = true;
    return plan;
  }
  plan.total = Limit(multiplier, constant, count);
  if (interval != 0 && interval != MAXDWORD) {
    plan.interval = std::chrono::milliseconds(interval);
  }
  return plan;
}

bool ReadSatisfied(const ReadPlan& plan, DWORD wanted, DWORD got) {
  return got >= wanted || plan.atOnce || (plan.firstByteEnds && got > 0);
}

std::optional<std::chrono::milliseconds> WriteLimit(const COMMTIMEOUTS& timeouts, DWORD count) {
  return Limit(timeouts.WriteTotalTimeoutMultiplier, timeouts.WriteTotalTimeoutConstant, count);
}

DWORD EventsOfErrors(DWORD ceFlags) {
  DWORD events = 0;
  if ((ceFlags & kLineStatusErrors) != 0) {
    events |= EV_ERR;
  }
  if ((ceFlags & CE_BREAK) != 0) {
    events |= EV_BREAK;
  }
  return events;
}

std::optional<PurgePlan> PlanPurge(DWORD flags) {
  if ((flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) != 0) {
    return std::nullopt;
  }
  PurgePlan plan;
  plan.abortReads = (flags & PURGE_RXABORT) != 0;
  plan.abortWrites = (flags & PURGE_TXABORT) != 0;
  plan.clearInput = (flags & PURGE_RXCLEAR) != 0;
  plan.clearOutput = (flags & PURGE_TXCLEAR) != 0;
  return plan;
}

}  // namespace win::rules
