#pragma once
// TPortRow, TTextCell and TGlyphCell: one port's row: a 19 pixel strip with six cells (port name,
// settings icon, description, state icon, state, adapter type), drawn from the port's record of
// the scan. Everything it shows is copied when it is built; it keeps the port name as its key.

#include <QIcon>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <string>

#include "app/ScanModel.h"

// A text cell: two leading blanks, left-aligned, centred vertically, cut off at the right edge,
// a one-pixel line along the bottom edge.
class TTextCell : public QWidget {
  Q_OBJECT

 public:
  TTextCell(const QString& text, QWidget* parent);
  QString Text() const { return Text_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString Text_;
};

// An icon cell: a 16x16 image 4 pixels from the left inside a thin frame one pixel in from the
// edge. A clickable one has the hand pointer, takes the focus with Tab and reports left clicks
// and Space.
class TGlyphCell : public QWidget {
  Q_OBJECT

 public:
  TGlyphCell(int imageIndex, bool clickable, QWidget* parent);
  int ImageIndex() const { return ImageIndex_; }

  std::function<void(QWidget* sender)> OnClick;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  int ImageIndex_;
  bool Clickable_;
};

// What a row shows.
struct TPortRowView {
  std::string Key;
  std::string Port, Description, State, Adapter;  // the cell texts as shown
  int StateImage = 0;
  std::string ToolTip;
  std::string SettingsToolTip;
};

class TPortRow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kHeight = 19;
  static constexpr std::array<int, 6> kCellWidths = {48, 28, 200, 28, 80, 140};
  static constexpr int kSettingsImage = 5;

  TPortRow(const PortRecord& record, QWidget* parent);

  const std::string& Key() const { return Key_; }
  TPortRowView View() const;
  TGlyphCell& SettingsCell() const { return *SettingsCell_; }
  // The cells, left to right.
  QWidget* Cell(int index) const { return Cells_.at(static_cast<std::size_t>(index)); }

  // The state icon: a cable's own, busy or free, else the plain busy or free one.
  static int StateImageIndex(const PortRecord& record);

 private:
  std::string Key_;
  std::array<QWidget*, 6> Cells_{};
  TGlyphCell* SettingsCell_ = nullptr;
};
