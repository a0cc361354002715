// Choosing the settings file's place.
#include "settings_location.h"

#include <unistd.h>

#include <QFile>
#include <QFileInfo>

#include "ini_file.h"
#include "integer_text.h"
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
  const bool exists = QFileInfo::exists(beside);
  // A file that cannot be written there (left by one run as root, say)
  // would fail every close; the user's own folder can take the settings.
  const QString writable = exists ? beside : (folder.isEmpty() ? QStringLiteral(".") : folder);
  if (configFolder.isEmpty() || ::access(QFile::encodeName(writable).constData(), W_OK) == 0)
    return beside;
  return configFolder + QStringLiteral("/pagetrim.INI");
}

StoredChoices ReadStoredChoices(const IniFile& ini) {
  const auto flag = [&](const QString& key, bool fallback) {
    return ParseInteger(ini.Value(SettingsSection, key, QString())).value_or(fallback) != 0;
  };
  StoredChoices choices;
  choices.ThresholdText = StoredThresholdText(ini.Value(SettingsSection, "Edit1", "128"));
  choices.GrayChecked = flag("RB_1", false);
  choices.BinaryChecked = flag("RB_2", true);
  choices.KeepOriginals = flag("KeepOriginals", true);
  return choices;
}

}  // namespace pagetrim
