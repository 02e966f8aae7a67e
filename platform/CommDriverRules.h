#pragma once
// CommDriverRules: the rules of a serial driver that every device world keeps alike, written
// once: which control blocks and time-outs are taken, when a read ends, how events are
// collected for the wait, which error flags raise which events, what a purge does, and the
// codes of a closed or vanished port. The worlds keep their own queues and completions and ask
// these rules for every decision.

#include <chrono>
#include <optional>

#include "platform/Win32.h"

namespace win::rules {

// A call that reaches a port after its handle was closed.
inline constexpr DWORD kClosedPortError = ERROR_INVALID_HANDLE;
// Every call on a port whose device went away ("The device does not recognize the command",
// as the Windows drivers of pulled-out adapters answer).
inline constexpr DWORD kGonePortError = ERROR_BAD_COMMAND;
// Pending reads and writes ended by a close, a purge, a cancel, the end of the issuing thread
// or the device going away; and a pending event wait ended by a cancel or the device going
// away. (A close or a new event mask ends the event wait with success and mask 0.)
inline constexpr DWORD kAbortedError = ERROR_OPERATION_ABORTED;

// ---------------------------------------------------------------------------------------------
// Control blocks and time-outs

// The framing a UART can carry (5 to 8 data bits, 1.5 stop bits only with 5 data bits and 2
// never with 5, a known parity, a rate) and distinct XON and XOFF characters when either XON/XOFF
// flow is on. Whatever else a world cannot honour it refuses on its own.
bool ValidControlBlock(const DCB& dcb);

// All three read limits at MAXDWORD is refused; everything else is taken.
bool ValidTimeouts(const COMMTIMEOUTS& timeouts);

// How a read of `count` bytes ends under the port's time-outs.
struct ReadPlan {
  bool atOnce = false;         // returns at once with whatever is queued, even nothing
  bool firstByteEnds = false;  // returns with what is queued, else with the first byte
  std::optional<std::chrono::milliseconds> total;     // then ends with what it has
  std::optional<std::chrono::milliseconds> interval;  // after a byte, this long quiet ends it
};
ReadPlan PlanRead(const COMMTIMEOUTS& timeouts, DWORD count);

// Whether a read that asked for `wanted` bytes and holds `got` is complete without a timer.
bool ReadSatisfied(const ReadPlan& plan, DWORD wanted, DWORD got);

// The total time limit of a write of `count` bytes; none when both write limits are 0.
std::optional<std::chrono::milliseconds> WriteLimit(const COMMTIMEOUTS& timeouts, DWORD count);

// ---------------------------------------------------------------------------------------------
// Events and error flags

// The line-status errors that raise EV_ERR.
inline constexpr DWORD kLineStatusErrors = CE_FRAME | CE_OVERRUN | CE_RXPARITY;

// The events that new CE_ flags raise: EV_ERR for line-status errors, EV_BREAK for a break.
DWORD EventsOfErrors(DWORD ceFlags);

// The event mask of a port and the events seen while no wait was pending.
class CommEvents {
 public:
  DWORD Mask() const { return mask_; }
  // A new mask forgets what was collected; a pending wait ends with success and mask 0.
  void SetMask(DWORD mask) {
    mask_ = mask;
    history_ = 0;
  }
  // 0 when a wait may start; ERROR_INVALID_PARAMETER with no mask or a wait already pending.
  DWORD RefuseWait(bool waitPending) const {
    return mask_ == 0 || waitPending ? ERROR_INVALID_PARAMETER : NO_ERROR;
  }
  // What a wait that starts now gets at once (0: it stays pending); taken from the history.
  DWORD TakeForWait() {
    const DWORD events = history_;
    history_ = 0;
    return events;
  }
  // Events that happened. Returns those of the mask when a wait is pending, which ends it with
  // them; otherwise they are kept for the next wait and 0 is returned.
  DWORD Raise(DWORD events, bool waitPending) {
    events &= mask_;
    if (!waitPending) {
      history_ |= events;
      return 0;
    }
    return events;
  }

 private:
  DWORD mask_ = 0;
  DWORD history_ = 0;
};

// The CE_ flags a port has raised and ClearCommError has not yet taken.
class CommErrors {
 public:
  // Adds flags; returns the events they raise.
  DWORD Add(DWORD ceFlags) {
    flags_ |= ceFlags;
    return EventsOfErrors(ceFlags);
  }
  DWORD Take() {
    const DWORD flags = flags_;
    flags_ = 0;
    return flags;
  }
  // With fAbortOnError, reads and writes fail until the flags are taken.
  bool Blocking(const DCB& dcb) const { return dcb.fAbortOnError != 0 && flags_ != 0; }

 private:
  DWORD flags_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Purge

struct PurgePlan {
  bool abortReads = false;   // PURGE_RXABORT: pending reads end with kAbortedError
  bool abortWrites = false;  // PURGE_TXABORT: pending writes end with kAbortedError
  bool clearInput = false;   // PURGE_RXCLEAR: the input queue is emptied
  bool clearOutput = false;  // PURGE_TXCLEAR: output not yet sent is dropped
};
// None for flags outside the four PURGE_ bits (refused with ERROR_INVALID_PARAMETER).
std::optional<PurgePlan> PlanPurge(DWORD flags);

}  // namespace win::rules
