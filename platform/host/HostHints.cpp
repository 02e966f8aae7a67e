#include "platform/host/HostHints.h"

#include <grp.h>
#include <sys/stat.h>

namespace win::host {

std::optional<NodeGroup> GroupOfNode(const std::string& devicePath) {
  struct stat node {};
  if (stat(devicePath.c_str(), &node) != 0) {
    return std::nullopt;
  }
  NodeGroup result;
  struct group entry {};
  struct group* found = nullptr;
  char buffer[4096];
  result.name =
      getgrgid_r(node.st_gid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr
          ? found->gr_name
          : std::to_string(node.st_gid);
  result.root = node.st_gid == 0;
  result.membersMayOpen = (node.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  return result;
}

std::string AccessHint(const NodeGroup& group) {
  const std::string relogin = "Новая группа действует после повторного входа в систему.";
  if (group.membersMayOpen && !group.root) {
    return "Добавьте пользователя в группу «" + group.name + "»: sudo usermod -aG " + group.name +
           " $USER. " + relogin;
  }
  return "Права узла не открывают его и группе «" + group.name +
         "»: доступ может дать администратор правилом udev (GROUP и MODE=\"0660\"). " + relogin;
}

std::string HolderHint(const std::string& holder, const HostPortInfo& port) {
  if (holder == "ModemManager") {
    const std::string match = port.vendorId.empty()
                                  ? std::string("для этого устройства")
                                  : "ATTRS{idVendor}==\"" + port.vendorId +
                                        "\", ATTRS{idProduct}==\"" + port.productId + "\",";
    return "ModemManager ищет на порту модем. Чтобы он не трогал адаптер, задайте свойство udev "
           "ID_MM_DEVICE_IGNORE: правило " +
           match +
           " ENV{ID_MM_DEVICE_IGNORE}=\"1\" в /etc/udev/rules.d/99-talvik.rules, затем "
           "переподключите адаптер.";
  }
  if (holder == "brltty") {
    return "brltty (служба брайлевских дисплеев) захватывает распространённые микросхемы "
           "USB-адаптеров (CH340, CP210x, FTDI и другие). Если брайлевский дисплей не нужен, "
           "отключите её: sudo systemctl mask --now brltty-udev.service brltty.service (или "
           "удалите пакет brltty) и переподключите адаптер.";
  }
  if (holder == "agetty" || holder == "getty" || holder == "mgetty") {
    return "На порту ждёт входа в систему " + holder + ": sudo systemctl stop serial-getty@" +
           port.node + ".service.";
  }
  return {};
}

}  // namespace win::host
