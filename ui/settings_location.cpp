// Choosing the settings file's place.
#include "settings_location.h"

#include <unistd.h>

#include <QFile>
#include <QFileInfo>

#include "page_path.h"

namespace pagetrim {

QString SettingsPathFor(const QString& executablePath) {
  QString stem = executablePath;
  stem.chop(FileExtension(executablePath).size());
  return stem + QStringLiteral(".INI");
}

QString ChooseSettingsPath(const QString& executablePath, const QString& configFolder) {
  const QString beside = SettingsPathFor(executablePath);
  const QString folder = FolderOf(beside);
  const QByteArray native = QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder);
  if (QFileInfo::exists(beside) || ::access(native.constData(), W_OK) == 0)
    return beside;
  return configFolder + QStringLiteral("/pagetrim.INI");
}

}  // namespace pagetrim
