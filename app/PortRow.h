#pragma once
// TPortRow, TTextCell and TGlyphCell: one port's row: a 19 pixel strip with six cells (port name,
// settings icon, description, state icon, state, adapter type). Everything it shows is copied when
// it is built; it keeps the port name as its hidden key.

#include <QIcon>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <string>

#include "platform/Additions.h"

class TAPort;

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
// edge. A clickable one has the hand pointer and reports left clicks.
class TGlyphCell : public QWidget {
  Q_OBJECT

 public:
  TGlyphCell(int imageIndex, bool clickable, QWidget* parent);
  int ImageIndex() const { return ImageIndex_; }

  std::function<void(QWidget* sender)> OnClick;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int ImageIndex_;
  bool Clickable_;
};

// What a row shows, for front ends that print the rows.
struct TPortRowView {
  std::string Key;
  std::string Port, Description, State, Adapter;  // the cell texts as shown
  int StateImage = 0;
  std::string ToolTip;
  win::PortFacts Facts;  // what the device world knew of the port when the row was built
};

class TPortRow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kHeight = 19;
  static constexpr std::array<int, 6> kCellWidths = {48, 28, 200, 28, 80, 140};
  static constexpr int kSettingsImage = 5;

  // `facts`: what the device world knows of the port, for the state text and the tool tip.
  TPortRow(const TAPort& port, const win::PortFacts& facts, QWidget* parent);

  const std::string& Key() const { return Key_; }
  // The port was refused for missing rights: its settings page still opens, to say so.
  bool AccessDenied() const { return Facts_.access == win::PortAccess::Denied; }
  TPortRowView View() const;
  TGlyphCell& SettingsCell() const { return *SettingsCell_; }
  // The cells, left to right.
  QWidget* Cell(int index) const { return Cells_.at(static_cast<std::size_t>(index)); }

  // The state icon rule and the adapter text by adapter type and busy flag.
  static int StateImageIndex(int adapterType, bool busy);
  static std::string AdapterText(int adapterType, bool busy);

 private:
  std::string Key_;
  win::PortFacts Facts_;
  std::array<QWidget*, 6> Cells_{};
  TGlyphCell* SettingsCell_ = nullptr;
};
