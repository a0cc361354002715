// Kept originals: what the store holds after saves, removals and restores,
// and what a process killed at each step of a change leaves on disk.
#include "original_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "page_codec.h"
#include "pages/image_fixtures.h"

namespace pagetrim {
namespace {

using fixtures::Bytes;
using fixtures::ReadBytes;

PageRaster Flat(std::uint8_t value) {
  PageRaster raster(16, 16, PixelFormat::Gray8);
  for (int y = 0; y < raster.Height(); ++y)
    std::memset(raster.Row(y), value, raster.RowBytes());
  return raster;
}

ino_t InodeOf(const QString& path) {
  struct stat info {};
  return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

bool Exists(const QString& path) {
  struct stat info {};
  return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

// Saves a page of one gray value over path, keeping its original.
SaveResult SaveKeeping(const QString& path, std::uint8_t value) {
  return SavePage(path, Flat(value), 300, 300, {IdentityOf(path), true, {}});
}

// Hard links or copies; marks on the files pagetrim writes, or notes.
struct StoreMode {
  bool Copies;
  bool Notes;
};

class OriginalStoreTest : public ::testing::TestWithParam<StoreMode> {
 protected:
  void SetUp() override {
    SetHardLinksDisabled(GetParam().Copies);
    SetAttributesDisabled(GetParam().Notes);
  }
  void TearDown() override {
    SetHardLinksDisabled(false);
    SetAttributesDisabled(false);
  }
  bool Copying() const { return GetParam().Copies; }
  QString Folder() const { return dir_.path() + "/"; }
  // A page of its own first version, value v; returns its bytes.
  Bytes MakePage(const QString& name, std::uint8_t value) {
    EXPECT_EQ(SavePage(Folder() + name, Flat(value), 300, 300), SaveOutcome::Written);
    return ReadBytes(Folder() + name);
  }

  QTemporaryDir dir_;
};

TEST_P(OriginalStoreTest, FirstVersionIsKeptOnce) {
  const QString page = Folder() + "p.jpg";
  const Bytes first = MakePage("p.jpg", 10);
  const ino_t firstInode = InodeOf(page);
  for (std::uint8_t value : {50, 100, 150}) {
    SCOPED_TRACE(int(value));
    ASSERT_EQ(SaveKeeping(page, value), SaveOutcome::Written);
    EXPECT_NE(ReadBytes(page), first);
    EXPECT_EQ(ReadBytes(KeptOriginalOf(page)), first);
  }
  // A link keeps the very file; a copy is a file of its own.
  EXPECT_EQ(InodeOf(KeptOriginalOf(page)) == firstInode, !Copying());
  const KeptOriginals kept = ListKeptOriginals(Folder());
  EXPECT_EQ(kept.Names, QStringList{"p.jpg"});
  EXPECT_EQ(kept.Bytes, qint64(first.size()));
  EXPECT_TRUE(HasKeptOriginals(Folder()));
}

TEST_P(OriginalStoreTest, RemovedAndChangedPagesComeBack) {
  const QString store = OriginalStoreOf(Folder());
  const Bytes removed = MakePage("removed.jpg", 10);
  const Bytes changedThenRemoved = MakePage("both.jpg", 20);
  const Bytes changed = MakePage("changed.png", 30);
  const Bytes keptOnly = MakePage("kept.jpg", 40);

  ASSERT_TRUE(RemovePageKeepingOriginal(Folder() + "removed.jpg").Ok());
  ASSERT_EQ(SaveKeeping(Folder() + "both.jpg", 21), SaveOutcome::Written);
  ASSERT_TRUE(RemovePageKeepingOriginal(Folder() + "both.jpg").Ok());
  ASSERT_EQ(SaveKeeping(Folder() + "changed.png", 31), SaveOutcome::Written);
  // Kept but never replaced, as a save killed right after keeping leaves it.
  ASSERT_TRUE(KeepOriginal(Folder() + "kept.jpg").Ok());
  EXPECT_FALSE(Exists(Folder() + "removed.jpg"));
  EXPECT_FALSE(Exists(Folder() + "both.jpg"));
  EXPECT_EQ(ReadBytes(KeptOriginalOf(Folder() + "removed.jpg")), removed);
  EXPECT_EQ(ReadBytes(KeptOriginalOf(Folder() + "both.jpg")), changedThenRemoved);
  EXPECT_EQ(ListKeptOriginals(Folder()).Count(), 4);

  ASSERT_TRUE(RestoreOriginal(Folder() + "changed.png").Ok());
  EXPECT_EQ(ReadBytes(Folder() + "changed.png"), changed);
  EXPECT_FALSE(HasKeptOriginal(Folder() + "changed.png"));
  ASSERT_TRUE(RestoreOriginal(Folder() + "kept.jpg").Ok());
  EXPECT_EQ(ReadBytes(Folder() + "kept.jpg"), keptOnly);
  EXPECT_FALSE(HasKeptOriginal(Folder() + "kept.jpg"));
  EXPECT_TRUE(QDir(store).exists());

  ASSERT_TRUE(RestoreAllOriginals(Folder()).empty());
  EXPECT_EQ(ReadBytes(Folder() + "removed.jpg"), removed);
  EXPECT_EQ(ReadBytes(Folder() + "both.jpg"), changedThenRemoved);
  EXPECT_FALSE(QDir(store).exists());
  EXPECT_FALSE(HasKeptOriginals(Folder()));

  ASSERT_EQ(SaveKeeping(Folder() + "changed.png", 32), SaveOutcome::Written);
  const Bytes saved = ReadBytes(Folder() + "changed.png");
  ASSERT_TRUE(DiscardKeptOriginals(Folder()).Ok());
  EXPECT_FALSE(QDir(store).exists());
  EXPECT_EQ(ListKeptOriginals(Folder()).Count(), 0);
  EXPECT_EQ(ReadBytes(Folder() + "changed.png"), saved);
}

TEST_P(OriginalStoreTest, UnwritableStoreLeavesThePageAlone) {
  const QString page = Folder() + "p.jpg";
  const Bytes first = MakePage("p.jpg", 10);
  ASSERT_TRUE(fixtures::WriteBytes(Folder() + OriginalStoreName, Bytes{'x'}));
  const SaveResult saved = SaveKeeping(page, 60);
  EXPECT_EQ(saved, SaveOutcome::WriteFailed);
  EXPECT_EQ(saved, Result::CannotKeep(Result::FromError(ENOTDIR)));
  EXPECT_FALSE(RemovePageKeepingOriginal(page).Ok());
  EXPECT_EQ(ReadBytes(page), first);
}

TEST_P(OriginalStoreTest, LinkedPageKeepsItsTargetsContent) {
  ASSERT_TRUE(QDir(Folder()).mkdir("scans"));
  const Bytes first = MakePage("scans/target.jpg", 10);
  const QString page = Folder() + "page.jpg";
  ASSERT_EQ(::symlink("scans/target.jpg", QFile::encodeName(page).constData()), 0);

  ASSERT_EQ(SaveKeeping(page, 70), SaveOutcome::Written);
  EXPECT_TRUE(QFileInfo(page).isSymLink());
  const Bytes saved = ReadBytes(Folder() + "scans/target.jpg");
  EXPECT_NE(saved, first);
  EXPECT_EQ(ReadBytes(KeptOriginalOf(page)), first);
  EXPECT_EQ(ListKeptOriginals(Folder()).Names, QStringList{"page.jpg"});

  ASSERT_TRUE(RestoreOriginal(page).Ok());
  EXPECT_TRUE(QFileInfo(page).isSymLink());
  EXPECT_EQ(ReadBytes(Folder() + "scans/target.jpg"), first);
  EXPECT_FALSE(HasKeptOriginals(Folder()));
}

// A book copied as a plain `cp -r` or a memory card copies it: no extended
// attributes, every file with a new inode and time. Trimmed again in the
// copy, its pages are still the ones pagetrim wrote, and restoring gives
// back the first scans; a change another program makes there afterwards is
// still another program's.
TEST_P(OriginalStoreTest, KeptOriginalsSurviveAPlainCopy) {
  const QStringList names = {"a.jpg", "b.png", "c.jpg"};
  std::vector<Bytes> first;
  for (int i = 0; i < names.size(); ++i) {
    first.push_back(MakePage(names[i], std::uint8_t(10 + i)));
    ASSERT_EQ(SaveKeeping(Folder() + names[i], std::uint8_t(50 + i)), SaveOutcome::Written);
    ASSERT_EQ(SaveKeeping(Folder() + names[i], std::uint8_t(60 + i)), SaveOutcome::Written);
  }
  QTemporaryDir elsewhere;
  const QString copy = elsewhere.path() + "/book/";
  ASSERT_EQ(std::system(QFile::encodeName("cp -r " + Folder() + " " + copy).constData()), 0);
  for (int i = 0; i < names.size(); ++i)
    ASSERT_EQ(SaveKeeping(copy + names[i], std::uint8_t(70 + i)), SaveOutcome::Written);
  EXPECT_FALSE(QFileInfo::exists(OriginalStoreOf(copy) + ".pagetrim-older"));

  // Another program's file of the same size in c.jpg's place.
  Bytes theirs = ReadBytes(copy + "c.jpg");
  theirs[theirs.size() / 2] ^= 0xff;
  ASSERT_TRUE(fixtures::WriteBytes(copy + "c.jpg", theirs));
  const std::vector<PageNotRestored> left = RestoreAllOriginals(copy);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].Name, "c.jpg");
  EXPECT_EQ(left[0].Result, Result::Failed(Reason::ChangedElsewhere));
  EXPECT_EQ(ReadBytes(copy + "a.jpg"), first[0]);
  EXPECT_EQ(ReadBytes(copy + "b.png"), first[1]);
  EXPECT_EQ(ReadBytes(copy + "c.jpg"), theirs);
  EXPECT_EQ(ReadBytes(KeptOriginalOf(copy + "c.jpg")), first[2]);
}

// An edit of a page pagetrim wrote, by another program that writes into the
// file and keeps its size, and in the second case puts its modification time
// back as `touch -r` does: the page keeps its inode, size and time, but not
// the bytes pagetrim wrote, so it is another program's file. Restoring leaves
// it alone, and a later save keeps it, with the first original set aside.
TEST_P(OriginalStoreTest, AnEditOfTheSameSizeIsAnotherProgramsFile) {
  for (const bool timePutBack : {false, true}) {
    SCOPED_TRACE(timePutBack ? "time put back" : "time moved on");
    QTemporaryDir dir;
    const QString page = dir.path() + "/p.jpg";
    ASSERT_EQ(SavePage(page, Flat(10), 300, 300), SaveOutcome::Written);
    const Bytes first = ReadBytes(page);
    ASSERT_EQ(SaveKeeping(page, 50), SaveOutcome::Written);
    struct stat written {};
    ASSERT_EQ(::stat(QFile::encodeName(page).constData(), &written), 0);

    Bytes edited = ReadBytes(page);
    edited[edited.size() / 2] ^= 0x55;
    QFile file(page);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_EQ(file.write(reinterpret_cast<const char*>(edited.data()), qint64(edited.size())),
              qint64(edited.size()));
    file.close();
    timespec times[2] = {written.st_atim, written.st_mtim};
    if (!timePutBack)
      times[1].tv_sec += 1;  // whatever the clock's step
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(page).constData(), times, 0), 0);
    struct stat now {};
    ASSERT_EQ(::stat(QFile::encodeName(page).constData(), &now), 0);
    ASSERT_EQ(now.st_ino, written.st_ino);
    ASSERT_EQ(now.st_size, written.st_size);

