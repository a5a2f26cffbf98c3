#include "controls/performance_graph.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <ostream>
#include <set>

#include "controls/control_errors.h"
#include "controls/raster_canvas.h"

namespace qor {
namespace {

constexpr TColor kBlue{0, 0, 255};

// The graph as the main window configures it: 216 x 112, grid 10, step 10, scale 10000 in steps
// of 5000, teal grid.
std::unique_ptr<TPerformanceGraph> MainWindowGraph() {
  auto graph = std::make_unique<TPerformanceGraph>();
  graph->SetSize(216, 112);
  graph->SetGridSize(10);
  graph->SetStepSize(10);
  graph->SetScale(10000);
  graph->SetGradient(5000);
  graph->SetPenWidth(100);
  graph->SetForeColor(clTeal);
  return graph;
}

std::unique_ptr<TPerformanceGraph> PlainBarGraph() {
  auto graph = MainWindowGraph();
  graph->SetGridlines(false);
  graph->SetKind(pgBar);
  return graph;
}

// Rows of column x painted in color, as (first, last); (-1, -1) when none.
std::pair<int32_t, int32_t> RowsIn(const TCanvas& canvas, int32_t x, TColor color) {
  int32_t first = -1;
  int32_t last = -1;
  for (int32_t y = 0; y < canvas.Height(); ++y) {
    if (canvas.Pixel(x, y) != color) continue;
    if (first < 0) first = y;
    EXPECT_TRUE(last < 0 || last == y - 1) << "gap in column " << x << " at row " << y;
    last = y;
  }
  return {first, last};
}

int32_t CountColor(const TCanvas& canvas, TColor color) {
  int32_t count = 0;
  for (int32_t y = 0; y < canvas.Height(); ++y) {
    for (int32_t x = 0; x < canvas.Width(); ++x) count += canvas.Pixel(x, y) == color;
  }
  return count;
}

TEST(PerformanceGraphRing, SizesFollowWidthAndStep) {
  TPerformanceGraph fresh;
  EXPECT_EQ(fresh.Columns().size(), 35u);  // 100 div 3 + 2
  EXPECT_EQ(fresh.Current(), 0);
  EXPECT_EQ(fresh.First(), 1);

  auto graph = MainWindowGraph();
  EXPECT_EQ(graph->BandCount(), 21);
  EXPECT_EQ(graph->Columns().size(), 23u);
}

TEST(PerformanceGraphRing, SeventeenthPointInAColumnIsARangeError) {
  auto graph = PlainBarGraph();
  for (int i = 0; i < 16; ++i) graph->DataPoint(clRed, 100 + i);
  EXPECT_THROW(graph->DataPoint(clRed, 7000), ERangeError);
  EXPECT_EQ(graph->Columns()[static_cast<size_t>(graph->Current())].Count, 16);
  graph->Update();  // the full column is still shown
  EXPECT_EQ(RowsIn(graph->Picture(), 210, clRed).second, 111);
  EXPECT_NO_THROW(graph->DataPoint(clRed, 1));
}

TEST(PerformanceGraphRing, RebuildKeepsTheNewestColumns) {
  auto graph = MainWindowGraph();
  for (int32_t i = 1; i <= 30; ++i) {
    graph->DataPoint(clRed, i * 10);
    graph->Update();
  }
  graph->DataPoint(clYellow, 999);  // the column being filled survives too

  graph->SetStepSize(20);  // 10 bands, 12 columns
  ASSERT_EQ(graph->Columns().size(), 12u);
  EXPECT_EQ(graph->First(), 0);
  EXPECT_EQ(graph->Current(), 11);
  for (size_t i = 0; i < 11; ++i) EXPECT_EQ(graph->Columns()[i].Values[0], 200 + 10 * int(i));
  EXPECT_EQ(graph->Columns()[11].Values[0], 999);

  // Growing and shrinking again before the next Update must not lose anything.
  graph->SetStepSize(5);  // 43 bands
  ASSERT_EQ(graph->Columns().size(), 45u);
  EXPECT_EQ(graph->Columns()[static_cast<size_t>(graph->Current())].Values[0], 999);
  graph->SetSize(116, 112);  // 23 bands, taken up by the next Paint
  TRasterCanvas screen(116, 112);
  graph->Paint(screen);
  ASSERT_EQ(graph->Columns().size(), 25u);
  EXPECT_EQ(graph->Columns()[24].Values[0], 999);
  EXPECT_EQ(graph->Columns()[23].Values[0], 300);
  EXPECT_EQ(graph->Columns()[13].Values[0], 200);
  EXPECT_EQ(graph->Columns()[12].Count, 0);
  EXPECT_EQ(screen.Pixels(), static_cast<const TRasterCanvas&>(graph->Picture()).Pixels());
}

TEST(PerformanceGraphBars, StackWithEachValueTheTopOfItsBar) {
  auto graph = PlainBarGraph();
  graph->DataPoint(clRed, 5000);
  graph->DataPoint(clYellow, 0);  // draws nothing, leaves the base where it was
  graph->DataPoint(kBlue, 7500);
  graph->Update();
  const TCanvas& picture = graph->Picture();
  for (int32_t x : {206, 210, 215}) {
    EXPECT_EQ(RowsIn(picture, x, clRed), std::make_pair(56, 111));  // 5000 -> 56 px
    EXPECT_EQ(RowsIn(picture, x, kBlue), std::make_pair(27, 55));   // top at 112 - 84 - 1
    EXPECT_EQ(picture.Pixel(x, 26), clBlack);
  }
  EXPECT_EQ(CountColor(picture, clYellow), 0);
  EXPECT_EQ(CountColor(picture, clRed), 10 * 56);
}

TEST(PerformanceGraphBars, EachUpdateScrollsTheHistoryLeftByOneStep) {
  auto graph = PlainBarGraph();
  graph->DataPoint(clRed, 6000);
  graph->Update();
  graph->DataPoint(clYellow, 2500);
  graph->Update();
  const TCanvas& picture = graph->Picture();
  EXPECT_EQ(RowsIn(picture, 196, clRed), std::make_pair(44, 111));  // 67 px
  EXPECT_EQ(RowsIn(picture, 205, clRed), std::make_pair(44, 111));
  EXPECT_EQ(RowsIn(picture, 195, clRed), std::make_pair(-1, -1));
  EXPECT_EQ(RowsIn(picture, 206, clYellow), std::make_pair(83, 111));
  EXPECT_EQ(RowsIn(picture, 206, clRed), std::make_pair(-1, -1));
}

TEST(PerformanceGraphLines, ContinueFromTheSameColourInThePreviousColumn) {
  auto graph = MainWindowGraph();
  graph->SetGridlines(false);
  graph->DataPoint(clRed, 5600);
  graph->Update();
  graph->DataPoint(clRed, 5600);
  graph->DataPoint(clYellow, 2500);  // absent before: rises from 0
  graph->Update();
  const TCanvas& picture = graph->Picture();
  for (int32_t x = 206; x < 216; ++x) EXPECT_EQ(RowsIn(picture, x, clRed), std::make_pair(49, 49));
  EXPECT_EQ(picture.Pixel(206, 111), clYellow);
  // It climbs towards row 84 (2500 -> 28 px) and stops short of it.
  EXPECT_GE(RowsIn(picture, 215, clYellow).first, 85);
  EXPECT_LE(RowsIn(picture, 215, clYellow).first, 88);
  for (int32_t y = 0; y < 85; ++y) {
    for (int32_t x = 196; x < 216; ++x) EXPECT_NE(picture.Pixel(x, y), clYellow);
  }
  // The previous column's red rose from the bottom as well.
  EXPECT_EQ(picture.Pixel(196, 111), clRed);

  graph->DataPoint(clYellow, 2500);
  graph->Update();
  for (int32_t x = 206; x < 216; ++x) {
    EXPECT_EQ(RowsIn(picture, x, clYellow), std::make_pair(84, 84));
    EXPECT_EQ(RowsIn(picture, x, clRed), std::make_pair(-1, -1));
  }
}

TEST(PerformanceGraphGrid, LinesKeepTheirPhaseWhileScrolling) {
  TPerformanceGraph graph;  // 100 x 100, grid 15, step 3, green
  graph.SetGradient(1000);  // points of 1 keep the scale and draw below the picture
  TRasterCanvas screen(100, 100);
  graph.Paint(screen);
  auto verticalLines = [](const TCanvas& canvas) {
    std::set<int32_t> columns;
    for (int32_t x = 0; x < canvas.Width(); ++x) {
      if (canvas.Pixel(x, 1) == clGreen) columns.insert(x);
    }
    return columns;
  };
  EXPECT_EQ(verticalLines(screen), (std::set<int32_t>{10, 25, 40, 55, 70, 85}));
  for (int32_t y = 0; y < 100; ++y) {
    EXPECT_EQ(screen.Pixel(3, y) == clGreen, y > 0 && y % 15 == 0) << y;
  }
  for (int32_t x = 0; x < 100; ++x) EXPECT_EQ(screen.Pixel(x, 90), clGreen);
  EXPECT_EQ(screen.Pixel(3, 0), clBlack);

  for (int32_t k = 1; k <= 6; ++k) {
    graph.DataPoint(clRed, 1);
    graph.Update();
    std::set<int32_t> expected;
    for (int32_t x = 0; x < 100; ++x) {
      if ((x - 10 + 3 * k) % 15 == 0) expected.insert(x);
    }
    EXPECT_EQ(verticalLines(graph.Picture()), expected) << "after update " << k;
    EXPECT_EQ(graph.Picture().Pixel(98, 45), clGreen);
    EXPECT_EQ(graph.Scale(), 1000);
  }
}

struct Layout {
  int32_t width;
  int32_t step;
  int32_t grid;
};

void PrintTo(const Layout& layout, std::ostream* out) {
  *out << "width " << layout.width << ", step " << layout.step << ", grid " << layout.grid;
}

class PerformanceGraphReplay : public ::testing::TestWithParam<Layout> {};

// Redrawing the whole history must give the picture that scrolling built, wherever a column can
// be: everything right of the leftover strip narrower than one step.
TEST_P(PerformanceGraphReplay, RedrawsWhatScrollingDrew) {
  const Layout layout = GetParam();
  for (TGraphKind kind : {pgLine, pgBar}) {
    auto graph = MainWindowGraph();
    graph->SetSize(layout.width, 112);
    graph->SetStepSize(layout.step);
    graph->SetGridSize(layout.grid);
    graph->SetKind(kind);
    // Gentle slopes: a line that climbs more pixels than its column is wide reaches into the
    // next column, which scrolling clips away but a redraw does not.
    auto wave = [](int32_t i) { return i % 20 < 10 ? i % 10 : 10 - i % 10; };
    for (int32_t i = 0; i < 40; ++i) {
      graph->DataPoint(clRed, 7000 + 40 * wave(i));
      graph->DataPoint(clYellow, 3000 + 60 * wave(i + 3));
      graph->Update();
    }
    ASSERT_EQ(graph->Scale(), 10000);
    TRasterCanvas scrolled(layout.width, 112);
    graph->Paint(scrolled);
    graph->Replay();
    const int32_t leftover = layout.width % layout.step;
    for (int32_t y = 0; y < 112; ++y) {
      for (int32_t x = leftover; x < layout.width; ++x) {
        ASSERT_EQ(scrolled.Pixel(x, y), graph->Picture().Pixel(x, y))
            << "kind " << kind << " at " << x << "," << y;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, PerformanceGraphReplay,
                         ::testing::Values(Layout{216, 10, 10}, Layout{216, 20, 10},
                                           Layout{100, 3, 15}, Layout{100, 7, 4}));

TEST(PerformanceGraphScale, FollowsTheLargestValueInWholeSteps) {
  auto graph = PlainBarGraph();
  int changes = 0;
  graph->OnScaleChange = [&](TPerformanceGraph& sender) {
    EXPECT_EQ(&sender, graph.get());
    ++changes;
  };
  graph->DataPoint(clRed, 7000);
  graph->Update();
  EXPECT_EQ(graph->Scale(), 10000);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(RowsIn(graph->Picture(), 206, clRed).first, 33);  // 78 px

  graph->DataPoint(clRed, 12000);
  graph->Update();
  EXPECT_EQ(graph->Scale(), 15000);
  EXPECT_EQ(changes, 1);
  // The history is drawn again at the new scale.
  EXPECT_EQ(RowsIn(graph->Picture(), 196, clRed).first, 59);  // 7000 -> 52 px
  EXPECT_EQ(RowsIn(graph->Picture(), 206, clRed).first, 21);  // 12000 -> 90 px

  // The oldest column still counts while it is in the ring, though it is no longer drawn.
  for (int i = 0; i < 21; ++i) {
    graph->DataPoint(clRed, 100);
    graph->Update();
  }
  EXPECT_EQ(graph->Scale(), 15000);
  graph->DataPoint(clRed, 100);
  graph->Update();
  EXPECT_EQ(graph->Scale(), 5000);
  EXPECT_EQ(changes, 2);
}

TEST(PerformanceGraphScale, RoundUpGoesToTheNextMultiple) {
  EXPECT_EQ(TPerformanceGraph::RoundUp(7000, 5000), 10000);
  EXPECT_EQ(TPerformanceGraph::RoundUp(10000, 5000), 10000);
  EXPECT_EQ(TPerformanceGraph::RoundUp(10001, 5000), 15000);
  EXPECT_EQ(TPerformanceGraph::RoundUp(123, 0), 123);
  EXPECT_EQ(TPerformanceGraph::RoundUp(0, 100), 0);
  EXPECT_EQ(TPerformanceGraph::RoundUp(INT32_MAX, 5000), INT32_MAX);  // no next multiple fits
  EXPECT_EQ(TPerformanceGraph::RoundUp(INT32_MIN, -1), INT32_MIN);
}

TEST(PerformanceGraphScale, ZeroScaleDrawsEveryValueAtTheBase) {
  auto graph = PlainBarGraph();
  graph->DataPoint(clRed, -500);  // largest stays 0, so the scale becomes 0
  graph->Update();
  EXPECT_EQ(graph->Scale(), 0);
  EXPECT_EQ(CountColor(graph->Picture(), clRed), 0);
  graph->SetKind(pgLine);
  EXPECT_EQ(CountColor(graph->Picture(), clRed), 0);

  graph->DataPoint(clRed, 3000);
  graph->Update();
  EXPECT_EQ(graph->Scale(), 5000);
  EXPECT_GT(CountColor(graph->Picture(), clRed), 0);
}

TEST(PerformanceGraphScale, ExtremeValuesStayInsideThePicture) {
  for (TGraphKind kind : {pgBar, pgLine}) {
    auto graph = PlainBarGraph();
    graph->SetKind(kind);
    graph->SetGradient(7);
    graph->DataPoint(clYellow, INT32_MAX);
    graph->DataPoint(clRed, INT32_MIN);
    graph->Update();
    graph->DataPoint(clRed, INT32_MAX);
    graph->DataPoint(clYellow, INT32_MIN);
    graph->Update();
    EXPECT_EQ(graph->Scale(), INT32_MAX);
    if (kind == pgBar) {
      EXPECT_EQ(RowsIn(graph->Picture(), 200, clYellow), std::make_pair(0, 111));
    }
  }
}

TEST(PerformanceGraphEdges, NoBandsMeansNoColumnsDrawn) {
  auto graph = MainWindowGraph();
  graph->SetSize(5, 50);  // narrower than one step
  TRasterCanvas before(5, 50);
  graph->Paint(before);
  EXPECT_EQ(graph->BandCount(), 0);
  graph->DataPoint(clRed, 7000);
  graph->Update();
  graph->DataPoint(clRed, 12000);
  graph->Update();
  EXPECT_EQ(graph->Scale(), 15000);
  TRasterCanvas after(5, 50);
  graph->Paint(after);
  EXPECT_EQ(after.Pixels(), before.Pixels());
  EXPECT_EQ(CountColor(after, clRed), 0);
}

TEST(PerformanceGraphProperties, SettersRedrawOnlyForNewValues) {
  auto graph = MainWindowGraph();
  int refreshes = 0;
  int scaleChanges = 0;
  graph->OnRefresh = [&] { ++refreshes; };
  graph->OnScaleChange = [&](TPerformanceGraph&) { ++scaleChanges; };

  graph->SetKind(pgLine);
  graph->SetGridSize(10);
  graph->SetScale(10000);
  graph->SetForeColor(clTeal);
  EXPECT_EQ(refreshes, 0);

  graph->SetBackColor(kBlue);
  EXPECT_EQ(refreshes, 1);
  EXPECT_EQ(graph->Picture().Pixel(1, 1), kBlue);
  graph->SetGridlines(false);
  EXPECT_EQ(CountColor(graph->Picture(), clTeal), 0);

  graph->SetGridSize(1);
  EXPECT_EQ(graph->GridSize(), 2);
  graph->SetStepSize(-4);
  EXPECT_EQ(graph->StepSize(), 1);
  EXPECT_EQ(graph->BandCount(), 216);

  graph->SetScale(12001);  // rounded up to the gradient
  EXPECT_EQ(graph->Scale(), 15000);
  EXPECT_EQ(scaleChanges, 1);
  graph->SetScale(14000);  // rounds to what is already there
  EXPECT_EQ(scaleChanges, 1);
}

}  // namespace
}  // namespace qor
