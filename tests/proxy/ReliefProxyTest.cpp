// The relief facade: the model's results in flat form, and ownership of reporter and buffers.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FlatBuffers.h"
#include "OrvaneReliefProxy.h"
#include "PhotosRelief.h"
#include "ProxyFixtures.h"

using namespace Orvanes;
using namespace orvane_test;

namespace {

const float kHostRed[4] = {255, 0, 0, 1};  // red, green, blue, opacity as hosts send it
const float kStack[12] = {0, 0, 0, 1, 255, 0, 0, 1, 255, 255, 255, 0.125f};

// Every operation once, checking only that each hands back a result.
void RunEveryOperation(OrvaneReliefProxy& proxy)
{
    int count = 0, width = 0, height = 0, size = 0;
    EXPECT_NE(proxy.GetAutoLayerInfo(count, 1, 6), nullptr);
    EXPECT_EQ(count, 24);
    EXPECT_GT(StlFacetCount(proxy.GetMesh(0, 5, 0.2, 0.4)), 0u);
    EXPECT_NE(proxy.UpdatePreviewImage(kStack, 12, width, height, size, 1, 0, 0, 0), nullptr);
    EXPECT_EQ(size, width * height * 3);
}

cv::Vec3b Pixel(const unsigned char* rgb, int width, int r, int c)
{
    const unsigned char* p = rgb + 3 * (r * width + c);
    return cv::Vec3b(p[0], p[1], p[2]);
}

class ReliefProxy : public testing::Test {
protected:
    std::vector<char> png = EncodePng(ColourRamp(200, 100));
    int pngLength = static_cast<int>(png.size());
    OrvaneReliefProxy proxy{png.data(), pngLength, 200, 100, 1, kHostRed, 4, nullptr};
};

}  // namespace

TEST(FlatLayerList, ReordersGroupsBlueFirstDropsTheIncompleteTailAndReadsNothingItMustNot)
{
    const float colours[10] = {255, 0, 0, 1, 10, 20, 30, 0.5f, 99, 99};
    EXPECT_EQ(detail::LayerListFromFloats(colours, 10),
              (std::vector<LayerEntry>{LayerEntry(0, 0, 255, 1), LayerEntry(30, 20, 10, 0.5f)}));
    for (int count : {3, 0, -8}) EXPECT_TRUE(detail::LayerListFromFloats(colours, count).empty()) << count;
    EXPECT_TRUE(detail::LayerListFromFloats(nullptr, 400).empty());  // a count with no array
}

TEST_F(ReliefProxy, LayerProposalComesBackInStoredBlueFirstOrder)
{
    // A one-colour palette proposes that colour on every level, so the floats show how the
    // host's red-first colour was stored.
    int count = -1;
    const float* floats = proxy.GetAutoLayerInfo(count, 1, 3);
    ASSERT_EQ(count, 12);
    EXPECT_EQ(std::vector<float>(floats, floats + 12), (std::vector<float>{0, 0, 255, 1, 0, 0, 255, 1, 0, 0, 255, 1}));
    // Colours the proxy must not read leave the model without a palette, hence no proposal.
    OrvaneReliefProxy withoutPalette(png.data(), pngLength, 200, 100, 1, nullptr, 40, nullptr);
    withoutPalette.GetAutoLayerInfo(count, 0, 3);
    EXPECT_EQ(count, 0);
}

TEST_F(ReliefProxy, MeshIsTheModelsStlStreamAndFollowsEachCall)
{
    PhotosRelief model(cv::Mat(1, pngLength, CV_8UC1, png.data()), 200, 100, 1, nullptr, {LayerEntry(0, 0, 255, 1)});
    for (const int end : {4, 10}) {
        SCOPED_TRACE(end);
        const MeshProxy stream = proxy.GetMesh(end / 5, end, 0.2, 0.6);
        int size = 0;
        const std::unique_ptr<const char[]> expected(model.GetSTLStream(model.GetMesh(end / 5, end, 0.2, 0.6), size));
        EXPECT_GT(StlFacetCount(stream), 0u);
        ASSERT_EQ(stream.size, size);
        EXPECT_EQ(std::memcmp(stream.data, expected.get(), static_cast<size_t>(size)), 0);
    }
}

