// A PageWindow that records what the commands asked of it.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <utility>
#include <vector>

#include "page_commands.h"
#include "page_window.h"

namespace pagetrim::test {

class RecordingPageWindow : public PageWindow {
 public:
  QString Threshold = "128";
  bool Gray = false;

  PageRaster Left;
  PageRaster Right;
  int LeftShows = 0;
  int RightShows = 0;
  // Pages passing through a batch are shown reduced for views of this size.
  QSize Views;
  std::vector<std::pair<ReducedPicture, ReducedPicture>> ReducedShows;
  // What MarkUnreadable was last told.
  bool Unreadable = false;
  Result ReadAs;
  QString Title;
  QStringList Notices;
  int SaveFailureReports = 0;
  QStringList SaveFailures;
  std::vector<Result> SaveFailureResults;
  // The failures of commands on files, in order; each is also a notice, as
  // in the window.
  std::vector<std::pair<FileCommand, Result>> Failures;
  // The answer to a save-failure box that offers to stop a batch.
  bool StopOnSaveFailure = false;
  int Pumps = 0;
  int Locks = 0;
  int Unlocks = 0;
  bool Locked = false;
  std::vector<std::pair<int, int>> Progress;
  // What ReportPagesToCheck was given, how often, and whether the commands
  // were still locked then.
  std::vector<PageToCheck> PagesToCheck;
  int PagesToCheckReports = 0;
  bool LockedWhenReported = false;
  // Each page a batch was done with, in the order reported.
  std::vector<PageOutcome> Outcomes;
  // Titles set and save failures reported, in the order they came.
  QStringList Events;
  // Runs on every PumpEvents, as queued window events would.
  std::function<void()> OnPump;

  QString ThresholdText() const override { return Threshold; }
  bool GrayChosen() const override { return Gray; }
  void ShowLeft(const PageRaster& raster) override {
    Left.AssignFrom(raster);
    ++LeftShows;
  }
  void ShowRight(const PageRaster& raster) override {
    Right.AssignFrom(raster);
    ++RightShows;
  }
  QSize ViewSize() const override { return Views; }
  void ShowReduced(const ReducedPicture& left, const ReducedPicture& right) override {
    ReducedShows.emplace_back(left, right);
  }
  void MarkUnreadable(const Result& why) override {
    Unreadable = !why.Ok();
    ReadAs = why;
  }
  void SetTitle(const QString& text) override {
    Title = text;
    Events.append("title " + text);
  }
  void ShowNotice(const QString& text) override { Notices.append(text); }
  bool ReportSaveFailure(const QString& path, const Result& why, bool canStop) override {
    ++SaveFailureReports;
    Events.append("failed " + path);
    SaveFailures.append(path);
    SaveFailureResults.push_back(why);
    return canStop && StopOnSaveFailure;
  }
  void ReportFailure(FileCommand command, const Result& why) override {
    Failures.emplace_back(command, why);
    ShowNotice(FailureNotice(command, why));
  }
  void ReportPagesNotRestored(const std::vector<PageNotRestored>& pages) override {
    ShowNotice(NotRestoredNotice(pages));
  }
  void PumpEvents() override {
    ++Pumps;
    if (OnPump)
      OnPump();
  }
  void LockCommands() override {
    ++Locks;
    Locked = true;
  }
  void UnlockCommands() override {
    ++Unlocks;
    Locked = false;
  }
  void ShowBatchProgress(int done, int count) override { Progress.emplace_back(done, count); }
  void ReportPageDone(const PageOutcome& page) override { Outcomes.push_back(page); }
  void ReportPagesToCheck(const std::vector<PageToCheck>& pages) override {
    PagesToCheck = pages;
    ++PagesToCheckReports;
    LockedWhenReported = Locked;
  }
};

}  // namespace pagetrim::test
