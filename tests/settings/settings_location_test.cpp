// Where the settings file goes: beside the executable, or in the user's
// configuration folder when that is not possible or the program is installed.
#include "settings_location.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "ini_file.h"
#include "support/as_another_user.h"

namespace pagetrim {
namespace {

TEST(SettingsLocation, NamedAfterTheExecutableBesideIt) {
  EXPECT_EQ(SettingsPathFor("/opt/Tools/pagetrim"), "/opt/Tools/pagetrim.INI");
  EXPECT_EQ(SettingsPathFor("/opt/Tools/Pages.exe"), "/opt/Tools/Pages.INI");
  EXPECT_EQ(SettingsPathFor("/opt/v1.2/pagetrim"), "/opt/v1.2/pagetrim.INI");
}

TEST(SettingsLocation, BesideAWritableExecutableElseInTheUserConfigurationFolder) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkdir("bin"));
  const QString config = dir.path() + "/home/.config/pagetrim";
  // A folder that can be written keeps the portable place.
  EXPECT_EQ(ChooseSettingsPath(dir.path() + "/bin/pagetrim", config),
            dir.path() + "/bin/pagetrim.INI");
  // A folder that cannot (here: it does not exist, as for a foreign install
  // prefix) sends the settings to the user's folder, created on first save.
  const QString chosen = ChooseSettingsPath(dir.path() + "/gone/bin/pagetrim", config);
  EXPECT_EQ(chosen, config + "/pagetrim.INI");
  IniFile ini(chosen);
  ini.SetValue("Window", "Edit1", "77");
  ASSERT_TRUE(ini.Save());
  IniFile again(chosen);
  again.Load();
  EXPECT_EQ(again.Value("Window", "Edit1", ""), "77");
}

// An installed program keeps no settings in its own folder, even where it
// could write there (as root can in /usr/bin): the package manager would
// leave the file behind.
TEST(SettingsLocation, AnInstalledProgramKeepsItsSettingsInTheUserConfigurationFolder) {
  const QString config = "/home/x/.config/pagetrim";
  for (const char* executable :
       {"/usr/bin/pagetrim", "/usr/local/bin/pagetrim", "/opt/pagetrim/bin/pagetrim"}) {
    SCOPED_TRACE(executable);
    ASSERT_FALSE(QFile::exists(SettingsPathFor(executable)));
    EXPECT_EQ(ChooseSettingsPath(executable, config), config + "/pagetrim.INI");
  }
}

}  // namespace
}  // namespace pagetrim

namespace pagetrim {
namespace {

// A settings file beside the executable that the user cannot write (left by
// a run as root, say) would fail every close: the user's folder takes over.
TEST(SettingsLocation, AFileBesideThatCannotBeWrittenSendsTheSettingsHome) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkdir("bin"));
  QFile beside(dir.path() + "/bin/pagetrim.INI");
  ASSERT_TRUE(beside.open(QIODevice::WriteOnly));
  beside.close();
  ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(dir.path() + "/bin").constData(), 0777), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(beside.fileName()).constData(), 0644), 0);
  const int status = test::RunAsAnotherUser([&] {
    return ChooseSettingsPath(dir.path() + "/bin/pagetrim", "/home/x/.config/pagetrim") ==
                   "/home/x/.config/pagetrim/pagetrim.INI"
               ? 0
               : 1;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ChooseSettingsPath(dir.path() + "/bin/pagetrim", ""), dir.path() + "/bin/pagetrim.INI");
}

}  // namespace
}  // namespace pagetrim
