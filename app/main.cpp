// pagetrim: start-up and the event loop.
#include <QCommandLineParser>

#include "main_window.h"
#include "pagetrim_application.h"
#include "pagetrim_version.h"

int main(int argc, char* argv[]) {
  pagetrim::PagetrimApplication app(argc, argv);
  QCoreApplication::setApplicationName("pagetrim");
  QCoreApplication::setApplicationVersion(PAGETRIM_VERSION);

  QCommandLineParser parser;
  parser.setApplicationDescription("Trims the blank margins of scanned book pages.");
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument("page", "A page file (JPEG or PNG) to open with its folder.",
                               "[page]");
  parser.process(app);

  pagetrim::TForm1 form;
  form.show();
  // A page named on the command line ("Open with" in a file manager) opens
  // exactly as a drop of that one file would.
  if (!parser.positionalArguments().isEmpty())
    form.OnDrop(parser.positionalArguments());
  return app.exec();
}
