#include "app/Unit1.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <exception>

#include "app/Action.h"
#include "app/AdvancedSettingsPage.h"
#include "app/Application.h"
#include "app/Colors.h"
#include "app/NativeWindowLink.h"
#include "app/Pictures.h"
#include "app/PortContainerFrame.h"
#include "app/PortList.h"
#include "app/ScanReport.h"
#include "app/Texts.h"
#include "discovery/ExistingSerialPorts.h"
#include "discovery/ScanMessages.h"
#include "serial/SpComm.h"

using namespace win;

namespace {

const QEvent::Type kMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// A posted window message on its way through the Qt event queue.
class TMessageEvent : public QEvent {
 public:
  TMessageEvent(UINT message, WPARAM wParam, LPARAM lParam)
      : QEvent(kMessageEvent), Message(message), WParam(wParam), LParam(lParam) {}
  UINT Message;
  WPARAM WParam;
  LPARAM LParam;
};

// The stored settings of SpComm1 in the window's description.
constexpr char kSpComm1Description[] =
    "FlowControl.OutCtsFlow = False\n"
    "FlowControl.OutDsrFlow = False\n"
    "FlowControl.ControlDtr = dtrDisabled\n"
    "FlowControl.ControlRts = rtsDisabled\n"
    "FlowControl.XonXoffOut = False\n"
    "FlowControl.XonXoffIn = False\n"
    "FlowControl.DsrSensitivity = False\n"
    "FlowControl.TxContinueOnXoff = False\n"
    "DeviceName = 'COM%d'\n";

// "U" and 0x00, sent as one text of two bytes.
const std::string kProbeMessage("U\0", 2);
constexpr char kEcho = 'U';
constexpr int kCarrierDetectLine = 4;
constexpr int kPhaseMilliseconds = 100;
// An outcome of our own: the phase's step failed (the error has been shown).
constexpr WPARAM kProbeFailed = 0xFF;

constexpr int kToolbarHeight = 29;
constexpr int kHeaderHeight = 19;
constexpr int kStatusHeight = 19;

QString FramedPaneStyle(const QColor& frame) {
  return QStringLiteral("QLabel { border: 1px solid %1; padding-left: 2px; color: black; }")
      .arg(frame.name());
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ACheck_(new TAction(this)),
      AAbout_(new TAction(this)),
      QMCheckFromList_(new TAction(this)),
      ACopyReport_(new TAction(this)) {
  setWindowTitle(QString::fromUtf8(texts::kTitle));
  setWindowIcon(ApplicationIcon());
  // A narrow sans first (the captions must fit their fixed buttons), the system sans last.
  QFont font;
  font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                    QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica"),
                    QStringLiteral("Sans Serif")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  setFont(font);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, WindowColor());
  setPalette(colours);
  setAutoFillBackground(true);
  setFixedSize(kClientWidth, kClientHeight);

  ACheck_->setText(QString::fromUtf8(texts::kScan));
  ACheck_->SetHint(QString::fromUtf8(texts::kScanHint));
  ACheck_->SetImageIndex(2, ToolbarImage(2));
  ACheck_->OnExecute = [this] { ACheckExecute(); };
  // F5 is dropped while a scan runs, like a click on the disabled button.
  ACheck_->setShortcut(QKeySequence(Qt::Key_F5));
  ACheck_->setShortcutContext(Qt::WindowShortcut);
  addAction(ACheck_);
  AAbout_->setText(QString::fromUtf8(texts::kAbout));
  AAbout_->SetHint(QString::fromUtf8(texts::kAboutHint));
  AAbout_->SetImageIndex(5, ToolbarImage(5));
  AAbout_->OnExecute = [this] { AAboutExecute(); };
  QMCheckFromList_->OnExecute = [this] { QMCheckFromListExecute(); };
  ACopyReport_->setText(QString::fromUtf8(texts::kCopyReport));
  ACopyReport_->setShortcut(QKeySequence::Copy);
  ACopyReport_->setShortcutContext(Qt::WindowShortcut);
  ACopyReport_->OnExecute = [this] { ACopyReportExecute(); };
  addAction(ACopyReport_);

  CreateToolbar();
  CreateHeaderStrip();
  Frame21_ = new TFrame2(this);
  Frame21_->setGeometry(0, kToolbarHeight + kHeaderHeight, kClientWidth,
                        kClientHeight - kToolbarHeight - kHeaderHeight - kStatusHeight);
  Frame21_->OnSettingsClick = [this](QWidget* sender) { ButtonEdit1ButtonClick(sender); };
  CreateStatusLine();

  Timer1_ = new QTimer(this);
  Timer1_->setSingleShot(true);
  Timer1_->setInterval(kPhaseMilliseconds);
  Timer1_->setTimerType(Qt::PreciseTimer);  // a coarse timer may end a phase up to 5 ms late
  connect(Timer1_, &QTimer::timeout, this,
          [this] { TApplication::Dispatch([this] { Timer1Timer(); }); });
  CreateSerialComponent();

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  Handle_ = RegisterMessageTarget(this, true);
  NativeWindow_ = std::make_unique<TNativeWindowLink>(*this, Handle_);
  RegisterAdvancedSettingsPage(this);
  FormCreate();
}

TForm1::~TForm1() {
  UnregisterMessageTarget(Handle_);
  Timer1_->stop();
}

void TForm1::CreateToolbar() {
  Toolbar1_ = new QWidget(this);
  Toolbar1_->setGeometry(0, 0, kClientWidth, kToolbarHeight);
  const auto button = [this](TAction* action, int left, int width) {
    auto* result = new QToolButton(Toolbar1_);
    result->setDefaultAction(action);
    result->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    result->setAutoRaise(true);
    result->setIconSize(QSize(16, 16));
    result->setGeometry(left, 2, width, kToolbarHeight - 4);
    return result;
  };
  CheckButton_ = button(ACheck_, 4, 94);
  AboutButton_ = button(AAbout_, 98, 96);
}

void TForm1::CreateHeaderStrip() {
  StatusBar2_ = new QWidget(this);
  StatusBar2_->setGeometry(0, kToolbarHeight, kClientWidth, kHeaderHeight);
  const QString style = FramedPaneStyle(FrameLineColor());
  const struct {
    const char* caption;
    int width;
  } panes[] = {{texts::kColumnPort, 76},
               {texts::kColumnName, 200},
               {texts::kColumnState, 108},
               {texts::kColumnAdapter, 140}};
  int left = 0;
  for (const auto& pane : panes) {
    auto* label = new QLabel(QString::fromUtf8(pane.caption), StatusBar2_);
    label->setStyleSheet(style);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setGeometry(left, 0, pane.width, kHeaderHeight);
    left += pane.width;
  }
}

void TForm1::CreateStatusLine() {
  GlyphStatus1_ = new QLabel(this);
  GlyphStatus1_->setStyleSheet(FramedPaneStyle(ButtonShadowColor()));
  GlyphStatus1_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  GlyphStatus1_->setGeometry(0, kClientHeight - kStatusHeight, kClientWidth, kStatusHeight);
}

void TForm1::CreateSerialComponent() {
  SpComm1_ = std::make_unique<TSpComm>();
  SpComm1_->SetName("SpComm1");
  SpComm1_->ReadStoredProperties(kSpComm1Description);
  SpComm1_->OnRxChar = [this](TSpCustomComm& sender, std::int32_t count) {
    TApplication::Dispatch([&] { SpComm1RxChar(sender, count); });
  };
}

bool TForm1::Scanning() const {
  return !ACheck_->isEnabled();
}

// ---------------------------------------------------------------------------------------------
// Messages

void TForm1::PostToQueue(UINT message, WPARAM wParam, LPARAM lParam) {
  QCoreApplication::postEvent(this, new TMessageEvent(message, wParam, lParam));
}

bool TForm1::event(QEvent* event) {
  if (event->type() == kMessageEvent) {
    const auto* message = static_cast<TMessageEvent*>(event);
    DeliverQueued(message->Message, message->WParam, message->LParam);
    return true;
  }
  if (event->type() == QEvent::WinIdChange) {
    NativeWindow_->WindowChanged();
  }
  return QWidget::event(event);
}

bool TForm1::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
  return NativeWindow_->NativeEvent(eventType, message, result) ||
         QWidget::nativeEvent(eventType, message, result);
}

