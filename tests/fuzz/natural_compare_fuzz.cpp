// Fuzzing NaturalCompare: on every triple of texts it must be a strict weak
// ordering, and give 0 only for equal texts, or sorting a folder could read
// outside the list or order pages differently each time.
#include <QString>
#include <cstddef>
#include <cstdint>

#include "natural_compare.h"

namespace {

int Sign(int v) {
  return (v > 0) - (v < 0);
}

// The input as up to three texts of UTF-16 code units, split at 0xFFFF.
void Split(const std::uint8_t* data, std::size_t size, QString (&texts)[3]) {
  int which = 0;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const char16_t unit = char16_t(data[i] | (data[i + 1] << 8));
    if (unit == 0xFFFF) {
      if (++which == 3)
        return;
      continue;
    }
    texts[which].append(QChar(unit));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using pagetrim::NaturalCompare;
  QString t[3];
  Split(data, size, t);
  for (const QString& a : t) {
    if (NaturalCompare(a, a) != 0)
      __builtin_trap();
    for (const QString& b : t) {
      const int ab = Sign(NaturalCompare(a, b));
      if (ab != -Sign(NaturalCompare(b, a)) || (ab == 0) != (a == b))
        __builtin_trap();
      for (const QString& c : t) {
        if (ab < 0 && NaturalCompare(b, c) < 0 && NaturalCompare(a, c) >= 0)
          __builtin_trap();
      }
    }
  }
  return 0;
}
