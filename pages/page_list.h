// PageList: the ordered full paths of the open folder's pages.
#pragma once

#include <QString>
#include <QStringList>

namespace pagetrim {

class PageList {
 public:
  int Count() const { return int(items_.size()); }
  bool IsEmpty() const { return items_.isEmpty(); }
  // The entry at index; an index outside the list raises the list error.
  const QString& At(int index) const;
  // The entry equal to path; when there is none, the first of the same
  // length that equals it ignoring case; else -1.
  int IndexOf(const QString& path) const;
  void Clear() { items_.clear(); }
  void Append(const QString& path) { items_.append(path); }
  void RemoveAt(int index);
  // Sorts in natural file-name order.
  void Sort();
  const QStringList& Items() const { return items_; }

 private:
  QStringList items_;
};

}  // namespace pagetrim
