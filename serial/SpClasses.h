#pragma once
// TSpPersistent: base of the port settings objects: grouped change notification and typed Assign.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <utility>

#include "platform/ConvertError.h"

class TSpPersistent {
 public:
  using TChangeEvent = std::function<void(TSpPersistent& sender)>;

  TSpPersistent() = default;
  TSpPersistent(const TSpPersistent&) = delete;
  TSpPersistent& operator=(const TSpPersistent&) = delete;
  virtual ~TSpPersistent() = default;

  virtual const char* ClassName() const { return "TSpPersistent"; }

  // Copies the values of `source` into this object. The base asks the source to copy itself,
  // which no settings class can do into another class: EConvertError, nothing changed.
  virtual void Assign(const TSpPersistent* source);
  void Assign(const TSpPersistent& source) { Assign(&source); }

  void BeginUpdate();
  // Closes one update group (never below 0) and notifies once the last group is closed.
  void EndUpdate();
  // Notifies the owner unless an update group is open.
  void Changed();

  std::int32_t UpdateCount() const { return FUpdateCount; }
  const TChangeEvent& OnChange() const { return FOnChange; }
  void SetOnChange(TChangeEvent handler) { FOnChange = std::move(handler); }

 protected:
  // Copies this object into `dest`; the base refuses with the conversion error.
  virtual void AssignTo(TSpPersistent& dest) const;
  // Raises "Cannot assign a <source> to a <this>" ("nil" for no source).
  [[noreturn]] void AssignError(const TSpPersistent* source) const;

  // Runs BeginUpdate, `body`, and EndUpdate also when `body` raises.
  template <class Body>
  void Updating(Body&& body) {
    BeginUpdate();
    try {
      body();
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
  }

 private:
  std::int32_t FUpdateCount = 0;
  TChangeEvent FOnChange;
};