    EXPECT_EQ(RestoreOriginal(page), Result::Failed(Reason::ChangedElsewhere));
    EXPECT_EQ(ReadBytes(page), edited);
    EXPECT_EQ(ReadBytes(KeptOriginalOf(page)), first);
    ASSERT_EQ(SaveKeeping(page, 60), SaveOutcome::Written);
    EXPECT_EQ(ReadBytes(KeptOriginalOf(page)), edited);
    EXPECT_EQ(ReadBytes(dir.path() + "/" + OriginalStoreName + "/.pagetrim-older/p.jpg.1"), first);
  }
}

// ---- A process killed in the middle of a change -----------------------------

SaveStep killAt;

void KillAtStep(SaveStep step, const QString&) {
  if (step == killAt)
    ::raise(SIGKILL);
}

TEST_P(OriginalStoreTest, KilledChangeNeverLosesTheOriginal) {
  const struct {
    SaveStep Step;
    const char* Name;
  } steps[] = {{SaveStep::OriginalKept, "original kept"},
               {SaveStep::BeforeReplace, "before replace"},
               {SaveStep::Replaced, "replaced"}};
  int leftovers = 0;
  for (const bool removing : {false, true}) {
    // The second page of each folder is changed once before, so that its
    // original is already kept when the process dies.
    for (const bool keptBefore : {false, true}) {
      for (const auto& step : steps) {
        SCOPED_TRACE(::testing::Message() << (removing ? "remove" : "save") << ", "
                                          << (keptBefore ? "kept before" : "first change")
                                          << ", killed at " << step.Name);
        QTemporaryDir folderDir;
        const QString folder = folderDir.path() + "/";
        const QString page = folder + "p.jpg";
        ASSERT_EQ(SavePage(page, Flat(10), 300, 300), SaveOutcome::Written);
        const Bytes original = ReadBytes(page);
        if (keptBefore) {
          ASSERT_EQ(SaveKeeping(page, 20), SaveOutcome::Written);
        }
        const Bytes before = ReadBytes(page);

        const pid_t child = ::fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
          killAt = step.Step;
          SetSaveStepHook(KillAtStep);
          const bool ok =
              removing ? RemovePageKeepingOriginal(page).Ok() : SaveKeeping(page, 90).Ok();
          ::_exit(ok ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        // Nothing is kept when the original is kept already, and removing a
        // page moves it into the store in the same step that removes it.
        const bool noStepAtAll = step.Step == SaveStep::OriginalKept && (removing || keptBefore);
        if (noStepAtAll) {
          EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        } else {
          EXPECT_TRUE(WIFSIGNALED(status)) << "the step was never reported";
        }

        const bool changed = step.Step == SaveStep::Replaced || noStepAtAll;
        if (changed) {
          EXPECT_EQ(Exists(page), !removing);
          if (!removing) {
            EXPECT_NE(ReadBytes(page), before);
          }
        } else {
          EXPECT_EQ(ReadBytes(page), before);
        }
        if (changed || HasKeptOriginal(page)) {
          EXPECT_EQ(ReadBytes(KeptOriginalOf(page)), original);
        }
        for (const QString& name :
             QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
          if (name == "p.jpg" || name == OriginalStoreName)
            continue;
          EXPECT_TRUE(name.startsWith(".pagetrim-")) << name.toStdString();
          ++leftovers;
        }
      }
    }
  }
  // The new page's temporary file stays behind when the process dies just
  // before the rename: hidden, never a page, and the page itself is whole.
  RecordProperty("temporary_files_left", leftovers);
}

// Each step of a save, the process killed there, then a second save and
// everything restored: the page comes back as it first was, whether this was
// its first save, a later one, or the first over another program's file.
TEST_P(OriginalStoreTest, FirstVersionWinsWhereverASaveIsKilled) {
  int kills[int(SaveStep::Replaced) + 1] = {};
  for (int before = 0; before < 3; ++before) {  // nothing, a save, a save and a rescan
    for (int step = 0; step <= int(SaveStep::Replaced); ++step) {
      SCOPED_TRACE(::testing::Message() << before << " before, killed at step " << step);
      QTemporaryDir folder;
      const QString page = folder.path() + "/p.jpg";
      ASSERT_EQ(SavePage(page, Flat(10), 300, 300), SaveOutcome::Written);
      Bytes first = ReadBytes(page);
      if (before > 0) {
        ASSERT_EQ(SaveKeeping(page, 20), SaveOutcome::Written);
      }
      if (before > 1) {
        ASSERT_TRUE(QFile::remove(page));
        ASSERT_EQ(SavePage(page, Flat(30), 300, 300), SaveOutcome::Written);
        first = ReadBytes(page);
      }
      const pid_t child = ::fork();
      if (child == 0) {
        killAt = SaveStep(step);
        SetSaveStepHook(KillAtStep);
        (void)SaveKeeping(page, 90);  // killed at the step: the parent checks the files
        ::_exit(0);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      kills[step] += WIFSIGNALED(status);
      ASSERT_EQ(SaveKeeping(page, 91), SaveOutcome::Written);
      EXPECT_TRUE(RestoreAllOriginals(folder.path() + "/").empty());
      EXPECT_EQ(ReadBytes(page), first);
    }
  }
  for (int step = 0; step <= int(SaveStep::Replaced); ++step)
    EXPECT_GT(kills[step], 0) << "step " << step << " was never reported";
}

INSTANTIATE_TEST_SUITE_P(LinksAndCopies, OriginalStoreTest,
                         ::testing::Values(StoreMode{false, false}, StoreMode{true, false},
                                           StoreMode{false, true}, StoreMode{true, true}),
                         [](const auto& info) {
                           return std::string(info.param.Copies ? "Copies" : "HardLinks") +
                                  (info.param.Notes ? "AndNotes" : "AndAttributes");
                         });

// Where files take attributes, what pagetrim wrote is marked on the file
// itself: the notes may go, and the originals stay first. A copy that carries
// the mark along is another file, and kept as one.
TEST(WrittenMarks, TheFileItselfTellsWhatPagetrimWrote) {
  QTemporaryDir dir;
  const QString folder = dir.path() + "/";
  const auto page = [&](int i) { return folder + QString("p%1.jpg").arg(i); };
  const auto marked = [&](int i) {
    return ::getxattr(QFile::encodeName(page(i)).constData(), "user.pagetrim.written", nullptr, 0) >
           0;
  };
  std::vector<Bytes> first;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(SavePage(page(i), Flat(10 + i), 300, 300), SaveOutcome::Written);
    first.push_back(ReadBytes(page(i)));
  }
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(SaveKeeping(page(i), 100 + round), SaveOutcome::Written);
    }
    if (!marked(0))
      GTEST_SKIP() << "the test folder's file system takes no extended attributes";
    QDir(OriginalStoreOf(folder) + ".pagetrim-written").removeRecursively();
  }
  ASSERT_EQ(std::system(QFile::encodeName("cp -a " + page(0) + " " + page(2)).constData()), 0);
  const Bytes copied = ReadBytes(page(2));
  ASSERT_EQ(SaveKeeping(page(2), 200), SaveOutcome::Written);

  EXPECT_TRUE(RestoreAllOriginals(folder).empty());
  EXPECT_EQ(ReadBytes(page(0)), first[0]);
  EXPECT_EQ(ReadBytes(page(1)), first[1]);
  EXPECT_EQ(ReadBytes(page(2)), copied);
  // A file pagetrim wrote, kept once the store was discarded, is a first
  // version again when it is restored.
  ASSERT_EQ(SaveKeeping(page(1), 120), SaveOutcome::Written);
  ASSERT_TRUE(DiscardKeptOriginals(folder).Ok());
  ASSERT_EQ(SaveKeeping(page(1), 130), SaveOutcome::Written);
  ASSERT_TRUE(RestoreOriginal(page(1)).Ok());
  EXPECT_FALSE(marked(1));

  // A book moved with its attributes, every file with a new inode: the
  // pages are still the ones pagetrim wrote, and their originals stay first.
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(SaveKeeping(page(i), 140 + i), SaveOutcome::Written);
  const std::vector<Bytes> kept = {ReadBytes(KeptOriginalOf(page(0))),
                                   ReadBytes(KeptOriginalOf(page(1))),
                                   ReadBytes(KeptOriginalOf(page(2)))};
  QTemporaryDir elsewhere;
  const QString moved = elsewhere.path() + "/book/";
  ASSERT_EQ(std::system(QFile::encodeName("cp -a " + folder + ". " + moved).constData()), 0);
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(SaveKeeping(moved + QString("p%1.jpg").arg(i), 150 + i), SaveOutcome::Written);
  EXPECT_TRUE(RestoreAllOriginals(moved).empty());
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(ReadBytes(moved + QString("p%1.jpg").arg(i)), kept[i]) << i;
}

