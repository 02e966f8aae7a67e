#include "app/PortList.h"

#include <QString>

void TPortList::Add(const std::string& key, std::unique_ptr<TAPort> port) {
  Entries_.emplace_back(key, std::move(port));
}

void TPortList::Clear() {
  Entries_.clear();
}

int TPortList::IndexOf(const std::string& key) const {
  const QString wanted = QString::fromStdString(key);
  for (int i = 0; i < Count(); ++i) {
    if (QString::compare(QString::fromStdString(Entries_[i].first), wanted, Qt::CaseInsensitive) ==
        0) {
      return i;
    }
  }
  return -1;
}
