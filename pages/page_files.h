// Which files of a folder are pages, and listing them.
#pragma once

#include <QString>

#include "page_list.h"

namespace pagetrim {

// True when the file name's extension, upper-cased, is ".JPEG", ".JPG" or ".PNG".
bool IsPageFile(const QString& path);

// Fills list with the page files directly inside folder (which ends with "/"),
// in natural order. A folder that does not exist raises ShownError. Page files
// whose names are not valid in the file system's encoding (UTF-8) cannot be
// named again once read, so they are left out; unreadable, when given, gets
// their count.
void ListPages(const QString& folder, PageList& list, int* unreadable = nullptr);

}  // namespace pagetrim
