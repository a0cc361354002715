// The application object: the last line of defence for errors in event handlers.
#pragma once

#include <QApplication>

namespace pagetrim {

// The window's handlers show their own errors in the standard error box (see
// TForm1::Guarded), so that no error has to travel through Qt's own code.
// Anything that still escapes an event handler ends up here and is shown in
// the same box; the program then goes on with the next event.
class PagetrimApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace pagetrim
