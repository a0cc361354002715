// Which files are pages, and listing a folder.
#include "page_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "page_path.h"
#include "shown_error.h"

namespace pagetrim {
namespace {

void Touch(const QString& path) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

TEST(IsPageFile, AcceptsOnlyJpegAndPngExtensionsInAnyCase) {
  for (const char* name : {"/d/scan.jpg", "/d/SCAN.JPG", "/d/x.Jpeg", "/d/y.png", "/d.x/p.PNG"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(IsPageFile(QString::fromUtf8(name)));
  }
  for (const char* name : {"/d/z.gif", "/d/archive.jpg.bak", "/d/x.", "/d/noext", "/d.jpg/noext",
                           "/d/jpg", "/d/.jpgx"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(IsPageFile(QString::fromUtf8(name)));
  }
  EXPECT_EQ(FileExtension("/a/a.tar.gz"), ".gz");
  EXPECT_EQ(FileExtension("/a/x."), ".");
  EXPECT_EQ(FileExtension("/a.b/x"), "");
}

TEST(ListPages, KeepsPageFilesOfTheFolderInNaturalOrder) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString folder = dir.path() + "/";
  for (const char* name : {"p10.jpg", "p9.JPG", "p1.png", ".hidden.jpg", "notes.txt", "z.gif"}) {
    Touch(folder + name);
  }
  ASSERT_TRUE(QDir(folder).mkdir("sub.jpg"));
  Touch(folder + "sub.jpg/inner.jpg");

  PageList list;
  list.Append("/stale/entry.jpg");
  ListPages(folder, list);
  EXPECT_EQ(list.Items(), (QStringList{folder + ".hidden.jpg", folder + "p1.png", folder + "p9.JPG",
                                       folder + "p10.jpg"}));
}

TEST(ListPages, FolderWithoutPagesGivesEmptyList) {
  QTemporaryDir dir;
  Touch(dir.path() + "/readme.txt");
  PageList list;
  ListPages(dir.path() + "/", list);
  EXPECT_TRUE(list.IsEmpty());
}

TEST(ListPages, MissingFolderRaisesPathNotFoundAndClearsTheList) {
  PageList list;
  list.Append("/old/a.jpg");
  try {
    ListPages("/no/such/folder/", list);
    FAIL() << "no error";
  } catch (const ShownError& e) {
    EXPECT_EQ(e.Text(), u"指定されたパスが見つかりません"_qs);
  }
  EXPECT_TRUE(list.IsEmpty());
}

// Such a name could not be opened again once turned into text.
TEST(ListPages, NamesThatAreNotUtf8AreLeftOutAndCounted) {
  QTemporaryDir dir;
  const QString folder = dir.path() + "/";
  Touch(folder + "good.jpg");
  const char* const names[] = {"caf\xE9.jpg", "\xFF\xFE.PNG", "note\xE9.txt"};
  for (const char* name : names) {
    const int fd = ::open((QFile::encodeName(folder) + name).constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0) << name;
    ::close(fd);
  }
  PageList list;
  int unreadable = -1;
  ListPages(folder, list, &unreadable);
  EXPECT_EQ(list.Items(), QStringList{folder + "good.jpg"});
  EXPECT_EQ(unreadable, 2);
  for (const char* name : names)  // QDir cannot name them to remove them
    ::unlink((QFile::encodeName(folder) + name).constData());
}

}  // namespace
}  // namespace pagetrim
