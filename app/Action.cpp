#include "app/Action.h"

#include "app/Application.h"

TAction::TAction(QObject* parent) : QAction(parent) {
  connect(this, &QAction::triggered, this, [this] {
    if (OnExecute) {
      TApplication::Dispatch(OnExecute);
    }
  });
}

void TAction::SetImageIndex(int index, const QIcon& image) {
  ImageIndex_ = index;
  setIcon(image);
}

void TAction::SetHint(const QString& hint) {
  setToolTip(hint);
  setStatusTip(hint);
}

bool TAction::Execute() {
  if (!isEnabled()) {
    return false;
  }
  trigger();
  return true;
}
