#include "app/aboutForm.h"

#include <QDesktopServices>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <array>

#include "app/Colors.h"
#include "app/MakerInfo.h"
#include "app/Pictures.h"
#include "app/Texts.h"

namespace {

constexpr int kClientWidth = 235;
constexpr int kClientHeight = 126;
constexpr int kSpacerHeight = 9;
constexpr int kLogoHeight = 30;
constexpr int kLineHeight = 13;
constexpr int kStripHeight = 19;
constexpr int kLinkWidth = 65;
constexpr int kRightPaneWidth = 10;
constexpr int kVersionMargin = 2;

// The visited colour of a link (clPurple).
QColor VisitedLinkColor() {
  return QColor(0x80, 0x00, 0x80);
}

// The window's font: the system sans at 8 points, narrowed where a wide desktop font would cut
// off the longest line.
QFont WindowFont(const QString& longestLine) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPointSize(8);
  for (const int stretch : {QFont::SemiCondensed, QFont::Condensed, QFont::ExtraCondensed}) {
    if (QFontMetrics(font).horizontalAdvance(longestLine) <= kClientWidth - 2 * kVersionMargin) {
      break;
    }
    font.setStretch(stretch);
  }
  return font;
}

bool IsLeftClick(QEvent* event) {
  if (event->type() != QEvent::MouseButtonRelease) {
    return false;
  }
  const auto* mouse = static_cast<QMouseEvent*>(event);
  return mouse->button() == Qt::LeftButton;
}

}  // namespace

TForm2::TForm2(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      OpenUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QString::fromUtf8(texts::kAbout));
  setFixedSize(kClientWidth, kClientHeight);
  setSizeGripEnabled(false);

  const std::array<QString, 5> lines = {QString(), QString::fromUtf8(texts::kAboutLines[0]),
                                        QString::fromUtf8(texts::kAboutLines[1]),
                                        QString::fromUtf8(texts::kAboutLines[2]), QString()};
  const QFont font = WindowFont(lines[2]);
  setFont(font);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, WindowColor());
  setPalette(colours);
  setAutoFillBackground(true);

  int top = kSpacerHeight;
  Image2_ = AddLabel("Image2", QString(), QRect(0, top, kClientWidth, kLogoHeight), this);
  Image2_->setPixmap(LogoPixmap());
  Image2_->setCursor(Qt::PointingHandCursor);
  Image2_->setToolTip(QString::fromLatin1(kMakerUrl));
  top += kLogoHeight;

  for (std::size_t i = 0; i < lines.size(); ++i) {
    const QByteArray name = "Label" + QByteArray::number(static_cast<int>(i) + 1);
    QLabel* line =
        AddLabel(name.constData(), lines[i], QRect(0, top, kClientWidth, kLineHeight), this);
    if (i == 2) {
      Label3_ = line;
    }
    top += kLineHeight;
  }

  // The bottom strip: the version at the left, the link at the right, then an empty pane.
  auto* strip = new QWidget(this);
  strip->setObjectName(QStringLiteral("StatusBar1"));
  strip->setGeometry(0, kClientHeight - kStripHeight, kClientWidth, kStripHeight);

  const QString version = QString::fromStdString(texts::VersionText(TALVIK_VERSION));
  const int versionWidth = fontMetrics().horizontalAdvance(version) + 2 * kVersionMargin;
  QLabel* versionLabel =
      AddLabel("VersionLabel", version, QRect(0, 0, versionWidth, kStripHeight), strip);
  versionLabel->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
  versionLabel->setContentsMargins(kVersionMargin, 0, kVersionMargin, 0);

  LinkLabel_ = AddLabel(
      "LinkLabel", QString::fromLatin1(kMakerSite),
      QRect(kClientWidth - kRightPaneWidth - kLinkWidth, 0, kLinkWidth, kStripHeight), strip);
  QFont underlined = font;
  underlined.setUnderline(true);
  LinkLabel_->setFont(underlined);
  LinkLabel_->setCursor(Qt::PointingHandCursor);
  ColourLink();
}

QLabel* TForm2::AddLabel(const char* name, const QString& text, const QRect& geometry,
                         QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(geometry);
  label->setAlignment(Qt::AlignCenter);
  label->setTextFormat(Qt::PlainText);
  label->installEventFilter(this);
  return label;
}

void TForm2::Label3Click() {
  close();
}

void TForm2::Image2Click() {
  LinkClick();
}

void TForm2::LinkClick() {
  if (OpenUrl && OpenUrl(QUrl(QString::fromLatin1(kMakerUrl)))) {
    LinkVisited_ = true;
    ColourLink();
  }
}

void TForm2::ColourLink() {
  QPalette colours = LinkLabel_->palette();
  colours.setColor(QPalette::WindowText,
                   LinkVisited_ ? VisitedLinkColor() : palette().color(QPalette::Highlight));
  LinkLabel_->setPalette(colours);
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  void (TForm2::*click)() = nullptr;
  if (watched == Label3_) {
    click = &TForm2::Label3Click;
  } else if (watched == Image2_) {
    click = &TForm2::Image2Click;
  } else if (watched == LinkLabel_) {
    click = &TForm2::LinkClick;
  }
  if (click != nullptr && IsLeftClick(event)) {
    // A press released outside the widget is no click.
    const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
    if (static_cast<QWidget*>(watched)->rect().contains(at)) {
      (this->*click)();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TForm2::showEvent(QShowEvent* event) {
  CentreOverParent();
  QDialog::showEvent(event);
}

void TForm2::CentreOverParent() {
  QRect area;
  if (const QWidget* owner = parentWidget(); owner != nullptr && owner->isVisible()) {
    area = owner->window()->frameGeometry();
  } else if (const QScreen* screen = this->screen(); screen != nullptr) {
    area = screen->availableGeometry();
  } else {
    return;
  }
  QRect placed = geometry();
  placed.moveCenter(area.center());
  move(placed.topLeft() - (geometry().topLeft() - pos()));
}
