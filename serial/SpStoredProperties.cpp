#include "serial/SpStoredProperties.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <functional>
#include <vector>

#include "serial/SpComm.h"

namespace {

constexpr std::array<std::string_view, 16> kBaudrateNames = {
    "brUser",  "br110",   "br300",   "br600",   "br1200",  "br2400",   "br4800",   "br9600",
    "br14400", "br19200", "br38400", "br56000", "br57600", "br115200", "br128000", "br256000"};
constexpr std::array<std::string_view, 5> kParityNames = {"paNone", "paOdd", "paEven", "paMark",
                                                          "paSpace"};
constexpr std::array<std::string_view, 5> kDatabitsNames = {"db4", "db5", "db6", "db7", "db8"};
constexpr std::array<std::string_view, 3> kStopbitsNames = {"sb1", "sb15", "sb2"};
constexpr std::array<std::string_view, TSpCommOptionCount> kOptionNames = {
    "coErrorChar", "coNullStrip", "coParityCheck"};
constexpr std::array<std::string_view, TSpCommEventCount> kEventNames = {
    "ceBreak",   "ceCts",    "ceDsr",  "ceError",    "ceRing",   "ceRlsd",  "ceRxChar",
    "ceTxEmpty", "ceRxFlag", "cePErr", "ceRx80Full", "ceEvent1", "ceEvent2"};
constexpr std::array<std::string_view, 7> kPriorityNames = {
    "tpIdle", "tpLowest", "tpLower", "tpNormal", "tpHigher", "tpHighest", "tpTimeCritical"};
constexpr std::array<std::string_view, 3> kDtrNames = {"dtrDisabled", "dtrEnabled", "dtrHandshake"};
constexpr std::array<std::string_view, 4> kRtsNames = {"rtsDisabled", "rtsEnabled", "rtsHandshake",
                                                       "rtsToggle"};

const TSpCommEvents kDefaultMonitorEvents{ceError, ceRxChar, ceTxEmpty};

// ---------------------------------------------------------------------------------------------
// Writing

std::string Quoted(std::string_view text) {
  std::string out;
  bool inQuote = false;
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 0x20 || code == 0x7F) {
      if (inQuote) {
        out += '\'';
        inQuote = false;
      }
      out += '#';
      out += std::to_string(code);
      continue;
    }
    if (!inQuote) {
      out += '\'';
      inQuote = true;
    }
    out += c;
    if (c == '\'') {
      out += '\'';
    }
  }
  if (inQuote) {
    out += '\'';
  }
  return out.empty() ? "''" : out;
}

std::string BoolText(bool value) {
  return value ? "True" : "False";
}

template <std::size_t N>
std::string SetText(unsigned bits, const std::array<std::string_view, N>& names) {
  std::string out = "[";
  for (std::size_t i = 0; i < N; ++i) {
    if ((bits & (1u << i)) != 0) {
      if (out.size() > 1) {
        out += ", ";
      }
      out += names[i];
    }
  }
  return out + "]";
}

class Writer {
 public:
  void Line(std::string_view name, std::string_view value) {
    FText += name;
    FText += " = ";
    FText += value;
    FText += '\n';
  }
  template <class T>
  void IfNot(std::string_view name, T value, T byDefault, std::string_view text) {
    if (value != byDefault) {
      Line(name, text);
    }
  }
  std::string Take() { return std::move(FText); }

 private:
  std::string FText;
};

// ---------------------------------------------------------------------------------------------
// Reading

// A value that cannot be read; the caller adds the line and the property.
struct BadValue {
  std::string message;
};

