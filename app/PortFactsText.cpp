#include "app/PortFactsText.h"

namespace {

void Add(TFactLines& lines, const char* label, const std::string& value) {
  if (!value.empty()) {
    lines.emplace_back(label, value);
  }
}

}  // namespace

TFactLines DeviceFactLines(const win::PortFacts& facts) {
  TFactLines lines;
  Add(lines, "Устройство", facts.node);
  Add(lines, "Имя в /dev/serial/by-id", facts.byId);
  Add(lines, "Драйвер", facts.driver);
  Add(lines, "USB VID", facts.vendorId);
  Add(lines, "USB PID", facts.productId);
  Add(lines, "Серийный номер", facts.serial);
  for (const auto& detail : facts.details) {
    Add(lines, detail.first.c_str(), detail.second);
  }
  return lines;
}

TFactLines StatusFactLines(const win::PortFacts& facts) {
  TFactLines lines;
  Add(lines, "Занят", HolderSummary(facts));
  if (facts.access == win::PortAccess::Denied) {
    Add(lines, "Нет доступа",
        facts.group.empty() ? std::string("нет прав на открытие узла")
                            : "узел принадлежит группе «" + facts.group + "»");
  }
  Add(lines, "Что делать", facts.hint);
  return lines;
}

std::string PortToolTip(const win::PortFacts& facts) {
  std::string text;
  for (const TFactLines& lines : {DeviceFactLines(facts), StatusFactLines(facts)}) {
    for (const auto& [label, value] : lines) {
      text += (text.empty() ? "" : "\n") + label + ": " + value;
    }
  }
  return text;
}

std::string HolderText(const win::PortHolder& holder) {
  std::string details;
  if (holder.pid > 0) {
    details = "PID " + std::to_string(holder.pid);
  }
  if (!holder.user.empty()) {
    details += (details.empty() ? "" : ", ") + std::string("пользователь ") + holder.user;
  }
  if (holder.name.empty()) {
    return details.empty() ? std::string("другая программа") : "другая программа (" + details + ")";
  }
  return details.empty() ? holder.name : holder.name + " (" + details + ")";
}

std::string HolderSummary(const win::PortFacts& facts) {
  if (facts.console) {
    return facts.heldBy ? "системная консоль, " + HolderText(*facts.heldBy)
                        : std::string("системная консоль");
  }
  if (facts.heldBy) {
    return HolderText(*facts.heldBy);
  }
  return facts.held ? "другая программа" : "";
}

std::string PortStateText(bool busy, const win::PortFacts& facts) {
  if (!busy) {
    return "Свободен";
  }
  return facts.access == win::PortAccess::Denied ? "Нет доступа" : "Занят";
}
