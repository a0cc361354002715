// Which files of a folder are pages, and listing them.
#pragma once

#include <QString>

#include "page_list.h"

namespace pagetrim {

// True when the file name's extension, upper-cased, is ".JPEG", ".JPG" or ".PNG".
bool IsPageFile(const QString& path);

// The text after the last separator, from its last "." on, or empty.
QString FileExtension(const QString& path);

// Fills list with the page files directly inside folder (which ends with "/"),
// in natural order. A folder that does not exist raises ShownError.
void ListPages(const QString& folder, PageList& list);

}  // namespace pagetrim
