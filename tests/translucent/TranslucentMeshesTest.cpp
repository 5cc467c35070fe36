#include <algorithm>
#include <array>
#include <set>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "MeshChecks.h"
#include "TranslucentFixtures.h"

namespace {

using Orvanes::OrvaneMesh;
using Orvanes::PhotosTranslucent;
using Stack = std::array<uint8_t, 6>;

TEST(CellLayers, SpellsTheCellInBaseFourUnderAWhiteTop)
{
    EXPECT_EQ(PhotosTranslucent::CellLayers({0, 0}), (Stack{0, 0, 0, 0, 0, 3}));
    EXPECT_EQ(PhotosTranslucent::CellLayers({10, 16}), (Stack{0, 0, 2, 2, 1, 3}));
    EXPECT_EQ(PhotosTranslucent::CellLayers({5, 37}), (Stack{1, 1, 1, 1, 2, 3}));
    // The 1024 cells are the 4^5 stacks of the five lower layers, each once.
    std::set<Stack> stacks;
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 64; ++c) {
            const Stack s = PhotosTranslucent::CellLayers({r, c});
            EXPECT_TRUE(std::all_of(s.begin(), s.end(), [](uint8_t m) { return m < 4; }) && s[5] == 3);
            stacks.insert(s);
        }
    EXPECT_EQ(stacks.size(), 1024u);
    EXPECT_THROW(PhotosTranslucent::CellLayers({16, 0}), std::out_of_range);
    EXPECT_THROW(PhotosTranslucent::CellLayers({0, -1}), std::out_of_range);
}

TEST(TranslucentMeshes, MaterialsTileTheSixLayerGridAndTheBodyFollowsTheGrey)
{
    constexpr double kLayer = 0.2, kLast = 0.5, kPixels = 40.0 * 30.0;
    // Dark left half: cell (10, 16), all black; pale right half: cell (15, 63), all white.
    cv::Mat halves(30, 40, CV_8UC3, cv::Scalar(20, 20, 20));
    halves(cv::Rect(20, 0, 20, 30)).setTo(cv::Scalar(240, 245, 250));
    for (const bool photograph : {false, true}) {
        SCOPED_TRACE(photograph ? "photograph with contrast" : "dark and pale halves");
        cv::theRNG().state = 4242;
        orvane_test::RecordingProgress reporter;
        PhotosTranslucent model =
            orvane_test::BuildModel(&reporter, 40.0, 30.0, photograph ? orvane_test::MakePhoto(40, 30) : halves);
        if (photograph) model.UpdatePreviewImage(0.4, 0.05);
        reporter.values.clear();
        const std::vector<OrvaneMesh> meshes = model.GetMeshes(8, 12, kLayer, kLast);
        ASSERT_EQ(meshes.size(), 5u);

        std::array<double, 4> expected{};  // volume per material, known for the halves
        for (const Stack& s : {PhotosTranslucent::CellLayers({10, 16}), PhotosTranslucent::CellLayers({15, 63})})
            for (int k = 0; k < 6; ++k) expected[s[k]] += kPixels / 2 * (k == 5 ? kLast : kLayer);
        double total = 0.0;
        for (int material = 0; material < 4; ++material) {
            SCOPED_TRACE(testing::Message() << "material " << material);
            orvane_test::ExpectClosedAndOutward(meshes[material], false);
            const double volume = orvane_test::SixVolume(meshes[material]) / 6.0;
            total += volume;
            if (!photograph) {
                EXPECT_NEAR(volume, expected[material], 1e-4 * expected[material]);
            }
            for (const auto& v : meshes[material].vertices)  // the colour layers hang below z = 0
                ASSERT_TRUE(v[2] >= -(5 * kLayer + kLast) - 1e-5 && v[2] <= 1e-5) << v[2];
        }
        EXPECT_NEAR(total, kPixels * (5 * kLayer + kLast), 1e-4 * total);
        EXPECT_GE(orvane_test::SixVolume(meshes[3]) / 6.0, kPixels * kLast * (1 - 1e-5)) << "white on top";
        orvane_test::ExpectClosedAndOutward(meshes[4], true);

        // The body stands above z = 0: black pixels (12 - 6) layers high, white ones (8 - 6).
        if (!photograph) {
            float low = 1e9f, high = -1e9f, whiteTop = 1e9f;
            for (size_t i = 0; i < meshes[4].vertices.size(); ++i) {
                const float z = meshes[4].vertices[i][2];
                low = std::min(low, z), high = std::max(high, z);
                if (i % 2 == 0) whiteTop = std::min(whiteTop, z);
            }
            EXPECT_NEAR(low, 0.0, 1e-5);
            EXPECT_NEAR(high, 6 * kLayer, 1e-5);
            EXPECT_NEAR(whiteTop, 2 * kLayer, 1e-5);
        }

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
}

}  // namespace
