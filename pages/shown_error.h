// ShownError: the one exception type of the program. It carries the exact
// text that the application's standard error box shows.
#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

namespace pagetrim {

class ShownError : public std::exception {
 public:
  explicit ShownError(QString text) : text_(std::move(text)), utf8_(text_.toUtf8()) {}
  const QString& Text() const { return text_; }
  const char* what() const noexcept override { return utf8_.constData(); }

 private:
  QString text_;
  QByteArray utf8_;
};

}  // namespace pagetrim
