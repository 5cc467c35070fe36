#include <cmath>
#include <functional>
#include <limits>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "ContrastCurve.h"
#include "TranslucentFixtures.h"

namespace {

using Orvanes::PhotosTranslucent;
using orvane_test::BuildModel;
using orvane_test::RecordingProgress;

const std::vector<int> kSizingReports{20, 80, 100};

class TranslucentModel : public testing::Test {
protected:
    void SetUp() override { cv::theRNG().state = 12345; }
};

bool Same(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && (a.empty() || cv::norm(a, b, cv::NORM_INF) == 0.0);
}

// One match per palette entry, every working pixel a palette colour, and the preview is the
// matched image shown in BGR.
void ExpectConsistent(const PhotosTranslucent& model, const cv::Mat& preview)
{
    const cv::Mat& palette = model.QuantPalette();
    ASSERT_EQ(palette.cols, 1);
    EXPECT_EQ(model.CardMatches().size(), static_cast<size_t>(palette.rows));
    EXPECT_EQ(model.MatchedColours().rows, palette.rows);
    const auto key = [](const cv::Vec3b& p) { return p[0] << 16 | p[1] << 8 | p[2]; };
    std::set<int> colours;
    for (int i = 0; i < palette.rows; ++i) colours.insert(key(palette.at<cv::Vec3b>(i)));
    const cv::Mat& working = model.QuantizedImage();
    int strays = 0;
    for (auto p = working.begin<cv::Vec3b>(); p != working.end<cv::Vec3b>(); ++p) strays += colours.count(key(*p)) == 0;
    EXPECT_EQ(strays, 0) << "pixels outside the palette";
    cv::Mat shown;
    cv::cvtColor(model.MatchedImage(), shown, cv::COLOR_HSV2BGR_FULL);
    EXPECT_TRUE(Same(preview, shown));
}

TEST_F(TranslucentModel, SizingFollowsWidthHeightAndPixelSizeOrLeavesTheObjectAsItWas)
{
    RecordingProgress reporter;
    PhotosTranslucent model = BuildModel(&reporter);
    EXPECT_EQ(reporter.values, kSizingReports);
    struct Case {
        double width, height, pixelSize;
        cv::Size size;
        int paletteSize;
    };
    const Case cases[] = {
        {100.0, 50.0, 0.5, {200, 100}, 256}, {5.0, 20.0, 0.5, {10, 40}, 100}, {10.7, 10.7, 1.0, {10, 10}, 100},
        {-3.0, 1.0, 1.0, {40, 30}, 9},  // not resized; the palette still follows the width
        {-400.0, 1.0, 1.0, {40, 30}, 256},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << " at " << c.pixelSize);
        reporter.values.clear();
        const cv::Mat preview = model.UpdatePreviewImage(c.width, c.height, c.pixelSize);
        EXPECT_EQ(reporter.values, kSizingReports);
        EXPECT_EQ(preview.size(), c.size);
        EXPECT_EQ(model.QuantPalette().rows, c.paletteSize);
        ExpectConsistent(model, preview);
    }

    const uchar* working = model.QuantizedImage().data;
    const auto refuse = [&](double width, double height, double pixelSize, auto exceptionTag) {
        SCOPED_TRACE(testing::Message() << width << " x " << height << " at " << pixelSize);
        reporter.values.clear();
        EXPECT_THROW(model.UpdatePreviewImage(width, height, pixelSize), decltype(exceptionTag));
        EXPECT_TRUE(reporter.values.empty());
        EXPECT_EQ(model.QuantizedImage().data, working);
        EXPECT_EQ(model.PixelSize(), 1.0);
    };
    refuse(0.0, 10.0, 1.0, cv::Exception());            // no palette colours
    refuse(10.0, 2.0, 1.0, cv::Exception());            // 100 colours for 20 pixels
    refuse(0.5, 10.0, 1.0, std::invalid_argument(""));  // less than one pixel wide
    refuse(10.0, 10.0, std::nan(""), std::invalid_argument(""));
    refuse(1e12, 10.0, 1.0, std::invalid_argument(""));
    refuse(-1e300, 10.0, 1e-300, std::invalid_argument(""));
    EXPECT_THROW(model.UpdatePreviewImage(std::numeric_limits<double>::infinity(), 0.0), std::invalid_argument);
    EXPECT_EQ(model.Contrast(), 0.0);
}

