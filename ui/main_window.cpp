// The main window: controls, layout, handlers, input, and the PageWindow
// operations the editing commands use.
#include "main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "batch_commands.h"
#include "error_box.h"
#include "original_store.h"
#include "page_commands.h"
#include "reason_text.h"
#include "settings_location.h"
#include "shown_error.h"
#include "stored_settings.h"
#include "trim_commands.h"
#include "view_geometry.h"

namespace pagetrim {

namespace {

const QColor PanelColour(192, 220, 192);  // money green
constexpr int ToolStripHeight = 24;

QFrame* MakePanel(QWidget* parent, const char* name) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(name);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setLineWidth(1);
  panel->setAutoFillBackground(true);
  QPalette palette = panel->palette();
  palette.setColor(QPalette::Window, PanelColour);
  panel->setPalette(palette);
  return panel;
}

ImageView* MakeView(QFrame* panel, const char* name) {
  auto* view = new ImageView(panel);
  view->setObjectName(name);
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view);
  return view;
}

}  // namespace

// A button is disabled while its own command runs, and enabled again at its
// end, also when the command fails. ⇦ and ⇨ stay enabled afterwards even in a
// folder of one page, as their keys can press them there.
class TForm1::BusyButton {
 public:
  BusyButton(TForm1* form, QToolButton* button) : form_(form) {
    form_->busy_ = button;
    form_->UpdateCommandStates();
  }
  ~BusyButton() {
    if (form_->busy_ == form_->SB_NP)
      form_->nextUnlocked_ = true;
    if (form_->busy_ == form_->SB_PP)
      form_->previousUnlocked_ = true;
    form_->busy_ = nullptr;
    form_->UpdateCommandStates();
  }
  BusyButton(const BusyButton&) = delete;
  BusyButton& operator=(const BusyButton&) = delete;

 private:
  TForm1* form_;
};

