#include "app/Texts.h"

namespace texts {

// The window, its rows and the report.

std::string StatusText(PortStatus status) {
  switch (status) {
    case PortStatus::Free:
      return "Свободен";
    case PortStatus::Busy:
      return "Занят";
    case PortStatus::NoAccess:
      return "Нет доступа";
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

}  // namespace texts
