// The relief's per-colour voxel meshes: each is closed and outward, each colour fills the
// levels the stack gives it, and together they fill exactly the voxels of the relief.
#include <algorithm>
#include <limits>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "MeshChecks.h"
#include "PhotosRelief.h"
#include "ReliefTestImages.h"

using Orvanes::LayerEntry;
using Orvanes::OrvaneMesh;
using Orvanes::PhotosRelief;

namespace {

// Palette entries in the relief's own sort order (blue ascending), so index k stays index k.
std::vector<LayerEntry> Palette(int count)
{
    std::vector<LayerEntry> palette;
    for (int k = 0; k < count; ++k) palette.emplace_back(static_cast<float>(10 * k), 40.0f, 80.0f, 0.5f);
    return palette;
}

PhotosRelief MakeRelief(const cv::Mat& grey, const std::vector<LayerEntry>& palette)
{
    cv::Mat bgr;
    cv::merge(std::vector<cv::Mat>{grey, grey, grey}, bgr);
    return PhotosRelief(orvane_test::EncodePng(bgr), grey.cols, grey.rows, 1.0, nullptr, palette);
}

constexpr double kLayerHeight = 0.2, kBottomLayerHeight = 0.6, kVoxelSize = 0.5;

// Volume per palette index (the last slot: colours the palette lacks), level by level: relief
// level i (counted from the top) holds stack entry L-1-i where grey >= (L-1-i) * step + min;
// base levels hold index 0.
std::vector<double> LabelVolumes(const PhotosRelief& relief, const std::vector<LayerEntry>& stack, int baseCount)
{
    const cv::Mat& grey = relief.GreyImage();
    const auto& palette = relief.Palette();
    const int stackSize = static_cast<int>(stack.size());
    const int levels = std::max(stackSize - baseCount, 0), channels = levels + baseCount;
    double lo = 0.0, hi = 0.0;
    cv::minMaxLoc(grey, &lo, &hi);
    const int step = levels > 0 ? static_cast<int>(hi - lo) / levels : 0;
    std::vector<double> volumes(palette.size() + 1, 0.0);
    for (int c = 0; c < channels; ++c) {
        const auto entry = c < levels ? std::find(palette.begin(), palette.end(), stack[stackSize - 1 - c])
                                      : palette.begin();
        const double pixels = c < levels ? cv::countNonZero(grey >= (levels - 1 - c) * step + lo) : grey.total();
        volumes[entry - palette.begin()] +=
            pixels * kVoxelSize * kVoxelSize * (c + 1 < channels ? kLayerHeight : kBottomLayerHeight);
    }
    return volumes;
}

// z range of the vertices the triangles use; after the turn level 0 starts at z = 0 and the
// levels run toward negative z.
std::pair<float, float> ZRange(const OrvaneMesh& mesh)
{
    float low = std::numeric_limits<float>::max(), high = std::numeric_limits<float>::lowest();
    for (const auto& f : mesh.faces)
        for (int c = 0; c < 3; ++c) {
            low = std::min(low, mesh.vertices[f[c]][2]);
            high = std::max(high, mesh.vertices[f[c]][2]);
        }
    return {low, high};
}

void ExpectTiles(PhotosRelief relief, const std::vector<LayerEntry>& stack, int baseCount)
{
    std::vector<OrvaneMesh> meshes;
    std::vector<LayerEntry> colours;
    relief.GetVoxMeshes(stack, kLayerHeight, kBottomLayerHeight, baseCount, kVoxelSize, meshes, colours);
    // Every colour has a mesh, if only of the shell vertices.
    ASSERT_EQ(meshes.size(), relief.Palette().size());
    EXPECT_EQ(colours, relief.Palette());
    const std::vector<double> volumes = LabelVolumes(relief, stack, baseCount);
    for (size_t k = 0; k < meshes.size(); ++k) {
        SCOPED_TRACE(testing::Message() << "colour " << k);
        orvane_test::ExpectClosedAndOutward(meshes[k], /*strict=*/false);
        // Vertices are floats of a few units; the relative error stays far below 1e-5.
        EXPECT_NEAR(orvane_test::SixVolume(meshes[k]) / 6.0, volumes[k], 1e-5 * (1.0 + volumes[k]));
    }
}

}  // namespace