TForm1::TForm1(const QString& settingsPath, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      settingsPath_(settingsPath.isEmpty() ? ProgramSettingsPath() : settingsPath) {
  setObjectName("Form1");
  CreateControls();
  CreateMenu();
  ConnectHandlers();
  FormCreate();
}

TForm1::~TForm1() {
  qApp->removeEventFilter(this);
}

QToolButton* TForm1::MakeButton(const char* name, const QString& caption, QRect geometry) {
  auto* button = new QToolButton(Panel3);
  button->setObjectName(name);
  button->setText(caption);
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setGeometry(geometry);
  return button;
}

QAction* TForm1::MakeAction(const char* name, const QString& caption) {
  QAction* action = PopupMenu1->addAction(caption);
  action->setObjectName(name);
  return action;
}

void TForm1::CreateControls() {
  QFont font;
  font.setFamilies({QStringLiteral("Meiryo"), QStringLiteral("メイリオ"),
                    QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP")});
  font.setPixelSize(13);
  setFont(font);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  palette.setColor(QPalette::WindowText, Qt::black);
  setPalette(palette);
  setAutoFillBackground(true);
  resize(673, 540);

  Panel1 = MakePanel(this, "Panel1");
  Panel1->setGeometry(1, 1, 332, 512);
  Image1 = MakeView(Panel1, "Image1");
  Panel2 = MakePanel(this, "Panel2");
  Panel2->setGeometry(338, 1, 334, 512);
  Panel2->setFocusPolicy(Qt::ClickFocus);
  Image2 = MakeView(Panel2, "Image2");
  Image1->SetTwin(Image2);
  Image2->SetTwin(Image1);

  Panel3 = new QWidget(this);
  Panel3->setObjectName("Panel3");
  RB_1 = new QRadioButton(QStringLiteral("灰色画像"), Panel3);
  RB_1->setObjectName("RB_1");
  RB_1->setGeometry(8, 4, 76, 17);
  RB_1->setFocusPolicy(Qt::ClickFocus);  // not a tab stop
  RB_2 = new QRadioButton(QStringLiteral("二値画像"), Panel3);
  RB_2->setObjectName("RB_2");
  RB_2->setGeometry(80, 4, 76, 17);
  RB_2->setChecked(true);
  Label1 = new QLabel(QStringLiteral("閾値"), Panel3);
  Label1->setObjectName("Label1");
  Label1->setGeometry(156, 4, 26, 20);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Edit1 = new QLineEdit(QStringLiteral("128"), Panel3);
  Edit1->setObjectName("Edit1");
  Edit1->setAlignment(Qt::AlignCenter);
  Edit1->setGeometry(188, 3, 38, 18);
  Edit1->setFixedHeight(18);
  Edit1->setTextMargins(0, 0, 0, 0);
  Edit1->setAcceptDrops(false);  // a dropped page goes to the window, never into the box

  SB_AL = MakeButton("SB_AL", QStringLiteral("全頁左右削除"), {248, 0, 88, 22});
  SB_AN = MakeButton("SB_AN", QStringLiteral("同左+整形"), {335, 0, 72, 22});
  SB_PP = MakeButton("SB_PP", QStringLiteral("⇦"), {418, 0, 28, 22});
  SB_RD = MakeButton("SB_RD", QStringLiteral("再読込⇧"), {445, 0, 62, 22});
  SB_NP = MakeButton("SB_NP", QStringLiteral("⇨"), {506, 0, 28, 22});
  SB_NM = MakeButton("SB_NM", QStringLiteral("整形↲"), {544, 0, 57, 22});
  SB_WR = MakeButton("SB_WR", QStringLiteral("上書き⇩"), {600, 0, 68, 22});

  BatchProgress = new QProgressBar(Panel3);
  BatchProgress->setObjectName("BatchProgress");
  BatchProgress->setGeometry(248, 2, 420, 20);
  BatchProgress->setFormat(QStringLiteral("%v / %m 頁　Esc で中止"));
  BatchProgress->setAlignment(Qt::AlignCenter);
  BatchProgress->hide();
}

QList<QToolButton*> TForm1::CommandButtons() const {
  return {SB_AL, SB_AN, SB_NM, SB_NP, SB_PP, SB_RD, SB_WR};
}

QList<QAction*> TForm1::LockedMenuItems() const {
  return {mAllTandB, mAutoTrim, mAllAuto, mStraighten, mAllStraighten, mDelPage,
          mBtoT,     mLandR,    mLtoR,    mRtoL,       mTtoB};
}

void TForm1::CreateMenu() {
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  mLandR = MakeAction("mLandR", QStringLiteral("左右削除"));
  N2 = PopupMenu1->addSeparator();
  N2->setObjectName("N2");
  mDelPage = MakeAction("mDelPage", QStringLiteral("現頁削除"));
  N1 = PopupMenu1->addSeparator();
  N1->setObjectName("N1");
  mRtoL = MakeAction("mRtoL", QStringLiteral("右側削除"));
  mLtoR = MakeAction("mLtoR", QStringLiteral("左側削除"));
  mTtoB = MakeAction("mTtoB", QStringLiteral("上側削除"));
  mBtoT = MakeAction("mBtoT", QStringLiteral("下側削除"));
  N3 = PopupMenu1->addSeparator();
  N3->setObjectName("N3");
  mAllTandB = MakeAction("mAllTandB", QStringLiteral("全頁上下余白削除"));
  mAutoTrim = MakeAction("mAutoTrim", QStringLiteral("自動削除"));
  mAllAuto = MakeAction("mAllAuto", QStringLiteral("全頁自動削除"));
  mStraighten = MakeAction("mStraighten", QStringLiteral("傾き補正"));
  mAllStraighten = MakeAction("mAllStraighten", QStringLiteral("全頁傾き補正"));
  N4 = PopupMenu1->addSeparator();
  N4->setObjectName("N4");
  mRestorePage = MakeAction("mRestorePage", QStringLiteral("元に戻す"));
  mRestoreAll = MakeAction("mRestoreAll", QStringLiteral("全頁元に戻す"));
  mDiscardKept = MakeAction("mDiscardKept", QStringLiteral("元の画像を消去"));
}

void TForm1::ConnectHandlers() {
  // Every button and menu handler runs guarded: its error is shown, not lost.
  const auto on = [this](auto* sender, auto signal, void (TForm1::*handler)()) {
    connect(sender, signal, this, [this, handler] { Guarded([&] { (this->*handler)(); }); });
  };
  on(SB_PP, &QToolButton::clicked, &TForm1::SB_PPClick);
  on(SB_NP, &QToolButton::clicked, &TForm1::SB_NPClick);
  on(SB_RD, &QToolButton::clicked, &TForm1::SB_RDClick);
  on(SB_WR, &QToolButton::clicked, &TForm1::SB_WRClick);
  on(SB_NM, &QToolButton::clicked, &TForm1::SB_NMClick);
  on(SB_AL, &QToolButton::clicked, &TForm1::SB_ALClick);
  on(SB_AN, &QToolButton::clicked, &TForm1::SB_ANClick);
  on(mLandR, &QAction::triggered, &TForm1::mLandRClick);
  on(mDelPage, &QAction::triggered, &TForm1::mDelPageClick);
  on(mRtoL, &QAction::triggered, &TForm1::mRtoLClick);
  on(mLtoR, &QAction::triggered, &TForm1::mLtoRClick);
  on(mTtoB, &QAction::triggered, &TForm1::mTtoBClick);
  on(mBtoT, &QAction::triggered, &TForm1::mBtoTClick);
  on(mAllTandB, &QAction::triggered, &TForm1::mAllTandBClick);
  on(mAutoTrim, &QAction::triggered, &TForm1::mAutoTrimClick);
  on(mAllAuto, &QAction::triggered, &TForm1::mAllAutoClick);
  on(mStraighten, &QAction::triggered, &TForm1::mStraightenClick);
  on(mAllStraighten, &QAction::triggered, &TForm1::mAllStraightenClick);
  on(mRestorePage, &QAction::triggered, &TForm1::mRestorePageClick);
  on(mRestoreAll, &QAction::triggered, &TForm1::mRestoreAllClick);
  on(mDiscardKept, &QAction::triggered, &TForm1::mDiscardKeptClick);
  // Kept originals come and go with every save: the menu reads them afresh.
  connect(PopupMenu1, &QMenu::aboutToShow, this, &TForm1::UpdateCommandStates);

  connect(Image2, &ImageView::MousePressed, this, &TForm1::Image2MouseDown);
  connect(Image2, &ImageView::DoubleClicked, this,
          [this](QPoint) { Guarded([&] { Image2DblClick(); }); });
  connect(Image2, &ImageView::ContextMenuRequested, this, &TForm1::OpenContextMenu);
}

template <class Handler>
void TForm1::Guarded(Handler&& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ShowErrorBox(ErrorMessage(error));
  }
  // Whatever the handler changed, the controls follow the model.
  UpdateCommandStates();
}

// Life cycle ---------------------------------------------------------------

void TForm1::FormCreate() {
  setWindowTitle(BaseTitle());
  setAcceptDrops(true);
  state_ = std::make_unique<EditState>();
  state_->Prefetch = &prefetcher_;
  ReadIniFile();
  // The five shortcut keys must be seen before whichever control has the focus.
  qApp->installEventFilter(this);
}

void TForm1::FormShow() {
  LayoutPanels();
  UpdateCommandStates();
  Panel2->setFocus();
}

void TForm1::FormClose() {
  Guarded([&] { WriteIniFile(); });
  prefetcher_.Clear();
  state_.reset();
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_)
    return;
  shown_ = true;
  FormShow();
}

bool TForm1::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::WindowActivate:
      ApplyOuterSizeOnceFramed();
      break;
    default:
      break;
  }
  return handled;
}

