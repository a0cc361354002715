// Writes sample pages into a folder:
//   make_sample_pages [--real-paper] FOLDER
//   make_sample_pages --book [--seed N] [--dpi D] [--pages N] [--gray|--bitonal]
//                     [--truth FILE.json] FOLDER
// (--real-paper: pages with dark edges, shadows and specks, for 自動削除;
// --book: a generated book of one layout, and with --truth what is true of
// each of its pages, as JSON.)
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <cstdio>

#include "sample_pages.h"

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.addPositionalArgument("FOLDER", "The folder to write the pages into.");
  const QCommandLineOption realPaper("real-paper", "Pages with the faults of real paper.");
  const QCommandLineOption book("book", "A generated book of one layout.");
  const QCommandLineOption seed("seed", "The book's seed (1).", "N", "1");
  const QCommandLineOption dpi("dpi", "The book's resolution (300).", "D", "300");
  const QCommandLineOption pages("pages", "The book's page count (44).", "N", "44");
  const QCommandLineOption gray("gray", "A gray book.");
  const QCommandLineOption bitonal("bitonal", "A 1-bit book.");
  const QCommandLineOption truth("truth", "Write the truth about the book's pages here.",
                                 "FILE.json");
  parser.addOptions({realPaper, book, seed, dpi, pages, gray, bitonal, truth});
  const char* usage =
      "usage: make_sample_pages [--real-paper] FOLDER\n"
      "       make_sample_pages --book [--seed N] [--dpi D] [--pages N] [--gray|--bitonal]\n"
      "                         [--truth FILE.json] FOLDER\n";
  if (!parser.parse(app.arguments()) || parser.positionalArguments().size() != 1) {
    std::fprintf(stderr, "%s", usage);
    return 2;
  }
  pagetrim::samples::BookOptions options;
  bool seedOk = true, dpiOk = true, pagesOk = true;
  options.Seed = parser.value(seed).toUInt(&seedOk);
  options.Dpi = parser.value(dpi).toInt(&dpiOk);
  options.Pages = parser.value(pages).toInt(&pagesOk);
  options.Kind = parser.isSet(bitonal) ? pagetrim::samples::PageKind::Bitonal
                 : parser.isSet(gray)  ? pagetrim::samples::PageKind::Gray
                                       : pagetrim::samples::PageKind::Colour;
  const bool bookOptions = parser.isSet(seed) || parser.isSet(dpi) || parser.isSet(pages) ||
                           parser.isSet(gray) || parser.isSet(bitonal) || parser.isSet(truth);
  if (!seedOk || !dpiOk || !pagesOk || options.Dpi < 50 || options.Dpi > 1200 ||
      options.Pages < 4 || options.Pages > 999 || (parser.isSet(book) && parser.isSet(realPaper)) ||
      (bookOptions && !parser.isSet(book)) || (parser.isSet(gray) && parser.isSet(bitonal))) {
    std::fprintf(stderr, "%s", usage);
    return 2;
  }
  const QString target = parser.positionalArguments().first();
  if (!QDir().mkpath(target)) {
    std::fprintf(stderr, "cannot create %s\n", qPrintable(target));
    return 1;
  }
  const QString folder = QDir(target).absolutePath();
  QString reason;
  const QStringList paths = parser.isSet(book) ? pagetrim::WriteGeneratedBook(
                                                     folder, options, parser.value(truth), &reason)
                            : parser.isSet(realPaper) ? pagetrim::WriteRealPaperBook(folder)
                                                      : pagetrim::WriteSampleBook(folder);
  if (!reason.isEmpty())
    std::fprintf(stderr, "%s\n", qPrintable(reason));
  for (const QString& p : paths)
    std::printf("%s\n", qPrintable(p));
  return paths.isEmpty() ? 1 : 0;
}
