// Which files are pages, and listing a folder's pages.
#include "page_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>

#include "page_path.h"
#include "shown_error.h"

namespace pagetrim {

namespace {

bool IsPageName(const QByteArray& name) {
  const qsizetype dot = name.lastIndexOf('.');
  if (dot < 0)
    return false;
  const QByteArray ext = name.mid(dot).toUpper();
  return ext == ".JPEG" || ext == ".JPG" || ext == ".PNG";
}

}  // namespace

bool IsPageFile(const QString& path) {
  const QString ext = FileExtension(path).toUpper();
  return ext == u".JPEG" || ext == u".JPG" || ext == u".PNG";
}

void ListPages(const QString& folder, PageList& list, int* unreadable) {
  list.Clear();
  if (unreadable != nullptr)
    *unreadable = 0;
  if (!QFileInfo(folder).isDir()) {
    throw ShownError(QStringLiteral("指定されたパスが見つかりません"));
  }
  DIR* dir = ::opendir(QFile::encodeName(folder).constData());
  if (dir == nullptr)
    return;  // unreadable folder: no pages
  struct Closer {
    DIR* Dir;
    ~Closer() { (void)::closedir(Dir); }  // only read
  } closer{dir};
  while (const dirent* entry = ::readdir(dir)) {
    const QByteArray name(entry->d_name);
    if (!IsPageName(name))
      continue;
    // Every file counts, hidden ones included. Pipes, sockets, devices and
    // broken links do not: reading one as a page could block forever.
    struct stat info {};
    if (::fstatat(::dirfd(dir), entry->d_name, &info, 0) != 0 || !S_ISREG(info.st_mode))
      continue;
    const QString decoded = QFile::decodeName(name);
    if (QFile::encodeName(decoded) != name) {
      if (unreadable != nullptr)
        ++*unreadable;
      continue;
    }
    list.Append(folder + decoded);
  }
  list.Sort();
}

}  // namespace pagetrim
