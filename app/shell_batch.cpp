// Batches run from the shell: the window's batch commands, saving and kept
// originals, reporting to standard error instead of a window.
#include "shell_batch.h"

#include <signal.h>

#include <QCommandLineParser>
#include <QFileInfo>
#include <atomic>
#include <cstdio>
#include <optional>

#include "batch_commands.h"
#include "integer_text.h"
#include "page_commands.h"
#include "page_files.h"
#include "page_path.h"
#include "reason_text.h"
#include "settings_location.h"
#include "shown_error.h"
#include "stored_settings.h"
#include "trim_commands.h"

namespace pagetrim {

namespace {

// Set by Ctrl-C (SIGINT) or SIGTERM; the batch stops after the page in hand.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnInterrupt(int) {
  interrupted.store(true);
}

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // A second Ctrl-C ends the process at once; every write is atomic, so
  // even that leaves no page half-written.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void PrintLine(const QString& text) {
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

// The window of a batch run from the shell: it shows nothing and reports
// progress and failures on standard error.
// A JSON string, escaped as JSON requires.
QString JsonString(const QString& text) {
  QString out = QStringLiteral("\"");
  for (const QChar c : text) {
    if (c == u'"' || c == u'\\') {
      out += u'\\';
      out += c;
    } else if (c.unicode() < 0x20) {
      out += QStringLiteral("\\u%1").arg(int(c.unicode()), 4, 16, QChar(u'0'));
    } else {
      out += c;
    }
  }
  return out + u'"';
}

// The reasons a dry run gives for a page's own size, for scripts.
const char* OwnSizeCode(OwnSizeReason reason) {
  switch (reason) {
    case OwnSizeReason::None:
      break;
    case OwnSizeReason::EachPage:
      return "each page";
    case OwnSizeReason::ContentTooLarge:
      return "content too large";
    case OwnSizeReason::NoBookSize:
      return "no content on its side";
  }
  return nullptr;
}

// The turn of a page, for batches that look for it: its angle (null when
// unsure, and why), whether it was turned, and its size then.
QString TurnFields(const PageOutcome& page) {
  if (!page.LookedForTurn)
    return QString();
  const QString doubt = page.Doubt != SkewDoubt::None
                            ? JsonString(QString::fromLatin1(SkewDoubtName(page.Doubt)))
                            : QStringLiteral("null");
  return QStringLiteral(
             ", \"skew\": %1, \"skew_doubt\": %2, \"turned\": %3, \"turned_width\": %4, "
             "\"turned_height\": %5")
      .arg(page.Skew ? QString::number(*page.Skew, 'f', 3) : QStringLiteral("null"), doubt,
           page.Turned ? QStringLiteral("true") : QStringLiteral("false"))
      .arg(page.TurnedSize.width())
      .arg(page.TurnedSize.height());
}

// One line of JSON: what the batch would do with the page.
QString DryRunLine(const PageOutcome& page) {
  const bool readable = !page.Size.isEmpty();
  const Rect& c = page.Cut;
  const char* reason = readable ? OwnSizeCode(page.Own) : "unreadable";
  return QStringLiteral(
             "{\"name\": %1, \"width\": %2, \"height\": %3, \"cut\": %4, \"own_size\": %5, "
             "\"reason\": %6, \"lossless\": %7%8}")
      .arg(JsonString(FileNameOf(page.Path)))
      .arg(page.Size.width())
      .arg(page.Size.height())
      .arg(
          readable
              ? QStringLiteral("[%1, %2, %3, %4]").arg(c.Left).arg(c.Top).arg(c.Right).arg(c.Bottom)
              : QStringLiteral("null"))
      .arg(page.Own != OwnSizeReason::None || !readable ? "true" : "false")
      .arg(reason != nullptr ? JsonString(QString::fromLatin1(reason)) : QStringLiteral("null"))
      .arg(page.Lossless ? "true" : "false")
      .arg(readable ? TurnFields(page) : QString());
}

class ShellWindow : public PageWindow {
 public:
  ShellWindow(EditState& state, QString thresholdText, bool gray, bool dryRun)
      : state_(state), thresholdText_(std::move(thresholdText)), gray_(gray), dryRun_(dryRun) {}

  bool AnyPageFailed() const { return anyPageFailed_; }