struct Value {
  enum Kind : std::uint8_t { String, Identifier, Integer, Set } kind = String;
  std::string raw;
  std::string text;                // String: the characters; Identifier: the name
  std::int64_t number = 0;         // Integer
  std::vector<std::string> items;  // Set
};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool IsIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsIdentChar(char c) {
  return IsIdentStart(c) || IsDigit(c);
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsSpace(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

std::string ParseString(std::string_view raw) {
  std::string out;
  std::size_t i = 0;
  while (i < raw.size()) {
    if (raw[i] == '\'') {
      ++i;
      for (;;) {
        if (i >= raw.size()) {
          throw BadValue{"unterminated string " + std::string(raw)};
        }
        if (raw[i] == '\'') {
          if (i + 1 < raw.size() && raw[i + 1] == '\'') {
            out += '\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        out += raw[i++];
      }
    } else if (raw[i] == '#') {
      ++i;
      unsigned code = 0;
      const auto* begin = raw.data() + i;
      const auto [end, error] = std::from_chars(begin, raw.data() + raw.size(), code);
      if (error != std::errc() || end == begin || code > 255) {
        throw BadValue{"bad character code in " + std::string(raw)};
      }
      out += static_cast<char>(code);
      i += static_cast<std::size_t>(end - begin);
    } else {
      throw BadValue{"unexpected text after a string in " + std::string(raw)};
    }
  }
  return out;
}

Value ParseValue(std::string_view raw) {
  Value value;
  value.raw = std::string(raw);
  if (raw.empty()) {
    throw BadValue{"missing value"};
  }
  const char first = raw.front();
  if (first == '\'' || first == '#') {
    value.kind = Value::String;
    value.text = ParseString(raw);
    return value;
  }
  if (first == '[') {
    if (raw.back() != ']') {
      throw BadValue{"unterminated set " + value.raw};
    }
    value.kind = Value::Set;
    std::string_view body = raw.substr(1, raw.size() - 2);
    if (Trim(body).empty()) {
      return value;
    }
    while (true) {
      const std::size_t comma = body.find(',');
      const std::string_view item = Trim(body.substr(0, comma));
      if (item.empty() || !IsIdentStart(item.front())) {
        throw BadValue{"bad set " + value.raw};
      }
      for (const char c : item) {
        if (!IsIdentChar(c)) {
          throw BadValue{"bad set " + value.raw};
        }
      }
      value.items.emplace_back(item);
      if (comma == std::string_view::npos) {
        return value;
      }
      body.remove_prefix(comma + 1);
    }
  }
  if (IsDigit(first) || first == '-' || first == '+') {
    value.kind = Value::Integer;
    const char* begin = raw.data() + (first == '+' ? 1 : 0);
    const char* end = raw.data() + raw.size();
    const auto [stop, error] = std::from_chars(begin, end, value.number);
    if (error != std::errc() || stop != end) {
      throw BadValue{"bad integer " + value.raw};
    }
    return value;
  }
  if (IsIdentStart(first)) {
    for (const char c : raw) {
      if (!IsIdentChar(c)) {
        throw BadValue{"bad value " + value.raw};
      }
    }
    value.kind = Value::Identifier;
    value.text = value.raw;
    return value;
  }
  throw BadValue{"bad value " + value.raw};
}

bool ToBool(const Value& value) {
  if (value.kind == Value::Identifier) {
    if (SameText(value.text, "True")) {
      return true;
    }
    if (SameText(value.text, "False")) {
      return false;
    }
  }
  throw BadValue{"'" + value.raw + "' is not True or False"};
}

std::int32_t ToInt(const Value& value, std::int64_t lowest) {
  if (value.kind != Value::Integer || value.number < lowest || value.number > INT32_MAX) {
    throw BadValue{"'" + value.raw + "' is not an integer in " + std::to_string(lowest) +
                   "..2147483647"};
  }
  return static_cast<std::int32_t>(value.number);
}

template <std::size_t N>
std::size_t FindName(const std::string& name, const std::array<std::string_view, N>& names) {
  for (std::size_t i = 0; i < N; ++i) {
    if (SameText(name, names[i])) {
      return i;
    }
  }
  return N;
}

template <class E, std::size_t N>
E ToEnum(const Value& value, const std::array<std::string_view, N>& names) {
  const std::size_t index = value.kind == Value::Identifier ? FindName(value.text, names) : N;
  if (index == N) {
    throw BadValue{"'" + value.raw + "' is not one of " + SetText((1u << N) - 1, names)};
  }
  return static_cast<E>(index);
}

template <std::size_t N>
unsigned ToSetBits(const Value& value, const std::array<std::string_view, N>& names) {
  if (value.kind != Value::Set) {
    throw BadValue{"'" + value.raw + "' is not a set such as " + SetText(3u, names)};
  }
  unsigned bits = 0;
  for (const std::string& item : value.items) {
    const std::size_t index = FindName(item, names);
    if (index == N) {
      throw BadValue{"'" + item + "' is not one of " + SetText((1u << N) - 1, names)};
    }
    bits |= 1u << index;
  }
  return bits;
}

std::string ToText(const Value& value) {
  if (value.kind != Value::String) {
    throw BadValue{"'" + value.raw + "' is not a quoted string"};
  }
  return value.text;
}

char ToChar(const Value& value) {
  if (value.kind != Value::String || value.text.size() != 1) {
    throw BadValue{"'" + value.raw + "' is not one character"};
  }
  return value.text.front();
}

using Apply = std::function<void(TSpCustomComm&)>;
using Parse = Apply (*)(const Value&);

struct PropertyDef {
  std::string_view name;
  Parse parse;
};

template <class Setter, class T>
Apply Bind(Setter setter, T value) {
  return [setter, value](TSpCustomComm& comm) { setter(comm, value); };
}

const std::array<PropertyDef, 35> kProperties = {{
    {"Name",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, const std::string& x) { c.SetName(x); }, ToText(v));
     }},
    {"Tag",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, std::int32_t x) { c.SetTag(x); }, ToInt(v, INT32_MIN));
     }},
    {"AutoOpen",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, bool x) { c.SetAutoOpen(x); }, ToBool(v));
     }},
    {"Baudrate",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, TSpBaudrate x) { c.SetBaudrate(x); },
                   ToEnum<TSpBaudrate>(v, kBaudrateNames));
     }},
    {"Parity",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, TSpParity x) { c.SetParity(x); },
                   ToEnum<TSpParity>(v, kParityNames));
     }},
    {"Databits",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, TSpDatabits x) { c.SetDatabits(x); },
                   ToEnum<TSpDatabits>(v, kDatabitsNames));
     }},
    {"Stopbits",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, TSpStopbits x) { c.SetStopbits(x); },
                   ToEnum<TSpStopbits>(v, kStopbitsNames));
     }},
    {"EventChars.XonChar",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, char x) { c.EventChars().SetXonChar(x); }, ToChar(v));
     }},
    {"EventChars.XoffChar",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, char x) { c.EventChars().SetXoffChar(x); }, ToChar(v));
     }},
    {"EventChars.ErrorChar",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, char x) { c.EventChars().SetErrorChar(x); }, ToChar(v));
     }},
    {"EventChars.EventChar",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, char x) { c.EventChars().SetEventChar(x); }, ToChar(v));
     }},
    {"EventChars.EofChar",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, char x) { c.EventChars().SetEofChar(x); }, ToChar(v));
     }},
    {"FlowControl.OutCtsFlow",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, bool x) { c.FlowControl().SetOutCtsFlow(x); }, ToBool(v));
     }},
    {"FlowControl.OutDsrFlow",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, bool x) { c.FlowControl().SetOutDsrFlow(x); }, ToBool(v));
     }},
    {"FlowControl.ControlDtr",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, TSpControlDtr x) { c.FlowControl().SetControlDtr(x); },
                   ToEnum<TSpControlDtr>(v, kDtrNames));
     }},
    {"FlowControl.ControlRts",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, TSpControlRts x) { c.FlowControl().SetControlRts(x); },
                   ToEnum<TSpControlRts>(v, kRtsNames));
     }},
    {"FlowControl.XonXoffOut",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, bool x) { c.FlowControl().SetXonXoffOut(x); }, ToBool(v));
     }},
    {"FlowControl.XonXoffIn",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, bool x) { c.FlowControl().SetXonXoffIn(x); }, ToBool(v));
     }},
    {"FlowControl.DsrSensitivity",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, bool x) { c.FlowControl().SetDsrSensitivity(x); },
                   ToBool(v));
     }},
    {"FlowControl.TxContinueOnXoff",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, bool x) { c.FlowControl().SetTxContinueOnXoff(x); },
                   ToBool(v));
     }},
    {"Options",
     [](const Value& v) {
       return Bind(
           [](TSpCustomComm& c, unsigned x) {
             c.SetOptions(
                 TSpCommOptions::FromBits(static_cast<std::uint8_t>(x), TSpCommOptionCount));
           },
           ToSetBits(v, kOptionNames));
     }},
    {"PortNum",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, std::int32_t x) { c.SetPortNum(x); }, ToInt(v, 0));
     }},
    {"DeviceName",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, const std::string& x) { c.SetDeviceName(x); }, ToText(v));
     }},
    {"MonitorEvents",
     [](const Value& v) {
       return Bind(
           [](TSpCustomComm& c, unsigned x) {
             c.SetMonitorEvents(
                 TSpCommEvents::FromBits(static_cast<std::uint16_t>(x), TSpCommEventCount));
           },
           ToSetBits(v, kEventNames));
     }},
    {"Buffers.ReadSize",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, std::int32_t x) { c.Buffers().SetReadSize(x); },
                   ToInt(v, 0));
     }},
    {"Buffers.WriteSize",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, std::int32_t x) { c.Buffers().SetWriteSize(x); },
                   ToInt(v, 0));
     }},
    {"Buffers.ReadTimeout",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, std::int32_t x) { c.Buffers().SetReadTimeout(x); },
                   ToInt(v, 0));
     }},
    {"Buffers.WriteTimeout",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, std::int32_t x) { c.Buffers().SetWriteTimeout(x); },
                   ToInt(v, 0));
     }},
    {"Buffers.XonLimit",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, std::int32_t x) { c.Buffers().SetXonLimit(x); },
                   ToInt(v, 0));
     }},
    {"Buffers.XoffLimit",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, std::int32_t x) { c.Buffers().SetXoffLimit(x); },
                   ToInt(v, 0));
     }},
    {"EventPriority",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, TThreadPriority x) { c.SetEventPriority(x); },
                   ToEnum<TThreadPriority>(v, kPriorityNames));
     }},
    {"WritePriority",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, TThreadPriority x) { c.SetWritePriority(x); },
                   ToEnum<TThreadPriority>(v, kPriorityNames));
     }},
    {"DirectWrite",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, bool x) { c.SetDirectWrite(x); }, ToBool(v));
     }},
    {"UpdateDCB",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, bool x) { c.SetUpdateDCB(x); }, ToBool(v));
     }},
    {"UserBaudrate",
     [](const Value& v) {
       return Bind([](TSpCustomComm& c, std::int32_t x) { c.SetUserBaudrate(x); },
                   ToInt(v, INT32_MIN));
     }},
}};

}  // namespace

