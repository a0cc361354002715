// Answers the modal boxes a widget test opens, and records what they said.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace pagetrim::test {

struct SeenBox {
  QString ObjectName;
  QString Title;
  QString Text;
  QString InformativeText;
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  QStringList Buttons;
};

class ModalBoxCloser {
 public:
  // Clicks the button with this text when a box has one, else accepts the box.
  QString Answer;

  ModalBoxCloser() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible())
        return;
      SeenBox seen{box->objectName(),      box->windowTitle(), box->text(),
                   box->informativeText(), box->icon(),        {}};
      QAbstractButton* answer = nullptr;
      for (QAbstractButton* button : box->buttons()) {
        seen.Buttons.append(button->text());
        if (!Answer.isEmpty() && button->text().remove(u'&') == Answer)
          answer = button;
      }
      Seen.append(seen);
      if (answer != nullptr)
        answer->click();
      else
        box->accept();
    });
    timer_.start(5);
  }

  QList<SeenBox> Seen;

 private:
  QTimer timer_;
};

}  // namespace pagetrim::test
