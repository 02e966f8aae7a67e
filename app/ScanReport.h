#pragma once
// FormatScanText and FormatScanJson: one scan's records as talvik-scan prints them and as the
// window copies them to the clipboard.

#include <string>
#include <vector>

#include "app/ScanModel.h"

// One line per port: port, description, state, adapter text, and where the device world knows
// them the device node and the holder, in aligned columns under a header line; a scan that found
// no port says so under the header.
std::string FormatScanText(const std::vector<PortRecord>& records);

enum class JsonLayout : std::uint8_t { Indented, OneLine };
// A JSON array with one object per port, ending with a line break.
std::string FormatScanJson(const std::vector<PortRecord>& records,
                           JsonLayout layout = JsonLayout::Indented);
