// The page commands over the editing state.
#include "page_commands.h"

#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <vector>

#include "original_store.h"
#include "page_files.h"
#include "page_path.h"
#include "page_prefetcher.h"
#include "pagetrim_version.h"
#include "reason_text.h"

namespace pagetrim {

namespace {

// The whole-number part of a resolution, for the title: cut, not rounded.
QString WholePart(float value) {
  if (!std::isfinite(value))
    return QStringLiteral("0");
  const double whole = std::trunc(double(value));
  const double limit = double(std::numeric_limits<qint64>::max());
  return QString::number(qint64(std::clamp(whole, -limit, limit)));
}

QString PageTitle(const QString& path, float resolutionX, float resolutionY) {
  return BaseTitle() + QStringLiteral("  ") + FileNameOf(path) + QStringLiteral("  ResX=") +
         WholePart(resolutionX) + QStringLiteral("  ResY=") + WholePart(resolutionY);
}

Result RemoveFile(const QString& path) {
  if (::unlink(QFile::encodeName(path).constData()) != 0)
    return Result::FromError(errno);
  return {};
}

}  // namespace

QString FailureNotice(FileCommand command, const Result& why) {
  QString text;
  switch (command) {
    case FileCommand::DeletePage:
      text = QStringLiteral("削除できませんでした");
      break;
    case FileCommand::RestorePage:
      text = QStringLiteral("元に戻せませんでした");
      break;
    case FileCommand::DiscardOriginals:
      text = QStringLiteral("元の画像を消去できませんでした");
      break;
  }
  return QStringLiteral("%1（%2）").arg(text, ReasonText(why));
}

// One line per reason, naming the pages; a long list is cut short, since the
// box must fit on the screen.
QString NotRestoredNotice(const std::vector<PageNotRestored>& left) {
  constexpr int NamesShown = 10;
  QStringList reasons;
  QList<QStringList> names;
  for (const PageNotRestored& page : left) {
    const QString reason = ReasonText(page.Result);
    qsizetype i = reasons.indexOf(reason);
    if (i < 0) {
      i = reasons.size();
      reasons.append(reason);
      names.append(QStringList());
    }
    names[i].append(page.Name);
  }
  QString text = QStringLiteral("次の頁は元に戻していません");
  for (qsizetype i = 0; i < reasons.size(); ++i) {
    const QStringList& pages = names[i];
    QString list = QStringList(pages.mid(0, NamesShown)).join(QStringLiteral("、"));
    if (pages.size() > NamesShown)
      list += QStringLiteral(" ほか %1 頁").arg(pages.size() - NamesShown);
    text += QStringLiteral("\n%1: %2").arg(reasons[i], list);
  }
  return text;
}

QString BaseTitle() {
  return QStringLiteral(PAGETRIM_BASE_TITLE);
}

namespace {

// Lists the folder of path and finds path in it; the count of names that
// could not be read goes to unreadable.
bool FindPageSet(EditState& state, const QString& path, int& unreadable) {
  state.CurrentPath.clear();
  if (!IsPageFile(path))
    return false;
  state.CurrentIndex = -1;
  // Whatever a pagetrim stopped in the middle of a save left there goes
  // before anyone sees it.
  (void)RemoveLeftoverTemporaries(FolderOf(path));
  ListPages(FolderOf(path), state.PageList, &unreadable);
  state.CurrentIndex = state.PageList.IndexOf(path);
  return state.CurrentIndex >= 0;
}

// Pages that no command will ever reach must not go unnoticed: the user
// would believe a batch trimmed the whole book.
void NoticeUnreadableNames(PageDisplay& display, int unreadable) {
  if (unreadable > 0) {
    display.ShowNotice(
        QStringLiteral("名前を読めないファイルが %1 個あり、対象外です").arg(unreadable));
  }
}

}  // namespace

bool OpenPageSet(EditState& state, PageWindow& window, const QString& path) {
  int unreadable = 0;
  if (!FindPageSet(state, path, unreadable))
    return false;
  ShowPage(state, window);
  NoticeUnreadableNames(window, unreadable);
  return true;
}

bool OpenPageSetUnshown(EditState& state, PageDisplay& display, const QString& path) {
  int unreadable = 0;
  if (!FindPageSet(state, path, unreadable))
    return false;
  NoticeUnreadableNames(display, unreadable);
  return true;
}

void ShowPage(EditState& state, PageWindow& window) {
  state.CurrentPath = state.PageList.At(state.CurrentIndex);
  const AnalysisChoice choice = ChoiceOf(window);
  const LoadedPage page = state.Prefetch != nullptr
                              ? state.Prefetch->Take(state.CurrentPath, choice)
                              : ReadPage(state.CurrentPath, choice);
  ShowLoadedPage(state, window, page);
  if (state.Prefetch != nullptr)
    state.Prefetch->Ahead(state.PageList, state.CurrentIndex, choice);
}

void NamePageOnShow(EditState& state, PageDisplay& display, const PageFileInfo& file) {
  state.PageIdentity = file.Identity;
  state.PageRead = file.Read;
  state.PageShown = true;
  display.SetTitle(PageTitle(state.CurrentPath, file.Resolution.X, file.Resolution.Y));
  display.MarkUnreadable(state.PageRead);
}

void ShowLoadedPage(EditState& state, PageDisplay& display, const LoadedPage& page) {
  // Copies share the pixels: nothing here copies a page.
  state.OriginalPage = page.Page;
  state.GrayPage = page.Choice.Gray ? page.Analysis : PageRaster();
  state.BinaryPage = page.Choice.Gray ? PageRaster() : page.Analysis;
  state.Edit = PageEdit(page.Page, page.Analysis, page.File.Source, page.File.Resolution);
  state.ShownChoice = page.Choice;
  NamePageOnShow(state, display, page.File);
  display.ShowLeft(state.OriginalPage);
  display.ShowRight(state.Edit.WorkingPage());
}

void RefreshResultView(EditState& state, PageDisplay& display) {
  display.ShowRight(state.Edit.WorkingPage());
}

void NextPage(EditState& state, PageWindow& window) {
  const int count = state.PageList.Count();
  state.CurrentIndex = state.CurrentIndex < count - 1 ? state.CurrentIndex + 1 : 0;
  ShowPage(state, window);
}

void PreviousPage(EditState& state, PageWindow& window) {
  const int count = state.PageList.Count();
  state.CurrentIndex = state.CurrentIndex < 1 ? count - 1 : state.CurrentIndex - 1;
  ShowPage(state, window);
}

void ReloadPage(EditState& state, PageWindow& window) {
  if (state.CurrentPath.isEmpty())
    return;
  ShowPage(state, window);
}

SaveResult WritePageOver(const QString& path, const Result& read,
                         const std::optional<FileIdentity>& readAs, bool keepOriginal,
                         const EncodedPage& encoded, const QStringList& keepNext) {
  if (!read.Ok())
    return read;
  SaveOptions options;
  options.ReadAs = readAs;
  options.KeepOriginal = keepOriginal;
  return WritePage(path, encoded, options, keepNext);
}

void OverwritePage(EditState& state, PageWindow& window) {
  if (state.CurrentPath.isEmpty())
    return;
  const SaveResult result =
      WritePageOver(state.CurrentPath, state.PageRead, state.PageIdentity, state.KeepOriginals,
                    state.Edit.Encode(state.CurrentPath));
  if (result.Ok())
    state.PageIdentity = result.Identity;  // the next save checks against this file
  // Outside a batch the box offers nothing to choose.
  if (!result.Ok())
    (void)window.ReportSaveFailure(state.CurrentPath, result, false);
}

void DeletePage(EditState& state, PageWindow& window) {
  if (state.PageList.IsEmpty()) {
    window.ShowNotice(QStringLiteral("削除する頁がありません"));
    return;
  }
  if (state.PageList.Count() == 1) {
    window.ShowNotice(QStringLiteral("１頁しかないので削除できません"));
    return;
  }
  // A page that is still on disk stays in the list: dropping it would hide a
  // file the user believes is gone.
  const QString path = state.PageList.At(state.CurrentIndex);
  const Result removed = state.KeepOriginals ? RemovePageKeepingOriginal(path) : RemoveFile(path);
  if (!removed.Ok()) {
    window.ReportFailure(FileCommand::DeletePage, removed);
    return;
  }
  state.PageList.RemoveAt(state.CurrentIndex);
  if (state.CurrentIndex >= state.PageList.Count())
    state.CurrentIndex = 0;
  ShowPage(state, window);
}

QString PageSetFolder(const EditState& state) {
  if (!state.CurrentPath.isEmpty())
    return FolderOf(state.CurrentPath);
  return state.PageList.IsEmpty() ? QString() : FolderOf(state.PageList.At(0));
}

bool ShownPageHasOriginal(const EditState& state) {
  return !state.CurrentPath.isEmpty() && HasKeptOriginal(state.CurrentPath);
}

void RestoreShownPage(EditState& state, PageWindow& window) {
  if (state.CurrentPath.isEmpty())
    return;
  if (const Result restored = RestoreOriginal(state.CurrentPath); !restored.Ok()) {
    window.ReportFailure(FileCommand::RestorePage, restored);
    return;
  }
  ShowPage(state, window);
}

void RestoreAllPages(EditState& state, PageWindow& window) {
  const QString folder = PageSetFolder(state);
  if (folder.isEmpty())
    return;
  const std::vector<PageNotRestored> left = RestoreAllOriginals(folder);
  const QString shown = state.CurrentIndex >= 0 && state.CurrentIndex < state.PageList.Count()
                            ? state.PageList.At(state.CurrentIndex)
                            : QString();
  ListPages(folder, state.PageList);
  state.CurrentIndex = std::max(state.PageList.IndexOf(shown), 0);
  if (!state.PageList.IsEmpty())
    ShowPage(state, window);
  if (!left.empty())
    window.ReportPagesNotRestored(left);
}

void DiscardOriginals(EditState& state, PageWindow& window) {
  const QString folder = PageSetFolder(state);
  if (folder.isEmpty())
    return;
  if (const Result discarded = DiscardKeptOriginals(folder); !discarded.Ok())
    window.ReportFailure(FileCommand::DiscardOriginals, discarded);
}

}  // namespace pagetrim
