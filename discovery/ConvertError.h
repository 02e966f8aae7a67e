#pragma once
// A text that cannot be converted to the value asked for.

#include <stdexcept>

class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
