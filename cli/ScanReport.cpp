#include "cli/ScanReport.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "app/PortContainerFrame.h"
#include "app/PortList.h"
#include "app/Unit1.h"
#include "platform/Additions.h"

namespace {

// The cells start with two blanks in the window; the report does not.
std::string CellText(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

// Columns on a terminal: one per UTF-8 code point (the texts are Latin and Cyrillic).
std::size_t DisplayWidth(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

void AppendPadded(std::string& line, const std::string& text, std::size_t width) {
  line += text;
  line.append(width - DisplayWidth(text) + 2, ' ');
}

}  // namespace

std::vector<ScanRow> CollectScanRows(const TForm1& form) {
  std::vector<ScanRow> rows;
  const TPortList* list = form.PortList();
  const std::vector<TPortRowView> views = form.Frame21().RowViews();
  for (std::size_t i = 0; i < views.size(); ++i) {
    const TPortRowView& view = views[i];
    ScanRow row;
    row.Port = CellText(view.Port);
    row.Description = CellText(view.Description);
    row.State = CellText(view.State);
    row.Adapter = CellText(view.Adapter);
    // Every entry of the port list gets exactly one row, in list order.
    if (list == nullptr || static_cast<int>(i) >= list->Count() ||
        list->Key(static_cast<int>(i)) != view.Key) {
      throw std::logic_error("the rows do not match the port list");
    }
    const TAPort& port = list->Object(static_cast<int>(i));
    row.FriendlyName = port.FriendlyName;
    row.DeviceIndex = port.DeviceIndex;
    row.Busy = port.Busy;
    row.AdapterType = port.AdapterType;
    row.Node = win::DeviceNodeOf(port.PortName);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string FormatScanText(const std::vector<ScanRow>& rows) {
  // The device node column only where the device world knows nodes.
  const bool nodes =
      std::any_of(rows.begin(), rows.end(), [](const ScanRow& row) { return !row.Node.empty(); });
  std::vector<std::string> header = {"Порт", "Название", "Состояние", "Тип адаптера"};
  if (nodes) {
    header.push_back("Устройство");
  }
  std::vector<std::vector<std::string>> table = {header};
  for (const ScanRow& row : rows) {
    table.push_back({row.Port, row.Description, row.State, row.Adapter});
    if (nodes) {
      table.back().push_back(row.Node);
    }
  }
  std::vector<std::size_t> widths(header.size(), 0);
  for (const auto& cells : table) {
    for (std::size_t c = 0; c < cells.size(); ++c) {
      widths[c] = std::max(widths[c], DisplayWidth(cells[c]));
    }
  }
  std::string text;
  for (const auto& cells : table) {
    std::string line;
    for (std::size_t c = 0; c < cells.size(); ++c) {
      AppendPadded(line, cells[c], widths[c]);
    }
    line.erase(line.find_last_not_of(' ') + 1);
    text += line + '\n';
  }
  return text;
}

std::string FormatScanJson(const std::vector<ScanRow>& rows) {
  nlohmann::ordered_json array = nlohmann::ordered_json::array();
  for (const ScanRow& row : rows) {
    nlohmann::ordered_json port;
    port["port"] = row.Port;
    port["friendlyName"] = row.FriendlyName;
    port["description"] = row.Description;
    port["deviceIndex"] = row.DeviceIndex;
    port["busy"] = row.Busy;
    port["state"] = row.State;
    port["adapterType"] = row.AdapterType;
    port["adapter"] = row.Adapter;
    if (!row.Node.empty()) {
      port["node"] = row.Node;
    }
    array.push_back(std::move(port));
  }
  // Texts from devices may hold bytes that are not UTF-8; they are replaced, not fatal.
  return array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}
