#pragma once
// ScanRow, CollectScanRows, FormatScanText and FormatScanJson: one scan's result as the window
// shows it, and its text and JSON forms.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Additions.h"

class TForm1;

struct ScanRow {
  std::string Port;
  std::string FriendlyName;
  std::string Description;
  std::int32_t DeviceIndex = 0;
  bool Busy = false;
  std::int32_t AdapterType = 0;
  std::string State;  // "Занят", "Нет доступа" or "Свободен", as in the row
  std::string Adapter;   // the row's adapter text, possibly empty
  win::PortFacts Facts;  // what the device world knew of the port when its row was built
};

// The rows of the window's last scan, in their order, with the records behind them.
std::vector<ScanRow> CollectScanRows(const TForm1& form);

// One line per port: port, description, state, adapter text, and where the device world knows
// them the device node and the holder, in aligned columns under a header line.
std::string FormatScanText(const std::vector<ScanRow>& rows);
// A JSON array with one object per port.
std::string FormatScanJson(const std::vector<ScanRow>& rows);
