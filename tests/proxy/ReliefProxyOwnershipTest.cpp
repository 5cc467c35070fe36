#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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
    std::unique_ptr<OrvaneReliefProxy> Make(const std::vector<char>& bytes, int cols, int rows,
                                            PhotosProgressBar* reporter)
    {
        return std::make_unique<OrvaneReliefProxy>(bytes.data(), static_cast<int>(bytes.size()), cols, rows, 1,
                                                   kPalette, 8, reporter);
    }
    std::vector<char> png = EncodePng(ColourRamp(60, 40));
};

}  // namespace

TEST_F(ReliefProxyOwnership, RunsFromBytesOrAPathAndDeletesTheHostReporterOnceWithTheProxy)
{
    const std::string path = WriteTemp("relief_ramp", ColourRamp(60, 40));
    OrvaneReliefProxy fromPath(path.c_str(), 60, 40, 1, kPalette, 8, nullptr);
    RunEveryOperation(fromPath);

    ReporterRecord record;
    auto fromBytes = Make(png, 60, 40, new CountingReporter(record));
    RunEveryOperation(*fromBytes);
    RunEveryOperation(*fromBytes);  // the second round releases every first-round buffer
    EXPECT_EQ(record.deletions, 0);
    fromBytes.reset();
    EXPECT_EQ(record.deletions, 1);
}

TEST_F(ReliefProxyOwnership, FailedConstructionDeletesTheReporterAndPassesTheErrorOn)
{
    const char garbage[] = "not an image at all";
    const std::string missing = testing::TempDir() + "orvane_no_such_picture.png";
    ReporterRecord record;
    auto reporter = [&] { return new CountingReporter(record); };
    EXPECT_THROW(OrvaneReliefProxy(garbage, sizeof garbage, 60, 40, 1, kPalette, 8, reporter()), cv::Exception);
    EXPECT_THROW(OrvaneReliefProxy(missing.c_str(), 60, 40, 1, kPalette, 8, reporter()), cv::Exception);
    EXPECT_THROW(OrvaneReliefProxy(nullptr, 60, 40, 1, kPalette, 8, reporter()), cv::Exception);
    EXPECT_THROW(OrvaneReliefProxy(png.data(), -5, 60, 40, 1, kPalette, 8, reporter()), cv::Exception);
    EXPECT_EQ(record.deletions, 4);
    // The proxy's own stand-in reporter must not leak either (the leak checker watches this).
    EXPECT_THROW(OrvaneReliefProxy(garbage, sizeof garbage, 60, 40, 1, kPalette, 8, nullptr), cv::Exception);
}

TEST_F(ReliefProxyOwnership, FailedOperationAndSelfAssignmentKeepEveryBuffer)
{
    auto proxy = Make(png, 60, 40, nullptr);
    int width = 0, height = 0, size = 0;
    const unsigned char* preview = proxy->UpdatePreviewImage(kStack, 12, width, height, size, 1, 0, 0, 0);
    const std::vector<unsigned char> previewBytes(preview, preview + size);
    const MeshProxy mesh = proxy->GetMesh(0, 5, 0.2, 0.4);
    const std::vector<char> meshBytes = Bytes(mesh);
    // A width of no pixels is refused before anything is released.
    EXPECT_ANY_THROW(proxy->UpdatePreviewImage(kStack, 12, width, height, size, 1, 0.5, 40, 1));
    const OrvaneReliefProxy& same = *proxy;
    *proxy = same;
    // Reading a released buffer here is what the sanitizer build would catch.
    EXPECT_EQ(std::vector<unsigned char>(preview, preview + previewBytes.size()), previewBytes);
    EXPECT_EQ(Bytes(mesh), meshBytes);
}

TEST_F(ReliefProxyOwnership, CopyAssignmentGivesItsOwnModelAndBuffersAndKeepsItsReporter)
{
    ReporterRecord targetRecord, sourceRecord;
    auto target = Make(png, 60, 40, new CountingReporter(targetRecord));
    auto source = Make(EncodePng(ColourRamp(200, 100)), 200, 100, new CountingReporter(sourceRecord));
    RunEveryOperation(*target);
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
