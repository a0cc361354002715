// Answers the modal boxes a widget test opens, and records what they said.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace pagetrim::test {

struct SeenBox {
  QString ObjectName;
  QString Title;
  QString Text;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
};

class ModalBoxCloser {
 public:
  ModalBoxCloser() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible())
        return;
      Seen.append({box->objectName(), box->windowTitle(), box->text(), box->icon()});
      box->accept();
    });
    timer_.start(5);
  }

  QList<SeenBox> Seen;

 private:
  QTimer timer_;
};

}  // namespace pagetrim::test
