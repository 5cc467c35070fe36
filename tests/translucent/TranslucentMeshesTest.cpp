#include <algorithm>
#include <array>
#include <set>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "MeshChecks.h"
#include "PhotosTranslucent.h"
#include "TranslucentFixtures.h"

namespace {

using Orvanes::CardCell;
using Orvanes::OrvaneMesh;
using Orvanes::PhotosTranslucent;
using orvane_test::ExpectClosedAndOutward;
using orvane_test::SixVolume;

using Stack = std::array<uint8_t, 6>;

TEST(CellLayers, SpellsTheCellInBaseFourUnderAWhiteTop)
{
    EXPECT_EQ(PhotosTranslucent::CellLayers({0, 0}), (Stack{0, 0, 0, 0, 0, 3}));
    EXPECT_EQ(PhotosTranslucent::CellLayers({15, 63}), (Stack{3, 3, 3, 3, 3, 3}));
    EXPECT_EQ(PhotosTranslucent::CellLayers({10, 16}), (Stack{0, 0, 2, 2, 1, 3}));
    EXPECT_EQ(PhotosTranslucent::CellLayers({5, 37}), (Stack{1, 1, 1, 1, 2, 3}));
    // The 1024 cells are the 4^5 stacks of the five lower layers, each once.
    std::set<Stack> stacks;
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 64; ++c) {
            const Stack s = PhotosTranslucent::CellLayers({r, c});
            EXPECT_TRUE(std::all_of(s.begin(), s.end(), [](uint8_t m) { return m < 4; }));
            stacks.insert(s);
        }
    EXPECT_EQ(stacks.size(), 1024u);
    EXPECT_THROW(PhotosTranslucent::CellLayers({16, 0}), std::out_of_range);
    EXPECT_THROW(PhotosTranslucent::CellLayers({0, -1}), std::out_of_range);
}

class TranslucentMeshes : public testing::Test {
protected:
    void SetUp() override { cv::theRNG().state = 4242; }

    static constexpr double kLayer = 0.2, kLast = 0.5;

    static PhotosTranslucent Build(const cv::Mat& photo, Orvanes::PhotosProgressBar* reporter = nullptr)
    {
        return PhotosTranslucent(orvane_test::Encode(orvane_test::MakeCard()), orvane_test::Encode(photo),
                                 photo.cols, photo.rows, 1.0, reporter);
    }

    // Volume of the voxels of each material, from per-pixel stacks.
    static std::array<double, 4> MaterialVolumes(const std::vector<std::pair<Stack, int>>& stacksAndPixels)
    {
        std::array<double, 4> volume{};
        for (const auto& [stack, pixels] : stacksAndPixels)
            for (int k = 0; k < 6; ++k) volume[stack[k]] += pixels * (k == 5 ? kLast : kLayer);
        return volume;
    }
};

TEST_F(TranslucentMeshes, DarkAndPaleHalvesPrintTheirFixedStacks)
{
    cv::Mat photo(30, 40, CV_8UC3, cv::Scalar(20, 20, 20));                // dark: cell (10, 16)
    photo(cv::Rect(20, 0, 20, 30)).setTo(cv::Scalar(240, 245, 250));       // pale: cell (15, 63)
    PhotosTranslucent model = Build(photo);
    const std::vector<OrvaneMesh> meshes = model.GetMeshes(8, 12, kLayer, kLast);
    ASSERT_EQ(meshes.size(), 5u);

    const auto expected = MaterialVolumes({{PhotosTranslucent::CellLayers({10, 16}), 600},
                                           {PhotosTranslucent::CellLayers({15, 63}), 600}});
    for (int material = 0; material < 4; ++material) {
        SCOPED_TRACE(testing::Message() << "material " << material);
        ExpectClosedAndOutward(meshes[material], false);
        EXPECT_NEAR(SixVolume(meshes[material]) / 6.0, expected[material], 1e-4 * expected[material]);
    }
    ExpectClosedAndOutward(meshes[4], true);

    // The colour layers hang below z = 0, the body stands above it: black pixels are
    // (12 - 6) layers high, white ones (8 - 6).
    auto zRange = [](const OrvaneMesh& mesh) {
        float low = mesh.vertices[0][2], high = low;
        for (const auto& v : mesh.vertices) low = std::min(low, v[2]), high = std::max(high, v[2]);
        return std::make_pair(low, high);
    };
    for (int material = 0; material < 4; ++material) {
        EXPECT_NEAR(zRange(meshes[material]).first, -(5 * kLayer + kLast), 1e-5);
        EXPECT_NEAR(zRange(meshes[material]).second, 0.0, 1e-5);
    }
    EXPECT_NEAR(zRange(meshes[4]).first, 0.0, 1e-5);
    EXPECT_NEAR(zRange(meshes[4]).second, 6 * kLayer, 1e-5);
    float whiteTop = 1e9f;
    for (size_t i = 0; i < meshes[4].vertices.size(); i += 2) whiteTop = std::min(whiteTop, meshes[4].vertices[i][2]);
    EXPECT_NEAR(whiteTop, 2 * kLayer, 1e-5);
}

TEST_F(TranslucentMeshes, MaterialsTileTheWholeSixLayerGrid)
{
    orvane_test::RecordingReporter reporter;
    PhotosTranslucent model = Build(orvane_test::MakePhoto(40, 30), &reporter);
    model.UpdatePreviewImage(0.4, 0.05);
    reporter.values.clear();
    const std::vector<OrvaneMesh> meshes = model.GetMeshes(7, 11, kLayer, kLast);
    ASSERT_EQ(meshes.size(), 5u);

    double total = 0.0;
    for (int material = 0; material < 4; ++material) {
        SCOPED_TRACE(testing::Message() << "material " << material);
        ExpectClosedAndOutward(meshes[material], false);
        total += SixVolume(meshes[material]) / 6.0;
    }
    const double pixels = 40.0 * 30.0;
    EXPECT_NEAR(total, pixels * (5 * kLayer + kLast), 1e-4 * total);
    // The top layer is white everywhere.
    EXPECT_GE(SixVolume(meshes[3]) / 6.0, pixels * kLast * (1 - 1e-5));
    ExpectClosedAndOutward(meshes[4], true);

    // The mesher's own reports fill the gaps between the model's.
    const std::vector<int>& values = reporter.values;
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()) &&
                std::adjacent_find(values.begin(), values.end()) == values.end());
    for (const int step : {20, 40, 60, 80, 100})
        EXPECT_NE(std::find(values.begin(), values.end(), step), values.end()) << step;
    EXPECT_EQ(values.back(), 100);
    EXPECT_GT(std::count_if(values.begin(), values.end(), [](int v) { return v > 0 && v < 20; }), 0);
    EXPECT_GT(std::count_if(values.begin(), values.end(), [](int v) { return v > 60 && v < 80; }), 0);
}

}  // namespace
