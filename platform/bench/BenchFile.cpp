// Bench files: a JSON description of the devices on the bench, their wiring and faults.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/bench/BenchWorld.h"

namespace win::bench {

namespace {

using nlohmann::json;

constexpr const char* kCallNames[] = {
    "CreateFileA",     "CloseHandle",        "GetCommState",      "SetCommState", "SetupComm",
    "GetCommTimeouts", "SetCommTimeouts",    "GetCommMask",       "SetCommMask",  "WaitCommEvent",
    "ReadFile",        "WriteFile",          "CancelIo",          "CancelIoEx",   "ClearCommError",
    "PurgeComm",       "EscapeCommFunction", "GetCommModemStatus"};

// Where the text stops being JSON, and why, in words: "line 3, column 7: not valid JSON (...)",
// without the JSON library's own tags.
std::string ParseProblem(const std::string& text, const json::parse_error& error) {
  const std::size_t end = std::min<std::size_t>(error.byte == 0 ? 0 : error.byte - 1, text.size());
  std::size_t line = 1;
  std::size_t column = 1;
  for (std::size_t i = 0; i < end; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      ++column;
    }
  }
  const std::string what = error.what();
  const std::size_t dash = what.find(" - ");
  const std::size_t colon = what.rfind(": ");
  const std::string reason = dash != std::string::npos    ? what.substr(dash + 3)
                             : colon != std::string::npos ? what.substr(colon + 2)
                                                          : what;
  return "line " + std::to_string(line) + ", column " + std::to_string(column) +
         ": not valid JSON (" + reason + ")";
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

class Reader {
 public:
  explicit Reader(std::string origin) : origin_(std::move(origin)) {}

  std::vector<Device> Devices(const json& root) {
    if (!root.is_object()) {
      Fail("", "expected an object with \"devices\"");
    }
    Keys(root, "", {"devices"});
    if (!root.contains("devices")) {
      Fail("devices", "missing");
    }
    const json& list = root.at("devices");
    if (!list.is_array()) {
      Fail("devices", "expected an array");
    }
    std::vector<Device> devices;
    for (std::size_t i = 0; i < list.size(); ++i) {
      const std::string path = "devices[" + std::to_string(i) + "]";
      devices.push_back(ReadDevice(list[i], path));
      const std::string& port = devices.back().portName;
      for (std::size_t j = 0; j + 1 < devices.size() && !port.empty(); ++j) {
        if (SameText(devices[j].portName, port)) {
          Fail(path + ".port",
               "\"" + port + "\" is already the port of devices[" + std::to_string(j) + "]");
        }
      }
    }
    return devices;
  }

 private:
  [[noreturn]] void Fail(const std::string& path, const std::string& message) const {
    throw BenchFileError(origin_ + ": " + (path.empty() ? "" : path + ": ") + message);
  }

  void Keys(const json& object, const std::string& path,
            std::initializer_list<const char*> allowed) const {
    for (const auto& [key, value] : object.items()) {
      bool known = false;
      for (const char* name : allowed) {
        known = known || key == name;
      }
      if (!known) {
        std::string expected;
        for (const char* name : allowed) {
          expected += std::string(expected.empty() ? "" : ", ") + "\"" + name + "\"";
        }
        Fail(Join(path, key), "unknown field (expected one of " + expected + ")");
      }
    }
  }

  static std::string Join(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
  }

  const json& Object(const json& value, const std::string& path) const {
    if (!value.is_object()) {
      Fail(path, "expected an object");
    }
    return value;
  }

  std::string String(const json& value, const std::string& path) const {
    if (!value.is_string()) {
      Fail(path, "expected a string");
    }
    return value.get<std::string>();
  }

  bool Bool(const json& value, const std::string& path) const {
    if (!value.is_boolean()) {
      Fail(path, "expected true or false");
    }
    return value.get<bool>();
  }

