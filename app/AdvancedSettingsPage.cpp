#include "app/AdvancedSettingsPage.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <string>
#include <vector>

#include "app/PortFactsText.h"
#include "app/Texts.h"
#include "discovery/ExistingSerialPorts.h"

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
  win::SetupDiGetDeviceRegistryPropertyA(list, data, property, &type, nullptr, 0, &required);
  if (required == 0 || (type != REG_SZ && type != REG_MULTI_SZ)) {
    return {};
  }
  std::string text(required, '\0');
  if (!win::SetupDiGetDeviceRegistryPropertyA(
          list, data, property, &type, reinterpret_cast<PBYTE>(text.data()), required, &required)) {
    return {};
  }
  text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
  return text;
}

QString RowLabel(const std::string& label) {
  return QString::fromStdString(label + ":");
}

QLabel* ValueLabel(const std::string& text) {
  auto* label = new QLabel(QString::fromStdString(text));
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setWordWrap(text.size() > 80);  // the hints are sentences
  return label;
}

QSpinBox* SettingBox(const DeviceSetting& setting) {
  auto* box = new QSpinBox;
  box->setRange(setting.minimum, setting.maximum);
  box->setValue(setting.value);
  box->setSuffix(QStringLiteral(" ") +
                 QString::fromStdString(texts::DeviceSettingUnit(setting.key)));
  box->setEnabled(setting.changeable);
  return box;
}

// Writes the values the user changed; a refusal is reported and the other values still go.
void ApplySettings(HWND parent, HDEVINFO list, PSP_DEVINFO_DATA data,
                   const std::vector<DeviceSetting>& settings,
                   const std::vector<QSpinBox*>& boxes) {
  for (std::size_t i = 0; i < settings.size(); ++i) {
    const DeviceSetting& setting = settings[i];
    const int wanted = boxes[i]->value();
    // The box showed an out-of-range value at its nearest limit; that alone is no change.
    const int shown = std::clamp(setting.value, setting.minimum, setting.maximum);
    if (!setting.changeable || wanted == shown) {
      continue;
    }
    if (!ChangeDeviceSetting(list, data, setting.key, wanted)) {
      const std::string text = texts::SettingNotChanged(texts::DeviceSettingLabel(setting.key),
                                                        SysErrorMessage(GetLastError()));
      win::MessageBoxA(parent, text.c_str(), ApplicationTitle().c_str(), MB_OK | MB_ICONERROR);
    }
  }
}

}  // namespace

void RegisterAdvancedSettingsPage(QWidget* owner) {
  PageOwner() = owner;
  if (HMODULE module = win::LoadLibraryA(kModuleName)) {
    const bool present = win::GetProcAddress(module, kPageExport) != nullptr;
    win::FreeLibrary(module);
    if (present) {
      return;
    }
  }
  RegisterBuiltinModule(
      {kModuleName, {{kPageExport, ToFarProc(&AppSerialDisplayAdvancedSettings)}}});
}

LONG AppSerialDisplayAdvancedSettings(HWND parent, HDEVINFO list, PSP_DEVINFO_DATA data) {
  std::string name = ReadText(list, data, SPDRP_FRIENDLYNAME);
  const std::string description = ReadText(list, data, SPDRP_DEVICEDESC);
  if (name.empty()) {
    name = description;
  }

  QDialog dialog(PageOwner().data());
  dialog.setWindowTitle(QString::fromStdString(name));
  auto* layout = new QVBoxLayout(&dialog);
  auto* form = new QFormLayout;
  form->addRow(RowLabel(texts::kColumnPort), ValueLabel(name));
  form->addRow(RowLabel(texts::kDescriptionLabel), ValueLabel(description));
  const std::vector<DeviceSetting> settings = DeviceSettingsOf(list, data);
  TFactLines lines;
  for (const DeviceDetail& detail : DescribeDevice(list, data)) {
    lines.emplace_back(texts::DeviceFactLabel(detail.fact), texts::DeviceFactValue(detail));
  }
  const TFactLines status = StatusFactLines(PortFactsOf(ExtractPortName(name)));
  lines.insert(lines.end(), status.begin(), status.end());
  for (const auto& [label, value] : lines) {
    const bool editable = std::any_of(
        settings.begin(), settings.end(),
        [&](const DeviceSetting& s) { return texts::DeviceSettingLabel(s.key) == label; });
    if (!editable) {
      form->addRow(RowLabel(label), ValueLabel(value));
    }
  }
  std::vector<QSpinBox*> boxes;
  bool changeable = false;
  for (const DeviceSetting& setting : settings) {
    boxes.push_back(SettingBox(setting));
    form->addRow(RowLabel(texts::DeviceSettingLabel(setting.key)), boxes.back());
    if (!setting.changeable) {
      form->addRow(QString(), new QLabel(QString::fromUtf8(texts::kOnlyAdministratorMayChange)));
    }
    changeable = changeable || setting.changeable;
  }
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox(
      changeable ? QDialogButtonBox::Ok | QDialogButtonBox::Cancel : QDialogButtonBox::Ok, &dialog);
  if (QPushButton* cancel = buttons->button(QDialogButtonBox::Cancel)) {
    cancel->setText(QString::fromUtf8(texts::kCancel));
  }
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  if (dialog.exec() == QDialog::Accepted) {
    ApplySettings(parent, list, data, settings, boxes);
  }
  return 0;
}