void TForm1::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(ACopyReport_);
  menu.exec(event->globalPos());
}

LRESULT TForm1::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  // WM_PORT_FOUND answers whether the window took the record: it owns it once its handler runs.
  const LRESULT result = message == WM_PORT_FOUND && lParam != 0 ? 1 : 0;
  TApplication::Dispatch([&] {
    switch (message) {
      case WM_START_SCAN:
        WMStartScan();
        break;
      case WM_PORT_FOUND:
        WMPortFound(lParam);
        break;
      case WM_PORTS_ENUMERATED:
        WMPortsEnumerated();
        break;
      case WM_PROBE_RESULT:
        WMProbeResult(wParam, lParam);
        break;
      case WM_DEVICECHANGE:
        WMDeviceChange(wParam, lParam);
        break;
      default:
        break;
    }
  });
  return result;
}

// ---------------------------------------------------------------------------------------------
// Scan cycle

void TForm1::FormCreate() {
  win::PostMessageA(Handle_, WM_START_SCAN, 0, 0);
}

void TForm1::WMStartScan() {
  ACheck_->Execute();
}

void TForm1::ACheckExecute() {
  if (!PortList_) {
    PortList_ = std::make_unique<TPortList>();
  }
  ProbeWaiting_ = false;
  DiscoveryFailed_ = false;
  RescanDue_ = false;
  PortList_->Clear();
  Records_.clear();
  ProbeError_.clear();
  Frame21_->ClearRows();
  ACheck_->setEnabled(false);
  GlyphStatus1_->setText(QString::fromUtf8(texts::kScanRunning));
  Toolbar1_->setCursor(Qt::WaitCursor);
  Frame21_->setCursor(Qt::WaitCursor);
  PumpOneMessage();
  std::exception_ptr failure;
  try {
    EnumerateSerialPorts(Handle_);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    // No WM_PORTS_ENUMERATED follows a failed discovery: the ports found until then are walked
    // now, so their rows are shown and the scan ends.
    DiscoveryFailed_ = true;
    HandleApplicationException(failure);
    QMCheckFromList_->Execute();
  }
}