  DWORD Number(const json& value, const std::string& path) const {
    if (!value.is_number_integer() || value.get<std::int64_t>() < 0 ||
        value.get<std::int64_t>() > 0xFFFFFFFFll) {
      Fail(path, "expected a whole number from 0 to 4294967295");
    }
    return static_cast<DWORD>(value.get<std::int64_t>());
  }

  template <class Enum>
  Enum Choice(const json& value, const std::string& path,
              std::initializer_list<std::pair<const char*, Enum>> choices) const {
    if (value.is_string()) {
      for (const auto& [name, choice] : choices) {
        if (value.get<std::string>() == name) {
          return choice;
        }
      }
    }
    std::string expected;
    for (const auto& [name, choice] : choices) {
      expected += std::string(expected.empty() ? "" : ", ") + "\"" + name + "\"";
    }
    Fail(path, "expected one of " + expected);
  }

  // Text of single bytes: every character must be one byte (U+0000 to U+00FF).
  std::string Bytes(const json& value, const std::string& path) const {
    const std::string text = String(value, path);
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto lead = static_cast<unsigned char>(text[i]);
      if (lead < 0x80) {
        bytes.push_back(static_cast<char>(lead));
      } else if ((lead == 0xC2 || lead == 0xC3) && i + 1 < text.size()) {
        const auto next = static_cast<unsigned char>(text[++i]);
        bytes.push_back(static_cast<char>(((lead & 0x03) << 6) | (next & 0x3F)));
      } else {
        Fail(path, "characters above \\u00ff do not fit in one byte");
      }
    }
    return bytes;
  }

  Device ReadDevice(const json& value, const std::string& path) const {
    Object(value, path);
    Keys(value, path,
         {"port", "friendlyName", "description", "enumerator", "class", "present", "properties",
          "wiring", "faults"});
    Device device;
    std::map<DWORD, std::string> origins;  // property code -> the field that set it
    auto setProperty = [&](DWORD code, Property property, const std::string& field) {
      if (!origins.emplace(code, field).second) {
        Fail(field, "property " + std::to_string(code) + " is already given by " + origins[code]);
      }
      device.properties[code] = std::move(property);
    };
    if (value.contains("port")) {
      device.portName = String(value["port"], path + ".port");
    }
    const std::pair<const char*, DWORD> named[] = {{"friendlyName", SPDRP_FRIENDLYNAME},
                                                   {"description", SPDRP_DEVICEDESC},
                                                   {"enumerator", SPDRP_ENUMERATOR_NAME}};
    for (const auto& [key, code] : named) {
      if (value.contains(key)) {
        const std::string field = path + "." + key;
        setProperty(code, Property::String(String(value[key], field)), field);
      }
    }
    if (value.contains("class")) {
      device.className = String(value["class"], path + ".class");
      if (device.className.empty()) {
        Fail(path + ".class", "must not be empty");
      }
    }
    if (value.contains("present")) {
      device.present = Bool(value["present"], path + ".present");
    }
    if (value.contains("properties")) {
      const json& list = value["properties"];
      if (!list.is_array()) {
        Fail(path + ".properties", "expected an array");
      }
      for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string field = path + ".properties[" + std::to_string(i) + "]";
        auto [code, property] = ReadProperty(list[i], field);
        setProperty(code, std::move(property), field);
      }
    }
    if (value.contains("wiring")) {
      device.wiring = ReadWiring(value["wiring"], path + ".wiring");
    }
    if (value.contains("faults")) {
      device.faults = ReadFaults(value["faults"], path + ".faults");
    }
    return device;
  }

