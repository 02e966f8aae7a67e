#pragma once
// Texts: every text that Talvik shows its users, one constant or function each. The layers below
// hand up facts and codes; only this catalogue puts them into words. Qt-free, so that the window
// and talvik-scan word things alike.

#include <string>

#include "app/ScanModel.h"

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
inline constexpr char kColumnNode[] = "Устройство";
inline constexpr char kColumnHolder[] = "Кем занят";
inline constexpr char kNoPorts[] = "Портов не найдено.";
// The tool tip of a busy port's settings icon, which does nothing.
inline constexpr char kBusySettings[] =
    "Порт занят другой программой: его настройки откроются, когда он освободится.";

// "Свободен", "Занят" or "Нет доступа".
std::string StatusText(PortStatus status);
// The adapter cell: empty where nothing was tested or found.
std::string AdapterName(AdapterKind kind);

// Device facts, hints, the settings page and the About window.

}  // namespace texts