  QString ThresholdText() const override { return thresholdText_; }
  bool GrayChosen() const override { return gray_; }
  void ShowLeft(const PageRaster&) override {}
  void ShowRight(const PageRaster&) override {}
  void MarkUnreadable(const Result&) override {}
  void SetTitle(const QString&) override {}
  // The only notice a batch gives is of pages it cannot reach (names that
  // cannot be read): not every page was trimmed.
  void ShowNotice(const QString& text) override {
    anyPageFailed_ = true;
    PrintLine(text);
  }
  bool ReportSaveFailure(const QString& path, const Result& why, bool) override {
    anyPageFailed_ = true;
    PrintLine(QStringLiteral("%1: 保存できませんでした: %2").arg(path, ReasonText(why)));
    return false;
  }
  // A batch deletes and restores nothing; were it to fail at that, it would
  // say so as the window does.
  void ReportFailure(FileCommand command, const Result& why) override {
    ShowNotice(FailureNotice(command, why));
  }
  void ReportPagesNotRestored(const std::vector<PageNotRestored>& pages) override {
    ShowNotice(NotRestoredNotice(pages));
  }
  void ShowBatchProgress(int pagesDone, int pageCount) override {
    // A dry run writes nothing, and its lines are the plan.
    if (pagesDone > 0 && !dryRun_)
      PrintLine(QStringLiteral("%1/%2 %3")
                    .arg(pagesDone)
                    .arg(pageCount)
                    .arg(FileNameOf(state_.CurrentPath)));
  }
  // After the progress lines, one line per page to check; they are written
  // like every other page, so the exit status does not change.
  void ReportPagesToCheck(const std::vector<PageToCheck>& pages) override {
    const auto size = [](QSize s) {
      return QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
    };
    for (const PageToCheck& page : pages) {
      QString line = QStringLiteral("check: %1 %2 -> %3")
                         .arg(FileNameOf(page.Path), size(page.Before), size(page.After));
      if (page.Own != OwnSizeReason::None)
        line += QStringLiteral(": ") + OwnSizeReasonText(page.Own);
      if (page.Unsure != SkewDoubt::None) {
        line += QStringLiteral(": 傾きを確かめられないため回していません（%1）")
                    .arg(SkewDoubtText(page.Unsure));
      }
      PrintLine(line);
    }
  }
  void ReportPageDone(const PageOutcome& page) override {
    if (dryRun_)
      std::printf("%s\n", DryRunLine(page).toUtf8().constData());
  }
  void PumpEvents() override {
    if (interrupted.load() && state_.RunningBatch != nullptr)
      state_.RunningBatch->RequestCancel();
  }
  void LockCommands() override {}
  void UnlockCommands() override {}

 private:
  EditState& state_;
  QString thresholdText_;
  bool gray_;
  bool dryRun_;
  bool anyPageFailed_ = false;
};

constexpr int BadArguments = 2;

int Refuse(const QString& message) {
  PrintLine(QStringLiteral("pagetrim: %1").arg(message));
  return BadArguments;
}

std::optional<BatchKind> KindNamed(const QString& name) {
  if (name == u"lr")
    return BatchKind::LeftRight;
  if (name == u"lrn")
    return BatchKind::LeftRightNormalise;
  if (name == u"tb")
    return BatchKind::TopBottom;
  if (name == u"auto")
    return BatchKind::Auto;
  if (name == u"deskew")
    return BatchKind::Deskew;
  return std::nullopt;
}

}  // namespace

void DescribeCommandLine(QCommandLineParser& parser) {
  parser.setApplicationDescription(QStringLiteral(
      "Trims the blank margins of scanned book pages.\n\n"
      "With a PAGE, opens its folder in the window and shows that page.\n"
      "With --batch, trims every page of PAGE's folder without a window, as the\n"
      "window's batches do, and writes each page over its file:\n"
      "  lr     cut left and right margins (全頁左右削除)\n"
      "  lrn    the same, then pad to the 0.707 page ratio (同左+整形)\n"
      "  tb     cut top and bottom margins (全頁上下余白削除)\n"
      "  auto   cut each page to its content, found on the page itself, the pages of\n"
      "         each side of the book to one size, each turned straight first\n"
      "         (全頁自動削除)\n"
      "  deskew turn each page straight where its turn is sure (全頁傾き補正)\n"
      "Progress and failures go to standard error. Exit status: 0 when every page\n"
      "was saved, 1 when any page failed, 2 for bad arguments, 130 when stopped by\n"
      "Ctrl-C, which stops after the page in hand.\n\n"
      "Example, trimming every book (a folder of pages) under scans/, four at a time:\n"
      "  for book in scans/*/; do set -- \"$book\"*.jpg; echo \"$1\"; done |\n"
      "    xargs -d '\\n' -n 1 -P 4 pagetrim --batch lr"));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addOption(
      {QStringLiteral("batch"),
       QStringLiteral("Trim every page of PAGE's folder: lr, lrn, tb, auto or deskew."),
       QStringLiteral("kind")});
  parser.addOption({QStringLiteral("threshold"),
                    QStringLiteral("Threshold of the black-and-white analysis image "
                                   "(default: the stored setting)."),
                    QStringLiteral("N")});
  parser.addOption({QStringLiteral("gray"),
                    QStringLiteral("Find ink in the gray analysis image (default: the stored "
                                   "setting).")});
  parser.addOption({QStringLiteral("dry-run"),
                    QStringLiteral("Write nothing: print, on standard output, one JSON object per "
                                   "page and line saying what the batch would do with it.")});
  parser.addOption({QStringLiteral("each-page"),
                    QStringLiteral("For auto: cut each page to its own content, rather than "
                                   "giving the pages of each side one size (default: the stored "
                                   "setting).")});
  parser.addOption({QStringLiteral("no-deskew"),
                    QStringLiteral("For auto: leave pages turned as they are (default: the "
                                   "stored setting).")});
  parser.addOption({QStringLiteral("sample-column"),
                    QStringLiteral("For tb: the column that samples the background "
                                   "(default 0)."),
                    QStringLiteral("N")});
  parser.addPositionalArgument(QStringLiteral("page"),
                               QStringLiteral("A page file (JPEG or PNG) of the folder."),
                               QStringLiteral("[page]"));
}

