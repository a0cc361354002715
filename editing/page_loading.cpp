// Reading and analysing a page in one pass.
#include "page_loading.h"

#include <QFileInfo>

#include "integer_text.h"

namespace pagetrim {

AnalysisChoice ChoiceOf(const AnalysisChoices& choices) {
  return {choices.GrayChosen(), ThresholdFromText(choices.ThresholdText())};
}

namespace {

// A gray page is its own gray image, and a page of only 0 and 255 its own
// black-and-white image at any threshold from 1 to 255: no analysis image
// needs to be made for them.
bool IsOwnAnalysis(const PageRaster& page, bool bitonal, AnalysisChoice choice) {
  if (page.Format() != PixelFormat::Gray8)
    return false;
  return choice.Gray || (bitonal && choice.Threshold >= 1 && choice.Threshold <= 255);
}

}  // namespace

LoadedPage ReadPage(const QString& path, AnalysisChoice choice, const std::atomic<bool>* cancel,
                    const ReadFor& wants) {
  LoadedPage page;
  page.Path = path;
  page.Choice = choice;
  std::shared_ptr<PageReduction> reduction;
  if (wants.Content)
    reduction = std::make_shared<PageReduction>();
  std::optional<SideTrimScan> sides;
  if (wants.SideTrims)
    sides.emplace(choice);
  const QSize reducedFor = wants.Views;
  // The analysis image and the reduced picture are made row by row as the
  // decoder delivers the rows, while they are still cached.
  ReadOptions options;
  options.Cancel = cancel;
  options.RowsDecoded = [&](const PageRaster& raster, int first, int count, bool bitonal) {
    if (first == 0) {
      page.Reduced.Step =
          ReductionStep(raster.Width(), raster.Height(), reducedFor.width(), reducedFor.height());
      page.Reduced.Region = {0, 0, raster.Width(), raster.Height()};
    }
    if (page.Reduced.Step > 0)
      ReduceRows(raster, page.Reduced.Pixels, page.Reduced.Step, first, count);
    if (reduction)
      reduction->AddRows(raster, first, count);
    if (sides)
      sides->AddRows(raster, first, count);
    if (!wants.Analysis || IsOwnAnalysis(raster, bitonal, choice))
      return;
    if (first == 0)
      page.Analysis.ResetForOverwrite(raster.Width(), raster.Height(), PixelFormat::Gray8);
    AnalyseRows(raster, choice.Gray ? &page.Analysis : nullptr,
                choice.Gray ? nullptr : &page.Analysis, choice.Threshold, first, count);
  };
  page.File = ReadPageFile(path, page.Page, options);
  if (!page.File.Decoded()) {
    page.Analysis = PageRaster();
    page.Reduced = ReducedPicture();
  } else {
    if (IsOwnAnalysis(page.Page, page.File.Bitonal, choice))
      page.Analysis = page.Page;
    page.Reduction = std::move(reduction);
    if (sides && sides->Covers(page.Page))
      page.SideTrimsKept = sides->Kept();
  }
  return page;
}

PageRaster AnalysisImageOf(const PageRaster& page, bool bitonal, AnalysisChoice choice) {
  PageRaster analysis;
  if (page.IsEmpty())
    return analysis;
  if (IsOwnAnalysis(page, bitonal, choice))
    return page;
  if (choice.Gray) {
    MakeGrayImage(page, analysis);
  } else {
    MakeBinaryImage(page, analysis, choice.Threshold);
  }
  return analysis;
}

void Reanalyse(LoadedPage& page, AnalysisChoice choice) {
  page.Choice = choice;
  page.Analysis = AnalysisImageOf(page.Page, page.File.Bitonal, choice);
}

std::size_t EstimatePageBytes(const QString& path) {
  const std::optional<PageSize> size = ReadPageSize(path);
  if (!size) {
    // Whatever it is, the file is read whole before the decoder says no.
    const QFileInfo file(path);
    return file.isFile() ? std::size_t(file.size()) : 0;
  }
  const std::size_t pixels = std::size_t(size->Width) * std::size_t(size->Height);
  // The page, its analysis image, and at worst as much again for the
  // encoded file; a progressive JPEG's decoder also holds two bytes for each
  // of its samples.
  const std::size_t channels = std::size_t(size->Channels);
  std::size_t bytes = pixels * (2 * channels + 1) + std::size_t(size->FileBytes);
  if (size->Progressive)
    bytes += pixels * 2 * std::size_t(size->Components);
  return bytes;
}

std::size_t PageBytes(const LoadedPage& page) {
  const auto bytes = [](const PageRaster& r) { return r.RowBytes() * std::size_t(r.Height()); };
  return bytes(page.Page) + (page.Analysis.SharesPixelsWith(page.Page) ? 0 : bytes(page.Analysis)) +
         std::size_t(page.File.Source.Bytes.size());
}

}  // namespace pagetrim
