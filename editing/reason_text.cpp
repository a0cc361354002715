// The words for each failure the program knows.
#include "reason_text.h"

#include <cstring>

namespace pagetrim {

namespace {

// The system's own words for an error number.
QString SystemText(int error) {
  char buffer[256];
  return QString::fromLocal8Bit(::strerror_r(error, buffer, sizeof(buffer)));
}

}  // namespace

QString ReasonText(const Result& result) {
  switch (result.Why) {
    case Reason::None:
      return QString();
    case Reason::NoSpace:
      return QStringLiteral("ディスクの空き容量が足りません");
    case Reason::Quota:
      return QStringLiteral("ディスクの使用量の上限に達しました");
    case Reason::NotPermitted:
      return QStringLiteral("書き込みが許可されていません");
    case Reason::Missing:
      return QStringLiteral("ファイルが見つかりません");
    case Reason::NameTooLong:
      return QStringLiteral("ファイル名が長すぎます");
    case Reason::FolderInTheWay:
      return QStringLiteral("同じ名前のフォルダーがあります");
    case Reason::ChangedElsewhere:
      return QStringLiteral("読み込んだ後に他のプログラムが変更しました");
    case Reason::UnreadableImage:
      return QStringLiteral("読み込めない画像です");
    case Reason::DamagedImage:
      return QStringLiteral("壊れているか画像ではありません");
    case Reason::ImageTooLarge:
      return QStringLiteral("画像が大きすぎます");
    case Reason::ReadNotPermitted:
      return QStringLiteral("読み込みが許可されていません");
    case Reason::ReadFailed:
      return QStringLiteral("読み込みに失敗しました（%1）").arg(SystemText(result.Error));
    case Reason::NotAFile:
      return QStringLiteral("通常のファイルではありません");
    case Reason::Cancelled:
      return QStringLiteral("読み込みを中止しました");
    case Reason::EmptyPage:
      return QStringLiteral("空の画像は保存できません");
    case Reason::OutOfMemory:
      return QStringLiteral("メモリが足りないため画像を変換できません");
    case Reason::CannotEncode:
      return QStringLiteral("画像を変換できません");
    case Reason::NoEncoder:
      return QStringLiteral("この形式の画像は保存できません");
    case Reason::NoKeptOriginal:
      return QStringLiteral("元の画像がありません");
    case Reason::CannotKeepOriginal:
      return QStringLiteral("元の画像を保存できません（%1）")
          .arg(ReasonText({result.Cause, Reason::None, result.Error}));
    case Reason::SystemError:
      break;
  }
  return SystemText(result.Error);
}

}  // namespace pagetrim
