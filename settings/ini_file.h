// IniFile: the small INI text file that keeps the window's settings.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace pagetrim {

// Reads and writes "key=value" lines under "[section]" headers. Section and
// key names ignore case, values are UTF-8 text kept as written, and every
// line it does not set (other sections, other keys, comments, text in other
// encodings) is written back byte for byte, with the file's own line ends.
class IniFile {
 public:
  explicit IniFile(QString path);

  const QString& Path() const { return path_; }
  // A missing or unreadable file reads as empty.
  void Load();
  QString Value(const QString& section, const QString& key, const QString& fallback) const;
  void SetValue(const QString& section, const QString& key, const QString& value);
  // Replaces the file atomically; false when it could not be written.
  bool Save() const;

 private:
  // Index of the section's header line, or -1.
  int FindSection(const QString& section) const;
  // Index of the key's line within the section starting after header, or -1.
  int FindKey(int header, const QString& key) const;
  int SectionEnd(int header) const;

  QString path_;
  QList<QByteArray> lines_;  // without their line ends
  bool crlf_ = false;        // the file ends its lines with CR LF
  bool byteOrderMark_ = false;
};

// The settings file beside an executable: its name with the extension
// replaced by ".INI", in the executable's own folder.
QString SettingsPathFor(const QString& executablePath);

}  // namespace pagetrim
