#include "app/PortRow.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "app/Colors.h"
#include "app/Pictures.h"
#include "app/PortFactsText.h"
#include "app/Texts.h"

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
    setFocusPolicy(Qt::TabFocus);
  }
}

void TGlyphCell::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), WindowColor());
  painter.setPen(FrameLineColor());
  painter.drawRect(1, 1, width() - 3, height() - 3);
  if (hasFocus()) {
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
    painter.drawRect(0, 0, width() - 1, height() - 1);
  }
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

void TGlyphCell::keyPressEvent(QKeyEvent* event) {
  if (Clickable_ && event->key() == Qt::Key_Space && !event->isAutoRepeat() && OnClick) {
    OnClick(this);
    return;
  }
  QWidget::keyPressEvent(event);
}

TPortRow::TPortRow(const PortRecord& record, QWidget* parent) : QWidget(parent), Key_(record.Port) {
  setFixedHeight(kHeight);
  setToolTip(QString::fromStdString(PortToolTip(record.Facts)));
  setAutoFillBackground(true);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, WindowColor());
  setPalette(colours);

  auto* portCell = new TTextCell(CellText(record.Port), this);
  SettingsCell_ = new TGlyphCell(kSettingsImage, true, this);
  if (record.Status() == PortStatus::Busy) {
    SettingsCell_->setToolTip(QString::fromUtf8(texts::kBusySettings));
  }
  auto* descriptionCell = new TTextCell(CellText(record.Description), this);
  auto* stateGlyph = new TGlyphCell(StateImageIndex(record), false, this);
  auto* stateCell = new TTextCell(CellText(texts::StatusText(record.Status())), this);
  auto* adapterCell = new TTextCell(CellText(texts::AdapterName(record.Kind)), this);
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
  view.SettingsToolTip = SettingsCell_->toolTip().toStdString();
  return view;
}

int TPortRow::StateImageIndex(const PortRecord& record) {
  if (record.Cable()) {
    return record.Busy ? 6 : 3;
  }
  return record.Busy ? 2 : 1;
}