TEST_F(TranslucentModel, ContrastReMatchesThePaletteAndAutoContrastSearchesTheFullPhotograph)
{
    RecordingProgress reporter;
    PhotosTranslucent model = BuildModel(&reporter);
    const cv::Mat palette = model.QuantPalette().clone();
    reporter.values.clear();
    const cv::Mat first = model.UpdatePreviewImage(0.3, 0.1);
    EXPECT_TRUE(reporter.values.empty());
    EXPECT_TRUE(Same(model.QuantPalette(), palette));
    ExpectConsistent(model, first);
    // A new size keeps the contrast setting.
    const cv::Mat resized = model.UpdatePreviewImage(40.0, 30.0, 1.0);
    EXPECT_TRUE(Same(model.UpdatePreviewImage(0.3, 0.1), resized));

    reporter.values.clear();
    float contrast = -1.0f, brightness = -1.0f;
    const cv::Mat preview = model.AutoContrast(contrast, brightness);
    EXPECT_EQ(reporter.values, (std::vector<int>{4, 9, 14, 19, 23, 28, 33, 38, 42, 47, 52, 57, 61, 66, 71, 76, 80,
                                                 85, 90, 95, 100}));
    const Orvanes::detail::ContrastScorer scorer(model.SourceImage());
    const auto search = Orvanes::detail::SearchContrastStep([&](double s) { return scorer.Score(s); }, nullptr);
    EXPECT_LT(search.evaluatedSteps, 20) << "this photograph should stop the search early";
    EXPECT_EQ(contrast, static_cast<float>(search.bestStep * 0.05));
    EXPECT_EQ(brightness, 0.0f);
    EXPECT_EQ(model.Contrast(), search.bestStep * 0.05);
    EXPECT_EQ(model.Brightness(), 0.0);
    EXPECT_TRUE(Same(model.UpdatePreviewImage(model.Contrast(), 0.0), preview));
}

TEST_F(TranslucentModel, PathsAndBytesWithTheSameSeedGiveTheSameResults)
{
    const std::string cardPath = testing::TempDir() + "translucent-card.png";
    const std::string photoPath = testing::TempDir() + "translucent-photo.png";
    ASSERT_TRUE(cv::imwrite(cardPath, orvane_test::MakeCard()));
    ASSERT_TRUE(cv::imwrite(photoPath, orvane_test::MakePhoto(40, 30)));
    std::vector<cv::Mat> previews;
    std::vector<std::vector<Orvanes::OrvaneMesh>> meshes;
    for (const bool fromPaths : {true, false}) {
        cv::theRNG().state = 99;
        PhotosTranslucent model = fromPaths ? PhotosTranslucent(cardPath, photoPath, 30.0, 20.0, 1.0, nullptr)
                                            : BuildModel(nullptr, 30.0, 20.0);  // no reporter, no reports
        EXPECT_EQ(model.CardPath(), fromPaths ? cardPath : "");
        EXPECT_EQ(model.PhotoPath(), fromPaths ? photoPath : "");
        float contrast = 0.0f, brightness = 0.0f;
        previews.push_back(model.AutoContrast(contrast, brightness));
        previews.push_back(model.UpdatePreviewImage(0.2, 0.05));
        meshes.push_back(model.GetMeshes(7, 10, 0.1, 0.3));
    }
    EXPECT_TRUE(Same(previews[0], previews[2]));
    EXPECT_TRUE(Same(previews[1], previews[3]));
    for (size_t m = 0; m < 5; ++m) {
        EXPECT_TRUE(meshes[0][m].vertices == meshes[1][m].vertices) << m;
        EXPECT_TRUE(meshes[0][m].faces == meshes[1][m].faces) << m;
    }
}