  std::pair<DWORD, Property> ReadProperty(const json& value, const std::string& path) const {
    Object(value, path);
    Keys(value, path, {"code", "type", "value"});
    for (const char* key : {"code", "type", "value"}) {
      if (!value.contains(key)) {
        Fail(Join(path, key), "missing");
      }
    }
    const DWORD code = Number(value["code"], path + ".code");
    enum class Kind : std::uint8_t { Sz, MultiSz, DWord, Binary };
    const Kind kind = Choice<Kind>(value["type"], path + ".type",
                                   {{"sz", Kind::Sz},
                                    {"multi_sz", Kind::MultiSz},
                                    {"dword", Kind::DWord},
                                    {"binary", Kind::Binary}});
    const json& data = value["value"];
    const std::string field = path + ".value";
    switch (kind) {
      case Kind::Sz:
        return {code, Property::String(String(data, field))};
      case Kind::DWord:
        return {code, Property::DWord(Number(data, field))};
      case Kind::MultiSz: {
        if (!data.is_array()) {
          Fail(field, "expected an array of strings");
        }
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < data.size(); ++i) {
          texts.push_back(String(data[i], field + "[" + std::to_string(i) + "]"));
        }
        return {code, Property::MultiString(texts)};
      }
      case Kind::Binary: {
        if (!data.is_array()) {
          Fail(field, "expected an array of byte values");
        }
        std::vector<BYTE> bytes;
        for (std::size_t i = 0; i < data.size(); ++i) {
          const std::string item = field + "[" + std::to_string(i) + "]";
          const DWORD byte = Number(data[i], item);
          if (byte > 0xFF) {
            Fail(item, "expected a byte value from 0 to 255");
          }
          bytes.push_back(static_cast<BYTE>(byte));
        }
        return {code, Property::Binary(std::move(bytes))};
      }
    }
    Fail(path, "unknown property type");
  }

  Wiring ReadWiring(const json& value, const std::string& path) const {
    Object(value, path);
    Keys(value, path,
         {"echo", "rtsToCts", "dtrToDsr", "carrier", "ctsHeldOn", "answer", "latencyMs"});
    Wiring wiring;
    if (value.contains("echo")) {
      wiring.echo = Choice<Echo>(
          value["echo"], path + ".echo",
          {{"none", Echo::None}, {"always", Echo::Always}, {"whileDtrHigh", Echo::WhileDtrHigh}});
    }
    if (value.contains("rtsToCts")) {
      wiring.rtsToCts = Bool(value["rtsToCts"], path + ".rtsToCts");
    }
    if (value.contains("dtrToDsr")) {
      wiring.dtrToDsr = Bool(value["dtrToDsr"], path + ".dtrToDsr");
    }
    if (value.contains("carrier")) {
      wiring.carrier = Choice<Carrier>(
          value["carrier"], path + ".carrier",
          {{"off", Carrier::Off}, {"on", Carrier::On}, {"followsDtr", Carrier::FollowsDtr}});
    }
    if (value.contains("ctsHeldOn")) {
      wiring.ctsHeldOn = Bool(value["ctsHeldOn"], path + ".ctsHeldOn");
    }
    if (value.contains("answer")) {
      wiring.answer = Bytes(value["answer"], path + ".answer");
    }
    if (value.contains("latencyMs")) {
      wiring.latencyMs = Number(value["latencyMs"], path + ".latencyMs");
    }
    return wiring;
  }

  Faults ReadFaults(const json& value, const std::string& path) const {
    Object(value, path);
    Keys(value, path,
         {"held", "heldBy", "accessDenied", "group", "openError", "refuseCommState",
          "refusedBaudRates", "refuseQueueSizes", "pullOutAt"});
    Faults faults;
    if (value.contains("held")) {
      faults.held = Bool(value["held"], path + ".held");
    }
    if (value.contains("heldBy")) {
      if (value.contains("held") && !faults.held) {
        Fail(path + ".heldBy", "names the holder of a port that is not \"held\"");
      }
      faults.held = true;
      faults.heldBy = ReadHolder(value["heldBy"], path + ".heldBy");
    }
    if (value.contains("accessDenied")) {
      faults.accessDenied = Bool(value["accessDenied"], path + ".accessDenied");
    }
    if (value.contains("group")) {
      if (!faults.accessDenied) {
        Fail(path + ".group", "is the group of a port with \"accessDenied\": true");
      }
      faults.group = String(value["group"], path + ".group");
    }
    if (value.contains("openError")) {
      faults.openError = Number(value["openError"], path + ".openError");
    }
    if (value.contains("refuseCommState")) {
      faults.refuseCommState = Bool(value["refuseCommState"], path + ".refuseCommState");
    }
    if (value.contains("refusedBaudRates")) {
      const json& list = value["refusedBaudRates"];
      const std::string field = path + ".refusedBaudRates";
      if (!list.is_array()) {
        Fail(field, "expected an array of baud rates");
      }
      for (std::size_t i = 0; i < list.size(); ++i) {
        faults.refusedBaudRates.push_back(Number(list[i], field + "[" + std::to_string(i) + "]"));
      }
    }
    if (value.contains("refuseQueueSizes")) {
      faults.refuseQueueSizes = Bool(value["refuseQueueSizes"], path + ".refuseQueueSizes");
    }
    if (value.contains("pullOutAt")) {
      faults.pullOutAt = ReadPullOut(value["pullOutAt"], path + ".pullOutAt");
    }
    return faults;
  }

  PortHolder ReadHolder(const json& value, const std::string& path) const {
    Object(value, path);
    Keys(value, path, {"pid", "name", "user"});
    PortHolder holder;
    if (value.contains("pid")) {
      const DWORD pid = Number(value["pid"], path + ".pid");
      if (pid > 0x7FFFFFFF) {
        Fail(path + ".pid", "expected a process number from 0 (not known) to 2147483647");
      }
      holder.pid = static_cast<long>(pid);
    }
    if (value.contains("name")) {
      holder.name = String(value["name"], path + ".name");
    }
    if (value.contains("user")) {
      holder.user = String(value["user"], path + ".user");
    }
    return holder;
  }

  PullOutAt ReadPullOut(const json& value, const std::string& path) const {
    Object(value, path);
    Keys(value, path, {"call", "count"});
    if (!value.contains("call")) {
      Fail(path + ".call", "missing");
    }
    PullOutAt pull;
    pull.call = String(value["call"], path + ".call");
    bool known = false;
    std::string expected;
    for (const char* name : kCallNames) {
      known = known || pull.call == name;
      expected += std::string(expected.empty() ? "" : ", ") + name;
    }
    if (!known) {
      Fail(path + ".call", "expected the name of a comm call (" + expected + ")");
    }
    if (value.contains("count")) {
      const DWORD count = Number(value["count"], path + ".count");
      if (count < 1 || count > 0x7FFFFFFF) {
        Fail(path + ".count", "expected a count of 1 or more");
      }
      pull.count = static_cast<int>(count);
    }
    return pull;
  }

  std::string origin_;
};

}  // namespace

std::shared_ptr<BenchWorld> BenchWorld::FromJson(const std::string& text,
                                                 const std::string& origin) {
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
    throw BenchFileError(origin + ": is empty, not a bench file");
  }
  json root;
  try {
    root = json::parse(text);
  } catch (const json::parse_error& error) {
    throw BenchFileError(origin + ": " + ParseProblem(text, error));
  } catch (const json::exception& error) {
    throw BenchFileError(origin + ": not valid JSON (" + error.what() + ")");
  }
  auto devices = Reader(origin).Devices(root);
  auto world = Create();
  for (auto& device : devices) {
    world->AddDevice(std::move(device), false);
  }
  return world;
}

std::shared_ptr<BenchWorld> BenchWorld::LoadFile(const std::string& path) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    throw BenchFileError(path + ": is a directory, not a bench file");
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    throw BenchFileError(path + ": cannot be read (" + std::strerror(errno) + ")");
  }
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) {
    throw BenchFileError(path + ": cannot be read");
  }
  return FromJson(text.str(), path);
}

}  // namespace win::bench