std::string SpWriteStoredProperties(const TSpCustomComm& comm) {
  Writer w;
  if (!comm.Name().empty()) {
    w.Line("Name", Quoted(comm.Name()));
  }
  w.IfNot("Tag", comm.Tag(), 0, std::to_string(comm.Tag()));
  w.IfNot("AutoOpen", comm.AutoOpen(), false, BoolText(comm.AutoOpen()));
  w.IfNot("Baudrate", comm.Baudrate(), br1200, kBaudrateNames[comm.Baudrate()]);
  w.IfNot("Parity", comm.Parity(), paNone, kParityNames[comm.Parity()]);
  w.IfNot("Databits", comm.Databits(), db8, kDatabitsNames[comm.Databits()]);
  w.IfNot("Stopbits", comm.Stopbits(), sb1, kStopbitsNames[comm.Stopbits()]);

  const TSpEventChars& chars = comm.EventChars();
  constexpr std::array<std::string_view, 5> kCharNames = {
      "EventChars.XonChar", "EventChars.XoffChar", "EventChars.ErrorChar", "EventChars.EventChar",
      "EventChars.EofChar"};
  constexpr std::array<char, 5> kCharDefaults = {TSpEventChars::DefaultXonChar,
                                                 TSpEventChars::DefaultXoffChar, 0, 0, 0};
  for (int index = 1; index <= 5; ++index) {
    const char c = chars.ByIndex(index);
    const auto slot = static_cast<std::size_t>(index - 1);
    w.IfNot(kCharNames[slot], c, kCharDefaults[slot], Quoted(std::string_view(&c, 1)));
  }

  const TSpFlowControl& flow = comm.FlowControl();
  w.Line("FlowControl.OutCtsFlow", BoolText(flow.OutCtsFlow()));
  w.Line("FlowControl.OutDsrFlow", BoolText(flow.OutDsrFlow()));
  w.Line("FlowControl.ControlDtr", kDtrNames[flow.ControlDtr()]);
  w.Line("FlowControl.ControlRts", kRtsNames[flow.ControlRts()]);
  w.Line("FlowControl.XonXoffOut", BoolText(flow.XonXoffOut()));
  w.Line("FlowControl.XonXoffIn", BoolText(flow.XonXoffIn()));
  w.Line("FlowControl.DsrSensitivity", BoolText(flow.DsrSensitivity()));
  w.Line("FlowControl.TxContinueOnXoff", BoolText(flow.TxContinueOnXoff()));

  w.IfNot("Options", comm.Options().bits(), std::uint8_t{0},
          SetText(comm.Options().bits(), kOptionNames));
  w.IfNot("PortNum", comm.PortNum(), 0, std::to_string(comm.PortNum()));
  w.Line("DeviceName", Quoted(comm.DeviceName()));
  w.IfNot("MonitorEvents", comm.MonitorEvents().bits(), kDefaultMonitorEvents.bits(),
          SetText(comm.MonitorEvents().bits(), kEventNames));

  const TSpBuffers& buffers = comm.Buffers();
  const auto size = [&](std::string_view name, TSpIntW value, TSpIntW byDefault) {
    w.IfNot(name, value, byDefault, std::to_string(value));
  };
  size("Buffers.ReadSize", buffers.ReadSize(), TSpBuffers::DefaultReadSize);
  size("Buffers.WriteSize", buffers.WriteSize(), TSpBuffers::DefaultWriteSize);
  size("Buffers.ReadTimeout", buffers.ReadTimeout(), TSpBuffers::DefaultReadTimeout);
  size("Buffers.WriteTimeout", buffers.WriteTimeout(), TSpBuffers::DefaultWriteTimeout);
  size("Buffers.XonLimit", buffers.XonLimit(), TSpBuffers::DefaultXonLimit);
  size("Buffers.XoffLimit", buffers.XoffLimit(), TSpBuffers::DefaultXoffLimit);

  w.IfNot("EventPriority", comm.EventPriority(), tpNormal, kPriorityNames[comm.EventPriority()]);
  w.IfNot("WritePriority", comm.WritePriority(), tpHighest, kPriorityNames[comm.WritePriority()]);
  w.IfNot("DirectWrite", comm.DirectWrite(), false, BoolText(comm.DirectWrite()));
  w.IfNot("UpdateDCB", comm.UpdateDCB(), true, BoolText(comm.UpdateDCB()));
  w.IfNot("UserBaudrate", comm.UserBaudrate(), 0, std::to_string(comm.UserBaudrate()));
  return w.Take();
}

