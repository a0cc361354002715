// The one place that takes page paths apart: folder, file name, extension.
#pragma once

#include <QString>

namespace pagetrim {

// The folder of path up to and including its last "/"; empty when it has none.
QString FolderOf(const QString& path);

// What follows the last "/" of path.
QString FileNameOf(const QString& path);

// The file name's extension: from its last "." to the end, dot included, or
// empty when the name has no dot. "a.tar.gz" gives ".gz", "x." gives ".".
QString FileExtension(const QString& path);

}  // namespace pagetrim
