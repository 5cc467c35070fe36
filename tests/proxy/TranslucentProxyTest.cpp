// The translucent facade: the model's previews and meshes in flat form, and ownership.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "OrvaneTranslucentProxy.h"
#include "PhotosTranslucent.h"
#include "ProxyFixtures.h"

using namespace Orvanes;
using namespace orvane_test;

namespace {

// A 640 x 160 card of 10 x 10 cells, every cell its own colour.
cv::Mat MakeCard()
{
    cv::Mat card(160, 640, CV_8UC3);
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 64; ++j)
            card(cv::Rect(10 * j, 10 * i, 10, 10)).setTo(cv::Scalar(4 * j, 16 * i, 255 - 4 * j));
    return card;
}

// Colour gradients in both directions, so quantization has plenty of distinct colours.
cv::Mat MakePhoto()
{
    cv::Mat photo(48, 36, CV_8UC3);
    photo.forEach<cv::Vec3b>([](cv::Vec3b& p, const int* at) {
        p = cv::Vec3b(cv::saturate_cast<uchar>(7 * at[1]), cv::saturate_cast<uchar>(5 * at[0]),
                      cv::saturate_cast<uchar>(255 - 3 * (at[0] + at[1])));
    });
    return photo;
}

// Working size 12 x 16 pixels: 144 palette colours from 192 pixels.
constexpr double kWidth = 12, kHeight = 16, kPixelSize = 1;

void ExpectFiveCompleteStreams(const MeshProxy* meshes)
{
    ASSERT_NE(meshes, nullptr);
    uint32_t materialFacets = 0;
    for (int k = 0; k < 4; ++k) materialFacets += StlFacetCount(meshes[k]);
    EXPECT_GT(StlFacetCount(meshes[4]), 0u) << "the body is never empty";
    EXPECT_GT(materialFacets, 0u) << "no material mesh has faces";
}

void ExpectRgbOf(const unsigned char* rgb, int width, int height, const cv::Mat& bgr)
{
    ASSERT_NE(rgb, nullptr);
    ASSERT_EQ(cv::Size(width, height), bgr.size());
    cv::Mat expected;
    cv::cvtColor(bgr, expected, cv::COLOR_BGR2RGB);
    EXPECT_EQ(cv::norm(cv::Mat(height, width, CV_8UC3, const_cast<unsigned char*>(rgb)), expected, cv::NORM_INF), 0);
}

class TranslucentProxy : public testing::Test {
protected:
    void SetUp() override { cv::theRNG() = cv::RNG(20240611); }

    std::unique_ptr<OrvaneTranslucentProxy> Make(PhotosProgressBar* reporter)
    {
        return std::make_unique<OrvaneTranslucentProxy>(card.data(), static_cast<int>(card.size()), photo.data(),
                                                        static_cast<int>(photo.size()), kWidth, kHeight,
                                                        kPixelSize, reporter);
    }

    std::vector<char> card = EncodePng(MakeCard());
    std::vector<char> photo = EncodePng(MakePhoto());
};

}  // namespace

TEST_F(TranslucentProxy, FailedConstructionDeletesTheReporterAndPassesTheErrorOn)
{
    const char garbage[] = "neither card nor photograph";
    const std::string missing = testing::TempDir() + "orvane_no_such_card.png";
    const int cardLength = static_cast<int>(card.size()), photoLength = static_cast<int>(photo.size());
    ReporterRecord record;
    auto reporter = [&] { return new CountingReporter(record); };
    EXPECT_THROW(OrvaneTranslucentProxy(garbage, sizeof garbage, photo.data(), photoLength, kWidth, kHeight,
                                        kPixelSize, reporter()),
                 cv::Exception);
    EXPECT_THROW(OrvaneTranslucentProxy(card.data(), cardLength, nullptr, 100, kWidth, kHeight, kPixelSize, reporter()),
                 cv::Exception);
    EXPECT_THROW(OrvaneTranslucentProxy(missing.c_str(), missing.c_str(), kWidth, kHeight, kPixelSize, reporter()),
                 cv::Exception);
    EXPECT_THROW(OrvaneTranslucentProxy(nullptr, nullptr, kWidth, kHeight, kPixelSize, reporter()), cv::Exception);
    EXPECT_EQ(record.deletions, 4);
    EXPECT_THROW(OrvaneTranslucentProxy(garbage, sizeof garbage, garbage, sizeof garbage, kWidth, kHeight,
                                        kPixelSize, nullptr),
                 cv::Exception);
}

