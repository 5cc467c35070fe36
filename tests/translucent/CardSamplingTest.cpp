#include <functional>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "PhotosTranslucent.h"
#include "TranslucentFixtures.h"

namespace {

using Orvanes::PhotosTranslucent;
using orvane_test::CellColour;

class CardSampling : public testing::Test {
protected:
    void SetUp() override { cv::theRNG().state = 77; }

    PhotosTranslucent Build(const cv::Mat& card)
    {
        return PhotosTranslucent(orvane_test::Encode(card), orvane_test::Encode(orvane_test::MakePhoto(40, 30)), 20.0,
                                 15.0, 1.0, nullptr);
    }
};

TEST_F(CardSampling, ReadsOnePixelAtEachCellCentreRoundedTowardTheTopLeft)
{
    struct Case {
        cv::Size size;
        std::function<cv::Point(int row, int column)> pixel;
    };
    const Case cases[] = {
        {{640, 160}, [](int i, int j) { return cv::Point(10 * j + 5, 10 * i + 5); }},
        // 15-pixel cells; the right 40 columns and bottom 10 rows lie outside every cell.
        {{1000, 250}, [](int i, int j) { return cv::Point(15 * j + 7, 15 * i + 7); }},
        {{64, 16}, [](int i, int j) { return cv::Point(j, i); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size);
        // Only the pixels that should be read carry the cell colour.
        cv::Mat card(c.size, CV_8UC3, cv::Scalar(7, 7, 7));
        for (int i = 0; i < 16; ++i)
            for (int j = 0; j < 64; ++j) card.at<cv::Vec3b>(c.pixel(i, j)) = CellColour(i, j);
        const PhotosTranslucent model = Build(card);
        const cv::Mat& samples = model.CardSamples();
        ASSERT_EQ(samples.size(), cv::Size(64, 16));
        int wrong = 0;
        for (int i = 0; i < 16; ++i)
            for (int j = 0; j < 64; ++j) wrong += samples.at<cv::Vec3b>(i, j) != CellColour(i, j);
        EXPECT_EQ(wrong, 0);
        cv::Mat hsv;
        cv::cvtColor(samples, hsv, cv::COLOR_BGR2HSV_FULL);
        EXPECT_EQ(cv::norm(hsv, model.CardSamplesHsv(), cv::NORM_INF), 0.0);
    }
}

TEST_F(CardSampling, CardsNarrowerThanTheGridReadTheirFirstColumn)
{
    // 40 x 32 pixels: cells are 0 pixels wide and 2 high, so cell (i, j) reads pixel (0, 2i + 1).
    cv::Mat card(32, 40, CV_8UC3, cv::Scalar(7, 7, 7));
    for (int y = 0; y < 32; ++y) card.at<cv::Vec3b>(y, 0) = cv::Vec3b(static_cast<uint8_t>(8 * y), 100, 200);
    const PhotosTranslucent model = Build(card);
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 64; ++j)
            ASSERT_EQ(model.CardSamples().at<cv::Vec3b>(i, j), cv::Vec3b(static_cast<uint8_t>(8 * (2 * i + 1)), 100, 200))
                << i << ", " << j;
}

}  // namespace
