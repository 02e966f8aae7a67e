#pragma once
// TAction: a command object: caption, hint, image index, enabled flag and an execute operation that
// does nothing while the action is disabled. Tool-bar buttons bound to it follow all of these.

#include <QAction>
#include <functional>

class TAction : public QAction {
  Q_OBJECT

 public:
  explicit TAction(QObject* parent = nullptr);

  int ImageIndex() const { return ImageIndex_; }
  void SetImageIndex(int index, const QIcon& image);
  void SetHint(const QString& hint);
  QString Hint() const { return toolTip(); }

  // Runs OnExecute through the application's dispatch; a disabled action does nothing and
  // remembers nothing. Returns whether the handler was called.
  bool Execute();

  std::function<void()> OnExecute;

 private:
  int ImageIndex_ = -1;
};
