#include "platform/bench/BenchWorld.h"

namespace win::bench {

Property Property::String(const std::string& text) {
  Property property;
  property.type = REG_SZ;
  property.data.assign(text.begin(), text.end());
  property.data.push_back(0);
  return property;
}

Property Property::MultiString(const std::vector<std::string>& texts) {
  Property property;
  property.type = REG_MULTI_SZ;
  for (const auto& text : texts) {
    property.data.insert(property.data.end(), text.begin(), text.end());
    property.data.push_back(0);
  }
  property.data.push_back(0);
  return property;
}

Property Property::DWord(DWORD value) {
  Property property;
  property.type = REG_DWORD;
  for (int shift = 0; shift < 32; shift += 8) {
    property.data.push_back(static_cast<BYTE>(value >> shift));
  }
  return property;
}

Property Property::Binary(std::vector<BYTE> bytes) {
  Property property;
  property.type = REG_BINARY;
  property.data = std::move(bytes);
  return property;
}

Device MakePort(const std::string& portName, const std::string& description,
                const std::string& enumerator) {
  Device device;
  device.portName = portName;
  device.properties[SPDRP_FRIENDLYNAME] = Property::String(description + " (" + portName + ")");
  device.properties[SPDRP_DEVICEDESC] = Property::String(description);
  device.properties[SPDRP_ENUMERATOR_NAME] = Property::String(enumerator);
  return device;
}

}  // namespace win::bench
