#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "OrvaneReliefProxy.h"
#include "ProxyFixtures.h"

using namespace Orvanes;
using namespace orvane_test;

namespace {

const float kPalette[8] = {255, 0, 0, 1, 255, 255, 255, 0.125f};
const float kStack[12] = {0, 0, 0, 1, 255, 0, 0, 1, 255, 255, 255, 0.125f};

// Every operation once, checking only that each hands back a result.
void RunEveryOperation(OrvaneReliefProxy& proxy)
{
    int count = 0, width = 0, height = 0, size = 0;
    EXPECT_NE(proxy.GetAutoLayerInfo(count, 1, 6), nullptr);
    EXPECT_EQ(count, 24);
    EXPECT_GT(proxy.GetMesh(0, 5, 0.2, 0.4).size, 84);
    EXPECT_NE(proxy.UpdatePreviewImage(kStack, 12, width, height, size, 1, 0, 0, 0), nullptr);
    EXPECT_EQ(size, width * height * 3);
}

class ReliefProxyOwnership : public testing::Test {
protected:
    std::vector<char> png = EncodePng(ColourRamp(60, 40));
    int pngLength = static_cast<int>(png.size());
};

}  // namespace

TEST_F(ReliefProxyOwnership, RunsEveryOperationWithoutAReporterFromBytesAndFromAPath)
{
    OrvaneReliefProxy fromBytes(png.data(), pngLength, 60, 40, 1, kPalette, 8, nullptr);
    RunEveryOperation(fromBytes);

    const std::string path = testing::TempDir() + "orvane_relief_proxy_ramp.png";
    ASSERT_TRUE(cv::imwrite(path, ColourRamp(60, 40)));
    OrvaneReliefProxy fromPath(path.c_str(), 60, 40, 1, kPalette, 8, nullptr);
    RunEveryOperation(fromPath);
}

TEST_F(ReliefProxyOwnership, DeletesTheHostReporterOnceWithTheProxy)
{
    ReporterRecord record;
    {
        OrvaneReliefProxy proxy(png.data(), pngLength, 60, 40, 1, kPalette, 8, new CountingReporter(record));
        RunEveryOperation(proxy);
        RunEveryOperation(proxy);  // the second round releases every first-round buffer
        EXPECT_EQ(record.deletions, 0);
    }
    EXPECT_EQ(record.deletions, 1);
}

TEST_F(ReliefProxyOwnership, FailedConstructionDeletesTheReporterAndPassesTheErrorOn)
{
    const char garbage[] = "not an image at all";
    const std::string missing = testing::TempDir() + "orvane_no_such_picture.png";
    ReporterRecord record;
    EXPECT_THROW(OrvaneReliefProxy(garbage, sizeof garbage, 60, 40, 1, kPalette, 8,
                                   new CountingReporter(record)),
                 cv::Exception);
    EXPECT_THROW(OrvaneReliefProxy(missing.c_str(), 60, 40, 1, kPalette, 8, new CountingReporter(record)),
                 cv::Exception);
    EXPECT_THROW(OrvaneReliefProxy(nullptr, 60, 40, 1, kPalette, 8, new CountingReporter(record)),
                 cv::Exception);
    EXPECT_THROW(OrvaneReliefProxy(png.data(), -5, 60, 40, 1, kPalette, 8, new CountingReporter(record)),
                 cv::Exception);
    EXPECT_EQ(record.deletions, 4);
    // The proxy's own stand-in reporter must not leak either (the leak checker watches this).
    EXPECT_THROW(OrvaneReliefProxy(garbage, sizeof garbage, 60, 40, 1, kPalette, 8, nullptr), cv::Exception);
}

TEST_F(ReliefProxyOwnership, FailedOperationKeepsThePreviousBuffer)
{
    OrvaneReliefProxy proxy(png.data(), pngLength, 60, 40, 1, kPalette, 8, nullptr);
    int width = 0, height = 0, size = 0;
    const unsigned char* first = proxy.UpdatePreviewImage(kStack, 12, width, height, size, 1, 0, 0, 0);
    const std::vector<unsigned char> before(first, first + size);
    // A width of no pixels is refused before anything is released.
    EXPECT_ANY_THROW(proxy.UpdatePreviewImage(kStack, 12, width, height, size, 1, 0.5, 40, 1));
    EXPECT_EQ(std::memcmp(first, before.data(), before.size()), 0);
}

TEST_F(ReliefProxyOwnership, CopyAssignmentGivesItsOwnModelAndBuffersAndKeepsItsReporter)
{
    const std::vector<char> widePng = EncodePng(ColourRamp(200, 100));
    ReporterRecord targetRecord, sourceRecord;
    auto target = std::make_unique<OrvaneReliefProxy>(png.data(), pngLength, 60, 40, 1, kPalette, 8,
                                                      new CountingReporter(targetRecord));
    auto source = std::make_unique<OrvaneReliefProxy>(widePng.data(), static_cast<int>(widePng.size()),
                                                      200, 100, 1, kPalette, 8,
                                                      new CountingReporter(sourceRecord));
    RunEveryOperation(*target);
    RunEveryOperation(*source);

    *target = *source;
    const MeshProxy sourceMesh = source->GetMesh(0, 5, 0.2, 0.4);
    const std::vector<char> sourceBytes(sourceMesh.data, sourceMesh.data + sourceMesh.size);
    source.reset();  // nothing of the target may depend on the source from here on
    EXPECT_EQ(sourceRecord.deletions, 1);
    EXPECT_EQ(targetRecord.deletions, 0);

    const MeshProxy targetMesh = target->GetMesh(0, 5, 0.2, 0.4);
    ASSERT_EQ(targetMesh.size, static_cast<int>(sourceBytes.size()));
    EXPECT_EQ(std::memcmp(targetMesh.data, sourceBytes.data(), sourceBytes.size()), 0);
    int width = 0, height = 0, size = 0;
    target->UpdatePreviewImage(kStack, 12, width, height, size, 1, 0, 0, 0);
    EXPECT_EQ(width, 200);
    EXPECT_EQ(height, 100);
    RunEveryOperation(*target);

    target.reset();
    EXPECT_EQ(targetRecord.deletions, 1);
    EXPECT_EQ(sourceRecord.deletions, 1);
}

TEST_F(ReliefProxyOwnership, SelfAssignmentKeepsEveryBuffer)
{
    OrvaneReliefProxy proxy(png.data(), pngLength, 60, 40, 1, kPalette, 8, nullptr);
    int width = 0, height = 0, size = 0;
    const unsigned char* preview = proxy.UpdatePreviewImage(kStack, 12, width, height, size, 1, 0, 0, 0);
    const std::vector<unsigned char> previewBytes(preview, preview + size);
    const MeshProxy mesh = proxy.GetMesh(0, 5, 0.2, 0.4);
    const std::vector<char> meshBytes(mesh.data, mesh.data + mesh.size);

    const OrvaneReliefProxy& same = proxy;
    proxy = same;
    EXPECT_EQ(std::memcmp(preview, previewBytes.data(), previewBytes.size()), 0);
    EXPECT_EQ(std::memcmp(mesh.data, meshBytes.data(), meshBytes.size()), 0);
}
