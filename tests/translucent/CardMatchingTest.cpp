#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "CardMatching.h"

namespace {

using Orvanes::CardCell;
using Orvanes::detail::CardMatch;
using Orvanes::detail::MatchColour;

// An HSV card whose cells are all far from the colours under test; tests plant cells in it.
cv::Mat FarCard(cv::Vec3b fill = cv::Vec3b(128, 0, 255))
{
    return cv::Mat(16, 64, CV_8UC3, cv::Scalar(fill[0], fill[1], fill[2]));
}

void ExpectMatch(const CardMatch& match, CardCell cell, cv::Vec3b colour)
{
    EXPECT_EQ(match.cell.row, cell.row);
    EXPECT_EQ(match.cell.column, cell.column);
    EXPECT_EQ(match.colour, colour);
}

TEST(CardMatching, DarkAndPaleColoursTakeFixedCellsAtTheirBoundaries)
{
    cv::Mat card = FarCard();
    card.at<cv::Vec3b>(2, 3) = cv::Vec3b(40, 20, 220);  // near every searched colour below
    ExpectMatch(MatchColour(card, {40, 200, 50}), {10, 16}, {30, 57, 0});
    ExpectMatch(MatchColour(card, {40, 200, 51}), {2, 3}, {40, 20, 51});
    ExpectMatch(MatchColour(card, {40, 29, 201}), {15, 63}, {0, 0, 255});
    ExpectMatch(MatchColour(card, {40, 30, 201}), {2, 3}, {40, 20, 201});
    ExpectMatch(MatchColour(card, {40, 29, 200}), {2, 3}, {40, 20, 200});
}

TEST(CardMatching, HueDistanceWrapsAround)
{
    cv::Mat card = FarCard();
    card.at<cv::Vec3b>(0, 1) = cv::Vec3b(235, 200, 200);  // 15 steps away without wrapping
    card.at<cv::Vec3b>(0, 9) = cv::Vec3b(5, 200, 200);    // 245 apart, 11 steps around the turn
    ExpectMatch(MatchColour(card, {250, 200, 200}), {0, 9}, {5, 200, 200});
    // Half a turn is the farthest a hue can be: 129 steps one way are 127 the other.
    card.at<cv::Vec3b>(0, 1) = cv::Vec3b(128, 200, 200);
    card.at<cv::Vec3b>(0, 9) = cv::Vec3b(129, 200, 200);
    ExpectMatch(MatchColour(card, {0, 200, 200}), {0, 9}, {129, 200, 200});
}

TEST(CardMatching, HueWeighsDoubleOnlyForClearColours)
{
    // Cell A differs in hue by 13/128, cell B in saturation by 32/255. Counted once the hue is
    // nearer (0.102 < 0.125); counted twice it is farther (0.144).
    cv::Mat card = FarCard();
    card.at<cv::Vec3b>(0, 0) = cv::Vec3b(13, 255, 255);  // A for a saturated colour
    card.at<cv::Vec3b>(0, 1) = cv::Vec3b(0, 223, 255);   // B
    EXPECT_EQ(MatchColour(card, {0, 255, 255}).cell.column, 1);
    card.at<cv::Vec3b>(1, 0) = cv::Vec3b(13, 30, 150);  // A for a greyish colour
    card.at<cv::Vec3b>(1, 1) = cv::Vec3b(0, 62, 150);   // B
    const CardMatch grey = MatchColour(card, {0, 30, 150});
    EXPECT_EQ(grey.cell.row, 1);
    EXPECT_EQ(grey.cell.column, 0);
}

TEST(CardMatching, TiesGoToTheLowestColumnThenRowAndDarkerCellsNeverWin)
{
    cv::Mat card = FarCard();
    const cv::Vec3b twin(60, 150, 180);
    card.at<cv::Vec3b>(0, 20) = twin;
    card.at<cv::Vec3b>(5, 10) = twin;
    card.at<cv::Vec3b>(3, 10) = twin;
    ExpectMatch(MatchColour(card, {60, 150, 170}), {3, 10}, {60, 150, 170});
    // An exact but darker cell is skipped for the farther twins.
    card.at<cv::Vec3b>(0, 0) = cv::Vec3b(60, 150, 169);
    ExpectMatch(MatchColour(card, {60, 150, 170}), {3, 10}, {60, 150, 170});
}

TEST(CardMatching, ColourBrighterThanEveryCellFallsBackToTheFirstCell)
{
    cv::Mat card = FarCard(cv::Vec3b(90, 100, 120));
    card.at<cv::Vec3b>(0, 0) = cv::Vec3b(17, 33, 60);
    ExpectMatch(MatchColour(card, {200, 250, 121}), {0, 0}, {17, 33, 121});
}

TEST(CardMatching, PixelsTakeTheMatchOfTheirPaletteEntryAndTheLastOfEqualEntries)
{
    cv::Mat card = FarCard();
    card.at<cv::Vec3b>(4, 4) = cv::Vec3b(0, 255, 255);
    // Entries 0 and 2 share a colour before adjustment; entry 2's match paints both.
    cv::Mat palette(3, 1, CV_8UC3), adjusted(3, 1, CV_8UC3);
    palette.at<cv::Vec3b>(0) = adjusted.at<cv::Vec3b>(0) = cv::Vec3b(10, 10, 10);  // dark
    palette.at<cv::Vec3b>(1) = adjusted.at<cv::Vec3b>(1) = cv::Vec3b(0, 0, 250);    // bright red
    palette.at<cv::Vec3b>(2) = cv::Vec3b(10, 10, 10);
    adjusted.at<cv::Vec3b>(2) = cv::Vec3b(250, 250, 250);  // pale
    cv::Mat working(2, 3, CV_8UC3, cv::Scalar(10, 10, 10));
    working.at<cv::Vec3b>(1, 2) = cv::Vec3b(0, 0, 250);
    working.at<cv::Vec3b>(0, 1) = cv::Vec3b(1, 2, 3);  // in no palette entry

    const auto match = Orvanes::detail::MatchPalette(card, working, palette, adjusted);
    ASSERT_EQ(match.cardMatches.size(), 3u);
    EXPECT_EQ(match.cardMatches[0].row, 10);
    EXPECT_EQ(match.cardMatches[1].row, 4);
    EXPECT_EQ(match.cardMatches[2].row, 15);
    EXPECT_EQ(match.matchedImage.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 255));
    EXPECT_EQ(match.matchedImage.at<cv::Vec3b>(1, 2), cv::Vec3b(0, 255, 250));
    EXPECT_EQ(match.matchedImage.at<cv::Vec3b>(0, 1), cv::Vec3b(0, 0, 0));
}

}  // namespace