TEST_F(TranslucentModel, UnreadableImagesSayWhich)
{
    const cv::Mat good = orvane_test::Encode(orvane_test::MakePhoto(40, 30));
    const cv::Mat junk(1, 64, CV_8UC1, cv::Scalar(3));
    const std::string missing = testing::TempDir() + "no-such-card.png";
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { PhotosTranslucent(junk, good, 20, 15, 1, nullptr); }, "colour card"},
        {[&] { PhotosTranslucent(good, junk, 20, 15, 1, nullptr); }, "photograph"},
        {[&] { PhotosTranslucent(missing, missing, 20, 15, 1, nullptr); }, missing},
    };
    for (const auto& [construct, which] : cases) {
        try {
            construct();
            ADD_FAILURE() << "no exception for " << which;
        } catch (const cv::Exception& e) {
            EXPECT_NE(std::string(e.what()).find(which), std::string::npos) << e.what();
        }
    }
    PhotosTranslucent model = BuildModel();
    const cv::Mat samples = model.CardSamples();
    EXPECT_THROW(model.Init(cv::Mat(), 20, 15, 1, nullptr), cv::Exception);
    EXPECT_THROW(model.Init(cv::Mat(160, 640, CV_8UC1, cv::Scalar(9)), 20, 15, 1, nullptr), cv::Exception);
    EXPECT_EQ(model.CardSamples().data, samples.data);
}

TEST_F(TranslucentModel, CopiesShareImagesAndMovesEmptyTheSource)
{
    RecordingProgress reporter;
    PhotosTranslucent original = BuildModel(&reporter);
    original.UpdatePreviewImage(0.25, -0.1);

    PhotosTranslucent copy(original);
    EXPECT_EQ(copy.SourceImage().data, original.SourceImage().data);
    EXPECT_EQ(copy.MatchedImage().data, original.MatchedImage().data);
    reporter.values.clear();
    copy.UpdatePreviewImage(30.0, 20.0, 1.0);  // the reporter is shared
    EXPECT_EQ(reporter.values, kSizingReports);
    EXPECT_NE(copy.QuantizedImage().data, original.QuantizedImage().data);

    const uchar* source = original.SourceImage().data;
    PhotosTranslucent moved(std::move(original));
    EXPECT_EQ(moved.SourceImage().data, source);
    for (const cv::Mat* image : {&original.QuantizedImage(), &original.QuantPalette(), &original.CardSamples(),
                                 &original.CardSamplesHsv(), &original.SourceImage(), &original.MatchedImage(),
                                 &original.MatchedColours()})
        EXPECT_TRUE(image->empty());
    EXPECT_TRUE(original.CardMatches().empty());
    EXPECT_THROW(original.UpdatePreviewImage(0.1, 0.0), std::logic_error);
    EXPECT_THROW(original.GetMeshes(7, 9, 0.1, 0.1), std::logic_error);

    // Assignment revives the moved-from object; moving again empties the new source.
    original = copy;
    EXPECT_EQ(original.QuantizedImage().data, copy.QuantizedImage().data);
    PhotosTranslucent target = BuildModel();
    target = std::move(original);
    EXPECT_EQ(target.QuantizedImage().data, copy.QuantizedImage().data);
    EXPECT_TRUE(original.SourceImage().empty());
    EXPECT_TRUE(original.CardMatches().empty());

    // Self-assignment, by copy or by move, changes nothing.
    PhotosTranslucent& alias = target;
    target = alias;
    target = std::move(alias);
    EXPECT_EQ(target.QuantizedImage().data, copy.QuantizedImage().data);
    EXPECT_EQ(target.CardMatches().size(), copy.CardMatches().size());
    EXPECT_FALSE(target.UpdatePreviewImage(0.0, 0.0).empty());
}

}  // namespace
