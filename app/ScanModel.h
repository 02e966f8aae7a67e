#pragma once
// PortRecord, AdapterKind and PortStatus: one scan's result as plain data, one record per port
// with everything its row and the reports show. The window fills the records; the row area draws
// them and talvik-scan prints them.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/Additions.h"

class TAPort;

// What hangs on a port, as the line-loop test or the echo probe found it.
enum class AdapterKind : std::uint8_t { NotTested, NoneFound, KLine, CableV1, CableV2, CableV3 };

// Each kind found on a free port: the adapter type that discovery and the probe store for it, its
// code in the JSON report, and whether it is one of the cables (their own state icons).
struct AdapterKindFacts {
  AdapterKind kind;
  std::int32_t adapterType;
  const char* code;
  bool cable;
};

inline constexpr std::array kAdapterKinds = {
    AdapterKindFacts{AdapterKind::NoneFound, -1, "none", false},
    AdapterKindFacts{AdapterKind::KLine, 0, "k-line", false},
    AdapterKindFacts{AdapterKind::CableV1, 1, "cable-v1", true},
    AdapterKindFacts{AdapterKind::CableV2, 2, "cable-v2", true},
    AdapterKindFacts{AdapterKind::CableV3, 3, "cable-v3", true},
};

// The kind behind an adapter type. A busy port was never probed: only a cable that the line-loop
// test found before the port was taken counts there.
AdapterKind AdapterKindOf(std::int32_t adapterType, bool busy);
// The kind's facts; none for NotTested.
std::optional<AdapterKindFacts> FactsOf(AdapterKind kind);

enum class PortStatus : std::uint8_t { Free, Busy, NoAccess };

struct PortRecord {
  std::string Port;
  std::string FriendlyName;
  std::string Description;
  std::int32_t DeviceIndex = 0;
  bool Busy = false;
  std::int32_t AdapterType = 0;  // as discovery and the probe left it
  AdapterKind Kind = AdapterKind::NotTested;
  std::string ProbeError;  // the message of a probe step that failed; empty when none did
  win::PortFacts Facts;    // what the device world knew of the port when its row was built

  PortStatus Status() const;
  bool Cable() const;
};

// The record of a port that discovery found and the probe typed; the probe's error and the
// device world's facts are the controller's to add.
PortRecord RecordOf(const TAPort& port);
