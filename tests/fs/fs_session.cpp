// Runs one page command of the window on a page, for the tests on real file
// systems: what the window would show goes to standard output.
// usage: fs_session open|overwrite|restore|restore-all|delete|discard PAGE
// Exit status: 0 when the window would have shown nothing, 1 when it would
// have shown a notice or a failed save, 2 for bad arguments.
#include <QFileInfo>
#include <cstdio>

#include "editing/recording_page_window.h"
#include "page_commands.h"
#include "reason_text.h"
#include "trim_commands.h"

using namespace pagetrim;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr,
                 "usage: fs_session open|overwrite|restore|restore-all|delete|discard PAGE\n");
    return 2;
  }
  const QByteArray command(argv[1]);
  const QString page = QFileInfo(QFile::decodeName(argv[2])).absoluteFilePath();
  EditState state;
  test::RecordingPageWindow window;
  if (!OpenPageSet(state, window, page)) {
    std::fprintf(stderr, "fs_session: %s is not a page\n", argv[2]);
    return 2;
  }
  if (command == "open") {
    // Opening the folder is all: what it sweeps is what is checked.
  } else if (command == "overwrite") {
    // Twice: the second save is over pagetrim's own file.
    for (int save = 0; save < 2; ++save) {
      TrimLeftAndRight(state, window);
      OverwritePage(state, window);
    }
  } else if (command == "restore") {
    RestoreShownPage(state, window);
  } else if (command == "restore-all") {
    RestoreAllPages(state, window);
  } else if (command == "delete") {
    DeletePage(state, window);
  } else if (command == "discard") {
    DiscardOriginals(state, window);
  } else {
    std::fprintf(stderr, "fs_session: no command %s\n", argv[1]);
    return 2;
  }
  for (const QString& notice : window.Notices)
    std::printf("notice: %s\n", notice.toUtf8().constData());
  for (int i = 0; i < window.SaveFailures.size(); ++i) {
    std::printf("not saved: %s: %s\n",
                QFileInfo(window.SaveFailures[i]).fileName().toUtf8().constData(),
                ReasonText(window.SaveFailureResults[std::size_t(i)]).toUtf8().constData());
  }
  return window.Notices.isEmpty() && window.SaveFailures.isEmpty() ? 0 : 1;
}
