// The words for why something failed, as the window's boxes and notices and
// the shell batch's lines show them: the one place a Result becomes words.
#pragma once

#include <QString>

#include "result.h"

namespace pagetrim {

// A short reason in the user's words: the failures the program knows in its
// own, any other system error in the system's; empty for a result that is Ok.
QString ReasonText(const Result& result);

}  // namespace pagetrim
