// The main window under the offscreen platform: layout, enabled states,
// drops, keys, the context menu, double-clicks, error boxes and settings.
#include "main_window.h"

#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <functional>

#include "error_box.h"
#include "page_codec.h"
#include "shown_error.h"
#include "support/modal_box_closer.h"
#include "view_geometry.h"

namespace pagetrim {
namespace {

using test::ModalBoxCloser;

// A page with blank margins of 50 columns on both sides, ink in between.
PageRaster MarginPage(int width = 200, int height = 400) {
  PageRaster page(width, height);
  for (int y = 20; y < height - 20; ++y) {
    std::uint8_t* row = page.Row(y);
    for (int x = 50; x < width - 50; ++x)
      row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = 0;
  }
  return page;
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    QDir().mkpath(Folder());
    form_ = std::make_unique<TForm1>(dir_.path() + "/pagetrim.INI");
    form_->resize(673, 540);
    form_->show();
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }

  QString Folder() const { return dir_.path() + "/book/"; }
  QString Page(int i) const { return Folder() + QString("p%1.png").arg(i + 1); }
  void MakePages(int count) {
    for (int i = 0; i < count; ++i) {
      ASSERT_EQ(SavePage(Page(i), MarginPage(200 + i * 10), 300, 300), SaveOutcome::Written);
    }
  }
  EditState& State() { return *form_->State(); }

  // True when the window accepted the drag.
  bool Drop(const QList<QUrl>& urls, Qt::DropAction action = Qt::CopyAction) {
    QMimeData mime;
    QByteArray list;
    for (const QUrl& url : urls)
      list += url.toEncoded() + "\r\n";
    mime.setData("text/uri-list", list);
    // As the desktop delivers it: the drag enters the window, then drops.
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(QPoint(100, 100), offered, &mime, Qt::LeftButton, Qt::NoModifier);
    enter.setDropAction(action);
    QApplication::sendEvent(form_.get(), &enter);
    if (!enter.isAccepted())
      return false;
    QDropEvent drop(QPointF(100, 100), offered, &mime, Qt::LeftButton, Qt::NoModifier);
    drop.setDropAction(action);
    QApplication::sendEvent(form_.get(), &drop);
    // The page is only read: a move would let the source delete it.
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
    return true;
  }

  QList<QToolButton*> CommandButtons() const { return form_->CommandButtons(); }

  QTemporaryDir dir_;
  std::unique_ptr<TForm1> form_;
};

TEST_F(MainWindow, ControlsCarryTheirNamesCaptionsAndPlaces) {
  EXPECT_EQ(form_->windowTitle(), "pagetrim 0.1.0");
  struct Row {
    const char* Name;
    QString Caption;
    QRect Geometry;
  };
  const Row rows[] = {
      {"SB_AL", u"全頁左右削除"_qs, {248, 0, 88, 22}},
      {"SB_AN", u"同左+整形"_qs, {335, 0, 72, 22}},
      {"SB_PP", u"⇦"_qs, {418, 0, 28, 22}},
      {"SB_RD", u"再読込⇧"_qs, {445, 0, 62, 22}},
      {"SB_NP", u"⇨"_qs, {506, 0, 28, 22}},
      {"SB_NM", u"整形↲"_qs, {544, 0, 57, 22}},
      {"SB_WR", u"上書き⇩"_qs, {600, 0, 68, 22}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    auto* button = form_->findChild<QToolButton*>(row.Name);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), row.Caption);
    EXPECT_EQ(button->geometry(), row.Geometry);
    EXPECT_TRUE(button->autoRaise());
    EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
  }
  EXPECT_EQ(form_->findChild<QRadioButton*>("RB_1")->text(), u"灰色画像"_qs);
  EXPECT_TRUE(form_->findChild<QRadioButton*>("RB_2")->isChecked());
  EXPECT_EQ(form_->findChild<QLineEdit*>("Edit1")->text(), "128");
  EXPECT_EQ(form_->findChild<QLabel*>("Label1")->text(), u"閾値"_qs);
  EXPECT_EQ(form_->font().pixelSize(), 13);

  QStringList menu;
  for (QAction* a : form_->PopupMenu1->actions()) {
    menu << a->objectName() + ":" + (a->isSeparator() ? "-" : a->text());
  }
  EXPECT_EQ(menu, (QStringList{u"mLandR:左右削除"_qs, "N2:-", u"mDelPage:現頁削除"_qs, "N1:-",
                               u"mRtoL:右側削除"_qs, u"mLtoR:左側削除"_qs, u"mTtoB:上側削除"_qs,
                               u"mBtoT:下側削除"_qs, "N3:-", u"mAllTandB:全頁上下余白削除"_qs,
                               u"mAutoTrim:自動削除"_qs, u"mAllAuto:全頁自動削除"_qs,
                               u"mStraighten:傾き補正"_qs, u"mAllStraighten:全頁傾き補正"_qs,
                               "N4:-", u"mRestorePage:元に戻す"_qs, u"mRestoreAll:全頁元に戻す"_qs,
                               u"mDiscardKept:元の画像を消去"_qs}));
}

TEST_F(MainWindow, PanelsFollowTheClientSize) {
  EXPECT_EQ(form_->Panel1->geometry(), QRect(2, 0, 334, 516));
  EXPECT_EQ(form_->Panel2->geometry(), QRect(338, 0, 334, 516));
  EXPECT_EQ(form_->Image2->size(), QSize(332, 514));
  EXPECT_EQ(form_->Panel3->geometry(), QRect(0, 516, 673, 24));

  form_->resize(1000, 700);
  EXPECT_EQ(form_->Panel1->geometry(), QRect(2, 0, 498, 676));
  EXPECT_EQ(form_->Panel2->geometry(), QRect(501, 0, 498, 676));
}

