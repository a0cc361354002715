// Reading and writing the values the settings file keeps.
#include "stored_settings.h"

#include "ini_file.h"
#include "integer_text.h"

namespace pagetrim {

StoredSettings StoredSettings::Read(const QString& path) {
  IniFile ini(path);
  ini.Load();
  const auto integer = [&](const QString& key) {
    return ParseInteger(ini.Value(SettingsSection, key, QString()));
  };
  const auto flag = [&](const QString& key, bool fallback) {
    return integer(key).value_or(fallback) != 0;
  };
  StoredSettings settings;
  settings.Left = integer("Left");
  settings.Top = integer("Top");
  settings.Height = integer("Height");
  settings.Width = integer("Width");
  settings.ThresholdText = StoredThresholdText(ini.Value(SettingsSection, "Edit1", "128"));
  settings.GrayChecked = flag("RB_1", false);
  settings.BinaryChecked = flag("RB_2", true);
  settings.KeepOriginals = flag("KeepOriginals", true);
  settings.OneSizePerSide = flag("OneSizePerSide", true);
  settings.TurnPagesStraight = flag("TurnPagesStraight", true);
  return settings;
}

bool StoredSettings::Write(const QString& path) const {
  IniFile ini(path);
  ini.Load();
  const auto integer = [&](const QString& key, std::optional<std::int32_t> value) {
    if (value)
      ini.SetValue(SettingsSection, key, QString::number(*value));
  };
  const auto flag = [&](const QString& key, bool value) {
    ini.SetValue(SettingsSection, key, value ? "1" : "0");
  };
  integer("Left", Left);
  integer("Top", Top);
  integer("Height", Height);
  integer("Width", Width);
  // The text is kept as typed, but a line break pasted into the box would
  // start a line of its own in the file.
  QString threshold = ThresholdText;
  threshold.replace(u'\r', u' ').replace(u'\n', u' ');
  ini.SetValue(SettingsSection, "Edit1", threshold);
  flag("RB_1", GrayChecked);
  flag("RB_2", BinaryChecked);
  flag("KeepOriginals", KeepOriginals);
  flag("OneSizePerSide", OneSizePerSide);
  flag("TurnPagesStraight", TurnPagesStraight);
  return ini.Save();
}

}  // namespace pagetrim