void TForm1::ApplyOuterSizeOnceFramed() {
  if (!pendingOuterWidth_ && !pendingOuterHeight_)
    return;
  const QRect outer = frameGeometry();
  const QSize frame = outer.size() - size();
  if (frame == QSize(0, 0))
    return;  // no frame yet, or none at all: client is outer
  const QSize wanted(pendingOuterWidth_.value_or(outer.width()),
                     pendingOuterHeight_.value_or(outer.height()));
  pendingOuterWidth_.reset();
  pendingOuterHeight_.reset();
  resize(wanted - frame);
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayoutPanels();
}

void TForm1::closeEvent(QCloseEvent* event) {
  // The batch still needs the page list and rasters: close once it is done.
  if (BatchRunning()) {
    closeRequested_ = true;
    event->ignore();
    return;
  }
  if (state_)
    FormClose();
  event->accept();
}

void TForm1::LayoutPanels() {
  const int clientWidth = width();
  const int h = height() - ToolStripHeight;
  Panel3->setGeometry(0, height() - ToolStripHeight, clientWidth, ToolStripHeight);
  const int w = clientWidth - 8;
  const int panelWidth = w / 2 + 2;
  Panel1->setGeometry(2, 0, panelWidth, h);
  Panel2->setGeometry(clientWidth - panelWidth - 1, 0, panelWidth, h);
}

