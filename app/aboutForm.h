#pragma once
// TForm2: the About window: the maker's logo, what the program is for, its version and a link to
// the maker's web site. Created hidden at start; closing only hides it.

#include <QDialog>
#include <QUrl>
#include <functional>

class QLabel;

class TForm2 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);

  // Opens a web address and tells whether it was opened; the desktop's handler by default.
  std::function<bool(const QUrl&)> OpenUrl;

  // A click on the middle text line: closes the window.
  void Label3Click();
  // A click on the logo: acts as a click on the link.
  void Image2Click();
  // A click on the link: opens the maker's address; once opened, the link shows as visited.
  void LinkClick();

  bool LinkVisited() const { return LinkVisited_; }

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLabel* AddLabel(const char* name, const QString& text, const QRect& geometry, QWidget* parent);
  void CentreOverParent();
  void ColourLink();

  QLabel* Image2_ = nullptr;
  QLabel* Label3_ = nullptr;
  QLabel* LinkLabel_ = nullptr;
  bool LinkVisited_ = false;
};
