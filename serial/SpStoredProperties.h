#pragma once
// EReadError and the stored properties: the stored settings of a comm component in a small text
// form, one "Name = Value" per line: strings in single quotes ('' for a quote, #N for a control
// character), enumerations and sets by name ([ceError, ceRxChar]), settings objects as
// sub-properties (FlowControl.ControlDtr).

#include <stdexcept>
#include <string>
#include <string_view>

class TSpCustomComm;

// Raised for stored text that cannot be read; the message names the line.
class EReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Every property that differs from its stored default; FlowControl members and DeviceName always.
std::string SpWriteStoredProperties(const TSpCustomComm& comm);

// Checks the whole text first (unknown name, bad value: EReadError, nothing set), then sets the
// values through the component's setters, in the order of the lines, inside the loading state.
// A setter that refuses raises EReadError naming the line. Does not run the end-of-loading step.
void SpReadStoredProperties(TSpCustomComm& comm, std::string_view text);