TEST_F(MainWindow, CommandsAreEnabledByASuccessfulDrop) {
  for (QToolButton* b : CommandButtons())
    EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
  EXPECT_FALSE(form_->Image2->HasContextMenu());

  MakePages(3);
  Drop({QUrl::fromLocalFile(Page(1))}, Qt::MoveAction);
  EXPECT_EQ(State().CurrentIndex, 1);
  EXPECT_TRUE(QFile::exists(Page(1)));
  EXPECT_TRUE(form_->Image2->HasContextMenu());
  for (QToolButton* b : CommandButtons())
    EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
  EXPECT_TRUE(form_->Panel2->hasFocus());
  EXPECT_EQ(form_->Image2->Picture().Width(), 210);
  EXPECT_EQ(form_->Image1->Picture().Width(), 210);
}

TEST_F(MainWindow, ASinglePageFolderLeavesNextAndPreviousDisabled) {
  MakePages(1);
  Drop({QUrl::fromLocalFile(Page(0))});
  EXPECT_TRUE(form_->SB_WR->isEnabled());
  EXPECT_FALSE(form_->SB_NP->isEnabled());
  EXPECT_FALSE(form_->SB_PP->isEnabled());
  // Right still reloads the page, and its button is enabled afterwards.
  State().Edit.Cut({0, 0, 10, State().Edit.WorkingPage().Height()});
  QTest::keyClick(form_->Panel2, Qt::Key_Right);
  EXPECT_EQ(State().Edit.WorkingPage().Width(), 200);
  EXPECT_TRUE(form_->SB_NP->isEnabled());
}

TEST_F(MainWindow, DropsOfAnythingButOnePageChangeOnlyThePath) {
  MakePages(2);
  QFile text(Folder() + "notes.txt");
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.close();
  Drop({QUrl::fromLocalFile(Page(0))});
  ASSERT_EQ(State().CurrentPath, Page(0));

  const struct {
    const char* Name;
    QList<QUrl> Urls;
  } rows[] = {
      {"two files", {QUrl::fromLocalFile(Page(0)), QUrl::fromLocalFile(Page(1))}},
      {"a folder", {QUrl::fromLocalFile(dir_.path())}},
      {"a text file", {QUrl::fromLocalFile(Folder() + "notes.txt")}},
      {"a web address", {QUrl("https://example.org/p1.png")}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    Drop({QUrl::fromLocalFile(Page(0))});
    const QByteArray before = ReadAll(Page(0));
    Drop(row.Urls);
    EXPECT_TRUE(State().CurrentPath.isEmpty());
    EXPECT_EQ(State().CurrentIndex, 0);
    EXPECT_EQ(form_->Image2->Picture().Width(), 200);  // the page stays on show
    // Overwrite is disabled and inert until a page is shown again.
    EXPECT_FALSE(form_->SB_WR->isEnabled());
    form_->SB_WR->click();
    EXPECT_EQ(ReadAll(Page(0)), before);
  }
}

// Names that differ only by case are two pages: each opens, shows and is
// written as itself, whether dropped or named on the command line.
TEST_F(MainWindow, ThePageOpenedIsThePageWritten) {
  ASSERT_EQ(SavePage(Folder() + "p1.png", MarginPage(200), 300, 300), SaveOutcome::Written);
  ASSERT_EQ(SavePage(Folder() + "P1.png", MarginPage(300), 300, 300), SaveOutcome::Written);
  for (const QString name : {"p1.png", "P1.png"}) {
    form_->OnDrop({Folder() + name});
    EXPECT_EQ(State().CurrentPath, Folder() + name);
    form_->mLandR->trigger();
    form_->SB_WR->click();
  }
  PageRaster saved;
  LoadPage(Folder() + "p1.png", saved);
  EXPECT_EQ(saved.Width(), 100);
  LoadPage(Folder() + "P1.png", saved);
  EXPECT_EQ(saved.Width(), 200);
}

TEST_F(MainWindow, FiveKeysPressTheirButtonsFromTheThresholdBox) {
  MakePages(3);
  Drop({QUrl::fromLocalFile(Page(1))});
  const auto fromEdit = [&](Qt::Key key) {
    form_->Edit1->setFocus();
    ASSERT_TRUE(form_->Edit1->hasFocus());
    QTest::keyClick(form_->Edit1, key);
    EXPECT_TRUE(form_->Panel2->hasFocus());
  };

  fromEdit(Qt::Key_Right);
  EXPECT_EQ(State().CurrentIndex, 2);
  fromEdit(Qt::Key_Left);
  EXPECT_EQ(State().CurrentIndex, 1);

  fromEdit(Qt::Key_Return);  // normalise: 210 x 400 becomes Trunc(401 * 0.707) = 283 wide
  EXPECT_EQ(State().Edit.WorkingPage().Width(), 283);
  EXPECT_EQ(State().Edit.AnalysisPage().Width(), 283);

  fromEdit(Qt::Key_Up);  // reload drops the change
  EXPECT_EQ(State().Edit.WorkingPage().Width(), 210);

  State().Edit.Cut({0, 0, 33, State().Edit.WorkingPage().Height()});
  fromEdit(Qt::Key_Down);  // overwrite
  PageRaster saved;
  LoadPage(Page(1), saved);
  EXPECT_EQ(saved.Width(), 33);
}

TEST_F(MainWindow, KeysBeforeAnyDropOnlyMoveTheFocus) {
  form_->Edit1->setFocus();
  QTest::keyClick(form_->Edit1, Qt::Key_Right);
  EXPECT_TRUE(form_->Panel2->hasFocus());
  EXPECT_EQ(State().CurrentIndex, -1);
}

TEST_F(MainWindow, KeysForAnOpenMenuOrBoxPressNoButton) {
  MakePages(3);
  Drop({QUrl::fromLocalFile(Page(0))});
  form_->PopupMenu1->popup(form_->mapToGlobal(QPoint(400, 100)));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form_->PopupMenu1));
  QTest::keyClick(form_->PopupMenu1, Qt::Key_Right);
  QTest::keyClick(form_->PopupMenu1, Qt::Key_Down);
  form_->PopupMenu1->close();
  EXPECT_EQ(State().CurrentIndex, 0);

  // A key pressed while a notice is open goes to the notice.
  QTimer::singleShot(20, [] {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr)
      return;
    QTest::keyClick(box, Qt::Key_Right);
    QTest::keyClick(box, Qt::Key_Return);
  });
  form_->ShowNotice("x");
  EXPECT_EQ(State().CurrentIndex, 0);
}