// Settings -----------------------------------------------------------------

void TForm1::ReadIniFile() {
  const StoredSettings stored = StoredSettings::Read(settingsPath_);
  // Without a stored place the window goes where the system puts new windows.
  if (stored.Left || stored.Top)
    move(stored.Left.value_or(x()), stored.Top.value_or(y()));
  if (stored.Height || stored.Width) {
    // Until the frame is known the outer size is the best guess for the client.
    pendingOuterWidth_ = stored.Width;
    pendingOuterHeight_ = stored.Height;
    resize(stored.Width.value_or(width()), stored.Height.value_or(height()));
  }
  Edit1->setText(stored.ThresholdText);
  // Both may be unchecked, which an exclusive pair would not allow.
  RB_1->setAutoExclusive(false);
  RB_2->setAutoExclusive(false);
  RB_1->setChecked(stored.GrayChosen());
  RB_2->setChecked(stored.BinaryChecked);
  RB_1->setAutoExclusive(true);
  RB_2->setAutoExclusive(true);
  state_->KeepOriginals = stored.KeepOriginals;
  state_->OneSizePerSide = stored.OneSizePerSide;
  state_->TurnPagesStraight = stored.TurnPagesStraight;
}

void TForm1::WriteIniFile() {
  StoredSettings settings;
  const QRect outer = frameGeometry();
  settings.Left = outer.x();
  settings.Top = outer.y();
  settings.Height = outer.height();
  settings.Width = outer.width();
  settings.ThresholdText = Edit1->text();
  settings.GrayChecked = RB_1->isChecked();
  settings.BinaryChecked = RB_2->isChecked();
  settings.KeepOriginals = state_->KeepOriginals;
  settings.OneSizePerSide = state_->OneSizePerSide;
  settings.TurnPagesStraight = state_->TurnPagesStraight;
  if (!settings.Write(settingsPath_))
    throw ShownError(QStringLiteral("%1 に書き込めません").arg(settingsPath_));
}

// Enabled states ------------------------------------------------------------

bool TForm1::BatchRunning() const {
  return state_ && state_->RunningBatch != nullptr && state_->RunningBatch->Running();
}

void TForm1::UpdateCommandStates() {
  const bool pageShown = state_ && state_->PageShown;
  const bool batch = BatchRunning();
  // The commands need a page on show, and are locked while a batch runs.
  const bool commands = pageShown && !batch;
  // A drop that opened nothing leaves the last page on view, but no page to
  // reload, shape, write or step on from: the page list may even be another
  // folder's by then. Those wait until a page is shown again.
  const bool pageOpen = commands && !state_->CurrentPath.isEmpty();
  const auto set = [&](QToolButton* button, bool enabled) {
    // A button is disabled while its own command runs.
    button->setEnabled(enabled && button != busy_);
  };
  for (QToolButton* button : {SB_AL, SB_AN})
    set(button, commands);
  for (QToolButton* button : {SB_NM, SB_RD, SB_WR})
    set(button, pageOpen);
  // ⇦ and ⇨ need two pages in the folder a drop opened, except that after a
  // batch both are enabled even for one page, and each one's own command
  // enables it at its end.
  set(SB_NP, pageOpen && (pagesAtDrop_ >= 2 || nextUnlocked_));
  set(SB_PP, pageOpen && (pagesAtDrop_ >= 2 || previousUnlocked_));
  for (QToolButton* button : CommandButtons())
    button->setVisible(!batch);  // the progress bar takes their place
  BatchProgress->setVisible(batch);

  // The right view offers its menu once a page has been shown; a batch
  // locks the view and the menu's commands, not the separators.
  Image2->AttachContextMenu(pageShown);
  Image2->setEnabled(!batch);
  for (QAction* item : LockedMenuItems())
    item->setEnabled(!batch);
  // Going back needs something kept: the shown page's original for one page,
  // anything in the folder's store for the others.
  const QString folder = pageShown ? PageSetFolder(*state_) : QString();
  mRestorePage->setEnabled(!batch && pageShown && ShownPageHasOriginal(*state_));
  mRestoreAll->setEnabled(!batch && pageShown && HasKeptOriginals(folder));
  mDiscardKept->setEnabled(!batch && pageShown && HasOriginalStore(folder));
}

