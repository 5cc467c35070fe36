// Progress of the per-colour voxel meshes, and the inputs they refuse.
#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "MeshChecks.h"
#include "PhotosRelief.h"
#include "RecordingProgress.h"
#include "ReliefTestImages.h"

using Orvanes::LayerEntry;
using Orvanes::OrvaneMesh;
using Orvanes::PhotosRelief;
using orvane_test::RecordingProgress;

namespace {

PhotosRelief MakeRelief(int paletteSize, Orvanes::PhotosProgressBar* progress)
{
    std::vector<LayerEntry> palette;
    for (int k = 0; k < paletteSize; ++k)
        palette.emplace_back(static_cast<float>(k), static_cast<float>(255 - k), 7.0f, 0.25f);
    cv::Mat bgr;
    const cv::Mat grey = orvane_test::MakeRamp(16, 5);
    cv::merge(std::vector<cv::Mat>{grey, grey, grey}, bgr);
    return PhotosRelief(orvane_test::EncodePng(bgr), 16, 5, 1.0, progress, palette);
}

// The palette twice over as the stack; returns the face count of each colour's mesh.
std::vector<size_t> Meshes(PhotosRelief& relief, int baseCount = 1)
{
    std::vector<LayerEntry> stack = relief.Palette();
    stack.insert(stack.end(), relief.Palette().begin(), relief.Palette().end());
    std::vector<OrvaneMesh> meshes;
    std::vector<LayerEntry> colours;
    relief.GetVoxMeshes(stack, 0.1, 0.2, baseCount, 0.5, meshes, colours);
    std::vector<size_t> faceCounts;
    for (const auto& mesh : meshes) faceCounts.push_back(mesh.faces.size());
    return faceCounts;
}

}  // namespace

TEST(ReliefVoxelMeshProgress, RisesThroughEachColourSpanAndEndsAtHundred)
{
    struct Case {
        int colours;
        std::vector<int> sent;
    };
    // Each colour's end value is sent. One colour over a 16-column grid: the vertex pass climbs
    // to the middle of the span, 50, and the face pass on to 96; the final 100 is the relief's own.
    const Case cases[] = {{1, {50, 96, 100}}, {3, {33, 66, 100}}, {4, {25, 50, 75, 100}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.colours << " colours");
        RecordingProgress progress;
        PhotosRelief heard = MakeRelief(c.colours, &progress), quiet = MakeRelief(c.colours, nullptr);
        EXPECT_EQ(Meshes(heard), Meshes(quiet)) << "a null reporter changes nothing";
        const std::vector<int>& values = progress.values;
        ASSERT_GT(values.size(), c.sent.size()) << "the mesher's own reports fall between the ends";
        EXPECT_GT(values.front(), 0);
        EXPECT_EQ(values.back(), 100);
        for (size_t v = 1; v < values.size(); ++v) EXPECT_GT(values[v], values[v - 1]) << "at report " << v;
        for (int end : c.sent) EXPECT_NE(std::find(values.begin(), values.end(), end), values.end()) << end;
    }
}

TEST(ReliefVoxelMeshProgress, EmptyPaletteOrEmptyStackGivesNoMeshes)
{
    // Without a palette nothing is meshed and nothing sent; stale outputs are cleared.
    RecordingProgress progress;
    PhotosRelief relief = MakeRelief(0, &progress);
    std::vector<OrvaneMesh> meshes(2);
    std::vector<LayerEntry> colours(3);
    relief.GetVoxMeshes({LayerEntry(1, 2, 3, 1)}, 0.1, 0.2, 0, 0.5, meshes, colours);
    EXPECT_TRUE(meshes.empty() && colours.empty() && progress.values.empty());
    // An empty stack without base levels leaves no grid, yet each colour still counts.
    PhotosRelief twoColours = MakeRelief(2, &progress);
    twoColours.GetVoxMeshes({}, 0.1, 0.2, 0, 0.5, meshes, colours);
    EXPECT_TRUE(meshes.empty() && colours.empty());
    EXPECT_EQ(progress.values, (std::vector<int>{50, 100}));
}

TEST(ReliefVoxelMeshLimits, RefusesPalettesBeyondByteLabelsNegativeBasesAndLevelsBeyondGridChannels)
{
    PhotosRelief tooMany = MakeRelief(255, nullptr);
    EXPECT_THROW(Meshes(tooMany), std::invalid_argument);
    PhotosRelief relief = MakeRelief(3, nullptr);
    try {
        Meshes(relief, -4);
        ADD_FAILURE() << "a negative base count was accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("-4"), std::string::npos) << e.what();
    }
    std::vector<OrvaneMesh> meshes;
    std::vector<LayerEntry> colours;
    const std::vector<LayerEntry> tall(600, relief.Palette()[0]);
    EXPECT_THROW(relief.GetVoxMeshes(tall, 0.1, 0.2, 1, 0.5, meshes, colours), cv::Exception);
    EXPECT_THROW(relief.GetVoxMeshes({}, 0.1, 0.2, 513, 0.5, meshes, colours), cv::Exception);
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
