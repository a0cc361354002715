// The application object's error catcher.
#include "pagetrim_application.h"

#include "error_box.h"

namespace pagetrim {

bool PagetrimApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowErrorBox(ErrorMessage(error));
  }
  return false;
}

}  // namespace pagetrim
