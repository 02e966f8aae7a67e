#pragma once
// TFrame2: the row area: stacks the port rows from the top and shows a vertical scroll bar when
// they do not fit. It owns its rows.

#include <QScrollArea>
#include <functional>
#include <vector>

#include "app/PortRow.h"

class QVBoxLayout;

class TFrame2 : public QScrollArea {
  Q_OBJECT

 public:
  explicit TFrame2(QWidget* parent = nullptr);

  // Adds the record's row below the rows already there; it becomes visible complete.
  void AddPortRow(const PortRecord& record);
  // Removes and destroys every row, first to last.
  void ClearRows();

  int RowCount() const { return static_cast<int>(Rows_.size()); }
  TPortRow& Row(int index) const { return *Rows_.at(static_cast<std::size_t>(index)); }
  std::vector<TPortRowView> RowViews() const;
  // The index of the row that holds `cell`, or -1 when it is in no row of this area.
  int IndexOf(const QWidget* cell) const;

  // Called when a row's settings icon is clicked; the argument is the clicked icon.
  std::function<void(QWidget* sender)> OnSettingsClick;

 private:
  QWidget* Content_;
  QVBoxLayout* Layout_;
  std::vector<TPortRow*> Rows_;
};
