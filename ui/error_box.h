// The standard error box, and the application title that captions every box.
#pragma once

#include <QString>
#include <exception>

class QWidget;

namespace pagetrim {

// The executable's file name without its extension, every character after
// the first in lower case.
QString ApplicationTitle();
QString ApplicationTitleFor(const QString& executablePath);

// The message as the error box shows it: "." is added when the last
// character's code is above that of ".".
QString ErrorBoxText(const QString& message);

// The message an exception carries, in the program's own words where it has them.
QString ErrorMessage(const std::exception& error);

// The modal box: the message, the application title, the critical icon, OK.
void ShowErrorBox(const QString& message);

}  // namespace pagetrim