TEST_F(ReliefProxy, PreviewIsPackedRgbOfTheWorkingSize)
{
    // Bottom level blue, top level red, host order. Every pixel reaches the bottom level; the
    // brightest reach the top one too and show both added.
    const float stack[8] = {0, 0, 255, 1, 255, 0, 0, 1};
    int width = 0, height = 0, size = 0;
    const unsigned char* rgb = proxy.UpdatePreviewImage(stack, 8, width, height, size, 0, 0, 0, 0);
    ASSERT_EQ(cv::Vec3i(width, height, size), cv::Vec3i(200, 100, 60000));
    EXPECT_EQ(Pixel(rgb, width, 0, 0), cv::Vec3b(0, 0, 255));
    EXPECT_EQ(Pixel(rgb, width, 99, 199), cv::Vec3b(255, 0, 255));
    rgb = proxy.UpdatePreviewImage(stack, 8, width, height, size, 0, 100, 50, 1);
    ASSERT_EQ(cv::Vec3i(width, height, size), cv::Vec3i(100, 50, 15000));
    EXPECT_EQ(Pixel(rgb, width, 0, 0), cv::Vec3b(0, 0, 255));
}

TEST_F(ReliefProxy, FailedConstructionDeletesTheReporterAndPassesTheErrorOn)
{
    const char garbage[] = "not an image at all";
    const std::string missing = testing::TempDir() + "orvane_no_such_picture.png";
    ReporterRecord record;
    auto reporter = [&] { return new CountingReporter(record); };
    EXPECT_THROW(OrvaneReliefProxy(garbage, sizeof garbage, 60, 40, 1, kHostRed, 4, reporter()), cv::Exception);
    EXPECT_THROW(OrvaneReliefProxy(missing.c_str(), 60, 40, 1, kHostRed, 4, reporter()), cv::Exception);
    EXPECT_THROW(OrvaneReliefProxy(nullptr, 60, 40, 1, kHostRed, 4, reporter()), cv::Exception);
    EXPECT_THROW(OrvaneReliefProxy(png.data(), -5, 60, 40, 1, kHostRed, 4, reporter()), cv::Exception);
    EXPECT_EQ(record.deletions, 4);
    // The proxy's own stand-in reporter must not leak either (the leak checker watches this).
    EXPECT_THROW(OrvaneReliefProxy(garbage, sizeof garbage, 60, 40, 1, kHostRed, 4, nullptr), cv::Exception);
}

TEST_F(ReliefProxy, FailedOperationAndSelfAssignmentKeepEveryBuffer)
{
    int width = 0, height = 0, size = 0;
    const unsigned char* preview = proxy.UpdatePreviewImage(kStack, 12, width, height, size, 1, 0, 0, 0);
    const std::vector<unsigned char> previewBytes(preview, preview + size);
    const MeshProxy mesh = proxy.GetMesh(0, 5, 0.2, 0.4);
    const std::vector<char> meshBytes = Bytes(mesh);
    // A width of no pixels is refused before anything is released.
    EXPECT_ANY_THROW(proxy.UpdatePreviewImage(kStack, 12, width, height, size, 1, 0.5, 40, 1));
    const OrvaneReliefProxy& same = proxy;
    proxy = same;
    // Reading a released buffer here is what the sanitizer build would catch.
    EXPECT_EQ(std::vector<unsigned char>(preview, preview + previewBytes.size()), previewBytes);
    EXPECT_EQ(Bytes(mesh), meshBytes);
}

TEST_F(ReliefProxy, CopyAssignmentGivesItsOwnModelAndBuffersAndKeepsItsReporter)
{
    ReporterRecord targetRecord, sourceRecord;
    const std::string path = WriteTemp("relief_ramp", ColourRamp(60, 40));
    auto target = std::make_unique<OrvaneReliefProxy>(path.c_str(), 60, 40, 1, kHostRed, 4,
                                                      new CountingReporter(targetRecord));
    auto source = std::make_unique<OrvaneReliefProxy>(png.data(), pngLength, 200, 100, 1, kHostRed, 4,
                                                      new CountingReporter(sourceRecord));
    RunEveryOperation(*target);
    RunEveryOperation(*target);  // the second round releases every first-round buffer
    RunEveryOperation(*source);

    *target = *source;
    const std::vector<char> sourceBytes = Bytes(source->GetMesh(0, 5, 0.2, 0.4));
    source.reset();  // nothing of the target may depend on the source from here on
    EXPECT_EQ(sourceRecord.deletions, 1);
    EXPECT_EQ(targetRecord.deletions, 0);
    EXPECT_EQ(Bytes(target->GetMesh(0, 5, 0.2, 0.4)), sourceBytes);
    int width = 0, height = 0, size = 0;
    target->UpdatePreviewImage(kStack, 12, width, height, size, 1, 0, 0, 0);
    EXPECT_EQ(cv::Size(width, height), cv::Size(200, 100));
    RunEveryOperation(*target);
    target.reset();
    EXPECT_EQ(targetRecord.deletions, 1);
    EXPECT_EQ(sourceRecord.deletions, 1);
}
