// Natural file-name order: "p2.jpg" before "p10.jpg".
#pragma once

#include <QString>

namespace pagetrim {

// Negative, zero or positive as a sorts before, with or after b. Texts are
// split into runs of ASCII digits and runs of anything else; digit runs
// compare by value (of any length), other runs by UTF-16 code units. A full
// tie is broken by comparing the whole texts, so only equal texts give 0.
int NaturalCompare(const QString& a, const QString& b);

}  // namespace pagetrim
