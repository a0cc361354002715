// Where the settings file is kept.
#pragma once

#include <QString>

namespace pagetrim {

// The settings file beside an executable: its name with the extension
// replaced by ".INI", in the executable's own folder.
QString SettingsPathFor(const QString& executablePath);

// Beside the executable when the file there can be written, or there is
// none and that folder can be written, as a portable copy wants; otherwise
// "pagetrim.INI" in the user's configuration folder, as a system-wide
// install needs.
QString ChooseSettingsPath(const QString& executablePath, const QString& configFolder);

// The settings file of the running program, for the user running it.
QString ProgramSettingsPath();

}  // namespace pagetrim
