#include "app/Texts.h"

namespace texts {

// The window, its rows and the report.

std::string StatusText(PortStatus status) {
  switch (status) {
    case PortStatus::Free:
      return kFree;
    case PortStatus::Busy:
      return kBusy;
    case PortStatus::NoAccess:
      return kNoAccess;
  }
  return {};
}

std::string AdapterName(AdapterKind kind) {
  switch (kind) {
    case AdapterKind::NotTested:
    case AdapterKind::NoneFound:
      return {};
    case AdapterKind::KLine:
      return "Адаптер К-Лайн";
    case AdapterKind::CableV1:
      return "Кварион COM v1";
    case AdapterKind::CableV2:
      return "Кварион USB v2";
    case AdapterKind::CableV3:
      return "Кварион USB v3";
  }
  return {};
}

// Device facts, hints, the settings page and the About window.

namespace {

std::string WireText(const win::WiringPart& part) {
  switch (part.wire) {
    case win::Wire::Echo:
      return "эхо";
    case win::Wire::EchoWhileDtrHigh:
      return "эхо при высоком DTR";
    case win::Wire::Answer:
      return "ответ: " + std::to_string(part.number) + " байт";
    case win::Wire::AnswerLatency:
      return "задержка ответа " + std::to_string(part.number) + " " + kMilliseconds;
    case win::Wire::RtsToCts:
      return "RTS замкнут на CTS";
    case win::Wire::DtrToDsr:
      return "DTR замкнут на DSR";
    case win::Wire::CarrierOn:
      return "CD включён";
    case win::Wire::CarrierFollowsDtr:
      return "CD следует за DTR";
    case win::Wire::CtsHeldOn:
      return "CTS всегда включён";
  }
  return {};
}

std::string WiringText(const std::vector<win::WiringPart>& parts) {
  if (parts.empty()) {
    return "ничего не подключено";
  }
  std::string text;
  for (const win::WiringPart& part : parts) {
    text += (text.empty() ? "" : ", ") + WireText(part);
  }
  return text;
}

std::string StateText(const win::DeviceDetail& detail) {
  switch (detail.state) {
    case win::DeviceState::Free:
      return "свободен";
    case win::DeviceState::Open:
      return "открыт";
    case win::DeviceState::Held:
      return "занят другой программой";
    case win::DeviceState::AccessDenied:
      return "нет доступа";
    case win::DeviceState::OpenFails:
      return "не открывается (ошибка " + std::to_string(detail.number) + ")";
    case win::DeviceState::Absent:
      return "отсутствует";
    case win::DeviceState::PulledOut:
      return "отключён";
  }
  return {};
}

constexpr char kRelogin[] = "Новая группа действует после повторного входа в систему.";

// The udev rule's match of the adapter: by its USB IDs where it has them.
std::string AdapterMatch(const win::PortHint& hint) {
  if (hint.vendorId.empty()) {
    return "для этого устройства";
  }
  return "ATTRS{idVendor}==\"" + hint.vendorId + "\", ATTRS{idProduct}==\"" + hint.productId +
         "\",";
}

}  // namespace

std::string DeviceFactLabel(win::DeviceFact fact) {
  switch (fact) {
    case win::DeviceFact::Node:
      return "Устройство";
    case win::DeviceFact::ById:
      return "Имя в /dev/serial/by-id";
    case win::DeviceFact::ByPath:
      return "Имя в /dev/serial/by-path";
    case win::DeviceFact::Driver:
      return "Драйвер";
    case win::DeviceFact::Bus:
      return "Шина";
    case win::DeviceFact::VendorId:
      return "USB VID";
    case win::DeviceFact::ProductId:
      return "USB PID";
    case win::DeviceFact::Manufacturer:
      return "Изготовитель";
    case win::DeviceFact::SerialNumber:
      return "Серийный номер";
    case win::DeviceFact::LowLatency:
      return "Режим low_latency";
    case win::DeviceFact::LatencyTimer:
      return kLatencyTimerLabel;
    case win::DeviceFact::Wiring:
      return "Подключено";
    case win::DeviceFact::State:
      return kColumnState;
  }
  return {};
}

std::string DeviceFactValue(const win::DeviceDetail& detail) {
  switch (detail.fact) {
    case win::DeviceFact::Node:
    case win::DeviceFact::ById:
    case win::DeviceFact::ByPath:
    case win::DeviceFact::Driver:
    case win::DeviceFact::Bus:
    case win::DeviceFact::VendorId:
    case win::DeviceFact::ProductId:
    case win::DeviceFact::Manufacturer:
    case win::DeviceFact::SerialNumber:
      return detail.text;
    case win::DeviceFact::LowLatency:
      return detail.number != 0 ? "включён" : "выключен";
    case win::DeviceFact::LatencyTimer:
      return detail.text + " " + kMilliseconds;
    case win::DeviceFact::Wiring:
      return WiringText(detail.wiring);
    case win::DeviceFact::State:
      return StateText(detail);
  }
  return {};
}

std::string DeviceSettingLabel(const std::string& key) {
  return key == win::kLatencyTimerKey ? kLatencyTimerLabel : key;
}

std::string DeviceSettingUnit(const std::string& key) {
  return key == win::kLatencyTimerKey ? kMilliseconds : "";
}

std::string HolderPid(long pid) {
  return "PID " + std::to_string(pid);
}

std::string HolderUser(const std::string& user) {
  return "пользователь " + user;
}

std::string NodeOfGroup(const std::string& group) {
  return "узел принадлежит группе «" + group + "»";
}

std::string HintText(const win::PortHint& hint) {
  switch (hint.code) {
    case win::Hint::None:
      return {};
    case win::Hint::JoinGroup:
      return "Добавьте пользователя в группу «" + hint.group + "»: sudo usermod -aG " + hint.group +
             " $USER. " + kRelogin;
    case win::Hint::UdevRule:
      return "Права узла не открывают его и группе «" + hint.group +
             "»: доступ может дать администратор правилом udev (GROUP и MODE=\"0660\"). " +
             kRelogin;
    case win::Hint::ModemManager:
      return "ModemManager ищет на порту модем. Чтобы он не трогал адаптер, задайте свойство udev "
             "ID_MM_DEVICE_IGNORE: правило " +
             AdapterMatch(hint) +
             " ENV{ID_MM_DEVICE_IGNORE}=\"1\" в /etc/udev/rules.d/99-talvik.rules, затем "
             "переподключите адаптер.";
    case win::Hint::Brltty:
      return "brltty (служба брайлевских дисплеев) захватывает распространённые микросхемы "
             "USB-адаптеров (CH340, CP210x, FTDI и другие). Если брайлевский дисплей не нужен, "
             "отключите её: sudo systemctl mask --now brltty-udev.service brltty.service (или "
             "удалите пакет brltty) и переподключите адаптер.";
    case win::Hint::Getty:
      return "На порту ждёт входа в систему " + hint.program +
             ": sudo systemctl stop serial-getty@" + hint.line + ".service.";
  }
  return {};
}

std::string SettingNotChanged(const std::string& setting, const std::string& reason) {
  return "Не удалось изменить «" + setting + "»: " + reason;
}

std::string VersionText(const std::string& version) {
  return "Версия : " + version;
}

}  // namespace texts
