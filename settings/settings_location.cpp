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

// Folders that belong to the package manager or to a system-wide install.
bool IsInstalledProgramFolder(const QString& folder) {
  const QString canonical = QFileInfo(folder).canonicalFilePath();
  const QString path = (canonical.isEmpty() ? folder : canonical) + u'/';
  return path.startsWith(u"/usr/") || path.startsWith(u"/opt/");
}

}  // namespace

QString SettingsPathFor(const QString& executablePath) {
  QString stem = executablePath;
  stem.chop(FileExtension(executablePath).size());
  return stem + QStringLiteral(".INI");
}

QString ChooseSettingsPath(const QString& executablePath, const QString& configFolder) {
  const QString beside = SettingsPathFor(executablePath);
  if (configFolder.isEmpty())
    return beside;
  const QString home = configFolder + QStringLiteral("/pagetrim.INI");
  // A file that cannot be written there (left by one run as root, say)
  // would fail every close; the user's own folder can take the settings.
  if (QFileInfo::exists(beside))
    return Writable(beside) ? beside : home;
  QString folder = FolderOf(beside);
  if (folder.isEmpty())
    folder = QStringLiteral(".");
  // Root can write /usr/bin, but a file made there would belong to no
  // package and outlive the program's removal.
  if (IsInstalledProgramFolder(folder) || !Writable(folder))
    return home;
  return beside;
}

QString ProgramSettingsPath() {
  return ChooseSettingsPath(QCoreApplication::applicationFilePath(),
                            QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
}

}  // namespace pagetrim
