#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "CardMatching.h"
#include "TranslucentFixtures.h"

namespace {

using Orvanes::CardCell;
using Orvanes::detail::MatchColour;

TEST(CardSampling, ReadsOnePixelAtEachCellCentreRoundedTowardTheTopLeft)
{
    struct Case {
        cv::Size size;
        int cellCols, cellRows;  // pixel (j c + c / 2, i r + r / 2) is read for cell (i, j)
    };
    // 15-pixel cells leave the right 40 columns and bottom 10 rows outside every cell; a card
    // narrower than 64 pixels has cells 0 pixels wide and reads its first column.
    const Case cases[] = {{{640, 160}, 10, 10}, {{1000, 250}, 15, 15}, {{64, 16}, 1, 1}, {{40, 32}, 0, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size);
        cv::theRNG().state = 77;
        cv::Mat card(c.size, CV_8UC3);
        cv::randu(card, 0, 256);
        const auto model = orvane_test::BuildModel(nullptr, 20.0, 15.0, orvane_test::MakePhoto(40, 30), card);
        const cv::Mat& samples = model.CardSamples();
        ASSERT_EQ(samples.size(), cv::Size(64, 16));
        int wrong = 0;
        for (int i = 0; i < 16; ++i)
            for (int j = 0; j < 64; ++j)
                wrong += samples.at<cv::Vec3b>(i, j) !=
                         card.at<cv::Vec3b>(i * c.cellRows + c.cellRows / 2, j * c.cellCols + c.cellCols / 2);
        EXPECT_EQ(wrong, 0);
        cv::Mat hsv;
        cv::cvtColor(samples, hsv, cv::COLOR_BGR2HSV_FULL);
        EXPECT_EQ(cv::norm(hsv, model.CardSamplesHsv(), cv::NORM_INF), 0.0);
    }
}

TEST(CardMatching, MatchColourPicksTheNearestCellNotDarkerThanTheColour)
{
    struct Case {
        const char* why;
        std::vector<std::pair<CardCell, cv::Vec3b>> planted;  // on a card far from every colour below
        cv::Vec3b hsv;
        CardCell cell;
        cv::Vec3b colour;
        cv::Vec3b fill = cv::Vec3b(128, 0, 255);
    };
    const std::pair<CardCell, cv::Vec3b> nearCell{{2, 3}, {40, 20, 220}};
    const cv::Vec3b twin(60, 150, 180);
    const Case cases[] = {
        {"value 50 is dark", {nearCell}, {40, 200, 50}, {10, 16}, {30, 57, 0}},
        {"value 51 is not", {nearCell}, {40, 200, 51}, {2, 3}, {40, 20, 51}},
        {"pale and bright", {nearCell}, {40, 29, 201}, {15, 63}, {0, 0, 255}},
        {"saturation 30 is not pale", {nearCell}, {40, 30, 201}, {2, 3}, {40, 20, 201}},
        {"value 200 is not bright", {nearCell}, {40, 29, 200}, {2, 3}, {40, 20, 200}},
        // 235 is 15 steps away without wrapping, 5 is 11 steps around the turn.
        {"hue wraps", {{{0, 1}, {235, 200, 200}}, {{0, 9}, {5, 200, 200}}}, {250, 200, 200}, {0, 9}, {5, 200, 200}},
        // Half a turn is the farthest a hue can be: 129 steps one way are 127 the other.
        {"half a turn", {{{0, 1}, {128, 200, 200}}, {{0, 9}, {129, 200, 200}}}, {0, 200, 200}, {0, 9}, {129, 200, 200}},
        // A differs in hue by 13/128, B in saturation by 32/255: counted once the hue is nearer
        // (0.102 < 0.125), counted twice (clear colours only) it is farther (0.144).
        {"clear", {{{0, 0}, {13, 255, 255}}, {{0, 1}, {0, 223, 255}}}, {0, 255, 255}, {0, 1}, {0, 223, 255}},
        {"greyish", {{{0, 0}, {13, 30, 150}}, {{0, 1}, {0, 62, 150}}}, {0, 30, 150}, {0, 0}, {13, 30, 150}},
        // An exact but darker cell loses to the twins; of those the lowest column, then row, wins.
        {"ties and darker cells", {{{0, 20}, twin}, {{5, 10}, twin}, {{3, 10}, twin}, {{0, 0}, {60, 150, 169}}},
         {60, 150, 170}, {3, 10}, {60, 150, 170}},
        {"every cell darker", {{{0, 0}, {17, 33, 60}}}, {200, 250, 121}, {0, 0}, {17, 33, 121}, {90, 100, 120}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        cv::Mat card(16, 64, CV_8UC3, cv::Scalar(c.fill[0], c.fill[1], c.fill[2]));
        for (const auto& [cell, colour] : c.planted) card.at<cv::Vec3b>(cell.row, cell.column) = colour;
        const auto match = MatchColour(card, c.hsv);
        EXPECT_EQ(match.cell.row, c.cell.row);
        EXPECT_EQ(match.cell.column, c.cell.column);
        EXPECT_EQ(match.colour, c.colour);
    }
}

TEST(CardMatching, PixelsTakeTheMatchOfTheirPaletteEntryAndTheLastOfEqualEntries)
{
    cv::Mat card(16, 64, CV_8UC3, cv::Scalar(128, 0, 255));
    card.at<cv::Vec3b>(4, 4) = cv::Vec3b(0, 255, 255);
    // Entries 0 and 2 share a colour before adjustment; entry 2's match paints both.
    cv::Mat palette(3, 1, CV_8UC3, cv::Scalar(10, 10, 10)), adjusted;
    palette.at<cv::Vec3b>(1) = cv::Vec3b(0, 0, 250);  // bright red
    palette.copyTo(adjusted);
    adjusted.at<cv::Vec3b>(2) = cv::Vec3b(250, 250, 250);  // 0 stays dark, 2 turns pale
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
