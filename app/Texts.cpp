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

std::string SettingNotChanged(const std::string& setting, const std::string& reason) {
  return "Не удалось изменить «" + setting + "»: " + reason;
}

std::string VersionText(const std::string& version) {
  return "Версия : " + version;
}

}  // namespace texts
