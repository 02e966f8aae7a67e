#include "app/AdvancedSettingsPage.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>
#include <QWidget>
#include <string>

using namespace win;

namespace {

const char* const kModuleName = "msports.dll";
const char* const kPageExport = "SerialDisplayAdvancedSettings";

QPointer<QWidget>& PageOwner() {
  static QPointer<QWidget> owner;
  return owner;
}

std::string ReadText(HDEVINFO list, PSP_DEVINFO_DATA data, DWORD property) {
  DWORD type = REG_SZ;
  DWORD required = 0;
  SetupDiGetDeviceRegistryPropertyA(list, data, property, &type, nullptr, 0, &required);
  if (required == 0 || (type != REG_SZ && type != REG_MULTI_SZ)) {
    return {};
  }
  std::string text(required, '\0');
  if (!SetupDiGetDeviceRegistryPropertyA(
          list, data, property, &type, reinterpret_cast<PBYTE>(text.data()), required, &required)) {
    return {};
  }
  text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
  return text;
}

QLabel* ValueLabel(const std::string& text) {
  auto* label = new QLabel(QString::fromStdString(text));
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

}  // namespace

void RegisterAdvancedSettingsPage(QWidget* owner) {
  PageOwner() = owner;
  if (HMODULE module = LoadLibraryA(kModuleName)) {
    const bool present = GetProcAddress(module, kPageExport) != nullptr;
    FreeLibrary(module);
    if (present) {
      return;
    }
  }
  RegisterBuiltinModule(
      {kModuleName, {{kPageExport, ToFarProc(&AppSerialDisplayAdvancedSettings)}}});
}

LONG AppSerialDisplayAdvancedSettings(HWND /*parent*/, HDEVINFO list, PSP_DEVINFO_DATA data) {
  std::string name = ReadText(list, data, SPDRP_FRIENDLYNAME);
  const std::string description = ReadText(list, data, SPDRP_DEVICEDESC);
  if (name.empty()) {
    name = description;
  }

  QDialog dialog(PageOwner().data());
  dialog.setWindowTitle(QString::fromStdString(name));
  auto* layout = new QVBoxLayout(&dialog);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Порт:"), ValueLabel(name));
  form->addRow(QStringLiteral("Описание:"), ValueLabel(description));
  for (const auto& [label, value] : DescribeDevice(list, data)) {
    form->addRow(QString::fromStdString(label + ":"), ValueLabel(value));
  }
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  layout->addWidget(buttons);
  dialog.exec();
  return 0;
}