// PageWindow ---------------------------------------------------------------

QString TForm1::ThresholdText() const {
  return Edit1->text();
}

bool TForm1::GrayChosen() const {
  return RB_1->isChecked();
}

void TForm1::ShowLeft(const PageRaster& raster) {
  Image1->SetPicture(raster);
}

void TForm1::ShowRight(const PageRaster& raster) {
  Image2->SetPicture(raster);
}

QSize TForm1::ViewSize() const {
  return Image1->size().expandedTo(Image2->size());
}

void TForm1::ShowReduced(const ReducedPicture& left, const ReducedPicture& right) {
  Image1->SetPicture(left);
  Image2->SetPicture(right);
}

void TForm1::MarkUnreadable(const Result& why) {
  Image2->SetUnreadable(!why.Ok(), ReasonText(why));
}

void TForm1::SetTitle(const QString& text) {
  setWindowTitle(text);
}

void TForm1::ShowNotice(const QString& text) {
  // Not owned by the window, so the system centres it on the screen.
  QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), text, QMessageBox::Ok);
  box.setObjectName("NoticeBox");
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

bool TForm1::ReportSaveFailure(const QString& path, const Result& why, bool canStop) {
  QMessageBox box(QMessageBox::Information, QStringLiteral("情報"),
                  QStringLiteral("保存できませんでした"), QMessageBox::Ok, this);
  // During a batch the next page may already be on show: name the one that
  // failed, and say why.
  box.setInformativeText(QDir::toNativeSeparators(path) + u'\n' + ReasonText(why));
  box.setObjectName("SaveFailureBox");
  // On a full disk every page fails alike: one answer stops them all.
  QPushButton* stop =
      canStop ? box.addButton(QStringLiteral("中止"), QMessageBox::RejectRole) : nullptr;
  box.exec();
  return stop != nullptr && box.clickedButton() == stop;
}

void TForm1::ReportFailure(FileCommand command, const Result& why) {
  ShowNotice(FailureNotice(command, why));
}

void TForm1::ReportPagesNotRestored(const std::vector<PageNotRestored>& pages) {
  ShowNotice(NotRestoredNotice(pages));
}

void TForm1::PumpEvents() {
  QCoreApplication::processEvents();
}

void TForm1::LockCommands() {
  BatchProgress->setValue(0);
  UpdateCommandStates();
}

void TForm1::UnlockCommands() {
  // After a batch every command is enabled, ⇦ and ⇨ too, even for one page.
  nextUnlocked_ = true;
  previousUnlocked_ = true;
  UpdateCommandStates();
}

void TForm1::ShowBatchProgress(int pagesDone, int pageCount) {
  BatchProgress->setFormat(QStringLiteral("%v / %m 頁　Esc で中止"));
  BatchProgress->setMaximum(pageCount);
  BatchProgress->setValue(pagesDone);
}

void TForm1::ShowSurveyProgress(int pagesDone, int pageCount) {
  // The first pass of a batch that gives the book one size: nothing is cut
  // yet.
  BatchProgress->setFormat(QStringLiteral("頁を調べています %v / %m　Esc で中止"));
  BatchProgress->setMaximum(pageCount);
  BatchProgress->setValue(pagesDone);
}

