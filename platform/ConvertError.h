#pragma once
// EConvertError: a value that cannot be converted to what was asked for (a GUID from text, a
// settings object assigned from another class).

#include <stdexcept>

class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
