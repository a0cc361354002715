// Choosing the settings file's place.
#include "settings_location.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "page_path.h"

namespace pagetrim {

namespace {

bool Writable(const QString& path) {
  return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

}  // namespace

QString SettingsPathFor(const QString& executablePath) {
  QString stem = executablePath;
  stem.chop(FileExtension(executablePath).size());
  return stem + QStringLiteral(".INI");
}

QString ChooseSettingsPath(const QString& executablePath, const QString& configFolder) {
  const QString beside = SettingsPathFor(executablePath);
  const QString folder = FolderOf(beside);
  const bool exists = QFileInfo::exists(beside);
  // A file that cannot be written there (left by one run as root, say)
  // would fail every close; the user's own folder can take the settings.
  const QString writable = exists ? beside : (folder.isEmpty() ? QStringLiteral(".") : folder);
  if (configFolder.isEmpty() || Writable(writable))
    return beside;
  return configFolder + QStringLiteral("/pagetrim.INI");
}

QString ProgramSettingsPath() {
  return ChooseSettingsPath(QCoreApplication::applicationFilePath(),
                            QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
}

}  // namespace pagetrim
