#include "app/ScanReport.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "app/PortFactsText.h"
#include "app/Texts.h"

namespace {

using Json = nlohmann::ordered_json;

Json TextOrNull(const std::string& text) {
  return text.empty() ? Json() : Json(text);
}

const char* StatusCode(PortStatus status) {
  switch (status) {
    case PortStatus::Free:
      return "free";
    case PortStatus::Busy:
      return "busy";
    case PortStatus::NoAccess:
      return "no-access";
  }
  return "";
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

std::string FormatScanText(const std::vector<PortRecord>& records) {
  // The device node and holder columns only where the device world knows them.
  const auto any = [&records](auto&& known) {
    return std::any_of(records.begin(), records.end(), known);
  };
  const bool nodes = any([](const PortRecord& record) { return !record.Facts.node.empty(); });
  const bool holders =
      any([](const PortRecord& record) { return !HolderSummary(record.Facts).empty(); });
  std::vector<std::string> header = {texts::kColumnPort, texts::kColumnName, texts::kColumnState,
                                     texts::kColumnAdapter};
  if (nodes) {
    header.emplace_back(texts::DeviceFactLabel(win::DeviceFact::Node));
  }
  if (holders) {
    header.emplace_back(texts::kColumnHolder);
  }
  std::vector<std::vector<std::string>> table = {header};
  for (const PortRecord& record : records) {
    table.push_back({record.Port, record.Description, texts::StatusText(record.Status()),
                     texts::AdapterName(record.Kind)});
    if (nodes) {
      table.back().push_back(record.Facts.node);
    }
    if (holders) {
      table.back().push_back(HolderSummary(record.Facts));
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
  if (records.empty()) {
    text += std::string(texts::kNoPorts) + '\n';
  }
  return text;
}

std::string FormatScanJson(const std::vector<PortRecord>& records, JsonLayout layout) {
  Json array = Json::array();
  for (const PortRecord& record : records) {
    Json port;
    port["port"] = record.Port;
    port["friendlyName"] = record.FriendlyName;
    port["description"] = record.Description;
    port["deviceIndex"] = record.DeviceIndex;
    port["busy"] = record.Busy;
    port["state"] = texts::StatusText(record.Status());
    port["status"] = StatusCode(record.Status());
    port["adapterType"] = record.AdapterType;
    port["adapter"] = TextOrNull(texts::AdapterName(record.Kind));
    const std::optional<AdapterKindFacts> kind = FactsOf(record.Kind);
    port["adapterKind"] = kind ? Json(kind->code) : Json();
    port["error"] = TextOrNull(record.ProbeError);
    const win::PortFacts& facts = record.Facts;
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
  const int indent = layout == JsonLayout::Indented ? 2 : -1;
  return array.dump(indent, ' ', false, Json::error_handler_t::replace) + "\n";
}
