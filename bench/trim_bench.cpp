// Times the four margin trims and normalisation on an A4 page at 300 dpi,
// next to one full raster copy made in the same run.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "edit_state.h"
#include "margin_scan.h"
#include "page_window.h"
#include "trim_commands.h"

namespace pagetrim {
namespace {

constexpr int PageWidth = 2480;
constexpr int PageHeight = 3508;
constexpr int Repetitions = 9;

// Off-white paper with margins of 150 to 300 pixels and lines of dark
// letter-sized blobs in between, like a scanned page of text.
PageRaster MakePage() {
  std::mt19937 rng(5);
  PageRaster page(PageWidth, PageHeight);
  for (int y = 0; y < PageHeight; ++y) {
    std::uint8_t* row = page.Row(y);
    for (int x = 0; x < PageWidth; ++x) {
      row[3 * x] = 236;
      row[3 * x + 1] = 240;
      row[3 * x + 2] = 242;
    }
  }
  const int left = 213, right = PageWidth - 187, top = 251, bottom = PageHeight - 163;
  for (int lineTop = top; lineTop + 40 <= bottom; lineTop += 60) {
    for (int x = left; x + 30 <= right; x += 36 + int(rng() % 8)) {
      const int glyphHeight = 24 + int(rng() % 16);
      for (int y = lineTop; y < lineTop + glyphHeight; ++y) {
        std::uint8_t* row = page.Row(y);
        for (int gx = x; gx < x + 26; ++gx) {
          if ((gx + y) % 3 == 0)
            continue;
          row[3 * gx] = row[3 * gx + 1] = row[3 * gx + 2] = std::uint8_t(rng() % 60);
        }
      }
    }
  }
  return page;
}

using Clock = std::chrono::steady_clock;

// Median of several runs, each on fresh copies made outside the timing.
double MedianMs(const std::function<void()>& prepare, const std::function<void()>& run) {
  std::vector<double> times;
  for (int i = 0; i < Repetitions; ++i) {
    prepare();
    const auto start = Clock::now();
    run();
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

int Main() {
  const PageRaster page = MakePage();
  PageRaster gray(PageWidth, PageHeight), binary(PageWidth, PageHeight);
  MakeAnalysisImages(page, gray, binary, 128);

  EditState state;
  NoDisplay window;  // the right view is not part of what is measured
  auto fresh = [&] { state.Edit = PageEdit(page, binary); };
  const ColourValue paper = binary.PixelAt(5, 5);

  // Copies share pixels until written, so the yardstick writes one pixel of
  // the copy: that makes it take every pixel of the page for its own.
  PageRaster copy;
  const double fullCopy = MedianMs([&] { copy = PageRaster(); },
                                   [&] {
                                     copy.AssignFrom(page);
                                     copy.Row(0)[0] = 0;
                                   });

  struct Row {
    const char* Name;
    std::function<void()> Scan;
    std::function<void()> Command;
  };
  const Row rows[] = {
      {"left", [&] { ScanFromLeft(state.Edit.AnalysisPage(), 5, paper); },
       [&] { TrimLeftMargin(state, window, 5, 5); }},
      {"right", [&] { ScanFromRight(state.Edit.AnalysisPage(), PageWidth - 5, paper); },
       [&] { TrimRightMargin(state, window, PageWidth - 5, 5); }},
      {"top", [&] { ScanFromTop(state.Edit.AnalysisPage(), 5, paper); },
       [&] { TrimTopMargin(state, window, 5, 5); }},
      {"bottom", [&] { ScanFromBottom(state.Edit.AnalysisPage(), PageHeight - 5, paper); },
       [&] { TrimBottomMargin(state, window, PageHeight - 5, 5); }},
  };

  std::printf("page %d x %d, median of %d runs\n", PageWidth, PageHeight, Repetitions);
  std::printf("%-26s %8.2f ms\n", "copy of every pixel", fullCopy);
  for (const Row& row : rows) {
    const double scan = MedianMs(fresh, row.Scan);
    const double command = MedianMs(fresh, row.Command);
    std::printf("trim %-8s scan %6.3f ms   whole trim %6.2f ms   (%4.2f copies)\n", row.Name, scan,
                command, command / fullCopy);
  }
  const double normalize = MedianMs(fresh, [&] { NormalizePage(state, window); });
  std::printf("%-26s %8.2f ms   (%4.2f copies)\n", "NormalizePage", normalize,
              normalize / fullCopy);
  return 0;
}

}  // namespace
}  // namespace pagetrim

int main() {
  return pagetrim::Main();
}
