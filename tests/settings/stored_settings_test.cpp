// The values of the settings file, as the window and the shell batches read
// and write them.
#include "stored_settings.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace pagetrim {
namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(StoredSettings, AFreshFileHoldsTheKeysInTheirOrderAndReadsBackChecked) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/pagetrim.INI";
  const StoredSettings defaults = StoredSettings::Read(path);
  EXPECT_FALSE(defaults.Left || defaults.Top || defaults.Height || defaults.Width);
  EXPECT_EQ(defaults.ThresholdText, "128");
  EXPECT_FALSE(defaults.GrayChosen());
  EXPECT_TRUE(defaults.KeepOriginals);
  EXPECT_TRUE(defaults.OneSizePerSide);
  EXPECT_TRUE(defaults.TurnPagesStraight);

  StoredSettings settings;
  settings.Left = -8;
  settings.Top = 30;
  settings.Height = 600;
  settings.Width = 800;
  settings.ThresholdText = "300\r\nRB_1=1";  // as typed; checked only when read
  settings.GrayChecked = true;
  settings.BinaryChecked = false;
  settings.KeepOriginals = false;
  settings.OneSizePerSide = false;
  settings.TurnPagesStraight = false;
  ASSERT_TRUE(settings.Write(path));
  EXPECT_EQ(ReadAll(path),
            "[Window]\nLeft=-8\nTop=30\nHeight=600\nWidth=800\nEdit1=300  RB_1=1\nRB_1=1\n"
            "RB_2=0\nKeepOriginals=0\nOneSizePerSide=0\nTurnPagesStraight=0\n");

  const StoredSettings read = StoredSettings::Read(path);
  EXPECT_EQ(read.Left, -8);
  EXPECT_EQ(read.Width, 800);
  EXPECT_EQ(read.ThresholdText, "128");
  EXPECT_TRUE(read.GrayChosen());
  EXPECT_FALSE(read.KeepOriginals);
  EXPECT_FALSE(read.OneSizePerSide);
  EXPECT_FALSE(read.TurnPagesStraight);

  // Values not known are left as the file has them.
  StoredSettings unplaced;
  ASSERT_TRUE(unplaced.Write(path));
  EXPECT_TRUE(ReadAll(path).startsWith("[Window]\nLeft=-8\nTop=30\nHeight=600\nWidth=800\n"));
}

}  // namespace
}  // namespace pagetrim
