#pragma once
// Texts: every text that Talvik shows its users, one constant or function each. The layers below
// hand up facts and codes; only this catalogue puts them into words. Qt-free, so that the window
// and talvik-scan word things alike.

#include <string>

#include "app/ScanModel.h"
#include "platform/Additions.h"

namespace texts {

// The window, its rows and the report.

inline constexpr char kTitle[] = "Тальвик";
inline constexpr char kScan[] = "Сканировать";
inline constexpr char kScanHint[] = "Сканировать последовательные порты компьютера";
inline constexpr char kAbout[] = "О программе";
inline constexpr char kAboutHint[] = "Назначение программы";
inline constexpr char kCopyReport[] = "Копировать отчёт";
inline constexpr char kScanRunning[] = "Идет сканирование...";
inline constexpr char kScanFinished[] = "Сканирование завершено.";
inline constexpr char kColumnPort[] = "Порт";
inline constexpr char kColumnName[] = "Название";
inline constexpr char kColumnState[] = "Состояние";
inline constexpr char kColumnAdapter[] = "Тип адаптера";
inline constexpr char kColumnHolder[] = "Кем занят";
inline constexpr char kNoPorts[] = "Портов не найдено.";
// The tool tip of a busy port's settings icon, which does nothing.
inline constexpr char kBusySettings[] =
    "Порт занят другой программой: его настройки откроются, когда он освободится.";

// kFree, kBusy or kNoAccess.
std::string StatusText(PortStatus status);
// The adapter cell: empty where nothing was tested or found.
std::string AdapterName(AdapterKind kind);

// Device facts, hints, the settings page and the About window.

// The facts of a device: the label of each, and its value in words (a text fact as it is).
std::string DeviceFactLabel(win::DeviceFact fact);
std::string DeviceFactValue(const win::DeviceDetail& detail);
// Shared by the latency timer's fact and its setting.
inline constexpr char kLatencyTimerLabel[] = "Задержка FTDI (latency_timer)";
inline constexpr char kMilliseconds[] = "мс";

// A device setting's label and unit, by its key (an unknown key labels itself).
std::string DeviceSettingLabel(const std::string& key);
std::string DeviceSettingUnit(const std::string& key);

// A port's state. The busy and refused states also label the status lines that say who holds
// the port and why it may not be opened.
inline constexpr char kFree[] = "Свободен";
inline constexpr char kBusy[] = "Занят";
inline constexpr char kNoAccess[] = "Нет доступа";
inline constexpr char kWhatToDo[] = "Что делать";

// Who holds a port.
inline constexpr char kOtherProgram[] = "другая программа";
inline constexpr char kSystemConsole[] = "системная консоль";
std::string HolderPid(long pid);
std::string HolderUser(const std::string& user);

// Why a port may not be opened.
inline constexpr char kNoRightsToNode[] = "нет прав на открытие узла";
std::string NodeOfGroup(const std::string& group);

// What the user can do about a holder or missing rights; empty for no hint.
std::string HintText(const win::PortHint& hint);

// The settings page (its port line is labelled kColumnPort).
inline constexpr char kDescriptionLabel[] = "Описание";
inline constexpr char kOnlyAdministratorMayChange[] = "изменить может только администратор";
inline constexpr char kCancel[] = "Отмена";
// A device setting that could not be changed, and the system's reason.
std::string SettingNotChanged(const std::string& setting, const std::string& reason);

// The About window (its title is kAbout): the lines that say what the program is for, and its
// version.
inline constexpr const char* kAboutLines[] = {
    "Программа предназначена для ", "определения доступных последовательных", "портов в системе."};
std::string VersionText(const std::string& version);

}  // namespace texts
