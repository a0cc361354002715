// The settings file's reading and writing.
#include "ini_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace pagetrim {
namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

TEST(IniFile, ReadsValuesWhateverTheLayout) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/x.INI";
  QByteArray big(5000, 'a');
  WriteAll(path,
           "[A]\r\nkey=first\r\n\r\n[ Window ]\r\n  Key = value with spaces  \r\n"
           "; key=comment\r\nempty=\r\nlong=" +
               big + "\r\n[B]\r\nkey=other");
  IniFile ini(path);
  ini.Load();
  EXPECT_EQ(ini.Value("window", "KEY", "d"), "value with spaces");
  EXPECT_EQ(ini.Value("A", "key", "d"), "first");
  EXPECT_EQ(ini.Value("B", "key", "d"), "other");
  EXPECT_EQ(ini.Value("Window", "empty", "d"), "");
  EXPECT_EQ(ini.Value("Window", "missing", "d"), "d");
  EXPECT_EQ(ini.Value("Nowhere", "key", "d"), "d");
  EXPECT_EQ(ini.Value("Window", "long", "d").size(), 5000);  // no length limit
}

TEST(IniFile, WritesOnlyWhatItSetsAndKeepsTheRest) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/x.INI";
  WriteAll(path, "; mine\n[Window]\nLeft=1\nOther=keep\n\n[More]\nx=y\n");
  IniFile ini(path);
  ini.Load();
  ini.SetValue("Window", "left", "5");
  ini.SetValue("Window", "Edit1", " spaced ");
  ini.SetValue("New", "k", "v");
  ASSERT_TRUE(ini.Save());
  EXPECT_EQ(ReadAll(path),
            "; mine\n[Window]\nleft=5\nOther=keep\nEdit1= spaced \n\n[More]\nx=y\n[New]\nk=v\n");
  QFile::Permissions perms = QFile::permissions(path);
  EXPECT_TRUE(perms & QFile::ReadOwner);
}

TEST(IniFile, KeepsByteOrderMarkLineEndsAndOtherEncodings) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/x.INI";
  // A UTF-8 byte-order mark, CR LF line ends, and a comment in Shift-JIS.
  const QByteArray shiftJis("; \x90\xdd\x92\xe8");
  WriteAll(path, "\xEF\xBB\xBF[Window]\r\n" + shiftJis + "\r\nLeft=3\r\n");
  IniFile ini(path);
  ini.Load();
  EXPECT_EQ(ini.Value("Window", "Left", "d"), "3");
  ini.SetValue("Window", "Left", "4");
  ini.SetValue("Window", "Edit1", u"閾値"_qs);
  ASSERT_TRUE(ini.Save());
  EXPECT_EQ(ReadAll(path), "\xEF\xBB\xBF[Window]\r\n" + shiftJis +
                               "\r\nLeft=4\r\nEdit1=" + u"閾値"_qs.toUtf8() + "\r\n");
}

TEST(IniFile, MissingFileReadsEmptyAndAnUnwritablePlaceFails) {
  QTemporaryDir dir;
  IniFile missing(dir.path() + "/none.INI");
  missing.Load();
  EXPECT_EQ(missing.Value("Window", "Left", "d"), "d");

  ASSERT_TRUE(QDir().mkdir(dir.path() + "/folder.INI"));
  IniFile blocked(dir.path() + "/folder.INI");
  blocked.SetValue("Window", "Left", "1");
  EXPECT_FALSE(blocked.Save());
  // A folder that cannot be made: a file stands where it would go.
  WriteAll(dir.path() + "/plain", "x");
  IniFile nowhere(dir.path() + "/plain/sub/x.INI");
  nowhere.SetValue("Window", "Left", "1");
  EXPECT_FALSE(nowhere.Save());
}

// Loading and saving unchanged keeps every byte, whatever the line ends, and
// setting the same values again gives the same file.
TEST(IniFile, SavingIsAFixedPoint) {
  const QByteArray files[] = {
      "[Window]\r\nLeft=1\r",          // last line ends in a lone CR
      "[Window]\nLeft=1\nTop=2\r",     // LF lines, lone CR at the end
      "a=1\rb=2\n[Window]\r\nTop=3",   // a CR inside a line, no final line end
      "\xEF\xBB\xBF[Window]\r\n\r\n",  // mark and blank lines
      "",
  };
  for (const QByteArray& file : files) {
    SCOPED_TRACE(file.toStdString());
    IniFile ini("unused");
    ini.Parse(file);
    EXPECT_EQ(ini.Text(), file);
    ini.SetValue("Window", "Left", "5");
    ini.SetValue("Window", "Edit1", "abc");
    const QByteArray once = ini.Text();
    IniFile again("unused");
    again.Parse(once);
    EXPECT_EQ(again.Value("Window", "Left", ""), "5");
    again.SetValue("Window", "Left", "5");
    again.SetValue("Window", "Edit1", "abc");
    EXPECT_EQ(again.Text(), once);
  }
}

}  // namespace
}  // namespace pagetrim
