// The one rule by which the program reads integers typed by the user or
// stored in the settings file.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace pagetrim {

// Optional spaces, an optional sign, then decimal digits, or hexadecimal
// digits after "$", "x" or "0x" (either case); nothing after them; within the
// signed 32-bit range. Anything else gives no value.
std::optional<std::int32_t> ParseInteger(const QString& text);

// The threshold a page is analysed with: the text's value, or 128.
int ThresholdFromText(const QString& text);

// The threshold box's text for a threshold kept in the settings file: the
// value in decimal when it lies in 1 ... 254 (so "0050" becomes "50"), else
// "128". What is typed into the box is not checked; only what is read back.
QString StoredThresholdText(const QString& stored);

}  // namespace pagetrim
