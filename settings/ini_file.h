// IniFile: the small INI text file that keeps the window's settings.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace pagetrim {

// Reads and writes "key=value" lines under "[section]" headers. Section and
// key names ignore case, values are UTF-8 text kept as written, and every
// line it does not set (other sections, other keys, comments, text in other
// encodings) is written back byte for byte, each with its own line end: a
// file loaded and saved unchanged keeps every byte.
class IniFile {
 public:
  explicit IniFile(QString path);

  const QString& Path() const { return path_; }
  // A missing or unreadable file reads as empty.
  void Load();
  QString Value(const QString& section, const QString& key, const QString& fallback) const;
  void SetValue(const QString& section, const QString& key, const QString& value);
  // Replaces the file atomically, creating its folder if need be; false when
  // it could not be written.
  bool Save() const;

  // The same on bytes in memory.
  void Parse(QByteArray text);
  QByteArray Text() const;

 private:
  struct Line {
    QByteArray Text;  // without its line end
    QByteArray End;   // "\n", "\r\n", or nothing on a last line without one
  };
  // Index of the section's header line, or -1.
  int FindSection(const QString& section) const;
  // Index of the key's line within the section starting after header, or -1.
  int FindKey(int header, const QString& key) const;
  int SectionEnd(int header) const;
  // Inserts a line; the line before it gets a line end if it had none.
  void InsertLine(int at, const QByteArray& text);

  QString path_;
  QList<Line> lines_;
  QByteArray newLineEnd_ = "\n";  // for lines this class adds: the file's own
  bool byteOrderMark_ = false;
};

}  // namespace pagetrim