void TForm1::ReportPagesToCheck(const std::vector<PageToCheck>& pages) {
  ShowNotice(PagesToCheckNotice(pages));
}

// Buttons and menu ---------------------------------------------------------

void TForm1::SB_PPClick() {
  BusyButton busy(this, SB_PP);
  PreviousPage(*state_, *this);
}

void TForm1::SB_NPClick() {
  BusyButton busy(this, SB_NP);
  NextPage(*state_, *this);
}

void TForm1::SB_RDClick() {
  if (state_->CurrentPath.isEmpty())
    return;
  BusyButton busy(this, SB_RD);
  ReloadPage(*state_, *this);
}

void TForm1::SB_WRClick() {
  if (state_->CurrentPath.isEmpty())
    return;
  BusyButton busy(this, SB_WR);
  OverwritePage(*state_, *this);
}

void TForm1::SB_NMClick() {
  BusyButton busy(this, SB_NM);
  NormalizePage(*state_, *this);
}

template <class Batch>
void TForm1::RunWindowBatch(Batch&& batch) {
  struct CloseWhenDone {
    TForm1* Form;
    ~CloseWhenDone() {
      if (Form->closeRequested_)
        QTimer::singleShot(0, Form, &QWidget::close);
    }
  } closeWhenDone{this};
  batch();
}

void TForm1::SB_ALClick() {
  RunWindowBatch([&] { TrimAllLeftRight(*state_, *this, false); });
}

void TForm1::SB_ANClick() {
  RunWindowBatch([&] { TrimAllLeftRight(*state_, *this, true); });
}

void TForm1::mAllTandBClick() {
  RunWindowBatch([&] { TrimAllTopBottom(*state_, *this); });
}

void TForm1::mAutoTrimClick() {
  TrimToContent(*state_, *this);
}

void TForm1::mAllAutoClick() {
  RunWindowBatch([&] { TrimAllToContent(*state_, *this); });
}

void TForm1::mStraightenClick() {
  StraightenPage(*state_, *this);
}

void TForm1::mAllStraightenClick() {
  RunWindowBatch([&] { StraightenAllPages(*state_, *this); });
}

void TForm1::mLandRClick() {
  TrimLeftAndRight(*state_, *this);
}

void TForm1::mDelPageClick() {
  DeletePage(*state_, *this);
}

bool TForm1::Confirm(const QString& question) {
  QMessageBox box(QMessageBox::Question, ApplicationTitle(), question,
                  QMessageBox::Yes | QMessageBox::No, this);
  // Qt's Japanese words with their mnemonics, Alt+Y and Alt+N, even where
  // its translations are not installed.
  box.button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
  box.button(QMessageBox::No)->setText(QStringLiteral("いいえ(&N)"));
  box.setDefaultButton(QMessageBox::No);
  box.setObjectName("ConfirmBox");
  return box.exec() == QMessageBox::Yes;
}

void TForm1::mRestorePageClick() {
  RestoreShownPage(*state_, *this);
}

void TForm1::mRestoreAllClick() {
  const int count = ListKeptOriginals(PageSetFolder(*state_)).Count();
  if (count == 0 || !Confirm(QStringLiteral("%1 頁を元に戻しますか？").arg(count)))
    return;
  RestoreAllPages(*state_, *this);
}

void TForm1::mDiscardKeptClick() {
  const QString folder = PageSetFolder(*state_);
  if (!HasOriginalStore(folder))
    return;
  const KeptOriginals kept = ListKeptOriginals(folder);
  const QString megabytes = QString::number(double(kept.Bytes) / (1024.0 * 1024.0), 'f', 1);
  if (!Confirm(QStringLiteral("元の画像 %1 頁（%2 MB）を消去しますか？消去すると元に戻せません。")
                   .arg(kept.Count())
                   .arg(megabytes))) {
    return;
  }
  DiscardOriginals(*state_, *this);
}

QPoint TForm1::MenuPointInView() const {
  return MapViewToImage(Image2->mapFromGlobal(menuPoint_));
}

void TForm1::mRtoLClick() {
  const QPoint p = MenuPointInView();
  TrimRightAtPoint(*state_, *this, p.x(), p.y());
}

