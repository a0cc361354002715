// Runs every single-page command of the window on every page of a folder and
// prints what each would write: scripts/identity compares these lines between
// two builds, so that a change meant to keep behaviour can be shown to.
// usage: command_digests FOLDER
// Each page is written over its file with keeping off, its digest printed,
// and its bytes put back before the next command.
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

#include "editing/recording_page_window.h"
#include "page_commands.h"
#include "page_files.h"
#include "trim_commands.h"

using namespace pagetrim;

// The same tool builds against older trees, whose editing state held the
// working page itself, so that both sides of a comparison run it.
#if __has_include("page_edit.h")
#define PAGE_OF(state, field) (state).Edit.field()
#else
#define PAGE_OF(state, field) (state).field
#endif

namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: command_digests FOLDER\n");
    return 2;
  }
  const QDir folder(QFile::decodeName(argv[1]));
  QStringList names = folder.entryList(QDir::Files, QDir::Name);
  using Command = std::function<void(EditState&, test::RecordingPageWindow&)>;
  const auto at = [](auto trim, double fx, double fy) {
    return [trim, fx, fy](EditState& s, test::RecordingPageWindow& w) {
      trim(s, w, int(fx * PAGE_OF(s, AnalysisPage).Width()),
           int(fy * PAGE_OF(s, AnalysisPage).Height()));
    };
  };
  const std::vector<std::pair<const char*, Command>> commands = {
      {"lr", [](EditState& s, test::RecordingPageWindow& w) { TrimLeftAndRight(s, w); }},
      {"left", at(TrimLeftAtPoint, 0.002, 0.5)},
      {"left-in", at(TrimLeftAtPoint, 0.3, 0.3)},
      {"right", at(TrimRightAtPoint, 0.998, 0.5)},
      {"top", at(TrimTopAtPoint, 0.5, 0.002)},
      {"top-in", at(TrimTopAtPoint, 0.4, 0.35)},
      {"bottom", at(TrimBottomAtPoint, 0.5, 0.998)},
      {"side-left", at(TrimSideAtPoint, 0.01, 0.5)},
      {"side-right", at(TrimSideAtPoint, 0.99, 0.5)},
      {"auto", [](EditState& s, test::RecordingPageWindow& w) { TrimToContent(s, w); }},
      {"normalise", [](EditState& s, test::RecordingPageWindow& w) { NormalizePage(s, w); }},
      {"lr-normalise",
       [](EditState& s, test::RecordingPageWindow& w) {
         TrimLeftAndRight(s, w);
         NormalizePage(s, w);
       }},
      {"normalise-lr",
       [](EditState& s, test::RecordingPageWindow& w) {
         NormalizePage(s, w);
         TrimLeftAndRight(s, w);
       }},
      {"auto-lr",
       [](EditState& s, test::RecordingPageWindow& w) {
         TrimToContent(s, w);
         TrimLeftAndRight(s, w);
       }},
  };
  struct Choice {
    const char* Name;
    const char* Threshold;
    bool Gray;
  };
  const Choice choices[] = {{"t128", "128", false}, {"t200", "200", false}, {"gray", "128", true}};
  for (const QString& name : names) {
    const QString path = folder.absoluteFilePath(name);
    if (!IsPageFile(path))
      continue;
    const QByteArray original = ReadAll(path);
    for (const Choice& choice : choices) {
      for (const auto& [label, command] : commands) {
        EditState state;
        state.KeepOriginals = false;
        test::RecordingPageWindow window;
        window.Threshold = choice.Threshold;
        window.Gray = choice.Gray;
        if (!OpenPageSet(state, window, path)) {
          std::printf("%s %s %s not-opened\n", qPrintable(name), choice.Name, label);
          continue;
        }
        command(state, window);
        const int width = PAGE_OF(state, WorkingPage).Width();
        const int height = PAGE_OF(state, WorkingPage).Height();
        OverwritePage(state, window);
        const QByteArray written = ReadAll(path);
        std::printf(
            "%s %s %s %dx%d %s%s\n", qPrintable(name), choice.Name, label, width, height,
            QCryptographicHash::hash(written, QCryptographicHash::Sha256).toHex().constData(),
            window.SaveFailures.isEmpty() ? "" : " save-failed");
        if (written != original && !WriteAll(path, original)) {
          std::fprintf(stderr, "command_digests: cannot put %s back\n", qPrintable(path));
          return 1;
        }
      }
    }
  }
  return 0;
}
