// The application object: Qt's own texts in Japanese, and the last line of
// defence for errors in event handlers.
#pragma once

#include <QApplication>
#include <QTranslator>

namespace pagetrim {

// The window's handlers show their own errors in the standard error box (see
// TForm1::Guarded), so that no error has to travel through Qt's own code.
// Anything that still escapes an event handler ends up here and is shown in
// the same box; the program then goes on with the next event.
class PagetrimApplication : public QApplication {
 public:
  // Loads Qt's Japanese translations: the interface is Japanese everywhere,
  // so the standard buttons (はい, いいえ, キャンセル) and the edit box's menu
  // are too, whatever the user's locale. Without them installed those texts
  // stay English.
  PagetrimApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;

 private:
  QTranslator qtTexts_;
};

}  // namespace pagetrim