void TForm1::mLtoRClick() {
  const QPoint p = MenuPointInView();
  TrimLeftAtPoint(*state_, *this, p.x(), p.y());
}

void TForm1::mTtoBClick() {
  const QPoint p = MenuPointInView();
  TrimTopAtPoint(*state_, *this, p.x(), p.y());
}

void TForm1::mBtoTClick() {
  const QPoint p = MenuPointInView();
  TrimBottomAtPoint(*state_, *this, p.x(), p.y());
}

void TForm1::OpenContextMenu(QPoint globalPoint) {
  menuPoint_ = globalPoint;
  PopupMenu1->popup(globalPoint);
}

// Pointer, drop and keys ----------------------------------------------------

void TForm1::Image2MouseDown(QPoint point) {
  if (state_)
    state_->MouseDownPoint = point;
}

void TForm1::Image2DblClick() {
  // Only with a page on show and no batch running, as for the buttons.
  if (!state_ || !state_->PageShown || BatchRunning())
    return;
  const QPoint p = MapViewToImage(state_->MouseDownPoint);
  TrimSideAtPoint(*state_, *this, p.x(), p.y());
}

QPoint TForm1::MapViewToImage(QPoint viewPoint) const {
  const PageRaster& page = state_->Edit.AnalysisPage();
  return pagetrim::MapViewToImage(viewPoint, page.Width(), page.Height(), Image2->width(),
                                  Image2->height());
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (!BatchRunning() && event->mimeData()->hasUrls())
    event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    // Anything but a local file counts as an item that is not a page.
    paths.append(url.isLocalFile() ? url.toLocalFile() : QString());
  }
  event->setDropAction(Qt::CopyAction);
  event->accept();
  OnDrop(paths);
}

void TForm1::OnDrop(const QStringList& paths) {
  // A new page set in the middle of a batch would pull its pages away.
  if (!state_ || BatchRunning())
    return;
  state_->CurrentPath.clear();
  if (paths.size() == 1 && !paths.front().isEmpty()) {
    Guarded([&] {
      if (!OpenPageSet(*state_, *this, QFileInfo(paths.front()).absoluteFilePath()))
        return;
      // A drop sets ⇦ and ⇨ afresh from the new folder's page count.
      pagesAtDrop_ = state_->PageList.Count();
      nextUnlocked_ = false;
      previousUnlocked_ = false;
    });
  }
  UpdateCommandStates();  // a drop of anything else leaves no page open
  Panel2->setFocus();
}

void TForm1::OnShortcutKey(int key) {
  // Between two pages of a batch a shortcut would change the rasters the
  // batch is working on.
  if (BatchRunning())
    return;
  Panel2->setFocus();
  if (!state_ || state_->PageList.IsEmpty())
    return;
  Guarded([&] {
    switch (key) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        SB_NMClick();
        break;
      case Qt::Key_Left:
        SB_PPClick();
        break;
      case Qt::Key_Up:
        SB_RDClick();
        break;
      case Qt::Key_Right:
        SB_NPClick();
        break;
      case Qt::Key_Down:
        SB_WRClick();
        break;
      default:
        break;
    }
  });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
    return false;
  auto* widget = static_cast<QWidget*>(watched);
  // Only presses meant for this window's own controls count: not those of an
  // open menu or message box. A key event that a control ignores travels on
  // to its parents; only its first receiver is taken.
  if (widget->window() != this || QApplication::activePopupWidget() != nullptr)
    return false;
  QWidget* modal = QApplication::activeModalWidget();
  if (modal != nullptr && modal != this)
    return false;
  QWidget* focus = QApplication::focusWidget();
  if (widget != (focus != nullptr && focus->window() == this ? focus : this))
    return false;

  const int key = static_cast<QKeyEvent*>(event)->key();
  if (BatchRunning()) {
    if (key == Qt::Key_Escape)
      state_->RunningBatch->RequestCancel();
    return false;
  }
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down:
      OnShortcutKey(key);
      break;
    default:
      break;
  }
  return false;  // the control still gets the key
}

}  // namespace pagetrim
