// pagetrim: start-up and the event loop, or a batch run from the shell.
#include <QCommandLineParser>
#include <cstdio>

#include "main_window.h"
#include "pagetrim_application.h"
#include "pagetrim_version.h"
#include "shell_batch.h"

int main(int argc, char* argv[]) {
  if (pagetrim::NeedsNoWindow(argc, argv)) {
    // No window, so no display: a batch runs on a machine without a screen.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("pagetrim");
    QCoreApplication::setApplicationVersion(PAGETRIM_VERSION);
    return pagetrim::RunShellBatch(app.arguments());
  }

  pagetrim::PagetrimApplication app(argc, argv);
  QCoreApplication::setApplicationName("pagetrim");
  QCoreApplication::setApplicationVersion(PAGETRIM_VERSION);
  QCommandLineParser parser;
  pagetrim::DescribeCommandLine(parser);
  parser.process(app);
  for (const char* option : {"threshold", "gray", "sample-column"}) {
    if (parser.isSet(option)) {
      std::fprintf(stderr, "pagetrim: --%s is for --batch only\n", option);
      return 2;
    }
  }

  pagetrim::TForm1 form;
  form.show();
  // A page named on the command line ("Open with" in a file manager) opens
  // exactly as a drop of that one file would.
  if (!parser.positionalArguments().isEmpty())
    form.OnDrop(parser.positionalArguments());
  return app.exec();
}
