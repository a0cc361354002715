// The words of every failure, exactly as the window and the shell batch show
// them, and the reason each system error number stands for.
#include "reason_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace pagetrim {
namespace {

TEST(ReasonText, EveryFailureHasItsWords) {
  const QString ioError = QString::fromLocal8Bit(std::strerror(EIO));
  const struct {
    const char* Name;
    Result Failure;
    QString Text;
  } rows[] = {
      {"done", Result{}, u""_qs},
      {"ENOSPC", Result::FromError(ENOSPC), u"ディスクの空き容量が足りません"_qs},
      {"EDQUOT", Result::FromError(EDQUOT), u"ディスクの使用量の上限に達しました"_qs},
      {"EACCES", Result::FromError(EACCES), u"書き込みが許可されていません"_qs},
      {"EPERM", Result::FromError(EPERM), u"書き込みが許可されていません"_qs},
      {"EROFS", Result::FromError(EROFS), u"書き込みが許可されていません"_qs},
      {"ENOENT", Result::FromError(ENOENT), u"ファイルが見つかりません"_qs},
      {"ENAMETOOLONG", Result::FromError(ENAMETOOLONG), u"ファイル名が長すぎます"_qs},
      {"EISDIR", Result::FromError(EISDIR), u"同じ名前のフォルダーがあります"_qs},
      {"EIO, in the system's words", Result::FromError(EIO), ioError},
      {"changed", Result::Failed(Reason::ChangedElsewhere),
       u"読み込んだ後に他のプログラムが変更しました"_qs},
      {"unreadable", Result::Failed(Reason::UnreadableImage), u"読み込めない画像です"_qs},
      {"damaged", Result::Failed(Reason::DamagedImage), u"壊れているか画像ではありません"_qs},
      {"too large", Result::Failed(Reason::ImageTooLarge), u"画像が大きすぎます"_qs},
      {"EACCES at read", Result::FromReadError(EACCES), u"読み込みが許可されていません"_qs},
      {"EPERM at read", Result::FromReadError(EPERM), u"読み込みが許可されていません"_qs},
      {"EIO at read", Result::FromReadError(EIO),
       u"読み込みに失敗しました（"_qs + ioError + u"）"_qs},
      {"ENOENT at read", Result::FromReadError(ENOENT), u"ファイルが見つかりません"_qs},
      {"EISDIR at read", Result::FromReadError(EISDIR), u"同じ名前のフォルダーがあります"_qs},
      {"ENXIO at read, a socket", Result::FromReadError(ENXIO), u"通常のファイルではありません"_qs},
      {"ENOMEM at read", Result::FromReadError(ENOMEM),
       u"メモリが足りないため画像を変換できません"_qs},
      {"not a file", Result::Failed(Reason::NotAFile), u"通常のファイルではありません"_qs},
      {"cancelled", Result::Failed(Reason::Cancelled), u"読み込みを中止しました"_qs},
      {"cannot encode", Result::Failed(Reason::CannotEncode), u"画像を変換できません"_qs},
      {"empty", Result::Failed(Reason::EmptyPage), u"空の画像は保存できません"_qs},
      {"memory", Result::Failed(Reason::OutOfMemory),
       u"メモリが足りないため画像を変換できません"_qs},
      {"no encoder", Result::Failed(Reason::NoEncoder), u"この形式の画像は保存できません"_qs},
      {"no original", Result::Failed(Reason::NoKeptOriginal), u"元の画像がありません"_qs},
      {"original not kept, disk full", Result::CannotKeep(Result::FromError(ENOSPC)),
       u"元の画像を保存できません（ディスクの空き容量が足りません）"_qs},
      {"original not kept, EIO", Result::CannotKeep(Result::FromError(EIO)),
       u"元の画像を保存できません（"_qs + ioError + u"）"_qs},
      {"original not kept, said once",
       Result::CannotKeep(Result::CannotKeep(Result::FromError(EROFS))),
       u"元の画像を保存できません（書き込みが許可されていません）"_qs},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    EXPECT_EQ(ReasonText(row.Failure).toStdString(), row.Text.toStdString());
  }
  // The errno stays with the reason it was given, for whoever needs it.
  EXPECT_EQ(Result::FromError(EROFS), (Result{Reason::NotPermitted, Reason::None, EROFS}));
  EXPECT_EQ(Result::CannotKeep(Result::FromError(EIO)),
            (Result{Reason::CannotKeepOriginal, Reason::SystemError, EIO}));
  EXPECT_EQ(Result::FromReadError(EIO), (Result{Reason::ReadFailed, Reason::None, EIO}));
  EXPECT_EQ(Result::FromReadError(EACCES),
            (Result{Reason::ReadNotPermitted, Reason::None, EACCES}));
}

}  // namespace
}  // namespace pagetrim
