// Where the settings file is kept.
#pragma once

#include <QString>

namespace pagetrim {

// The settings file beside an executable: its name with the extension
// replaced by ".INI", in the executable's own folder.
QString SettingsPathFor(const QString& executablePath);

// Beside the executable when the file exists there or that folder can be
// written, as a portable copy wants; otherwise "pagetrim.INI" in the user's
// configuration folder, as a system-wide install needs.
QString ChooseSettingsPath(const QString& executablePath, const QString& configFolder);

}  // namespace pagetrim