TEST(ReliefVoxelMeshes, LevelsTakeTheirColoursTopFirstWithBaseInTheFirstColourAndSurviveAPreview)
{
    // Five entries over two base levels: step 255 / 3 = 85, so the top level holds grey >= 170,
    // the next grey >= 85, the lowest relief level every pixel, and both base levels colour 0.
    const cv::Mat grey = orvane_test::MakeRamp(16, 3);
    const auto palette = Palette(5);
    PhotosRelief relief = MakeRelief(grey, palette);
    ASSERT_EQ(cv::norm(relief.GreyImage(), grey, cv::NORM_INF), 0.0) << "a full-span grey is kept as it is";
    const std::vector<LayerEntry> stack = {palette[3], palette[3], palette[2], palette[1], palette[4]};
    std::vector<OrvaneMesh> meshes, again;
    std::vector<LayerEntry> colours;
    relief.GetVoxMeshes(stack, kLayerHeight, kBottomLayerHeight, 2, kVoxelSize, meshes, colours);
    ASSERT_EQ(meshes.size(), 5u);

    const double h = kLayerHeight, cell = kVoxelSize * kVoxelSize;
    const auto count = [&](int threshold) { return static_cast<double>(cv::countNonZero(grey >= threshold)); };
    struct Expect {
        int colour;
        double top, bottom, volume;
    };
    const Expect expects[] = {{4, 0.0, -h, count(170) * cell * h},
                              {1, -h, -2 * h, count(85) * cell * h},
                              {2, -2 * h, -3 * h, grey.total() * cell * h},
                              {0, -3 * h, -4 * h - kBottomLayerHeight,
                               grey.total() * cell * (h + kBottomLayerHeight)}};
    for (const Expect& e : expects) {
        SCOPED_TRACE(testing::Message() << "colour " << e.colour);
        const auto [low, high] = ZRange(meshes[e.colour]);
        EXPECT_NEAR(high, e.top, 1e-4);
        EXPECT_NEAR(low, e.bottom, 1e-4);
        EXPECT_NEAR(orvane_test::SixVolume(meshes[e.colour]) / 6.0, e.volume, 1e-5 * e.volume);
    }
    // Colour 3 stands only in the base part of the stack, which prints in colour 0.
    EXPECT_TRUE(meshes[3].faces.empty());
    EXPECT_FALSE(meshes[3].vertices.empty());

    relief.UpdatePreviewImage(stack, 2, 0.0, 0.0, 0.0);
    relief.GetVoxMeshes(stack, kLayerHeight, kBottomLayerHeight, 2, kVoxelSize, again, colours);
    ASSERT_EQ(again.size(), meshes.size());
    for (size_t k = 0; k < meshes.size(); ++k) {
        EXPECT_EQ(again[k].vertices, meshes[k].vertices) << "a preview changed colour " << k;
        EXPECT_EQ(again[k].faces, meshes[k].faces) << "a preview changed colour " << k;
    }
}

TEST(ReliefVoxelMeshes, ColoursTogetherFillExactlyTheReliefVoxels)
{
    cv::theRNG().state = 4242;
    cv::Mat noise(23, 31, CV_8UC1), rings;
    cv::randu(noise, 0, 256);
    cv::extractChannel(orvane_test::MakeRings(40, 30), rings, 0);
    // A uniform picture has no grey span: every relief level fills the whole block.
    const cv::Mat uniform(5, 6, CV_8UC1, cv::Scalar(90));
    const auto palette = Palette(4);
    // The last stack holds a colour the palette lacks: its level is nobody's, a hole.
    const LayerEntry stranger(1.0f, 2.0f, 3.0f, 0.5f);
    const std::vector<LayerEntry> stacks[] = {
        {palette[1], palette[2], palette[3], palette[0], palette[2], palette[1], palette[3]},
        {palette[0], palette[3], palette[3], palette[3]},
        {palette[2]},
        {palette[0], stranger, palette[1]}};
    for (const cv::Mat& grey : {noise, rings, uniform}) {
        const PhotosRelief relief = MakeRelief(grey, palette);
        for (const auto& stack : stacks)
            // Bases from none to taller than any stack.
            for (int baseCount : {0, 1, 3, 9}) {
                SCOPED_TRACE(testing::Message() << grey.cols << "x" << grey.rows << " stack " << stack.size()
                                                << " base " << baseCount);
                ExpectTiles(relief, stack, baseCount);
            }
    }
}
