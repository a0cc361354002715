// The page commands over the editing state.
#include "page_commands.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <limits>

#include "integer_text.h"
#include "page_codec.h"
#include "page_files.h"
#include "pagetrim_version.h"

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

QString FileNameOf(const QString& path) {
  return path.mid(path.lastIndexOf(u'/') + 1);
}

QString PageTitle(const QString& path, float resolutionX, float resolutionY) {
  return BaseTitle() + QStringLiteral("  ") + FileNameOf(path) + QStringLiteral("  ResX=") +
         WholePart(resolutionX) + QStringLiteral("  ResY=") + WholePart(resolutionY);
}

}  // namespace

QString BaseTitle() {
  return QStringLiteral(PAGETRIM_BASE_TITLE);
}

bool OpenPageSet(EditState& state, PageWindow& window, const QString& path) {
  state.CurrentPath.clear();
  if (!IsPageFile(path))
    return false;
  state.CurrentIndex = -1;
  ListPages(path.left(path.lastIndexOf(u'/') + 1), state.PageList);
  state.CurrentIndex = state.PageList.IndexOf(path);
  if (state.CurrentIndex < 0)
    return false;
  ShowPage(state, window);
  return true;
}

void ShowPage(EditState& state, PageWindow& window) {
  state.CurrentPath = state.PageList.At(state.CurrentIndex);
  const PageResolution resolution = LoadPage(state.CurrentPath, state.OriginalPage);
  state.PageResolutionX = resolution.X;
  state.PageResolutionY = resolution.Y;
  window.SetTitle(PageTitle(state.CurrentPath, resolution.X, resolution.Y));

  const PageRaster& original = state.OriginalPage;
  state.WorkingPage.AssignFrom(original);
  // Every pixel of the analysis images is rewritten below, so their old
  // pixels need not be kept while they take the page's size.
  state.GrayPage.ResetForOverwrite(original.Width(), original.Height());
  state.BinaryPage.ResetForOverwrite(original.Width(), original.Height());
  MakeAnalysisImages(original, state.GrayPage, state.BinaryPage,
                     ThresholdFromText(window.ThresholdText()));
  state.AnalysisPage.AssignFrom(window.GrayChosen() ? state.GrayPage : state.BinaryPage);

  window.ShowLeft(state.OriginalPage);
  window.ShowRight(state.WorkingPage);
}

void RefreshResultView(EditState& state, PageWindow& window) {
  window.ShowRight(state.WorkingPage);
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

void OverwritePage(EditState& state, PageWindow& window) {
  if (state.CurrentPath.isEmpty())
    return;
  const SaveOutcome outcome =
      SavePage(state.CurrentPath, state.WorkingPage, state.PageResolutionX, state.PageResolutionY);
  if (outcome == SaveOutcome::WriteFailed)
    window.ReportSaveFailure(state.CurrentPath);
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
  if (!QFile::remove(state.PageList.At(state.CurrentIndex))) {
    window.ShowNotice(QStringLiteral("削除できませんでした"));
    return;
  }
  state.PageList.RemoveAt(state.CurrentIndex);
  if (state.CurrentIndex >= state.PageList.Count())
    state.CurrentIndex = 0;
  ShowPage(state, window);
}

}  // namespace pagetrim
