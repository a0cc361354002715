// The application object: Qt's Japanese texts and the error catcher.
#include "pagetrim_application.h"

#include <QLibraryInfo>

#include "error_box.h"

namespace pagetrim {

PagetrimApplication::PagetrimApplication(int& argc, char** argv) : QApplication(argc, argv) {
  if (qtTexts_.load(QStringLiteral("qtbase_ja"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    installTranslator(&qtTexts_);
  }
}

bool PagetrimApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowErrorBox(ErrorMessage(error));
  }
  return false;
}

}  // namespace pagetrim
