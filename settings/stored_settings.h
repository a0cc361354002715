// StoredSettings: what the settings file keeps from one run to the next,
// read and written in one place for the window and for batches run from the
// shell.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace pagetrim {

inline const QString SettingsSection = QStringLiteral("Window");

struct StoredSettings {
  // The window's outer frame in screen pixels; absent when the file has no
  // usable value.
  std::optional<std::int32_t> Left;
  std::optional<std::int32_t> Top;
  std::optional<std::int32_t> Height;
  std::optional<std::int32_t> Width;
  // The threshold box's text. Read back checked (1 ... 254, else "128"), but
  // written as typed.
  QString ThresholdText = QStringLiteral("128");
  bool GrayChecked = false;   // RB_1
  bool BinaryChecked = true;  // RB_2
  bool KeepOriginals = true;
  // 全頁自動削除 gives each side of a book one size; off, every page its own.
  bool OneSizePerSide = true;
  // 全頁自動削除 turns each page straight before finding its content.
  bool TurnPagesStraight = true;

  // The gray image is used only when RB_1 is checked, and a later RB_2
  // unchecks it when both read true.
  bool GrayChosen() const { return GrayChecked && !BinaryChecked; }

  // A missing file, and a missing or malformed value, read as the default.
  static StoredSettings Read(const QString& path);
  // Sets every value in the file, keeping every other line of it as it was;
  // false when the file could not be written.
  bool Write(const QString& path) const;
};

}  // namespace pagetrim
