// Splitting paths at their last separator and their last dot.
#include "page_path.h"

namespace pagetrim {

namespace {

qsizetype NameStart(const QString& path) {
  return path.lastIndexOf(u'/') + 1;
}

}  // namespace

QString FolderOf(const QString& path) {
  return path.left(NameStart(path));
}

QString FileNameOf(const QString& path) {
  return path.mid(NameStart(path));
}

QString FileExtension(const QString& path) {
  const qsizetype dot = path.lastIndexOf(u'.');
  if (dot < NameStart(path))
    return {};
  return path.mid(dot);
}

}  // namespace pagetrim
