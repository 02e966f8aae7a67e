#include "app/BenchFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <stdexcept>

std::string BenchFolder() {
  // The Windows package keeps the benches in a folder beside the programs. Installed programs
  // sit in <prefix>/bin and the build tree mirrors that: the build copies the benches to
  // <build>/share/talvik/benches, one level above each program's folder.
  const QString programs = QCoreApplication::applicationDirPath();
  const QString beside = programs + QStringLiteral("/benches");
  if (QFileInfo(beside).isDir()) {
    return QDir::cleanPath(beside).toStdString();
  }
  return QDir::cleanPath(programs + "/../share/talvik/benches").toStdString();
}

std::string FindBenchFile(const std::string& nameOrPath) {
  const QString text = QString::fromStdString(nameOrPath);
  if (text.contains('/') || text.endsWith(QStringLiteral(".json")) || QFileInfo(text).isFile()) {
    return nameOrPath;
  }
  const std::string folder = BenchFolder();
  const QString file = QString::fromStdString(folder) + '/' + text + QStringLiteral(".json");
  if (!text.isEmpty() && QFileInfo(file).isFile()) {
    return file.toStdString();
  }
  throw std::runtime_error("no bench file '" + nameOrPath + "', and no bench of that name in " +
                           folder);
}