TEST_F(TranslucentProxy, OperationsGiveTheModelsResultsAndEachGetMeshesReplacesAllFiveStreams)
{
    // Same seed, same quantization: the model built here matches the one inside the proxy.
    auto proxy = Make(nullptr);
    cv::theRNG() = cv::RNG(20240611);
    PhotosTranslucent model(cv::Mat(1, static_cast<int>(card.size()), CV_8UC1, card.data()),
                            cv::Mat(1, static_cast<int>(photo.size()), CV_8UC1, photo.data()), kWidth, kHeight,
                            kPixelSize, nullptr);
    int width = 0, height = 0, size = 0;
    const unsigned char* rgb = proxy->UpdatePreviewImage(0.3, 0.0, width, height, size);
    ExpectRgbOf(rgb, width, height, model.UpdatePreviewImage(0.3, 0.0));
    // The three preview operations share one buffer; each call delivers its own picture.
    float contrast = 0, brightness = 0, modelContrast = 0, modelBrightness = 0;
    rgb = proxy->AutoContrast(contrast, brightness, width, height, size);
    ExpectRgbOf(rgb, width, height, model.AutoContrast(modelContrast, modelBrightness));
    EXPECT_EQ(contrast, modelContrast);
    EXPECT_EQ(brightness, 0.0f);

    const MeshProxy* first = proxy->GetMeshes(2, 5, 0.1, 0.2);
    ExpectFiveCompleteStreams(first);
    const std::vector<char> firstBody = Bytes(first[4]);
    const MeshProxy* second = proxy->GetMeshes(2, 5, 0.1, 0.2);
    ExpectFiveCompleteStreams(second);
    EXPECT_EQ(Bytes(second[4]), firstBody) << "same model state, same bytes";
    cv::theRNG() = cv::RNG(7);  // resampling quantizes again
    rgb = proxy->UpdatePreviewImage(10.0, 20.0, 1.0, width, height, size);
    EXPECT_EQ(size, 10 * 20 * 3);
    cv::theRNG() = cv::RNG(7);
    ExpectRgbOf(rgb, width, height, model.UpdatePreviewImage(10.0, 20.0, 1.0));
    const MeshProxy* third = proxy->GetMeshes(2, 5, 0.1, 0.2);
    ExpectFiveCompleteStreams(third);
    EXPECT_NE(Bytes(third[4]), firstBody) << "a new working size changes the body";
}

TEST_F(TranslucentProxy, CopyAssignmentGivesItsOwnModelAndBuffersAndKeepsItsReporter)
{
    ReporterRecord targetRecord, sourceRecord;
    const std::string cardPath = WriteTemp("assign_card", MakeCard());
    const std::string photoPath = WriteTemp("assign_photo", MakePhoto()(cv::Rect(0, 0, 20, 20)).clone());
    auto target = std::make_unique<OrvaneTranslucentProxy>(cardPath.c_str(), photoPath.c_str(), 8, 8, 1,
                                                           new CountingReporter(targetRecord));
    auto source = Make(new CountingReporter(sourceRecord));
    EXPECT_EQ(sourceRecord.values, (std::vector<int>{20, 80, 100}));  // construction's own preview
    int width = 0, height = 0, size = 0;
    target->UpdatePreviewImage(0.1, 0.0, width, height, size);
    target->GetMeshes(2, 5, 0.1, 0.2);

    *target = *source;
    const std::vector<char> sourceBody = Bytes(source->GetMeshes(2, 5, 0.1, 0.2)[4]);
    source.reset();  // nothing of the target may depend on the source from here on
    EXPECT_EQ(sourceRecord.deletions, 1);
    const size_t sourceReports = sourceRecord.values.size();

    targetRecord.values.clear();
    const MeshProxy* meshes = target->GetMeshes(2, 5, 0.1, 0.2);
    ExpectFiveCompleteStreams(meshes);
    EXPECT_EQ(Bytes(meshes[4]), sourceBody);
    EXPECT_EQ(targetRecord.values.empty() ? -1 : targetRecord.values.back(), 100)
        << "the copied model reports to this proxy's reporter";
    EXPECT_EQ(sourceRecord.values.size(), sourceReports);
    target->UpdatePreviewImage(0.2, 0.0, width, height, size);
    EXPECT_EQ(cv::Size(width, height), cv::Size(12, 16));

    const OrvaneTranslucentProxy& same = *target;
    *target = same;
    EXPECT_EQ(Bytes(meshes[4]), sourceBody) << "self-assignment keeps every buffer";

    target.reset();
    EXPECT_EQ(targetRecord.deletions, 1);
    EXPECT_EQ(sourceRecord.deletions, 1);
}