// Notes of earlier versions: a line of four fields knows the file by its
// identity, one of five by a SHA-256 of its bytes as well. Both still tell
// the page pagetrim wrote; a line of other bytes does not.
TEST(WrittenMarks, NotesOfEarlierVersionsAreStillRead) {
  const struct {
    const char* Name;
    bool Identity;  // four fields, else five with a digest and no identity
    bool SameBytes;
  } rows[] = {{"identity", true, true}, {"digest", false, true}, {"other digest", false, false}};
  SetAttributesDisabled(true);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    QTemporaryDir dir;
    const QString page = dir.path() + "/p.jpg";
    ASSERT_EQ(SavePage(page, Flat(10), 300, 300), SaveOutcome::Written);
    const Bytes first = ReadBytes(page);
    ASSERT_EQ(SaveKeeping(page, 50), SaveOutcome::Written);
    const FileIdentity id = *IdentityOf(page);
    QFile read(page);
    ASSERT_TRUE(read.open(QIODevice::ReadOnly));
    QByteArray bytes = read.readAll();
    if (!row.SameBytes)
      bytes += 'x';
    const QByteArray line =
        row.Identity ? QByteArray::number(id.Device) + ' ' + QByteArray::number(id.Inode) + ' ' +
                           QByteArray::number(id.Size) + ' ' + QByteArray::number(id.ModifiedNs)
                     : "0 0 " + QByteArray::number(id.Size) + " 0 " +
                           QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
    QFile note(OriginalStoreOf(dir.path() + "/") + ".pagetrim-written/p.jpg");
    ASSERT_TRUE(note.open(QIODevice::WriteOnly | QIODevice::Truncate));
    note.write(line + '\n');
    note.close();
    const Result restored = RestoreOriginal(page);
    EXPECT_EQ(restored.Ok(), row.SameBytes);
    EXPECT_EQ(ReadBytes(page) == first, row.SameBytes);
  }
  SetAttributesDisabled(false);
}

}  // namespace
}  // namespace pagetrim
