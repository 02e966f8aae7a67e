#include "serial/SpClasses.h"

#include <string>

void TSpPersistent::Assign(const TSpPersistent* source) {
  if (source == nullptr) {
    AssignError(nullptr);
  }
  source->AssignTo(*this);
}

void TSpPersistent::AssignTo(TSpPersistent& dest) const {
  dest.AssignError(this);
}

void TSpPersistent::AssignError(const TSpPersistent* source) const {
  const std::string sourceName = source != nullptr ? source->ClassName() : "nil";
  throw EConvertError("Cannot assign a " + sourceName + " to a " + ClassName());
}

void TSpPersistent::BeginUpdate() {
  ++FUpdateCount;
}

void TSpPersistent::EndUpdate() {
  if (FUpdateCount > 0) {
    --FUpdateCount;
  }
  Changed();
}

void TSpPersistent::Changed() {
  if (FUpdateCount == 0 && FOnChange) {
    FOnChange(*this);
  }
}