TEST_F(MainWindow, ContextMenuItemsTrimAtTheMenuPoint) {
  MakePages(1);
  // Before a page is shown the right view offers no menu.
  QContextMenuEvent early(QContextMenuEvent::Mouse, QPoint(10, 257),
                          form_->Image2->mapToGlobal(QPoint(10, 257)));
  QApplication::sendEvent(form_->Image2, &early);
  EXPECT_FALSE(form_->PopupMenu1->isVisible());

  Drop({QUrl::fromLocalFile(Page(0))});
  // Page 200 x 400 in a 332 x 514 view: the heights set the scale, so view
  // point (10, 257) is page pixel (7, 200), in the blank left margin.
  EXPECT_EQ(form_->MapViewToImage(QPoint(10, 257)), QPoint(7, 200));
  const QPoint global = form_->Image2->mapToGlobal(QPoint(10, 257));
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 257), global);
  QApplication::sendEvent(form_->Image2, &event);
  EXPECT_TRUE(form_->PopupMenu1->isVisible());
  EXPECT_EQ(form_->MenuPoint(), global);
  form_->mLtoR->trigger();
  form_->PopupMenu1->close();
  EXPECT_EQ(State().Edit.WorkingPage().Width(), 150);
  EXPECT_EQ(form_->Image2->Picture().Width(), 150);

  // A keyboard request for the menu opens nothing.
  QContextMenuEvent keyboard(QContextMenuEvent::Keyboard, QPoint(5, 5),
                             form_->Image2->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(form_->Image2, &keyboard);
  EXPECT_FALSE(form_->PopupMenu1->isVisible());
}

TEST_F(MainWindow, DoubleClickTrimsTheSideOfTheFirstPressOnlyWithAPage) {
  // As the desktop reports a double-click to a widget: the first press and
  // release, then the double-click in place of the second press.
  const auto doubleClick = [&](QPoint first, QPoint second) {
    QTest::mouseClick(form_->Image2, Qt::LeftButton, {}, first);
    QTest::mouseDClick(form_->Image2, Qt::LeftButton, {}, second);
    QTest::mouseRelease(form_->Image2, Qt::LeftButton, {}, second);
  };
  MakePages(1);
  doubleClick({10, 257}, {10, 257});
  EXPECT_EQ(State().Edit.WorkingPage().Width(), 0);

  Drop({QUrl::fromLocalFile(Page(0))});
  doubleClick({10, 257}, {11, 257});
  EXPECT_EQ(State().Edit.WorkingPage().Width(), 150);
  EXPECT_EQ(State().MouseDownPoint, QPoint(11, 257));
  // Now 150 x 400: view x 180 maps to page x 140, in the right half. The
  // second press drifted into the left half; the first press decides.
  doubleClick({180, 257}, {20, 257});
  EXPECT_EQ(State().Edit.WorkingPage().Width(), 100);
  // A right-button double-click trims nothing.
  QTest::mouseClick(form_->Image2, Qt::RightButton, {}, {10, 257});
  QTest::mouseDClick(form_->Image2, Qt::RightButton, {}, {10, 257});
  EXPECT_EQ(State().Edit.WorkingPage().Width(), 100);
}

TEST_F(MainWindow, HandlerErrorsAreShownInTheStandardBox) {
  ModalBoxCloser boxes;
  form_->OnDrop({"/no/such/folder/p1.jpg"});
  ASSERT_EQ(boxes.Seen.size(), 1);
  EXPECT_EQ(boxes.Seen[0].Text, u"指定されたパスが見つかりません."_qs);
  EXPECT_EQ(boxes.Seen[0].Title, ApplicationTitle());
  EXPECT_EQ(boxes.Seen[0].Icon, QMessageBox::Critical);
  EXPECT_TRUE(form_->isVisible());
  EXPECT_EQ(form_->focusWidget(), form_->Panel2);

  // Notices carry the application title and no icon.
  MakePages(1);
  Drop({QUrl::fromLocalFile(Page(0))});
  form_->mDelPage->trigger();
  ASSERT_EQ(boxes.Seen.size(), 2);
  EXPECT_EQ(boxes.Seen[1].Text, u"１頁しかないので削除できません"_qs);
  EXPECT_EQ(boxes.Seen[1].Icon, QMessageBox::NoIcon);

  // A page that cannot be written: its place is taken by a folder.
  ASSERT_TRUE(QFile::remove(Page(0)));
  ASSERT_TRUE(QDir().mkdir(Page(0)));
  form_->SB_WR->click();
  ASSERT_EQ(boxes.Seen.size(), 3);
  EXPECT_EQ(boxes.Seen[2].Text, u"保存できませんでした"_qs);
  EXPECT_EQ(boxes.Seen[2].Title, u"情報"_qs);
  EXPECT_EQ(boxes.Seen[2].Icon, QMessageBox::Information);
  EXPECT_TRUE(form_->SB_WR->isEnabled());
}

