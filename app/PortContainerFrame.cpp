#include "app/PortContainerFrame.h"

#include <QPointer>
#include <QVBoxLayout>

#include "app/Application.h"
#include "app/Colors.h"

TFrame2::TFrame2(QWidget* parent) : QScrollArea(parent), Content_(new QWidget), Layout_(nullptr) {
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setWidgetResizable(true);

  QPalette colours = palette();
  colours.setColor(QPalette::Window, WindowColor());
  Content_->setPalette(colours);
  Content_->setAutoFillBackground(true);
  viewport()->setPalette(colours);
  viewport()->setAutoFillBackground(true);

  Layout_ = new QVBoxLayout(Content_);
  Layout_->setContentsMargins(0, 0, 0, 0);
  Layout_->setSpacing(0);
  Layout_->addStretch(1);
  setWidget(Content_);
}

void TFrame2::AddPortRow(const PortRecord& record) {
  auto* row = new TPortRow(record, Content_);
  row->hide();
  // The click is handled after the mouse event has ended: the settings page runs a modal loop
  // in which a new scan may destroy the row that was clicked.
  row->SettingsCell().OnClick = [this](QWidget* sender) {
    QMetaObject::invokeMethod(
        this,
        [this, clicked = QPointer<QWidget>(sender)] {
          if (clicked && OnSettingsClick) {
            TApplication::Dispatch([&] { OnSettingsClick(clicked.data()); });
          }
        },
        Qt::QueuedConnection);
  };
  Layout_->insertWidget(Layout_->count() - 1, row);
  Rows_.push_back(row);
  row->show();
}

void TFrame2::ClearRows() {
  for (TPortRow* row : Rows_) {
    Layout_->removeWidget(row);
    delete row;
  }
  Rows_.clear();
}

std::vector<TPortRowView> TFrame2::RowViews() const {
  std::vector<TPortRowView> views;
  views.reserve(Rows_.size());
  for (const TPortRow* row : Rows_) {
    views.push_back(row->View());
  }
  return views;
}

int TFrame2::IndexOf(const QWidget* cell) const {
  for (std::size_t i = 0; i < Rows_.size(); ++i) {
    if (cell != nullptr && (cell == Rows_[i] || Rows_[i]->isAncestorOf(cell))) {
      return static_cast<int>(i);
    }
  }
  return -1;
}
