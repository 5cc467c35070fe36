#include <cmath>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "ContrastCurve.h"
#include "TranslucentFixtures.h"

namespace {

using namespace Orvanes::detail;

// Each channel about its own mean as three whole-image float operations, a clamp and the
// saturating conversion.
cv::Mat CurveByWholeImage(const cv::Mat& image, double contrast, double brightness)
{
    const double slope = std::tan((contrast * 44.0 + 45.0) / 180.0 * 3.1416);
    std::vector<cv::Mat> channels;
    cv::split(image, channels);
    for (cv::Mat& channel : channels) {
        const double mean = cv::mean(channel)[0];
        cv::Mat values;
        channel.convertTo(values, CV_32F);
        cv::subtract(values, cv::Scalar((1.0 - brightness) * mean), values);
        cv::multiply(values, cv::Scalar(slope), values);
        cv::add(values, cv::Scalar((1.0 + brightness) * mean), values);
        const cv::Mat clamped = cv::max(cv::min(values, 255.0), 0.0);
        clamped.convertTo(channel, CV_8U);
    }
    cv::Mat result;
    cv::merge(channels, result);
    return result;
}

cv::Mat RandomImage(int cols, int rows, int type, uint64_t seed)
{
    cv::Mat image(rows, cols, type);
    cv::RNG(seed).fill(image, cv::RNG::UNIFORM, 0, 256);
    return image;
}

// The score by converting both images to HSV and counting on the channels.
double ScoreByWholeImage(const cv::Mat& image, double contrast)
{
    cv::Mat before, after;
    cv::cvtColor(image, before, cv::COLOR_BGR2HSV_FULL);
    cv::cvtColor(ApplyContrast(image, contrast, 0.0), after, cv::COLOR_BGR2HSV_FULL);
    std::vector<cv::Mat> b, a;
    cv::split(before, b);
    cv::split(after, a);
    cv::Mat gain;
    cv::subtract(a[1], b[1], gain);  // saturates at 0
    const int vivid = cv::countNonZero((gain > 20) & (a[1] > 80) & (a[2] > 80));
    return cv::countNonZero((b[1] < 40) & (b[2] > 180)) - cv::countNonZero((a[1] < 25) & (a[2] > 180)) + vivid;
}

TEST(ContrastCurve, MatchesTheWholeImageFloatPipelinePerChannel)
{
    // Flat images are their own mean and must stay put at any strength.
    const cv::Mat images[] = {RandomImage(97, 61, CV_8UC1, 1), orvane_test::MakePhoto(90, 70),
                              cv::Mat(5, 7, CV_8UC1, cv::Scalar(0)), cv::Mat(5, 7, CV_8UC1, cv::Scalar(255)),
                              cv::Mat(3, 3, CV_8UC3, cv::Scalar(77, 0, 255))};
    for (const cv::Mat& image : images)
        for (const double contrast : {0.0, 0.05, 0.35, 0.5, 0.95, 1.0})
            for (const double brightness : {0.0, 0.1, -0.3, 0.8}) {
                SCOPED_TRACE(testing::Message() << "contrast " << contrast << " brightness " << brightness);
                const cv::Mat expected = CurveByWholeImage(image, contrast, brightness);
                EXPECT_EQ(cv::norm(ApplyContrast(image, contrast, brightness), expected, cv::NORM_INF), 0.0);
            }
    // Strength 0 is the identity to within far less than a level, whatever the mean.
    for (const double mean : {0.0, 100.0, 127.3, 255.0}) {
        const auto identity = ContrastTable(mean, 0.0, 0.0);
        for (int v = 0; v < 256; ++v) ASSERT_EQ(identity[static_cast<size_t>(v)], v) << "mean " << mean;
    }
    // Settings beyond float's range still give a defined, clamped table.
    EXPECT_EQ(ContrastTable(100.0, 0.5, 1e300)[100], 255);
    EXPECT_EQ(ContrastTable(100.0, 0.5, -1e300)[100], 0);
}

TEST(ContrastScore, CountsAsTheWholeImageConversionDoes)
{
    // 70 light grey pixels over 30 dark ones: the contrast washes the grey out into pale white,
    // which scores below zero.
    cv::Mat washed(10, 10, CV_8UC3, cv::Scalar::all(170));
    washed(cv::Rect(0, 0, 10, 3)).setTo(cv::Scalar::all(20));
    EXPECT_EQ(ContrastScorer(washed).Score(0.5), -70.0);
    for (const cv::Mat& image : {RandomImage(211, 97, CV_8UC3, 7), orvane_test::MakePhoto(160, 120)}) {
        const ContrastScorer scorer(image);
        for (int step = 1; step <= 20; step += 3) {
            SCOPED_TRACE(testing::Message() << "step " << step);
            EXPECT_EQ(scorer.Score(step * 0.05), ScoreByWholeImage(image, step * 0.05));
        }
    }
}

TEST(ContrastSearch, KeepsTheLastStrictlyRisingStepAndReportsEveryStep)
{
    struct Case {
        std::vector<double> scores;  // by step; later steps score 0
        int bestStep, evaluated;
    };
    const Case cases[] = {{{10, 15, 15}, 2, 3}, {{-3}, 0, 1}, {{-1}, 0, 1}, {{0, 2, 1}, 2, 3}};
    for (const Case& c : cases) {
        orvane_test::RecordingProgress reporter;
        const ContrastSearch search = SearchContrastStep(
            [&](double strength) {
                const auto step = static_cast<size_t>(std::lround(strength / 0.05));
                return step <= c.scores.size() ? c.scores[step - 1] : 0.0;
            },
            &reporter);
        EXPECT_EQ(search.bestStep, c.bestStep);
        EXPECT_EQ(search.evaluatedSteps, c.evaluated);
        EXPECT_EQ(reporter.values,
                  (std::vector<int>{4, 9, 14, 19, 23, 28, 33, 38, 42, 47, 52, 57, 61, 66, 71, 76, 80, 85, 90, 95}));
    }
    int calls = 0;
    EXPECT_EQ(SearchContrastStep([&](double) { return ++calls; }, nullptr).bestStep, 20);
    EXPECT_EQ(calls, 20);
}

}  // namespace
