// The flat facades: the models' results in flat form, and ownership of reporters and buffers.
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "FlatBuffers.h"
#include "MeshChecks.h"
#include "OrvaneReliefProxy.h"
#include "OrvaneTranslucentProxy.h"
#include "TestImages.h"

using namespace Orvanes;
using namespace orvane_test;

namespace {

struct ReporterRecord { int deletions = 0; std::vector<int> values; };  // outlives the reporter it records

struct CountingReporter final : PhotosProgressBar {
    explicit CountingReporter(ReporterRecord& target) : record(target) {}
    ~CountingReporter() override { ++record.deletions; }
    void SetProgress(int percent) override { record.values.push_back(percent); }
    ReporterRecord& record;
};

const float kHostRed[4] = {255, 0, 0, 1};  // red, green, blue, opacity as hosts send it
const float kStack[12] = {0, 0, 0, 1, 255, 0, 0, 1, 255, 255, 255, 0.125f};

std::vector<char> Bytes(const MeshProxy& stream) { return std::vector<char>(stream.data, stream.data + stream.size); }

// A file of its own per test: test cases may run side by side in separate processes.
std::string WriteTemp(const std::string& name, const cv::Mat& image)
{
    const std::string path = testing::TempDir() + "orvane_proxy_" + name + ".png";
    EXPECT_TRUE(cv::imwrite(path, image)) << path;
    return path;
}

// Copy assignment between proxies owning counting reporters (records: target's, source's). run does every operation
// once, returning the body stream and preview size; earlier rounds leave buffers for the assignment to release.
template <typename Proxy>
void ExpectOwnCopy(std::unique_ptr<Proxy> target, std::unique_ptr<Proxy> source, ReporterRecord (&records)[2],
                   std::pair<MeshProxy, cv::Size> (*run)(Proxy&), cv::Size targetSize, bool reports)
{
    EXPECT_EQ(run(*target).second, targetSize);
    run(*target);
    *target = *source;
    const auto [sourceBody, sourceSize] = run(*source);
    const std::vector<char> sourceBytes = Bytes(sourceBody);
    source.reset();
    EXPECT_EQ(cv::Vec2i(records[1].deletions, records[0].deletions), cv::Vec2i(1, 0));
    const size_t sourceReports = records[1].values.size();
    records[0].values.clear();
    const auto [body, size] = run(*target);
    EXPECT_TRUE(Bytes(body) == sourceBytes && size == sourceSize) << size;
    EXPECT_EQ(std::pair(records[0].values.empty(), records[1].values.size()), std::pair(!reports, sourceReports));
    const Proxy& same = *target;
    *target = same;
    EXPECT_TRUE(Bytes(body) == sourceBytes) << "self-assignment keeps every buffer";
    target.reset();
    EXPECT_EQ(cv::Vec2i(records[1].deletions, records[0].deletions), cv::Vec2i(1, 1));
}

}  // namespace

TEST(FlatLayerList, ReordersGroupsBlueFirstDropsTheIncompleteTailAndReadsNothingItMustNot)
{
    const float colours[10] = {255, 0, 0, 1, 10, 20, 30, 0.5f, 99, 99};
    EXPECT_EQ(detail::LayerListFromFloats(colours, 10),
              (std::vector<LayerEntry>{LayerEntry(0, 0, 255, 1), LayerEntry(30, 20, 10, 0.5f)}));
    for (int count : {3, 0, -8}) EXPECT_TRUE(detail::LayerListFromFloats(colours, count).empty()) << count;
    EXPECT_TRUE(detail::LayerListFromFloats(nullptr, 400).empty());  // a count with no array
}

TEST(Facades, FailedConstructionDeletesTheReporterAndPassesTheErrorOn)
{
    const char garbage[] = "not an image at all";
    const std::string missing = testing::TempDir() + "orvane_no_such_picture.png";
    const std::vector<char> png = PngChars(MakeCard());
    const char* card = png.data(); const int length = int(png.size());
    const std::function<void(PhotosProgressBar*)> constructions[] = {
        [&](auto r) { OrvaneReliefProxy(garbage, sizeof garbage, 60, 40, 1, kHostRed, 4, r); },
        [&](auto r) { OrvaneReliefProxy(missing.c_str(), 60, 40, 1, kHostRed, 4, r); },
        [&](auto r) { OrvaneReliefProxy(nullptr, 60, 40, 1, kHostRed, 4, r); },
        [&](auto r) { OrvaneReliefProxy(card, -5, 60, 40, 1, kHostRed, 4, r); },
        [&](auto r) { OrvaneTranslucentProxy(garbage, sizeof garbage, card, length, 12, 16, 1, r); },
        [&](auto r) { OrvaneTranslucentProxy(card, length, nullptr, 100, 12, 16, 1, r); },
        [&](auto r) { OrvaneTranslucentProxy(missing.c_str(), missing.c_str(), 12, 16, 1, r); },
        [&](auto r) { OrvaneTranslucentProxy(nullptr, nullptr, 12, 16, 1, r); },
    };
    for (size_t i = 0; i < std::size(constructions); ++i) {
        ReporterRecord record;
        EXPECT_THROW(constructions[i](new CountingReporter(record)), cv::Exception) << i;
        EXPECT_EQ(record.deletions, 1) << i;
        EXPECT_THROW(constructions[i](nullptr), cv::Exception) << i;  // nor may the stand-in reporter leak
    }
}

