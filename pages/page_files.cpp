// Which files are pages, and listing a folder's pages.
#include "page_files.h"

#include <QDir>
#include <QFileInfo>

#include "shown_error.h"

namespace pagetrim {

QString FileExtension(const QString& path) {
  const qsizetype slash = path.lastIndexOf(u'/');
  const qsizetype dot = path.lastIndexOf(u'.');
  if (dot < 0 || dot < slash)
    return {};
  return path.mid(dot);
}

bool IsPageFile(const QString& path) {
  const QString ext = FileExtension(path).toUpper();
  return ext == u".JPEG" || ext == u".JPG" || ext == u".PNG";
}

void ListPages(const QString& folder, PageList& list) {
  list.Clear();
  if (!QFileInfo(folder).isDir()) {
    throw ShownError(QStringLiteral("指定されたパスが見つかりません"));
  }
  // Every file counts, hidden ones included. Pipes, sockets and devices do
  // not: reading one as a page could block forever.
  const QDir dir(folder);
  const QStringList names =
      dir.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Unsorted);
  for (const QString& name : names) {
    const QString path = folder + name;
    if (IsPageFile(path))
      list.Append(path);
  }
  list.Sort();
}

}  // namespace pagetrim