void TForm1::WMPortFound(LPARAM lParam) {
  std::unique_ptr<TAPort> port(reinterpret_cast<TAPort*>(lParam));
  if (!port) {
    return;
  }
  if (!PortList_) {
    PortList_ = std::make_unique<TPortList>();
  }
  const std::string key = port->PortName;
  PortList_->Add(key, std::move(port));
  PumpOneMessage();
}

void TForm1::WMPortsEnumerated() {
  QMCheckFromList_->Execute();
}

void TForm1::FinishScan() {
  ProbeWaiting_ = false;
  Timer1_->stop();
  if (SpComm1_->Active()) {
    SpComm1_->Close();
  }
  Toolbar1_->unsetCursor();
  Frame21_->unsetCursor();
  GlyphStatus1_->setText(QString::fromUtf8(texts::kScanFinished));
  ACheck_->setEnabled(true);
  if (RescanDue_) {
    win::PostMessageA(Handle_, WM_START_SCAN, 0, 0);
  }
  Q_EMIT ScanFinished();
}

void TForm1::WMDeviceChange(WPARAM wParam, LPARAM lParam) {
  if ((wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) && lParam != 0) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    // A scan that runs now may have missed the change: one more scan follows it, however many
    // changes came.
    if (header->dbch_devicetype == DBT_DEVTYP_PORT && !ACheck_->Execute()) {
      RescanDue_ = true;
    }
  }
}

void TForm1::AAboutExecute() {
  if (AboutForm_ != nullptr) {
    AboutForm_->exec();
  }
}

void TForm1::ButtonEdit1ButtonClick(QWidget* sender) {
  const int row = Frame21_->IndexOf(sender);
  if (row < 0 || !PortList_) {
    return;
  }
  // The port list and the records stand in the same order: the first entry of the row's key.
  const int index = PortList_->IndexOf(Frame21_->Row(row).Key());
  if (index < 0 || index >= static_cast<int>(Records_.size())) {
    return;
  }
  const PortRecord& record = Records_[static_cast<std::size_t>(index)];
  // A port refused for missing rights opens its page, which says what to do about them.
  if (record.Status() != PortStatus::Busy) {
    ShowAdvancedSettings(record.DeviceIndex, record.Port);
  }
}

void TForm1::ACopyReportExecute() {
  QGuiApplication::clipboard()->setText(QString::fromStdString(FormatScanText(Records_)));
}

void TForm1::ShowPort(const TAPort& port) {
  PortRecord record = RecordOf(port);
  record.ProbeError = std::exchange(ProbeError_, {});
  record.Facts = win::PortFactsOf(port.PortName);
  Records_.push_back(std::move(record));
  Frame21_->AddPortRow(Records_.back());
}

// ---------------------------------------------------------------------------------------------
// Echo probe

void TForm1::QMCheckFromListExecute() {
  ProbeIndex_ = 0;
  if (!PortList_ || PortList_->Count() == 0) {
    FinishScan();
  } else {
    ProbeNextPort();
  }
}