TEST(ReliefProxy, ColoursComeBackBlueFirstPreviewsArePackedRgbAndCopyAssignmentGivesAnOwnModel)
{
    ReporterRecord records[2];  // the source is used alone first: the copy takes its model as it now stands
    const std::vector<char> png = PngChars(MakeRamp(200, 100));
    auto source = std::make_unique<OrvaneReliefProxy>(png.data(), int(png.size()), 200, 100, 1, kHostRed, 4,
                                                      new CountingReporter(records[1]));
    // A one-colour palette proposes that colour on every level, as it was stored.
    int count = -1, width = 0, height = 0, size = 0;
    const float* floats = source->GetAutoLayerInfo(count, 1, 3);
    ASSERT_EQ(count, 12);
    EXPECT_EQ(std::vector<float>(floats, floats + 12), (std::vector<float>{0, 0, 255, 1, 0, 0, 255, 1, 0, 0, 255, 1}));

    // Bottom level blue, top level red, host order: the brightest pixels show both added.
    const float stack[8] = {0, 0, 255, 1, 255, 0, 0, 1};
    const auto at = [&](const unsigned char* rgb, int r, int c) { return cv::Vec3b(rgb + 3 * (r * width + c)); };
    const unsigned char* rgb = source->UpdatePreviewImage(stack, 8, width, height, size, 0, 0, 0, 0);
    ASSERT_EQ(cv::Vec3i(width, height, size), cv::Vec3i(200, 100, 60000));
    EXPECT_EQ(std::pair(at(rgb, 0, 0), at(rgb, 99, 199)), std::pair(cv::Vec3b(0, 0, 255), cv::Vec3b(255, 0, 255)));
    rgb = source->UpdatePreviewImage(stack, 8, width, height, size, 0, 100, 50, 1);
    ASSERT_EQ(cv::Vec3i(width, height, size), cv::Vec3i(100, 50, 15000));
    EXPECT_EQ(at(rgb, 0, 0), cv::Vec3b(0, 0, 255));

    const std::string path = WriteTemp("relief_ramp", MakeRamp(60, 40));
    auto target = std::make_unique<OrvaneReliefProxy>(path.c_str(), 60, 40, 1, kHostRed, 4, new CountingReporter(records[0]));
    const auto run = [](OrvaneReliefProxy& relief) {
        int entries = 0, cols = 0, rows = 0, bytes = 0;
        EXPECT_EQ(relief.GetAutoLayerInfo(entries, 1, 6) == nullptr ? -1 : entries, 24);
        EXPECT_NE(relief.UpdatePreviewImage(kStack, 12, cols, rows, bytes, 1, 0, 0, 0), nullptr);
        const MeshProxy body = relief.GetMesh(0, 5, 0.2, 0.4);
        EXPECT_GT(StlFacetCount(body.data, body.size), 0u);
        return std::make_pair(body, cv::Size(cols, rows));
    };
    ExpectOwnCopy<OrvaneReliefProxy>(std::move(target), std::move(source), records, run, {60, 40}, false);  // meshes report nothing
}

TEST(TranslucentProxy, CopyAssignmentGivesItsOwnModelAndBuffersAndKeepsItsReporterAndPreviewsAreRgb)
{
    // Shades of pure red: on a red card every preview pixel is a red, whatever the contrast.
    const auto red = [](int cols, int rows) {
        cv::Mat photo(rows, cols, CV_8UC3, cv::Scalar::all(0));
        photo.forEach<cv::Vec3b>([](cv::Vec3b& p, const int* yx) { p[2] = uint8_t(80 + 2 * yx[0] + yx[1]); });
        return photo;
    };
    // The source works at 12 x 16 pixels, 144 palette colours from 192.
    ReporterRecord records[2];
    const cv::Mat card(160, 640, CV_8UC3, cv::Scalar(0, 0, 255));
    const std::string cardPath = WriteTemp("assign_card", card), photoPath = WriteTemp("assign_photo", red(20, 20));
    const std::vector<char> cardBytes = PngChars(card), photo = PngChars(red(36, 48));
    auto target = std::make_unique<OrvaneTranslucentProxy>(cardPath.c_str(), photoPath.c_str(), 12, 16, 1,
                                                           new CountingReporter(records[0]));
    auto source = std::make_unique<OrvaneTranslucentProxy>(cardBytes.data(), int(cardBytes.size()), photo.data(),
                                                           int(photo.size()), 12, 16, 1, new CountingReporter(records[1]));
    // Packed RGB with only reds, some lit, from every preview; then five complete STL streams. A
    // width of 0 or less keeps the photograph whole, so the size tells which picture was read.
    const auto run = [](OrvaneTranslucentProxy& proxy) {
        int width = 0, height = 0, size = 0;
        float contrast = -1, brightness = -1;
        const auto expectRed = [&](const unsigned char* rgb) {
            int lit = 0, other = 0;
            for (int i = 0; i + 2 < size; i += 3) lit += rgb[i] > 0, other += rgb[i + 1] + rgb[i + 2];
            EXPECT_TRUE(size == width * height * 3 && lit > 0 && other == 0) << lit << " red, " << other << " other";
        };
        expectRed(proxy.UpdatePreviewImage(0.3, 0.0, width, height, size));
        expectRed(proxy.AutoContrast(contrast, brightness, width, height, size));
        cv::theRNG().state = 7;  // resampling quantizes again, for source and target alike
        expectRed(proxy.UpdatePreviewImage(-3.0, 1.0, 1.0, width, height, size));
        const MeshProxy* meshes = proxy.GetMeshes(2, 5, 0.1, 0.2);
        uint32_t facets[5] = {};
        for (int k = 0; k < 5; ++k) facets[k] = StlFacetCount(meshes[k].data, meshes[k].size);
        EXPECT_TRUE(facets[4] > 0 && facets[0] + facets[1] + facets[2] + facets[3] > 0) << "empty body or no material faces";
        return std::make_pair(meshes[4], cv::Size(width, height));
    };
    ExpectOwnCopy<OrvaneTranslucentProxy>(std::move(target), std::move(source), records, run, {20, 20}, true);
}
