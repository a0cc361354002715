// Writes the sample book into a folder: make_sample_pages [--real-paper] FOLDER
// (--real-paper: pages with dark edges, shadows and specks, for 自動削除).
#include <QCoreApplication>
#include <QDir>
#include <cstdio>

#include "sample_pages.h"

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QStringList args = app.arguments();
  const bool realPaper = args.removeAll(QStringLiteral("--real-paper")) > 0;
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: make_sample_pages [--real-paper] FOLDER\n");
    return 2;
  }
  if (!QDir().mkpath(args[1])) {
    std::fprintf(stderr, "cannot create %s\n", qPrintable(args[1]));
    return 1;
  }
  const QString folder = QDir(args[1]).absolutePath();
  const QStringList paths =
      realPaper ? pagetrim::WriteRealPaperBook(folder) : pagetrim::WriteSampleBook(folder);
  for (const QString& p : paths)
    std::printf("%s\n", qPrintable(p));
  return paths.isEmpty() ? 1 : 0;
}
