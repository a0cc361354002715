// TForm1: the main window, its controls, and the PageWindow the editing
// commands talk to.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QRadioButton>
#include <QToolButton>
#include <QWidget>
#include <memory>
#include <optional>

#include "edit_state.h"
#include "image_view.h"
#include "page_prefetcher.h"
#include "page_window.h"

namespace pagetrim {

class TForm1 : public QWidget, public PageWindow {
  Q_OBJECT

 public:
  // settingsPath: the settings file; empty chooses the usual place (see
  // settings_location.h).
  explicit TForm1(const QString& settingsPath = QString(), QWidget* parent = nullptr);
  ~TForm1() override;

  // Controls, named as they are known everywhere else.
  QFrame* Panel1;
  ImageView* Image1;
  QFrame* Panel2;
  ImageView* Image2;
  QWidget* Panel3;
  QRadioButton* RB_1;
  QRadioButton* RB_2;
  QLabel* Label1;
  QLineEdit* Edit1;
  QToolButton* SB_AL;
  QToolButton* SB_AN;
  QToolButton* SB_PP;
  QToolButton* SB_RD;
  QToolButton* SB_NP;
  QToolButton* SB_NM;
  QToolButton* SB_WR;
  QMenu* PopupMenu1;
  QAction* mLandR;
  QAction* N2;
  QAction* mDelPage;
  QAction* N1;
  QAction* mRtoL;
  QAction* mLtoR;
  QAction* mTtoB;
  QAction* mBtoT;
  QAction* N3;
  QAction* mAllTandB;
  QAction* mAutoTrim;       // "自動削除"
  QAction* mAllAuto;        // "全頁自動削除"
  QAction* mStraighten;     // "傾き補正"
  QAction* mAllStraighten;  // "全頁傾き補正"
  QAction* N4;
  QAction* mRestorePage;  // "元に戻す"
  QAction* mRestoreAll;   // "全頁元に戻す"
  QAction* mDiscardKept;  // "元の画像を消去"
  // Takes the place of the command buttons while a batch runs.
  QProgressBar* BatchProgress;

  // The editing state; null once the window has closed.
  EditState* State() { return state_.get(); }
  const QString& SettingsPath() const { return settingsPath_; }
  // The screen point where the context menu was last opened.
  QPoint MenuPoint() const { return menuPoint_; }

  // Opens paths as a drop of them would: exactly one page file, else nothing.
  void OnDrop(const QStringList& paths);
  // Runs the button of one of the five shortcut keys.
  void OnShortcutKey(int key);
  void LayoutPanels();
  QPoint MapViewToImage(QPoint viewPoint) const;
  // The seven command buttons of the tool strip.
  QList<QToolButton*> CommandButtons() const;
  // Whether a batch is running over the page set.
  bool BatchRunning() const;
  // Sets every button's, menu item's and view's enabled state from the model.
  void UpdateCommandStates();

  // PageWindow
  QString ThresholdText() const override;
  bool GrayChosen() const override;
  void ShowLeft(const PageRaster& raster) override;
  void ShowRight(const PageRaster& raster) override;
  void MarkUnreadable(const Result& why) override;
  void SetTitle(const QString& text) override;
  void ShowNotice(const QString& text) override;
  bool ReportSaveFailure(const QString& path, const Result& why, bool canStop) override;
  void ReportFailure(FileCommand command, const Result& why) override;
  void ReportPagesNotRestored(const std::vector<PageNotRestored>& pages) override;
  QSize ViewSize() const override;
  void ShowReduced(const ReducedPicture& left, const ReducedPicture& right) override;
  void PumpEvents() override;
  void LockCommands() override;
  void UnlockCommands() override;
  void ShowBatchProgress(int pagesDone, int pageCount) override;
  void ShowSurveyProgress(int pagesDone, int pageCount) override;
  void ReportPagesToCheck(const std::vector<PageToCheck>& pages) override;

  void ReadIniFile();
  void WriteIniFile();

  // Handlers.
  void SB_PPClick();
  void SB_NPClick();
  void SB_RDClick();
  void SB_WRClick();
  void SB_NMClick();
  void SB_ALClick();
  void SB_ANClick();
  void mLandRClick();
  void mDelPageClick();
  void mRtoLClick();
  void mLtoRClick();
  void mTtoBClick();
  void mBtoTClick();
  void mAllTandBClick();
  void mAutoTrimClick();
  void mAllAutoClick();
  void mStraightenClick();
  void mAllStraightenClick();
  void mRestorePageClick();
  void mRestoreAllClick();
  void mDiscardKeptClick();
  void Image2MouseDown(QPoint point);
  void Image2DblClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  class BusyButton;

  void CreateControls();
  void CreateMenu();
  void ConnectHandlers();
  void FormCreate();
  void FormShow();
  void FormClose();
  QToolButton* MakeButton(const char* name, const QString& caption, QRect geometry);
  QAction* MakeAction(const char* name, const QString& caption);
  void OpenContextMenu(QPoint globalPoint);
  // The view point of the context menu, in Image2's coordinates.
  QPoint MenuPointInView() const;
  // Runs a handler; an error it raises ends it and is shown in the error box.
  template <class Handler>
  void Guarded(Handler&& handler);
  // Runs a batch; a close asked for meanwhile happens once it has ended.
  template <class Batch>
  void RunWindowBatch(Batch&& batch);
  bool Confirm(const QString& question);
  QList<QAction*> LockedMenuItems() const;

  std::unique_ptr<EditState> state_;
  PagePrefetcher prefetcher_;
  QString settingsPath_;
  QPoint menuPoint_;
  bool shown_ = false;
  // The outer size asked for by the settings file. The window manager adds
  // its frame only some time after the window is shown, so the client size
  // is corrected once the frame is known.
  void ApplyOuterSizeOnceFramed();
  std::optional<int> pendingOuterWidth_;
  std::optional<int> pendingOuterHeight_;
  bool closeRequested_ = false;

  // What the enabled states follow besides the editing state: the button
  // whose command is running, how many pages the last drop opened, and
  // which of ⇦ and ⇨ were enabled since regardless of that count.
  QToolButton* busy_ = nullptr;
  int pagesAtDrop_ = 0;
  bool nextUnlocked_ = false;
  bool previousUnlocked_ = false;
};

}  // namespace pagetrim
