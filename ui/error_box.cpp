// The standard error box.
#include "error_box.h"

#include <QCoreApplication>
#include <QMessageBox>

#include "page_path.h"
#include "shown_error.h"

namespace pagetrim {

QString ApplicationTitleFor(const QString& executablePath) {
  QString name = FileNameOf(executablePath);
  name.chop(FileExtension(name).size());
  return name.left(1) + name.mid(1).toLower();
}

QString ApplicationTitle() {
  return ApplicationTitleFor(QCoreApplication::applicationFilePath());
}

QString ErrorBoxText(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > u'.')
    return message + u'.';
  return message;
}

QString ErrorMessage(const std::exception& error) {
  if (const auto* shown = dynamic_cast<const ShownError*>(&error))
    return shown->Text();
  return QString::fromLocal8Bit(error.what());
}

void ShowErrorBox(const QString& message) {
  QMessageBox box(QMessageBox::Critical, ApplicationTitle(), ErrorBoxText(message),
                  QMessageBox::Ok);
  box.setObjectName("ErrorBox");
  box.exec();
}

}  // namespace pagetrim
