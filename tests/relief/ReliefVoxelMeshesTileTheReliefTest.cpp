// The relief's per-colour voxel meshes: each is closed and outward, each colour fills the
// levels the stack gives it, and together they fill exactly the voxels of the relief.
#include <algorithm>
#include <limits>
#include <map>
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

// A relief whose grey image is exactly grey: one pixel per unit, and grey spans 0..255 so the
// stretch leaves it alone.
PhotosRelief MakeRelief(const cv::Mat& grey, const std::vector<LayerEntry>& palette,
                        Orvanes::PhotosProgressBar* progress = nullptr)
{
    cv::Mat bgr;
    cv::merge(std::vector<cv::Mat>{grey, grey, grey}, bgr);
    PhotosRelief relief(orvane_test::EncodePng(bgr), grey.cols, grey.rows, 1.0, progress, palette);
    EXPECT_EQ(cv::norm(relief.GreyImage(), grey, cv::NORM_INF), 0.0);
    return relief;
}

struct Layers {
    double layerHeight = 0.2, bottomLayerHeight = 0.6, voxelSize = 0.5;
    double Thickness(int channel, int channelCount) const
    {
        return channel + 1 < channelCount ? layerHeight : bottomLayerHeight;
    }
};

// Volume per voxel label, pixel by pixel: relief level i (counted from the top) holds stack
// entry L-1-i where grey >= (m-1-i) * step + min; base levels hold label 0.
std::map<int, double> LabelVolumes(const cv::Mat& grey, const std::vector<LayerEntry>& stack, int baseCount,
                                   const std::vector<LayerEntry>& palette, const Layers& layers)
{
    const int stackSize = static_cast<int>(stack.size());
    const int levels = std::max(stackSize - baseCount, 0);
    const int channels = levels + baseCount;
    double lo = 0.0, hi = 0.0;
    cv::minMaxLoc(grey, &lo, &hi);
    const int step = levels > 0 ? static_cast<int>(hi - lo) / levels : 0;
    const double cell = layers.voxelSize * layers.voxelSize;
    std::map<int, double> volumes;
    for (int c = 0; c < channels; ++c) {
        int label = 0;
        if (c < levels) {
            const auto it = std::find(palette.begin(), palette.end(), stack[stackSize - 1 - c]);
            label = static_cast<int>(it - palette.begin());
        }
        for (int r = 0; r < grey.rows; ++r)
            for (int x = 0; x < grey.cols; ++x)
                if (c >= levels || grey.at<uchar>(r, x) >= (levels - 1 - c) * step + lo)
                    volumes[label] += cell * layers.Thickness(c, channels);
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

void ExpectTiles(const PhotosRelief& constRelief, const cv::Mat& grey, const std::vector<LayerEntry>& stack,
                 int baseCount, const Layers& layers)
{
    PhotosRelief relief = constRelief;
    std::vector<OrvaneMesh> meshes;
    std::vector<LayerEntry> colours;
    relief.GetVoxMeshes(stack, layers.layerHeight, layers.bottomLayerHeight, baseCount, layers.voxelSize, meshes,
                        colours);
    const auto& palette = relief.Palette();
    ASSERT_EQ(meshes.size(), palette.size());  // every colour has at least the shell vertices
    ASSERT_EQ(colours.size(), palette.size());
    const std::map<int, double> expected = LabelVolumes(grey, stack, baseCount, palette, layers);
    for (size_t k = 0; k < meshes.size(); ++k) {
        SCOPED_TRACE(testing::Message() << "colour " << k);
        EXPECT_EQ(colours[k], palette[k]);
        orvane_test::ExpectClosedAndOutward(meshes[k], /*strict=*/false);
        const auto it = expected.find(static_cast<int>(k));
        const double volume = it == expected.end() ? 0.0 : it->second;
        // Vertices are floats of a few units; the relative error stays far below 1e-5.
        EXPECT_NEAR(orvane_test::SixVolume(meshes[k]) / 6.0, volume, 1e-5 * (1.0 + volume));
    }
}

}  // namespace

TEST(ReliefVoxelMeshes, LevelsTakeTheirColoursTopFirstWithBaseInTheFirstColour)
{
    // Five entries over two base levels: step 255 / 3 = 85, so the top level holds grey >= 170,
    // the next grey >= 85, the lowest relief level every pixel, and both base levels colour 0.
    const cv::Mat grey = orvane_test::MakeRamp(16, 3);
    const auto palette = Palette(5);
    PhotosRelief relief = MakeRelief(grey, palette);
    const std::vector<LayerEntry> stack = {palette[3], palette[3], palette[2], palette[1], palette[4]};
    const Layers layers;
    std::vector<OrvaneMesh> meshes;
    std::vector<LayerEntry> colours;
    relief.GetVoxMeshes(stack, layers.layerHeight, layers.bottomLayerHeight, 2, layers.voxelSize, meshes, colours);
    ASSERT_EQ(meshes.size(), 5u);

    const double h = layers.layerHeight, cell = layers.voxelSize * layers.voxelSize;
    const auto count = [&](int threshold) { return static_cast<double>(cv::countNonZero(grey >= threshold)); };
    struct Expect {
        int colour;
        double top, bottom, volume;
    };
    const Expect expects[] = {{4, 0.0, -h, count(170) * cell * h},
                              {1, -h, -2 * h, count(85) * cell * h},
                              {2, -2 * h, -3 * h, grey.total() * cell * h},
                              {0, -3 * h, -4 * h - layers.bottomLayerHeight,
                               grey.total() * cell * (h + layers.bottomLayerHeight)}};
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
}

TEST(ReliefVoxelMeshes, ColoursTogetherFillExactlyTheReliefVoxels)
{
    cv::theRNG().state = 4242;
    cv::Mat noise(23, 31, CV_8UC1);
    cv::randu(noise, 0, 256);
    noise.at<uchar>(0, 0) = 0;
    noise.at<uchar>(0, 1) = 255;
    const cv::Mat rings = [] {
        cv::Mat image = orvane_test::MakeRings(40, 30), channels[3];
        cv::split(image, channels);
        channels[0].at<uchar>(0, 0) = 0;
        channels[0].at<uchar>(0, 1) = 255;
        return channels[0];
    }();
    const auto palette = Palette(4);
    const std::vector<LayerEntry> stacks[] = {
        {palette[1], palette[2], palette[3], palette[0], palette[2], palette[1], palette[3]},
        {palette[0], palette[3], palette[3], palette[3]},
        {palette[2]}};
    for (const cv::Mat& grey : {noise, rings}) {
        const PhotosRelief relief = MakeRelief(grey, palette);
        for (const auto& stack : stacks)
            for (int baseCount : {0, 1, 3, 9}) {
                SCOPED_TRACE(testing::Message() << grey.cols << "x" << grey.rows << " stack " << stack.size()
                                                << " base " << baseCount);
                ExpectTiles(relief, grey, stack, baseCount, Layers());
            }
    }
}

TEST(ReliefVoxelMeshes, ColourMissingFromThePaletteLeavesAHole)
{
    const cv::Mat grey = orvane_test::MakeRamp(12, 4);
    const auto palette = Palette(2);
    PhotosRelief relief = MakeRelief(grey, palette);
    const LayerEntry stranger(1.0f, 2.0f, 3.0f, 0.5f);
    const std::vector<LayerEntry> stack = {palette[0], stranger, palette[1]};
    const Layers layers;
    std::vector<OrvaneMesh> meshes;
    std::vector<LayerEntry> colours;
    relief.GetVoxMeshes(stack, layers.layerHeight, layers.bottomLayerHeight, 1, layers.voxelSize, meshes, colours);
    ASSERT_EQ(meshes.size(), 2u);
    double volume = 0.0;
    for (const auto& mesh : meshes) volume += orvane_test::SixVolume(mesh) / 6.0;
    // Top level (grey >= 127) in colour 1 and the base in colour 0; the middle level is nobody's.
    const double cell = layers.voxelSize * layers.voxelSize;
    const double expected = cv::countNonZero(grey >= 127) * cell * layers.layerHeight +
                            grey.total() * cell * layers.bottomLayerHeight;
    EXPECT_NEAR(volume, expected, 1e-5 * expected);
}

TEST(ReliefVoxelMeshes, FlatBlocksWhenThereIsNoGreySpanOrNoReliefLevel)
{
    const Layers layers;
    const auto palette = Palette(3);
    // A uniform picture has no span: every relief level fills the whole block.
    const cv::Mat uniform(5, 6, CV_8UC1, cv::Scalar(90));
    PhotosRelief ramp = MakeRelief(orvane_test::MakeRamp(6, 5), palette);
    PhotosRelief level = [&] {
        cv::Mat bgr;
        cv::merge(std::vector<cv::Mat>{uniform, uniform, uniform}, bgr);
        return PhotosRelief(orvane_test::EncodePng(bgr), 6, 5, 1.0, nullptr, palette);
    }();
    const double block = 30 * layers.voxelSize * layers.voxelSize;
    std::vector<OrvaneMesh> meshes;
    std::vector<LayerEntry> colours;
    level.GetVoxMeshes({palette[1], palette[2], palette[1]}, layers.layerHeight, layers.bottomLayerHeight, 0,
                      layers.voxelSize, meshes, colours);
    ASSERT_EQ(meshes.size(), 3u);
    EXPECT_NEAR(orvane_test::SixVolume(meshes[1]) / 6.0, block * (layers.layerHeight + layers.bottomLayerHeight),
                1e-6);
    EXPECT_NEAR(orvane_test::SixVolume(meshes[2]) / 6.0, block * layers.layerHeight, 1e-6);
    EXPECT_TRUE(meshes[0].faces.empty());

    // A base as tall as the stack, or taller: baseCount levels of colour 0 and nothing else.
    for (int baseCount : {2, 4}) {
        ramp.GetVoxMeshes({palette[2], palette[1]}, layers.layerHeight, layers.bottomLayerHeight, baseCount,
                          layers.voxelSize, meshes, colours);
        ASSERT_EQ(meshes.size(), 3u);
        EXPECT_NEAR(orvane_test::SixVolume(meshes[0]) / 6.0,
                    block * ((baseCount - 1) * layers.layerHeight + layers.bottomLayerHeight), 1e-6);
        EXPECT_TRUE(meshes[1].faces.empty());
        EXPECT_TRUE(meshes[2].faces.empty());
    }
}

TEST(ReliefVoxelMeshes, SameMeshesBeforeAndAfterAPreview)
{
    const cv::Mat grey = orvane_test::MakeRamp(9, 7);
    const auto palette = Palette(3);
    PhotosRelief relief = MakeRelief(grey, palette);
    const std::vector<LayerEntry> stack = {palette[0], palette[2], palette[1], palette[2]};
    std::vector<OrvaneMesh> before, after;
    std::vector<LayerEntry> colours;
    relief.GetVoxMeshes(stack, 0.1, 0.3, 1, 0.4, before, colours);
    relief.UpdatePreviewImage(stack, 1, 0.0, 0.0, 0.0);
    relief.GetVoxMeshes(stack, 0.1, 0.3, 1, 0.4, after, colours);
    ASSERT_EQ(before.size(), after.size());
    for (size_t k = 0; k < before.size(); ++k) {
        EXPECT_EQ(before[k].vertices, after[k].vertices);
        EXPECT_EQ(before[k].faces, after[k].faces);
    }
}
