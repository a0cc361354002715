// pagetrim: start-up, the application object, and the event loop.
#include <QApplication>
#include <QCommandLineParser>

#include "error_box.h"
#include "main_window.h"
#include "pagetrim_version.h"

namespace pagetrim {

// Any error that escapes an event handler ends that handler and is shown in
// the standard error box; the program then goes on with the next event.
class PagetrimApplication : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
      ShowErrorBox(ErrorMessage(error));
    }
    return false;
  }
};

}  // namespace pagetrim

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
