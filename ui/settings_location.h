// Where the settings file is kept.
#pragma once

#include <QString>

namespace pagetrim {

class IniFile;

// The settings file beside an executable: its name with the extension
// replaced by ".INI", in the executable's own folder.
QString SettingsPathFor(const QString& executablePath);

// Beside the executable when the file there can be written, or there is
// none and that folder can be written, as a portable copy wants; otherwise
// "pagetrim.INI" in the user's configuration folder, as a system-wide
// install needs.
QString ChooseSettingsPath(const QString& executablePath, const QString& configFolder);

// What the settings file says about finding ink and keeping originals, read
// by the window and by batches run from the shell alike.
struct StoredChoices {
  QString ThresholdText = QStringLiteral("128");  // checked: 1 ... 254, else 128
  bool GrayChecked = false;                       // RB_1
  bool BinaryChecked = true;                      // RB_2
  bool KeepOriginals = true;
  // The gray image is used only when RB_1 is checked, and a later RB_2
  // unchecks it when both read true.
  bool GrayChosen() const { return GrayChecked && !BinaryChecked; }
};
StoredChoices ReadStoredChoices(const IniFile& ini);

inline const QString SettingsSection = QStringLiteral("Window");

}  // namespace pagetrim
