// PageList's look-up, removal and natural sort.
#include "page_list.h"

#include <algorithm>

#include "natural_compare.h"
#include "shown_error.h"

namespace pagetrim {

const QString& PageList::At(int index) const {
  if (index < 0 || index >= Count()) {
    throw ShownError(QStringLiteral("リストのインデックスが範囲を超えています (%1)").arg(index));
  }
  return items_[index];
}

int PageList::IndexOf(const QString& path) const {
  // Names that differ only by case are different files here: p1.png must
  // never open, and be written over, as P1.png.
  if (const qsizetype exact = items_.indexOf(path); exact >= 0)
    return int(exact);
  for (int i = 0; i < Count(); ++i) {
    const QString& item = items_[i];
    if (item.size() == path.size() && item.compare(path, Qt::CaseInsensitive) == 0)
      return i;
  }
  return -1;
}

void PageList::RemoveAt(int index) {
  At(index);  // raises the list error for an index outside the list
  items_.removeAt(index);
}

void PageList::Sort() {
  if (items_.size() < 2)
    return;
  // A merge sort never reads outside the list, whatever the comparison does.
  std::stable_sort(items_.begin(), items_.end(),
                   [](const QString& a, const QString& b) { return NaturalCompare(a, b) < 0; });
}

}  // namespace pagetrim
