// Reading and writing the settings file.
#include "ini_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

namespace pagetrim {

namespace {

const QByteArray Utf8ByteOrderMark("\xEF\xBB\xBF");

// UTF-8 as stored: QString::fromUtf8 would drop a byte-order mark at the
// start of a value, and a value must read back exactly as it was written.
QString Utf8Text(const QByteArray& bytes) {
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
  return decoder.decode(bytes);
}

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
  QFile file(path_);
  Parse(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
}

void IniFile::Parse(QByteArray text) {
  lines_.clear();
  newLineEnd_ = "\n";
  byteOrderMark_ = text.startsWith(Utf8ByteOrderMark);
  if (byteOrderMark_)
    text.remove(0, Utf8ByteOrderMark.size());
  qsizetype start = 0;
  while (start < text.size()) {
    const qsizetype newline = text.indexOf('\n', start);
    if (newline < 0) {
      lines_.append({text.mid(start), QByteArray()});
      break;
    }
    // A CR belongs to the line end only right before its LF; a lone CR is
    // part of the line's text.
    const bool crlf = newline > start && text[newline - 1] == '\r';
    const qsizetype textEnd = crlf ? newline - 1 : newline;
    lines_.append({text.mid(start, textEnd - start), crlf ? "\r\n" : "\n"});
    start = newline + 1;
  }
  if (!lines_.isEmpty() && !lines_.first().End.isEmpty())
    newLineEnd_ = lines_.first().End;
}

QByteArray IniFile::Text() const {
  QByteArray bytes = byteOrderMark_ ? Utf8ByteOrderMark : QByteArray();
  for (const Line& line : lines_)
    bytes += line.Text + line.End;
  return bytes;
}

int IniFile::FindSection(const QString& section) const {
  for (int i = 0; i < lines_.size(); ++i) {
    const QByteArray& text = lines_[i].Text;
    if (IsHeader(text) && HeaderName(text).compare(section, Qt::CaseInsensitive) == 0)
      return i;
  }
  return -1;
}

int IniFile::SectionEnd(int header) const {
  int i = header + 1;
  while (i < lines_.size() && !IsHeader(lines_[i].Text))
    ++i;
  return i;
}

int IniFile::FindKey(int header, const QString& key) const {
  const int end = SectionEnd(header);
  for (int i = header + 1; i < end; ++i) {
    const QByteArray& line = lines_[i].Text;
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
  const QByteArray& text = lines_[line].Text;
  // Spaces around "=" belong to the file's layout, not to the value.
  return Utf8Text(text.mid(text.indexOf('=') + 1)).trimmed();
}

void IniFile::InsertLine(int at, const QByteArray& text) {
  if (at > 0 && lines_[at - 1].End.isEmpty())
    lines_[at - 1].End = newLineEnd_;
  lines_.insert(at, {text, newLineEnd_});
}

void IniFile::SetValue(const QString& section, const QString& key, const QString& value) {
  const QByteArray entry = (key + u'=' + value).toUtf8();
  const int header = FindSection(section);
  if (header < 0) {
    InsertLine(int(lines_.size()), '[' + section.toUtf8() + ']');
    InsertLine(int(lines_.size()), entry);
    return;
  }
  const int line = FindKey(header, key);
  if (line >= 0) {
    lines_[line].Text = entry;
    return;
  }
  // After the section's last non-blank line, so blank separators stay put.
  int at = SectionEnd(header);
  while (at > header + 1 && lines_[at - 1].Text.trimmed().isEmpty())
    --at;
  InsertLine(at, entry);
}

bool IniFile::Save() const {
  // The user's configuration folder may not exist yet on a first run.
  const QString folder = QFileInfo(path_).absolutePath();
  if (!QDir().mkpath(folder))
    return false;
  QSaveFile file(path_);
  if (!file.open(QIODevice::WriteOnly))
    return false;
  const QByteArray bytes = Text();
  if (file.write(bytes) != bytes.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

}  // namespace pagetrim