void TForm1::ProbeNextPort() {
  if (SpComm1_->Active()) {
    SpComm1_->Close();
  }
  while (true) {
    if (ProbeIndex_ >= PortList_->Count()) {
      FinishScan();
      return;
    }
    TAPort& port = PortList_->Object(ProbeIndex_);
    if (port.AdapterType != 0 || port.Busy) {
      ShowPort(port);
      ++ProbeIndex_;
      continue;
    }
    std::exception_ptr failure;
    try {
      SpComm1_->SetDeviceName(PortList_->Key(ProbeIndex_));
      SpComm1_->Open();
    } catch (...) {
      failure = std::current_exception();
    }
    if (failure) {
      // A port taken or gone since discovery is shown busy. One that still opens only refused
      // the probe's settings: it stays free, with no adapter found.
      if (CanOpenPort(PortList_->Key(ProbeIndex_))) {
        port.AdapterType = -1;
      } else {
        port.Busy = true;
      }
      ProbeFailed(failure);
      ShowPort(port);
      ++ProbeIndex_;
      continue;
    }
    StartProbeDtrLow();
    return;
  }
}

void TForm1::BeginPhase() {
  ++PhaseNumber_;
  ProbeWaiting_ = true;
  PhaseEnded_ = false;
}

void TForm1::EndPhase(WPARAM result, LPARAM phase) {
  if (phase != PhaseNumber_ || PhaseEnded_) {
    return;
  }
  PhaseEnded_ = true;
  Timer1_->stop();
  win::PostMessageA(Handle_, WM_PROBE_RESULT, result, phase);
}

void TForm1::StartProbeDtrLow() {
  ProbePhase_ = 0;
  BeginPhase();
  Timer1_->start();
  ++ProbeIndex_;
  SendProbe(false);
}

void TForm1::StartProbeDtrHigh() {
  ProbePhase_ = 1;
  BeginPhase();
  if (SendProbe(true)) {
    Timer1_->start();
  }
}

bool TForm1::SendProbe(bool dtr) {
  std::exception_ptr failure;
  try {
    SpComm1_->SetDTR(dtr);
    SpComm1_->PurgeRead();
    SpComm1_->WriteText(kProbeMessage);
  } catch (...) {
    failure = std::current_exception();
  }
  if (!failure) {
    return true;
  }
  // The phase ends before the error box opens: a byte handled in the box's own loop can no
  // longer give it a second outcome. A failed first phase goes on as if no echo had come back.
  EndPhase(ProbePhase_ == 0 ? 0 : kProbeFailed, PhaseNumber_);
  ProbeFailed(failure);
  return false;
}

void TForm1::ProbeFailed(const std::exception_ptr& failure) {
  if (ProbeError_.empty()) {
    ProbeError_ = TApplication::ErrorReportText(TApplication::ExceptionText(failure));
  }
  HandleApplicationException(failure);
}

void TForm1::Timer1Timer() {
  EndPhase(0, PhaseNumber_);
}

void TForm1::SpComm1RxChar(TSpCustomComm& /*sender*/, std::int32_t /*count*/) {
  // Taken first: another phase may have begun by the time an error box closes.
  const LPARAM phase = PhaseNumber_;
  Timer1_->stop();
  WPARAM result = 0;
  std::exception_ptr failure;
  try {
    char first = 0;
    const bool read = SpComm1_->ReadChar(first);
    SpComm1_->PurgeRead();
    result = read && first == kEcho ? 1 : 0;
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    EndPhase(kProbeFailed, phase);
    if (phase == PhaseNumber_) {
      ProbeFailed(failure);
    } else {
      HandleApplicationException(failure);
    }
    return;
  }
  EndPhase(result, phase);
}

void TForm1::WMProbeResult(WPARAM wParam, LPARAM lParam) {
  if (!ProbeWaiting_ || lParam != PhaseNumber_) {
    return;  // a late outcome of a phase that has already ended
  }
  if (wParam != 0 && wParam != 1 && wParam != kProbeFailed) {
    return;
  }
  ProbeWaiting_ = false;
  if (wParam == kProbeFailed) {
    StoreProbeResult(-1);
  } else if (ProbePhase_ == 0) {
    if (wParam == 0) {
      StartProbeDtrHigh();
    } else {
      StoreProbeResult(0);
    }
  } else if (wParam == 0) {
    StoreProbeResult(-1);
  } else {
    bool carrier = false;
    std::exception_ptr failure;
    try {
      carrier = SpComm1_->GetModemState(kCarrierDetectLine);
    } catch (...) {
      failure = std::current_exception();
    }
    if (failure) {
      ProbeFailed(failure);
      StoreProbeResult(-1);
    } else {
      StoreProbeResult(carrier ? 1 : 0);
    }
  }
}

void TForm1::StoreProbeResult(std::int32_t value) {
  TAPort& port = PortList_->Object(ProbeIndex_ - 1);
  port.AdapterType = value;
  ShowPort(port);
  ProbeNextPort();
}
