// Writes the sample book into a folder: make_sample_pages FOLDER
#include <QCoreApplication>
#include <QDir>
#include <cstdio>

#include "sample_pages.h"

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: make_sample_pages FOLDER\n");
    return 2;
  }
  if (!QDir().mkpath(args[1])) {
    std::fprintf(stderr, "cannot create %s\n", qPrintable(args[1]));
    return 1;
  }
  const QStringList paths = pagetrim::WriteSampleBook(QDir(args[1]).absolutePath());
  for (const QString& p : paths)
    std::printf("%s\n", qPrintable(p));
  return paths.isEmpty() ? 1 : 0;
}
