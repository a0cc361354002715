// The program's one rule for reading integers from text.
#include "integer_text.h"

namespace pagetrim {

namespace {

int DigitValue(char16_t c, int base) {
  int v = -1;
  if (c >= u'0' && c <= u'9')
    v = c - u'0';
  else if (c >= u'a' && c <= u'f')
    v = c - u'a' + 10;
  else if (c >= u'A' && c <= u'F')
    v = c - u'A' + 10;
  return v < base ? v : -1;
}

}  // namespace

std::optional<std::int32_t> ParseInteger(const QString& text) {
  const qsizetype n = text.size();
  qsizetype i = 0;
  while (i < n && text[i] == u' ')
    ++i;
  bool negative = false;
  if (i < n && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  int base = 10;
  if (i < n && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
    base = 16;
    i += 2;
  }
  if (i >= n)
    return std::nullopt;
  // Accumulate the magnitude in 64 bits and stop as soon as it leaves the
  // 32-bit range, so no run of digits can overflow.
  constexpr std::int64_t Limit = std::int64_t(1) << 31;  // |INT32_MIN|
  std::int64_t magnitude = 0;
  for (; i < n; ++i) {
    const int d = DigitValue(text[i].unicode(), base);
    if (d < 0)
      return std::nullopt;
    magnitude = magnitude * base + d;
    if (magnitude > Limit)
      return std::nullopt;
  }
  if (!negative && magnitude == Limit)
    return std::nullopt;
  return std::int32_t(negative ? -magnitude : magnitude);
}

int ThresholdFromText(const QString& text) {
  return ParseInteger(text).value_or(128);
}

QString StoredThresholdText(const QString& stored) {
  const int threshold = ThresholdFromText(stored);
  return threshold >= 1 && threshold <= 254 ? QString::number(threshold) : QStringLiteral("128");
}

}  // namespace pagetrim
