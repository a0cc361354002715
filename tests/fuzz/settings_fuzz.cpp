// Fuzzing the settings file: any bytes read and written unchanged come back
// byte for byte; values set are read back as set; and writing again what was
// written is a fixed point.
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

#include "ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using pagetrim::IniFile;
  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
  IniFile ini(QStringLiteral("unused"));
  ini.Parse(bytes);
  if (ini.Text() != bytes)
    __builtin_trap();

  // Values as the window writes them: no line breaks (it replaces them).
  const QString value = QString::fromUtf8(bytes.left(40)).remove(u'\n').remove(u'\r').trimmed();
  const QString keys[] = {QStringLiteral("Left"), QStringLiteral("Edit1"), QStringLiteral("RB_1")};
  for (const QString& key : keys)
    ini.SetValue(QStringLiteral("Window"), key, value);
  const QByteArray written = ini.Text();

  IniFile again(QStringLiteral("unused"));
  again.Parse(written);
  for (const QString& key : keys) {
    if (again.Value(QStringLiteral("Window"), key, QStringLiteral("\x01")) != value)
      __builtin_trap();
    again.SetValue(QStringLiteral("Window"), key, value);
  }
  if (again.Text() != written)
    __builtin_trap();
  return 0;
}
