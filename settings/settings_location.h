// Where the settings file is kept.
#pragma once

#include <QString>

namespace pagetrim {

// The settings file beside an executable: its name with the extension
// replaced by ".INI", in the executable's own folder.
QString SettingsPathFor(const QString& executablePath);

// Beside the executable when a file there already exists and can be
// written, or when there is none and the executable's folder can be written
// and is not an installed program's (under /usr or /opt), as a portable copy
// wants; otherwise "pagetrim.INI" in the user's configuration folder.
QString ChooseSettingsPath(const QString& executablePath, const QString& configFolder);

// The settings file of the running program, for the user running it.
QString ProgramSettingsPath();

}  // namespace pagetrim
