// IniFile: the small INI text file that keeps the window's settings.
#pragma once

#include <QString>
#include <QStringList>

namespace pagetrim {

// Reads and writes "key=value" lines under "[section]" headers. Section and
// key names ignore case, values are kept exactly as written, and everything
// it does not touch (other sections, other keys, comments) is written back
// unchanged.
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
  QStringList lines_;
};

// The settings file beside an executable: its name with the extension
// replaced by ".INI", in the executable's own folder.
QString SettingsPathFor(const QString& executablePath);

}  // namespace pagetrim