// An error that escapes an event handler the window does not guard itself.
class ThrowingObject : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User)
      throw ShownError(u"指定されたパスが見つかりません"_qs);
    return QObject::event(e);
  }
};

TEST(ErrorBox, TheApplicationShowsErrorsThatEscapeAHandler) {
  ModalBoxCloser boxes;
  ThrowingObject object;
  QEvent event(QEvent::User);
  QApplication::sendEvent(&object, &event);
  ASSERT_EQ(boxes.Seen.size(), 1);
  EXPECT_EQ(boxes.Seen[0].Text, u"指定されたパスが見つかりません."_qs);
  EXPECT_EQ(boxes.Seen[0].Icon, QMessageBox::Critical);
  EXPECT_EQ(boxes.Seen[0].Title, ApplicationTitle());
}

TEST(ErrorBox, TextAndTitleRules) {
  EXPECT_EQ(ErrorBoxText(u"指定されたパスが見つかりません"_qs),
            u"指定されたパスが見つかりません."_qs);
  EXPECT_EQ(ErrorBoxText("ends with a dot."), "ends with a dot.");
  EXPECT_EQ(ErrorBoxText("ends with a dash-"), "ends with a dash-");
  EXPECT_EQ(ErrorBoxText("(7)"), "(7)");  // ")" has a code below "."
  EXPECT_EQ(ErrorBoxText("A"), "A.");
  EXPECT_EQ(ErrorBoxText(""), "");
  EXPECT_EQ(ApplicationTitleFor("/opt/tools/PageTrim.EXE"), "Pagetrim");
  EXPECT_EQ(ApplicationTitleFor("/usr/bin/pagetrim"), "pagetrim");
  EXPECT_EQ(ApplicationTitleFor("/a.b/My.Tool.bin"), "My.tool");
}

// Settings -------------------------------------------------------------------

class Settings : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  QString Path() const { return dir_.path() + "/pagetrim.INI"; }
  void Write(const QByteArray& text) {
    QFile file(Path());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
  }
  QTemporaryDir dir_;
};

TEST_F(Settings, MissingFileGivesTheDefaults) {
  TForm1 form(Path());
  EXPECT_EQ(form.Edit1->text(), "128");
  EXPECT_TRUE(form.RB_2->isChecked());
  EXPECT_FALSE(form.RB_1->isChecked());
  EXPECT_EQ(form.size(), QSize(673, 540));
}

TEST_F(Settings, ThresholdIsCheckedWhenRead) {
  const struct {
    const char* Stored;
    const char* Shown;
  } rows[] = {{"0", "128"},   {"255", "128"}, {"abc", "128"}, {"1", "1"},  {"254", "254"},
              {"0050", "50"}, {"$20", "32"},  {"-7", "128"},  {"", "128"}, {"  99", "99"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Stored);
    Write(QByteArray("[Window]\nEdit1=") + row.Stored + "\n");
    TForm1 form(Path());
    EXPECT_EQ(form.Edit1->text(), row.Shown);
  }
}

TEST_F(Settings, RadioButtonsFollowTheStoredChoice) {
  const struct {
    const char* Text;
    bool Gray, Binary;
  } rows[] = {{"RB_1=1\nRB_2=0", true, false},
              {"RB_1=1\nRB_2=1", false, true},
              {"RB_1=0\nRB_2=0", false, false},
              {"RB_1=x\nRB_2=0x0", false, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Text);
    Write(QByteArray("[Window]\n") + row.Text + "\n");
    TForm1 form(Path());
    EXPECT_EQ(form.RB_1->isChecked(), row.Gray);
    EXPECT_EQ(form.RB_2->isChecked(), row.Binary);
    EXPECT_EQ(form.GrayChosen(), row.Gray);
  }
}

TEST_F(Settings, AFileWrittenElsewhereReadsWell) {
  Write(
      "; written by hand\r\n[Other]\r\nEdit1=7\r\n\r\n[window]\r\n  left = 40 \r\nTop=$30\r\n"
      "\r\nWIDTH = 800\r\nHeight=600\r\nEdit1 = 0060\r\nRB_1 = 1\r\nRB_2=0\r\n");
  TForm1 form(Path());
  EXPECT_EQ(form.Edit1->text(), "60");
  EXPECT_TRUE(form.RB_1->isChecked());
  EXPECT_EQ(form.pos(), QPoint(40, 48));
  EXPECT_EQ(form.size(), QSize(800, 600));
}

TEST_F(Settings, ClosingStoresTheTextAsTypedAndKeepsOtherSections) {
  Write("[Other]\nkeep=me\n");
  {
    TForm1 form(Path());
    form.show();
    form.Edit1->setText("abc");
    form.RB_1->setChecked(true);
    form.close();
    EXPECT_EQ(form.State(), nullptr);
  }
  const QString text = QString::fromUtf8(ReadAll(Path()));
  EXPECT_TRUE(text.contains("[Other]\nkeep=me\n")) << text.toStdString();
  EXPECT_TRUE(text.contains("Edit1=abc\n"));
  EXPECT_TRUE(text.contains("RB_1=1\n"));
  EXPECT_TRUE(text.contains("RB_2=0\n"));
  for (const char* key : {"Left=", "Top=", "Height=", "Width="})
    EXPECT_TRUE(text.contains(key));

  TForm1 again(Path());
  EXPECT_EQ(again.Edit1->text(), "128");
  EXPECT_TRUE(again.RB_1->isChecked());
}

