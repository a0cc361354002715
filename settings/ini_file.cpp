// Reading and writing the settings file.
#include "ini_file.h"

#include <QFile>
#include <QSaveFile>

namespace pagetrim {

namespace {

const QByteArray Utf8ByteOrderMark("\xEF\xBB\xBF");

bool IsHeader(const QByteArray& line) {
  const QByteArray t = line.trimmed();
  return t.startsWith('[') && t.endsWith(']');
}

QString HeaderName(const QByteArray& line) {
  const QByteArray t = line.trimmed();
  return QString::fromUtf8(t.mid(1, t.size() - 2)).trimmed();
}

}  // namespace

IniFile::IniFile(QString path) : path_(std::move(path)) {}

void IniFile::Load() {
  lines_.clear();
  crlf_ = false;
  byteOrderMark_ = false;
  QFile file(path_);
  if (!file.open(QIODevice::ReadOnly))
    return;
  QByteArray text = file.readAll();
  if (text.startsWith(Utf8ByteOrderMark)) {
    byteOrderMark_ = true;
    text.remove(0, Utf8ByteOrderMark.size());
  }
  crlf_ = text.contains("\r\n");
  text.replace("\r\n", "\n");
  lines_ = text.split('\n');
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
    const QByteArray& line = lines_[i];
    const qsizetype eq = line.indexOf('=');
    if (eq < 0 || line.trimmed().startsWith(';'))
      continue;
    if (QString::fromUtf8(line.left(eq)).trimmed().compare(key, Qt::CaseInsensitive) == 0)
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
  const QByteArray& text = lines_[line];
  // Spaces around "=" belong to the file's layout, not to the value.
  return QString::fromUtf8(text.mid(text.indexOf('=') + 1)).trimmed();
}

void IniFile::SetValue(const QString& section, const QString& key, const QString& value) {
  const QByteArray entry = (key + u'=' + value).toUtf8();
  int header = FindSection(section);
  if (header < 0) {
    lines_.append('[' + section.toUtf8() + ']');
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
  QByteArray bytes = byteOrderMark_ ? Utf8ByteOrderMark : QByteArray();
  for (const QByteArray& line : lines_) {
    bytes += line;
    bytes += crlf_ ? "\r\n" : "\n";
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
