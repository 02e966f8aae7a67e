#include "cli/ScanReport.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "app/PortContainerFrame.h"
#include "app/PortFactsText.h"
#include "app/PortList.h"
#include "app/Unit1.h"
#include "platform/Additions.h"

namespace {

using Json = nlohmann::ordered_json;

Json TextOrNull(const std::string& text) {
  return text.empty() ? Json() : Json(text);
}

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

// No cell of the text table is wider than this many columns; the JSON keeps full values.
constexpr std::size_t kMaxCellWidth = 40;

// A cell as the terminal should get it: control characters (line breaks, escape sequences from
// a device's own name) become "?", and a text wider than the limit is cut to end with "…".
std::string TableCell(const std::string& text) {
  const bool cut = DisplayWidth(text) > kMaxCellWidth;
  std::string cell;
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xC0) != 0x80 && ++width == kMaxCellWidth && cut) {
      return cell + "…";
    }
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (byte < 0x20 || byte == 0x7F) {
      cell += '?';
    } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {  // U+0080..U+009F
      cell += '?';
      ++i;
    } else {
      cell += text[i];
    }
  }
  return cell;
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
    row.Facts = view.Facts;
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string FormatScanText(const std::vector<ScanRow>& rows) {
  // The device node and holder columns only where the device world knows them.
  const auto any = [&rows](auto&& known) { return std::any_of(rows.begin(), rows.end(), known); };
  const bool nodes = any([](const ScanRow& row) { return !row.Facts.node.empty(); });
  const bool holders = any([](const ScanRow& row) { return !HolderSummary(row.Facts).empty(); });
  std::vector<std::string> header = {"Порт", "Название", "Состояние", "Тип адаптера"};
  if (nodes) {
    header.push_back("Устройство");
  }
  if (holders) {
    header.push_back("Кем занят");
  }
  std::vector<std::vector<std::string>> table = {header};
  for (const ScanRow& row : rows) {
    table.push_back({row.Port, row.Description, row.State, row.Adapter});
    if (nodes) {
      table.back().push_back(row.Facts.node);
    }
    if (holders) {
      table.back().push_back(HolderSummary(row.Facts));
    }
    for (std::string& cell : table.back()) {
      cell = TableCell(cell);
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
    const win::PortFacts& facts = row.Facts;
    port["node"] = TextOrNull(facts.node);
    port["byId"] = TextOrNull(facts.byId);
    port["driver"] = TextOrNull(facts.driver);
    port["vid"] = TextOrNull(facts.vendorId);
    port["pid"] = TextOrNull(facts.productId);
    port["serial"] = TextOrNull(facts.serial);
    port["console"] = facts.console;
    port["heldBy"] = nullptr;
    if (facts.heldBy) {
      port["heldBy"] = {{"pid", facts.heldBy->pid > 0 ? Json(facts.heldBy->pid) : Json()},
                        {"name", TextOrNull(facts.heldBy->name)},
                        {"user", TextOrNull(facts.heldBy->user)}};
    }
    port["access"] = facts.access == win::PortAccess::Granted  ? Json("granted")
                     : facts.access == win::PortAccess::Denied ? Json("denied")
                                                               : Json();
    array.push_back(std::move(port));
  }
  // Texts from devices may hold bytes that are not UTF-8; they are replaced, not fatal.
  return array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}
