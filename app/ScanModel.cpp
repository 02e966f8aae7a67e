#include "app/ScanModel.h"

#include <algorithm>

#include "discovery/ExistingSerialPorts.h"

AdapterKind AdapterKindOf(std::int32_t adapterType, bool busy) {
  const auto* found = std::find_if(
      kAdapterKinds.begin(), kAdapterKinds.end(),
      [adapterType](const AdapterKindFacts& facts) { return facts.adapterType == adapterType; });
  if (found == kAdapterKinds.end() || (busy && !found->cable)) {
    return AdapterKind::NotTested;
  }
  return found->kind;
}

std::optional<AdapterKindFacts> FactsOf(AdapterKind kind) {
  for (const AdapterKindFacts& facts : kAdapterKinds) {
    if (facts.kind == kind) {
      return facts;
    }
  }
  return std::nullopt;
}

PortStatus PortRecord::Status() const {
  if (!Busy) {
    return PortStatus::Free;
  }
  return Facts.access == win::PortAccess::Denied ? PortStatus::NoAccess : PortStatus::Busy;
}

bool PortRecord::Cable() const {
  const std::optional<AdapterKindFacts> facts = FactsOf(Kind);
  return facts && facts->cable;
}

PortRecord RecordOf(const TAPort& port) {
  PortRecord record;
  record.Port = port.PortName;
  record.FriendlyName = port.FriendlyName;
  record.Description = port.Description;
  record.DeviceIndex = port.DeviceIndex;
  record.Busy = port.Busy;
  record.AdapterType = port.AdapterType;
  record.Kind = AdapterKindOf(port.AdapterType, port.Busy);
  return record;
}