void SpReadStoredProperties(TSpCustomComm& comm, std::string_view text) {
  struct Step {
    int line;
    std::string_view name;
    Apply apply;
  };
  std::vector<Step> steps;
  int lineNumber = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    ++lineNumber;
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    const std::string_view line = Trim(text.substr(start, end - start));
    start = end + 1;
    if (line.empty()) {
      continue;
    }
    const std::string prefix = "Line " + std::to_string(lineNumber) + ": ";
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      throw EReadError(prefix + "expected 'Name = Value', found '" + std::string(line) + "'");
    }
    const std::string_view name = Trim(line.substr(0, equals));
    const PropertyDef* def = nullptr;
    for (const PropertyDef& candidate : kProperties) {
      if (SameText(candidate.name, name)) {
        def = &candidate;
      }
    }
    if (def == nullptr) {
      throw EReadError(prefix + "unknown property '" + std::string(name) + "'");
    }
    try {
      steps.push_back(
          {lineNumber, def->name, def->parse(ParseValue(Trim(line.substr(equals + 1))))});
    } catch (const BadValue& bad) {
      throw EReadError(prefix + std::string(def->name) + ": " + bad.message);
    }
  }

  comm.BeginLoading();
  for (const Step& step : steps) {
    try {
      step.apply(comm);
    } catch (const std::exception& error) {
      comm.TSpComponent::Loaded();
      throw EReadError("Line " + std::to_string(step.line) + ": " + std::string(step.name) + ": " +
                       error.what());
    }
  }
}