TEST_F(Settings, ALineBreakInTheThresholdBoxStaysOnItsLine) {
  {
    TForm1 form(Path());
    form.Edit1->setText("5\n[Window]\nRB_1=1");
    form.close();
  }
  TForm1 again(Path());
  EXPECT_EQ(again.Edit1->text(), "128");
  EXPECT_FALSE(again.RB_1->isChecked());
  const QStringList lines = QString::fromUtf8(ReadAll(Path())).split('\n');
  EXPECT_TRUE(lines.contains("Edit1=5 [Window] RB_1=1"));
  EXPECT_TRUE(lines.contains("RB_1=0"));
}

TEST_F(Settings, AFailedWriteIsShownAndTheWindowStillCloses) {
  ASSERT_TRUE(QDir().mkdir(Path()));  // a folder in the file's place
  ModalBoxCloser boxes;
  TForm1 form(Path());
  form.show();
  EXPECT_TRUE(form.close());
  ASSERT_EQ(boxes.Seen.size(), 1);
  EXPECT_EQ(boxes.Seen[0].Text, Path() + u" に書き込めません."_qs);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.State(), nullptr);
}

// Batches in the window ---------------------------------------------------------

class BatchWindow : public MainWindow {
 protected:
  // Runs f in the middle of the batch, when it lets window events run.
  void DuringBatch(std::function<void()> f) {
    QTimer::singleShot(0, form_.get(), [this, f] {
      if (form_->BatchRunning())
        f();
    });
  }
};

TEST_F(BatchWindow, CommandsAreLockedWhileItRunsAndAllUnlockedAfter) {
  MakePages(1);
  Drop({QUrl::fromLocalFile(Page(0))});
  ASSERT_FALSE(form_->SB_NP->isEnabled());
  bool checked = false;
  DuringBatch([&] {
    checked = true;
    for (QToolButton* b : CommandButtons())
      EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    for (QAction* a : form_->PopupMenu1->actions()) {
      EXPECT_EQ(a->isEnabled(), a->isSeparator()) << a->objectName().toStdString();
    }
    EXPECT_FALSE(form_->Image2->isEnabled());
    EXPECT_TRUE(form_->Edit1->isEnabled());
    EXPECT_TRUE(form_->RB_1->isEnabled());
    EXPECT_TRUE(form_->BatchProgress->isVisible());
    EXPECT_EQ(form_->BatchProgress->value(), 1);
    EXPECT_EQ(form_->BatchProgress->maximum(), 1);
  });
  form_->SB_AL->click();
  EXPECT_TRUE(checked);
  // Unlocking enables everything, next and previous too, even for one page.
  for (QToolButton* b : CommandButtons())
    EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
  for (QAction* a : form_->PopupMenu1->actions())
    EXPECT_TRUE(a->isEnabled());
  EXPECT_TRUE(form_->Image2->isEnabled());
  EXPECT_FALSE(form_->BatchProgress->isVisible());
  EXPECT_EQ(State().Edit.WorkingPage().Width(), 100);  // 200 - 50 - 50, shown fresh from the file
}

// 自動削除 cuts the shown page to its ink and a border of 1 mm (12 pixels at
// 300 dpi); 再読込 undoes it. 全頁自動削除 writes every page so, locked like
// the other batches.
TEST_F(BatchWindow, AutoTrimCutsTheShownPageAndItsBatchEveryPage) {
  MakePages(2);
  Drop({QUrl::fromLocalFile(Page(0))});
  form_->mAutoTrim->trigger();
  EXPECT_EQ(State().Edit.WorkingPage().Width(), 100 + 2 * 12);
  EXPECT_EQ(State().Edit.WorkingPage().Height(), 360 + 2 * 12);
  EXPECT_EQ(State().Edit.AnalysisPage().Width(), 124);
  EXPECT_EQ(form_->Image2->Picture().Width(), 124);
  form_->SB_RD->click();
  EXPECT_EQ(State().Edit.WorkingPage().Width(), 200);

  bool checked = false;
  DuringBatch([&] {
    checked = true;
    EXPECT_FALSE(form_->mAutoTrim->isEnabled());
    EXPECT_FALSE(form_->mAllAuto->isEnabled());
    EXPECT_FALSE(form_->mLandR->isEnabled());
    EXPECT_FALSE(form_->SB_AL->isEnabled());
  });
  form_->mAllAuto->trigger();
  EXPECT_TRUE(checked);
  EXPECT_TRUE(form_->mAutoTrim->isEnabled());
  EXPECT_TRUE(form_->mAllAuto->isEnabled());
  for (int i = 0; i < 2; ++i) {
    PageRaster saved;
    LoadPage(Page(i), saved);
    EXPECT_EQ(saved.Width(), 100 + i * 10 + 2 * 12);
    EXPECT_EQ(saved.Height(), 384);
  }
  EXPECT_EQ(State().Edit.WorkingPage().Width(), 124);  // the start page, fresh from its file
}

