// Reading and writing the settings file.
#include "ini_file.h"

#include <QFile>
#include <QSaveFile>
#include <QStringConverter>
#include <QTextStream>

namespace pagetrim {

namespace {

bool IsHeader(const QString& line) {
  const QString t = line.trimmed();
  return t.startsWith(u'[') && t.endsWith(u']');
}

QString HeaderName(const QString& line) {
  const QString t = line.trimmed();
  return t.mid(1, t.size() - 2).trimmed();
}

}  // namespace

IniFile::IniFile(QString path) : path_(std::move(path)) {}

void IniFile::Load() {
  lines_.clear();
  QFile file(path_);
  if (!file.open(QIODevice::ReadOnly))
    return;
  QString text = QString::fromUtf8(file.readAll());
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(u'\r', u'\n');
  lines_ = text.split(u'\n');
  if (!lines_.isEmpty() && lines_.last().isEmpty())
    lines_.removeLast();
}

int IniFile::FindSection(const QString& section) const {
  for (int i = 0; i < lines_.size(); ++i) {
    if (IsHeader(lines_[i]) && HeaderName(lines_[i]).compare(section, Qt::CaseInsensitive) == 0) {
      return i;
    }
  }
  return -1;
}

int IniFile::SectionEnd(int header) const {
  int i = header + 1;
  while (i < lines_.size() && !IsHeader(lines_[i]))
    ++i;
  return i;
}

int IniFile::FindKey(int header, const QString& key) const {
  const int end = SectionEnd(header);
  for (int i = header + 1; i < end; ++i) {
    const QString& line = lines_[i];
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0 || line.trimmed().startsWith(u';'))
      continue;
    if (line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0)
      return i;
  }
  return -1;
}

QString IniFile::Value(const QString& section, const QString& key, const QString& fallback) const {
  const int header = FindSection(section);
  if (header < 0)
    return fallback;
  const int line = FindKey(header, key);
  if (line < 0)
    return fallback;
  const QString& text = lines_[line];
  // Spaces around "=" belong to the file's layout, not to the value.
  return text.mid(text.indexOf(u'=') + 1).trimmed();
}

void IniFile::SetValue(const QString& section, const QString& key, const QString& value) {
  const QString entry = key + u'=' + value;
  int header = FindSection(section);
  if (header < 0) {
    lines_.append(u'[' + section + u']');
    lines_.append(entry);
    return;
  }
  const int line = FindKey(header, key);
  if (line >= 0) {
    lines_[line] = entry;
    return;
  }
  // After the section's last non-blank line, so blank separators stay put.
  int at = SectionEnd(header);
  while (at > header + 1 && lines_[at - 1].trimmed().isEmpty())
    --at;
  lines_.insert(at, entry);
}

bool IniFile::Save() const {
  QSaveFile file(path_);
  if (!file.open(QIODevice::WriteOnly))
    return false;
  QByteArray bytes;
  for (const QString& line : lines_) {
    bytes += line.toUtf8();
    bytes += '\n';
  }
  if (file.write(bytes) != bytes.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

QString SettingsPathFor(const QString& executablePath) {
  const qsizetype slash = executablePath.lastIndexOf(u'/');
  const qsizetype dot = executablePath.lastIndexOf(u'.');
  const QString stem = dot > slash ? executablePath.left(dot) : executablePath;
  return stem + QStringLiteral(".INI");
}

}  // namespace pagetrim
