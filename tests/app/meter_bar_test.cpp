#include "app/meter_bar.h"

#include <gtest/gtest.h>

#include <string>

TEST(MeterBarTest, LevelIsLinearAndTheMarkerFallsBackToIt) {
  TMeterBar bar;
  EXPECT_EQ(bar.Render(10), "          ");
  bar.Update(0.5);
  EXPECT_EQ(bar.Render(10), "#####     ");
  bar.Update(1.7);  // clipped to full scale
  EXPECT_EQ(bar.Render(10), "##########");
  // The level drops at once; the marker holds the highest and falls a fixed
  // step per frame until it meets the level.
  bar.Update(0.1);
  EXPECT_DOUBLE_EQ(bar.Level(), 0.1);
  EXPECT_DOUBLE_EQ(bar.Marker(), 1.0 - TMeterBar::kMarkerFall);
  EXPECT_EQ(bar.Render(10), "#        |");
  EXPECT_EQ(bar.LitCells(10), 1);
  EXPECT_EQ(bar.MarkerCell(10), 9);
  for (int frame = 0; frame < 100; ++frame) bar.Update(0.1);
  EXPECT_DOUBLE_EQ(bar.Marker(), 0.1);
  EXPECT_EQ(bar.Render(10), "#         ");
  // A marker at or under the lit cells does not show, wherever it stands:
  // the cells are the same however it moves there.
  EXPECT_EQ(bar.MarkerCell(10), -1);
  bar.Update(0.5);
  bar.Update(0.47);
  EXPECT_EQ(bar.Render(10), "#####     ");
  EXPECT_EQ(bar.LitCells(10), 5);
  EXPECT_EQ(bar.MarkerCell(10), -1);
  bar.Update(0.44);
  EXPECT_EQ(bar.Render(10), "####|     ");
  EXPECT_EQ(bar.MarkerCell(10), 4);
  EXPECT_EQ(bar.MarkerCell(0), -1);
  bar.Clear();
  EXPECT_EQ(bar.Render(4), "    ");
  EXPECT_EQ(bar.Render(0), "");
}

TEST(MeterBarTest, NamesAreCutToColumnsWithoutSplittingCharacters) {
  EXPECT_EQ(FitColumns("Mic", 6), "Mic   ");
  EXPECT_EQ(FitColumns("Microphone", 5), "Micro");
  // "Ü" and "—" are two and three bytes, one column each.
  EXPECT_EQ(FitColumns("\xC3\x9C"
                       "ber\xE2\x80\x94X",
                       5),
            "\xC3\x9C"
            "ber\xE2\x80\x94");
  EXPECT_EQ(FitColumns("\xC3\x9C"
                       "b",
                       4),
            "\xC3\x9C"
            "b  ");
  // A stray byte counts as one column.
  EXPECT_EQ(FitColumns("\xFFz", 1), "\xFF");
}