TEST_F(BatchWindow, KeysAndDropsAreIgnoredWhileItRuns) {
  MakePages(3);
  QDir().mkpath(dir_.path() + "/other");
  ASSERT_EQ(SavePage(dir_.path() + "/other/x.png", MarginPage(), 300, 300), SaveOutcome::Written);
  Drop({QUrl::fromLocalFile(Page(0))});
  int indexDuring = -2;
  DuringBatch([&] {
    indexDuring = State().CurrentIndex;
    form_->Panel2->setFocus();
    for (Qt::Key key : {Qt::Key_Right, Qt::Key_Left, Qt::Key_Up, Qt::Key_Return, Qt::Key_Down}) {
      QTest::keyClick(form_->Panel2, key);
    }
    EXPECT_EQ(State().CurrentIndex, indexDuring);
    // A page passing through is held by no raster; a key that reloaded or
    // moved would have filled them.
    EXPECT_TRUE(State().Edit.WorkingPage().IsEmpty());
    EXPECT_FALSE(Drop({QUrl::fromLocalFile(dir_.path() + "/other/x.png")}));
    form_->OnDrop({dir_.path() + "/other/x.png"});
    EXPECT_EQ(State().PageList.Count(), 3);
    EXPECT_FALSE(State().CurrentPath.isEmpty());
  });
  form_->SB_AN->click();
  EXPECT_EQ(indexDuring, 0);
  EXPECT_EQ(State().CurrentIndex, 0);
  EXPECT_EQ(State().PageList.Count(), 3);
  PageRaster saved;
  LoadPage(Page(2), saved);
  EXPECT_EQ(saved.Width(), 283);  // normalised: Trunc(401 * 0.707)
}

TEST_F(BatchWindow, EscapeCancelsAfterThePageInHand) {
  MakePages(4);
  Drop({QUrl::fromLocalFile(Page(2))});
  const QByteArray second = ReadAll(Page(1));
  const QByteArray last = ReadAll(Page(3));
  DuringBatch([&] { QTest::keyClick(form_->Panel2, Qt::Key_Escape); });
  form_->SB_AL->click();
  PageRaster saved;
  LoadPage(Page(0), saved);
  EXPECT_EQ(saved.Width(), 100);
  EXPECT_EQ(ReadAll(Page(1)), second);
  EXPECT_EQ(ReadAll(Page(3)), last);
  EXPECT_EQ(State().CurrentIndex, 2);  // the start page, shown again
  EXPECT_EQ(State().Edit.WorkingPage().Width(), 220);
  EXPECT_TRUE(form_->SB_AL->isEnabled());
  EXPECT_FALSE(form_->BatchProgress->isVisible());

  // The next batch starts afresh and runs to the end.
  form_->mAllTandB->trigger();
  LoadPage(Page(3), saved);
  EXPECT_LT(saved.Height(), 400);
}

TEST_F(BatchWindow, ACloseRequestWaitsForTheEnd) {
  MakePages(3);
  Drop({QUrl::fromLocalFile(Page(0))});
  bool closedDuring = true;
  DuringBatch([&] {
    closedDuring = form_->close();
    EXPECT_TRUE(form_->isVisible());
    EXPECT_NE(form_->State(), nullptr);
  });
  form_->SB_AL->click();
  EXPECT_FALSE(closedDuring);
  PageRaster saved;
  LoadPage(Page(2), saved);
  EXPECT_EQ(saved.Width(), 120);  // the last page was still done
  QTest::qWait(20);
  EXPECT_FALSE(form_->isVisible());
  EXPECT_EQ(form_->State(), nullptr);
  EXPECT_TRUE(QFile::exists(form_->SettingsPath()));
}

}  // namespace
}  // namespace pagetrim

// ---- The model behind the controls -----------------------------------------

