#include "app/Texts.h"

namespace texts {

// The window, its rows and the report.

// Device facts, hints, the settings page and the About window.

std::string HolderPid(long pid) {
  return "PID " + std::to_string(pid);
}

std::string HolderUser(const std::string& user) {
  return "пользователь " + user;
}

std::string NodeOfGroup(const std::string& group) {
  return "узел принадлежит группе «" + group + "»";
}

namespace {

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