bool NeedsNoWindow(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const QByteArray argument(argv[i]);
    if (argument == "--batch" || argument.startsWith("--batch=") || argument == "--help" ||
        argument == "-h" || argument == "--help-all" || argument == "--version" ||
        argument == "-v") {
      return true;
    }
  }
  return false;
}

int RunShellBatch(const QStringList& arguments) {
  QCommandLineParser parser;
  DescribeCommandLine(parser);
  if (!parser.parse(arguments))
    return Refuse(parser.errorText());
  if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
    parser.showHelp(0);
  if (parser.isSet(QStringLiteral("version")))
    parser.showVersion();
  const std::optional<BatchKind> kind = KindNamed(parser.value(QStringLiteral("batch")));
  if (!kind) {
    return Refuse(QStringLiteral("--batch takes lr, lrn, tb, auto or deskew, not '%1'")
                      .arg(parser.value(QStringLiteral("batch"))));
  }
  const QStringList pages = parser.positionalArguments();
  if (pages.size() != 1)
    return Refuse(QStringLiteral("--batch needs exactly one PAGE, not %1").arg(pages.size()));
  const QString page = QFileInfo(pages.front()).absoluteFilePath();
  if (!IsPageFile(page))
    return Refuse(QStringLiteral("PAGE '%1' is not a JPEG or PNG page file").arg(pages.front()));
  if (!QFileInfo(page).isFile())
    return Refuse(QStringLiteral("PAGE '%1' is not a file that can be read").arg(pages.front()));

  const StoredSettings stored = StoredSettings::Read(ProgramSettingsPath());
  QString threshold = stored.ThresholdText;
  if (parser.isSet(QStringLiteral("threshold"))) {
    threshold = parser.value(QStringLiteral("threshold"));
    if (!ParseInteger(threshold))
      return Refuse(QStringLiteral("--threshold takes an integer, not '%1'").arg(threshold));
  }
  if (parser.isSet(QStringLiteral("each-page")) && *kind != BatchKind::Auto)
    return Refuse(QStringLiteral("--each-page is for --batch auto only"));
  if (parser.isSet(QStringLiteral("no-deskew")) && *kind != BatchKind::Auto)
    return Refuse(QStringLiteral("--no-deskew is for --batch auto only"));
  EditState state;
  state.KeepOriginals = stored.KeepOriginals;
  state.OneSizePerSide = stored.OneSizePerSide && !parser.isSet(QStringLiteral("each-page"));
  state.TurnPagesStraight = stored.TurnPagesStraight && !parser.isSet(QStringLiteral("no-deskew"));
  if (parser.isSet(QStringLiteral("sample-column"))) {
    const QString column = parser.value(QStringLiteral("sample-column"));
    const std::optional<std::int32_t> value = ParseInteger(column);
    if (*kind != BatchKind::TopBottom)
      return Refuse(QStringLiteral("--sample-column is for --batch tb only"));
    if (!value)
      return Refuse(QStringLiteral("--sample-column takes an integer, not '%1'").arg(column));
    state.SampleColumn = *value;
  }
  const bool dryRun = parser.isSet(QStringLiteral("dry-run"));
  ShellWindow window(state, threshold, parser.isSet(QStringLiteral("gray")) || stored.GrayChosen(),
                     dryRun);

  CatchInterrupts();
  // This process lives for one batch: every page buffer it uses is fresh.
  // Measured on 20 to 40 pages, a first touch in 4 KiB pages costs less
  // than huge pages save afterwards.
  SetHugePageBuffers(false);
  try {
    // Nothing is shown here: no page is read but to be trimmed.
    if (!OpenPageSetUnshown(state, window, page))
      return Refuse(QStringLiteral("PAGE '%1' is not among its folder's pages").arg(page));
    BatchOptions options;
    options.ShowStartPageAtEnd = false;
    options.DryRun = dryRun;
    RunPageBatch(state, window, *kind, options);
  } catch (const ShownError& error) {
    PrintLine(QStringLiteral("pagetrim: %1").arg(error.Text()));
    return 1;
  } catch (const std::exception& error) {
    PrintLine(QStringLiteral("pagetrim: %1").arg(QString::fromLocal8Bit(error.what())));
    return 1;
  }
  if (interrupted.load())
    return 130;
  return window.AnyPageFailed() ? 1 : 0;
}

}  // namespace pagetrim