namespace pagetrim {
namespace {

// Which of SB_AL SB_AN SB_PP SB_RD SB_NP SB_NM SB_WR are enabled, then
// whether the right view is enabled and offers its menu.
QString States(TForm1& form) {
  QString s;
  for (QToolButton* b :
       {form.SB_AL, form.SB_AN, form.SB_PP, form.SB_RD, form.SB_NP, form.SB_NM, form.SB_WR}) {
    s += b->isEnabled() ? u'1' : u'0';
  }
  s += u' ';
  s += form.Image2->isEnabled() ? u'1' : u'0';
  s += form.Image2->HasContextMenu() ? u'1' : u'0';
  return s;
}

TEST_F(MainWindow, EnabledStatesFollowThePageSetAndTheBatch) {
  QDir().mkpath(dir_.path() + "/one");
  ASSERT_EQ(SavePage(dir_.path() + "/one/x.png", MarginPage(), 300, 300), SaveOutcome::Written);
  MakePages(3);
  QString during;
  const auto batchWithin = [&] {
    QTimer::singleShot(0, form_.get(), [&] { during = States(*form_); });
    form_->SB_AL->click();
    return States(*form_);
  };
  struct Row {
    const char* Moment;
    std::function<QString()> Step;
    const char* Expected;
  };
  const Row rows[] = {
      {"after show", [&] { return States(*form_); }, "0000000 10"},
      {"after a drop of one page",
       [&] {
         Drop({QUrl::fromLocalFile(dir_.path() + "/one/x.png")});
         return States(*form_);
       },
       "1101011 11"},
      {"after a batch, one page", batchWithin, "1111111 11"},
      {"during that batch", [&] { return during; }, "0000000 01"},
      {"after a drop of three pages",
       [&] {
         Drop({QUrl::fromLocalFile(Page(1))});
         return States(*form_);
       },
       "1111111 11"},
      // The page stays on view, but there is no page to step on from or
      // to write, until one is shown again.
      {"after a failed drop",
       [&] {
         Drop({QUrl::fromLocalFile(Page(0)), QUrl::fromLocalFile(Page(1))});
         return States(*form_);
       },
       "1100000 11"},
      {"after Right shows a page",
       [&] {
         QTest::keyClick(form_->Panel2, Qt::Key_Right);
         return States(*form_);
       },
       "1111111 11"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Moment);
    EXPECT_EQ(row.Step(), row.Expected);
  }
}

// Pixels of the right view where the picture is drawn, as the screen shows them.
QImage ShownPicture(ImageView* view) {
  const QRect r = view->DrawRect();
  return view->grab().toImage().copy(r).convertToFormat(QImage::Format_RGB32);
}

TEST_F(MainWindow, TheRightViewShowsThePageItWasLastGiven) {
  // Two pages of one size, so that the view's drawing rectangle stays the
  // same from one page to the next.
  PageRaster second = MarginPage();
  for (int y = 100; y < 140; ++y)
    std::fill_n(second.Row(y), second.RowBytes(), std::uint8_t(90));
  ASSERT_EQ(SavePage(Page(0), MarginPage(), 300, 300), SaveOutcome::Written);
  ASSERT_EQ(SavePage(Page(1), second, 300, 300), SaveOutcome::Written);
  Drop({QUrl::fromLocalFile(Page(0))});
  const auto expectShown = [&] {
    const QRect r = form_->Image2->DrawRect();
    EXPECT_EQ(ShownPicture(form_->Image2),
              ScaleForView(State().Edit.WorkingPage(), r.width(), r.height())
                  .convertToFormat(QImage::Format_RGB32));
  };
  expectShown();
  form_->SB_NP->click();
  expectShown();
  const QPoint blank(200, 10);  // right half of the page, in its margin
  QContextMenuEvent menu(QContextMenuEvent::Mouse, blank, form_->Image2->mapToGlobal(blank));
  QApplication::sendEvent(form_->Image2, &menu);
  form_->mRtoL->trigger();
  form_->PopupMenu1->close();
  ASSERT_LT(State().Edit.WorkingPage().Width(), 200);
  expectShown();
}

TEST_F(MainWindow, AnUnreadablePageSaysWhyInTheRightView) {
  MakePages(1);
  QFile damaged(Folder() + "p2.png");
  ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
  damaged.write("\x89PNG\r\n\x1a\n");
  damaged.close();
  Drop({QUrl::fromLocalFile(Folder() + "p2.png")});
  EXPECT_TRUE(form_->Image2->Unreadable());
  EXPECT_EQ(form_->Image2->UnreadableText(),
            u"この画像は読み込めません\n壊れているか画像ではありません"_qs);
  // The words are drawn about the middle of the view, in the text colour:
  // a line above it and a line below.
  const QImage view = form_->Image2->grab().toImage();
  int above = 0, below = 0;
  for (int y = view.height() / 2 - 30; y < view.height() / 2 + 30; ++y) {
    for (int x = 0; x < view.width(); ++x)
      (y < view.height() / 2 ? above : below) += qGray(view.pixel(x, y)) < 100;
  }
  EXPECT_GT(above, 0);
  EXPECT_GT(below, 0);
  form_->SB_PP->click();
  EXPECT_FALSE(form_->Image2->Unreadable());
  EXPECT_EQ(form_->Image2->UnreadableText(), QString());

  // A folder that took the page's place since, read by reloading.
  ASSERT_TRUE(QFile::remove(Page(0)) && QDir().mkdir(Page(0)));
  form_->SB_RD->click();
  EXPECT_EQ(form_->Image2->UnreadableText(),
            u"この画像は読み込めません\n同じ名前のフォルダーがあります"_qs);
}

TEST_F(MainWindow, RestoreItemsFollowTheKeptOriginalsAndAskFirst) {
  MakePages(3);
  const QByteArray original = ReadAll(Page(0));
  Drop({QUrl::fromLocalFile(Page(0))});
  const auto items = [&] {
    emit form_->PopupMenu1->aboutToShow();
    return QString("%1%2%3")
        .arg(form_->mRestorePage->isEnabled())
        .arg(form_->mRestoreAll->isEnabled())
        .arg(form_->mDiscardKept->isEnabled());
  };
  EXPECT_EQ(items(), "000");
  form_->mLandR->trigger();
  form_->SB_WR->click();
  EXPECT_EQ(items(), "111");
  form_->SB_NP->click();
  EXPECT_EQ(items(), "011");  // this page has nothing kept, the folder has

  ModalBoxCloser boxes;
  boxes.Answer = u"いいえ(N)"_qs;
  form_->mRestoreAll->trigger();
  ASSERT_EQ(boxes.Seen.size(), 1);
  EXPECT_EQ(boxes.Seen[0].Text, u"1 頁を元に戻しますか？"_qs);
  EXPECT_EQ(boxes.Seen[0].Buttons, (QStringList{u"はい(&Y)"_qs, u"いいえ(&N)"_qs}));
  EXPECT_NE(ReadAll(Page(0)), original);
  boxes.Answer = u"はい(Y)"_qs;
  form_->mRestoreAll->trigger();
  EXPECT_EQ(ReadAll(Page(0)), original);
  EXPECT_EQ(items(), "000");
  EXPECT_EQ(State().CurrentPath, Page(1));

  form_->SB_WR->click();
  form_->mDiscardKept->trigger();
  ASSERT_EQ(boxes.Seen.size(), 3);
  EXPECT_TRUE(boxes.Seen[2].Text.startsWith(u"元の画像 1 頁（0.0 MB）を消去しますか？"_qs))
      << boxes.Seen[2].Text.toStdString();
  EXPECT_EQ(items(), "000");
}

// Qt's own texts speak the interface's language, mnemonics included.
TEST(Translations, StandardButtonsAreJapanese) {
  QMessageBox box(QMessageBox::Question, "", "",
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  EXPECT_EQ(box.button(QMessageBox::Yes)->text(), u"はい(&Y)"_qs);
  EXPECT_EQ(box.button(QMessageBox::No)->text(), u"いいえ(&N)"_qs);
  EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), u"キャンセル"_qs);
}

// Pages passing through a batch are drawn from pictures sampled while they
// were read, never from a whole page; the page shown at the end is drawn
// whole, as every page outside a batch is.
TEST_F(BatchWindow, PassingPagesAreDrawnFromSmallPicturesAndTheLastWhole) {
  // Large enough for the views to take every second pixel, and even over
  // 2 x 2 blocks, so that those samples draw exactly what the page would.
  PageRaster page = MarginPage(700, 1100);
  for (int y = 20; y < 1080; ++y) {
    std::uint8_t* row = page.Row(y);
    for (int x = 50; x < 650; ++x)
      row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = std::uint8_t((x / 2 + y / 2) % 2 * 60);
  }
  ASSERT_EQ(SavePage(Page(0), page, 300, 300), SaveOutcome::Written);
  ASSERT_EQ(SavePage(Page(1), page, 300, 300), SaveOutcome::Written);
  Drop({QUrl::fromLocalFile(Page(0))});
  int sampledWidth = 0;
  QRect leftRect, rightRect;
  QImage left, right;
  DuringBatch([&] {
    sampledWidth = form_->Image1->Picture().Width();
    leftRect = form_->Image1->DrawRect();
    rightRect = form_->Image2->DrawRect();
    left = ShownPicture(form_->Image1);
    right = ShownPicture(form_->Image2);
  });
  form_->SB_AL->click();
  PageRaster trimmed;
  LoadPage(Page(0), trimmed);
  ASSERT_EQ(trimmed.Width(), 600);
  EXPECT_EQ(sampledWidth, 350);
  EXPECT_EQ(leftRect, ViewDrawRect(700, 1100, form_->Image1->width(), form_->Image1->height()));
  EXPECT_EQ(rightRect, ViewDrawRect(600, 1100, form_->Image2->width(), form_->Image2->height()));
  EXPECT_EQ(left, ScaleForView(page, leftRect.width(), leftRect.height())
                      .convertToFormat(QImage::Format_RGB32));
  EXPECT_EQ(right, ScaleForView(trimmed, rightRect.width(), rightRect.height())
                       .convertToFormat(QImage::Format_RGB32));

  EXPECT_EQ(form_->Image1->Picture().Width(), 600);  // the start page, whole again
  const QRect r = form_->Image2->DrawRect();
  EXPECT_EQ(ShownPicture(form_->Image2),
            ScaleForView(State().Edit.WorkingPage(), r.width(), r.height())
                .convertToFormat(QImage::Format_RGB32));
}

TEST_F(BatchWindow, TheSaveFailureBoxGivesTheReasonAndCanStopTheBatch) {
  MakePages(4);
  QFile damaged(Page(1));
  ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
  damaged.write("\x89PNG\r\n\x1a\n");
  damaged.close();
  const QByteArray third = ReadAll(Page(2));
  Drop({QUrl::fromLocalFile(Page(0))});
  bool restoreLocked = false;
  DuringBatch([&] {
    restoreLocked = !form_->mRestoreAll->isEnabled() && !form_->mRestorePage->isEnabled() &&
                    !form_->mDiscardKept->isEnabled();
  });
  ModalBoxCloser boxes;
  boxes.Answer = u"中止"_qs;
  form_->SB_AL->click();
  EXPECT_TRUE(restoreLocked);
  ASSERT_EQ(boxes.Seen.size(), 1);
  EXPECT_EQ(boxes.Seen[0].Text, u"保存できませんでした"_qs);
  EXPECT_EQ(boxes.Seen[0].InformativeText, Page(1) + u"\n壊れているか画像ではありません"_qs);
  EXPECT_TRUE(boxes.Seen[0].Buttons.contains(u"中止"_qs));
  EXPECT_EQ(ReadAll(Page(2)), third);  // stopped after the page in hand
  EXPECT_FALSE(form_->BatchRunning());

  // Outside a batch the box has only OK.
  form_->SB_NP->click();
  form_->SB_WR->click();
  ASSERT_EQ(boxes.Seen.size(), 2);
  EXPECT_EQ(boxes.Seen[1].Buttons.size(), 1);
}

TEST_F(BatchWindow, PagesCutHardAreNamedInOneNoticeAtTheEnd) {
  MakePages(3);
  // On p2 the ink is a narrow band: the trims keep 31 of its 300 columns.
  PageRaster narrow(300, 400);
  for (int y = 100; y < 300; ++y)
    std::fill_n(narrow.Row(y) + 3 * 100, 3 * 31, std::uint8_t(0));
  ASSERT_EQ(SavePage(Page(1), narrow, 300, 300), SaveOutcome::Written);
  Drop({QUrl::fromLocalFile(Page(2))});
  ModalBoxCloser boxes;
  form_->SB_AL->click();
  ASSERT_EQ(boxes.Seen.size(), 1);
  EXPECT_EQ(boxes.Seen[0].ObjectName, u"NoticeBox"_qs);
  EXPECT_EQ(boxes.Seen[0].Text,
            u"確認が必要な頁があります。次の頁は幅か高さが元の半分未満になりました。\n"
            u"\np2.png  300×400 → 31×400"_qs);
  EXPECT_EQ(State().CurrentIndex, 2);
  EXPECT_TRUE(form_->SB_AL->isEnabled());
}

TEST_F(Settings, KeepingOriginalsIsOnUnlessTheFileTurnsItOff) {
  {
    TForm1 form(Path());
    EXPECT_TRUE(form.State()->KeepOriginals);
    form.close();
  }
  EXPECT_TRUE(QString::fromUtf8(ReadAll(Path())).contains("KeepOriginals=1\n"));
  Write("[Window]\nKeepOriginals=0\n");
  {
    TForm1 form(Path());
    EXPECT_FALSE(form.State()->KeepOriginals);
    form.close();
  }
  EXPECT_TRUE(QString::fromUtf8(ReadAll(Path())).contains("KeepOriginals=0\n"));
}

}  // namespace
}  // namespace pagetrim
