#include "app/PortRow.h"

#include <QMouseEvent>
#include <QPainter>

#include "app/Colors.h"
#include "app/Pictures.h"
#include "app/PortFactsText.h"
#include "discovery/ExistingSerialPorts.h"

namespace {

QString CellText(const std::string& text) {
  return QStringLiteral("  ") + QString::fromStdString(text);
}

}  // namespace

TTextCell::TTextCell(const QString& text, QWidget* parent) : QWidget(parent), Text_(text) {}

void TTextCell::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), WindowColor());
  painter.setPen(palette().color(QPalette::WindowText));
  painter.setClipRect(rect());
  painter.drawText(QRect(0, 0, width(), height() - 1), Qt::AlignLeft | Qt::AlignVCenter, Text_);
  painter.setPen(ButtonShadowColor());
  painter.drawLine(0, height() - 1, width() - 1, height() - 1);
}

TGlyphCell::TGlyphCell(int imageIndex, bool clickable, QWidget* parent)
    : QWidget(parent), ImageIndex_(imageIndex), Clickable_(clickable) {
  if (clickable) {
    setCursor(Qt::PointingHandCursor);
  }
}

void TGlyphCell::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), WindowColor());
  painter.setPen(FrameLineColor());
  painter.drawRect(1, 1, width() - 3, height() - 3);
  const int top = (height() - 16) / 2;
  painter.drawPixmap(4, top, RowImage(ImageIndex_).pixmap(16, 16));
}

void TGlyphCell::mouseReleaseEvent(QMouseEvent* event) {
  if (Clickable_ && event->button() == Qt::LeftButton &&
      rect().contains(event->position().toPoint()) && OnClick) {
    OnClick(this);
    return;
  }
  QWidget::mouseReleaseEvent(event);
}

TPortRow::TPortRow(const TAPort& port, const win::PortFacts& facts, QWidget* parent)
    : QWidget(parent), Key_(port.PortName), Facts_(facts) {
  setFixedHeight(kHeight);
  setToolTip(QString::fromStdString(PortToolTip(facts)));
  setAutoFillBackground(true);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, WindowColor());
  setPalette(colours);

  auto* portCell = new TTextCell(CellText(port.PortName), this);
  SettingsCell_ = new TGlyphCell(kSettingsImage, true, this);
  auto* descriptionCell = new TTextCell(CellText(port.Description), this);
  auto* stateGlyph = new TGlyphCell(StateImageIndex(port.AdapterType, port.Busy), false, this);
  auto* stateCell = new TTextCell(CellText(PortStateText(port.Busy, facts)), this);
  auto* adapterCell = new TTextCell(CellText(AdapterText(port.AdapterType, port.Busy)), this);
  Cells_ = {portCell, SettingsCell_, descriptionCell, stateGlyph, stateCell, adapterCell};

  int left = 0;
  for (std::size_t i = 0; i < Cells_.size(); ++i) {
    Cells_[i]->setGeometry(left, 0, kCellWidths[i], kHeight);
    left += kCellWidths[i];
  }
}

TPortRowView TPortRow::View() const {
  const auto text = [this](int index) {
    return static_cast<const TTextCell*>(Cells_[static_cast<std::size_t>(index)])
        ->Text()
        .toStdString();
  };
  TPortRowView view;
  view.Key = Key_;
  view.Port = text(0);
  view.Description = text(2);
  view.State = text(4);
  view.Adapter = text(5);
  view.StateImage = static_cast<const TGlyphCell*>(Cells_[3])->ImageIndex();
  view.ToolTip = toolTip().toStdString();
  view.Facts = Facts_;
  return view;
}

int TPortRow::StateImageIndex(int adapterType, bool busy) {
  const bool cable = adapterType >= 1 && adapterType <= 3;
  if (cable) {
    return busy ? 6 : 3;
  }
  return busy ? 2 : 1;
}

std::string TPortRow::AdapterText(int adapterType, bool busy) {
  switch (adapterType) {
    case 0:
      return busy ? "" : "Адаптер К-Лайн";
    case 1:
      return "Кварион COM v1";
    case 2:
      return "Кварион USB v2";
    case 3:
      return "Кварион USB v3";
    default:
      return "";
  }
}
