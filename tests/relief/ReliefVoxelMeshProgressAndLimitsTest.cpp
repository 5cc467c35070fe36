// Progress of the per-colour voxel meshes, and the inputs they refuse.
#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "MeshChecks.h"
#include "RecordingProgress.h"
#include "PhotosRelief.h"
#include "ReliefTestImages.h"

using Orvanes::LayerEntry;
using Orvanes::OrvaneMesh;
using orvane_test::RecordingProgress;
using Orvanes::PhotosRelief;

namespace {

std::vector<LayerEntry> Palette(int count)
{
    std::vector<LayerEntry> palette;
    for (int k = 0; k < count; ++k)
        palette.emplace_back(static_cast<float>(k), static_cast<float>(255 - k), 7.0f, 0.25f);
    return palette;
}

PhotosRelief MakeRelief(int paletteSize, Orvanes::PhotosProgressBar* progress)
{
    cv::Mat bgr;
    const cv::Mat grey = orvane_test::MakeRamp(16, 5);
    cv::merge(std::vector<cv::Mat>{grey, grey, grey}, bgr);
    return PhotosRelief(orvane_test::EncodePng(bgr), 16, 5, 1.0, progress, Palette(paletteSize));
}

std::vector<int> Meshes(PhotosRelief& relief, int baseCount = 1)
{
    const auto& palette = relief.Palette();
    std::vector<LayerEntry> stack(palette.begin(), palette.end());
    stack.insert(stack.end(), palette.begin(), palette.end());
    std::vector<OrvaneMesh> meshes;
    std::vector<LayerEntry> colours;
    relief.GetVoxMeshes(stack, 0.1, 0.2, baseCount, 0.5, meshes, colours);
    std::vector<int> faceCounts;
    for (const auto& mesh : meshes) faceCounts.push_back(static_cast<int>(mesh.faces.size()));
    return faceCounts;
}

}  // namespace

TEST(ReliefVoxelMeshProgress, RisesThroughEachColourSpanAndEndsAtHundred)
{
    struct Case {
        int colours;
        std::vector<int> ends;
    };
    const Case cases[] = {{1, {100}}, {3, {33, 66, 100}}, {4, {25, 50, 75, 100}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.colours << " colours");
        RecordingProgress progress;
        PhotosRelief relief = MakeRelief(c.colours, &progress);
        Meshes(relief);
        const std::vector<int>& values = progress.values;
        ASSERT_FALSE(values.empty());
        EXPECT_EQ(values.back(), 100);
        EXPECT_GT(values.front(), 0);
        for (size_t v = 1; v < values.size(); ++v) EXPECT_GT(values[v], values[v - 1]) << "at report " << v;
        // Each colour's end value is sent, and the mesher's own reports fall between the ends.
        for (int end : c.ends) EXPECT_NE(std::find(values.begin(), values.end(), end), values.end()) << end;
        EXPECT_GT(values.size(), c.ends.size());
    }
    // One colour over a 16-column grid: the vertex pass climbs to the middle of the span,
    // 50, and the face pass on to 96; the final 100 is the relief's own.
    RecordingProgress progress;
    PhotosRelief relief = MakeRelief(1, &progress);
    Meshes(relief);
    EXPECT_NE(std::find(progress.values.begin(), progress.values.end(), 50), progress.values.end());
    ASSERT_GE(progress.values.size(), 2u);
    EXPECT_EQ(progress.values[progress.values.size() - 2], 96);
}

TEST(ReliefVoxelMeshProgress, EmptyPaletteGivesNothingAndSendsNothing)
{
    RecordingProgress progress;
    PhotosRelief relief = MakeRelief(0, &progress);
    std::vector<OrvaneMesh> meshes(2);
    std::vector<LayerEntry> colours(3);
    relief.GetVoxMeshes({LayerEntry(1, 2, 3, 1)}, 0.1, 0.2, 0, 0.5, meshes, colours);
    EXPECT_TRUE(meshes.empty());
    EXPECT_TRUE(colours.empty());
    EXPECT_TRUE(progress.values.empty());
}

TEST(ReliefVoxelMeshProgress, NullReporterGivesTheSameMeshes)
{
    RecordingProgress progress;
    PhotosRelief heard = MakeRelief(3, &progress);
    PhotosRelief quiet = MakeRelief(3, nullptr);
    EXPECT_EQ(Meshes(heard), Meshes(quiet));
    EXPECT_FALSE(progress.values.empty());
}

TEST(ReliefVoxelMeshLimits, RefusesPalettesBeyondByteLabelsAndNegativeBases)
{
    PhotosRelief tooMany = MakeRelief(255, nullptr);
    EXPECT_THROW(Meshes(tooMany), std::invalid_argument);
    PhotosRelief fine = MakeRelief(3, nullptr);
    EXPECT_THROW(Meshes(fine, -1), std::invalid_argument);
    try {
        Meshes(fine, -4);
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("-4"), std::string::npos) << e.what();
    }
}

TEST(ReliefVoxelMeshLimits, LargestPaletteKeepsEveryLabelApart)
{
    // 254 colours: labels 0..253, "not in the palette" 254 and "empty" 255 all stay distinct.
    PhotosRelief relief = MakeRelief(254, nullptr);
    const auto& palette = relief.Palette();
    const LayerEntry stranger(300.0f, 0.0f, 0.0f, 1.0f);
    std::vector<OrvaneMesh> meshes;
    std::vector<LayerEntry> colours;
    relief.GetVoxMeshes({palette[0], stranger, palette[253]}, 0.1, 0.2, 1, 0.5, meshes, colours);
    ASSERT_EQ(meshes.size(), 254u);
    EXPECT_FALSE(meshes[0].faces.empty());
    EXPECT_FALSE(meshes[253].faces.empty());
    for (size_t k = 1; k < 253; ++k) EXPECT_TRUE(meshes[k].faces.empty()) << k;
    orvane_test::ExpectClosedAndOutward(meshes[253], /*strict=*/false);
}

TEST(ReliefVoxelMeshLimits, EmptyStackWithoutBaseHasNothingToMesh)
{
    RecordingProgress progress;
    PhotosRelief relief = MakeRelief(2, &progress);
    std::vector<OrvaneMesh> meshes;
    std::vector<LayerEntry> colours;
    relief.GetVoxMeshes({}, 0.1, 0.2, 0, 0.5, meshes, colours);
    EXPECT_TRUE(meshes.empty());
    EXPECT_TRUE(colours.empty());
    EXPECT_EQ(progress.values, (std::vector<int>{50, 100}));
}

TEST(ReliefVoxelMeshLimits, MoreLevelsThanGridChannelsFailInTheImageLibrary)
{
    PhotosRelief relief = MakeRelief(2, nullptr);
    const std::vector<LayerEntry> stack(600, relief.Palette()[0]);
    std::vector<OrvaneMesh> meshes;
    std::vector<LayerEntry> colours;
    EXPECT_THROW(relief.GetVoxMeshes(stack, 0.1, 0.2, 1, 0.5, meshes, colours), cv::Exception);
    EXPECT_THROW(relief.GetVoxMeshes({}, 0.1, 0.2, 513, 0.5, meshes, colours), cv::Exception);
}
