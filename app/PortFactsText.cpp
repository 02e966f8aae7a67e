#include "app/PortFactsText.h"

#include "app/Texts.h"

namespace {

void Add(TFactLines& lines, const std::string& label, const std::string& value) {
  if (!value.empty()) {
    lines.emplace_back(label, value);
  }
}

}  // namespace

TFactLines DeviceFactLines(const win::PortFacts& facts) {
  using win::DeviceDetail;
  using win::DeviceFact;
  std::vector<DeviceDetail> details = {
      DeviceDetail::Text(DeviceFact::Node, facts.node),
      DeviceDetail::Text(DeviceFact::ById, facts.byId),
      DeviceDetail::Text(DeviceFact::Driver, facts.driver),
      DeviceDetail::Text(DeviceFact::VendorId, facts.vendorId),
      DeviceDetail::Text(DeviceFact::ProductId, facts.productId),
      DeviceDetail::Text(DeviceFact::SerialNumber, facts.serial),
  };
  details.insert(details.end(), facts.details.begin(), facts.details.end());
  TFactLines lines;
  for (const DeviceDetail& detail : details) {
    Add(lines, texts::DeviceFactLabel(detail.fact), texts::DeviceFactValue(detail));
  }
  return lines;
}

TFactLines StatusFactLines(const win::PortFacts& facts) {
  TFactLines lines;
  Add(lines, texts::kBusy, HolderSummary(facts));
  if (facts.access == win::PortAccess::Denied) {
    Add(lines, texts::kNoAccess,
        facts.group.empty() ? texts::kNoRightsToNode : texts::NodeOfGroup(facts.group));
  }
  Add(lines, texts::kWhatToDo, texts::HintText(facts.hint));
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
    details = texts::HolderPid(holder.pid);
  }
  if (!holder.user.empty()) {
    details += (details.empty() ? "" : ", ") + texts::HolderUser(holder.user);
  }
  const std::string name = holder.name.empty() ? texts::kOtherProgram : holder.name;
  return details.empty() ? name : name + " (" + details + ")";
}

std::string HolderSummary(const win::PortFacts& facts) {
  if (facts.console) {
    return facts.heldBy ? texts::kSystemConsole + (", " + HolderText(*facts.heldBy))
                        : texts::kSystemConsole;
  }
  if (facts.heldBy) {
    return HolderText(*facts.heldBy);
  }
  return facts.held ? texts::kOtherProgram : "";
}
