#include <cmath>

#include <gtest/gtest.h>

#include "MeshChecks.h"
#include "PhotoMeshCreater.h"

using Orvanes::OrvaneMesh;
using Orvanes::PhotoMeshCreater;
using orvane_test::ExpectClosedAndOutward;
using orvane_test::MakeRamp;

namespace {

OrvaneMesh Mesh(const cv::Mat& heights, int layerCount = 5, double baseHeight = 0.6, double zOffset = 0.0,
                bool invert = false)
{
    return PhotoMeshCreater(nullptr).CreateMeshByHeightMap(heights, 0.2, 0.5, layerCount, baseHeight, zOffset, invert);
}

// Top vertex z of pixel (r, c): vertices come per pixel in row-major order, top then bottom.
float TopZ(const OrvaneMesh& mesh, const cv::Mat& image, int r, int c)
{
    return mesh.vertices[2 * size_t(r * image.cols + c)][2];
}

size_t ExpectedFaces(int rows, int cols)
{
    return 4 * size_t(rows - 1) * size_t(cols - 1) + 4 * size_t(rows - 1) + 4 * size_t(cols - 1);
}

}  // namespace

TEST(HeightMesh, IsClosedAndFacesOutwardForEveryShape)
{
    cv::Mat noise(13, 9, CV_8UC1);
    cv::randu(noise, 0, 256);
    const cv::Mat shapes[] = {MakeRamp(2, 2), MakeRamp(5, 2), MakeRamp(2, 7), MakeRamp(31, 17), noise,
                              noise(cv::Rect(1, 2, 6, 5))};
    for (const cv::Mat& heights : shapes) {
        SCOPED_TRACE(testing::Message() << heights.cols << "x" << heights.rows);
        for (bool invert : {false, true}) {
            const OrvaneMesh mesh = Mesh(heights, 5, 0.6, 1.5, invert);
            EXPECT_EQ(mesh.vertices.size(), 2 * heights.total());
            EXPECT_EQ(mesh.faces.size(), ExpectedFaces(heights.rows, heights.cols));
            ExpectClosedAndOutward(mesh);
        }
    }
}

TEST(HeightMesh, HeightsSpanTheLayersAboveTheBaseAndInvertMirrorsThem)
{
    const cv::Mat ramp = MakeRamp(6, 3);
    const OrvaneMesh mesh = Mesh(ramp, 5, 0.6, 1.0);
    const OrvaneMesh inverted = Mesh(ramp, 5, 0.6, 1.0, true);
    // Single precision over a 2-unit span: 1e-5 covers rounding, not a misplaced level.
    EXPECT_NEAR(TopZ(mesh, ramp, 1, 0), 0.6 + 1.0, 1e-5);
    EXPECT_NEAR(TopZ(mesh, ramp, 1, 5), 4 * 0.2 + 0.6 + 1.0, 1e-5);
    EXPECT_NEAR(TopZ(inverted, ramp, 1, 0), 4 * 0.2 + 0.6 + 1.0, 1e-5);
    EXPECT_NEAR(TopZ(inverted, ramp, 1, 5), 0.6 + 1.0, 1e-5);
    EXPECT_NEAR(mesh.vertices[1][2], 1.0, 1e-6) << "bottom lies on zOffset";
}

TEST(HeightMesh, GridRunsTowardNegativeXAndPositiveYWithStretchedSpacing)
{
    const cv::Mat ramp = MakeRamp(4, 3);
    const OrvaneMesh mesh = Mesh(ramp);
    const auto& origin = mesh.vertices[0];
    EXPECT_NEAR(origin[0], 0.0f, 1e-6) << "only the turn's rounding residue times z";
    EXPECT_EQ(origin[1], 0.0f);
    const auto& lastTop = mesh.vertices[2 * size_t(2 * 4 + 3)];
    // The spacing is pixelSize * (1 + 1 / count), so the grid spans just under count pixels.
    EXPECT_NEAR(lastTop[0], -3 * (0.5 / 4 + 0.5), 1e-5);
    EXPECT_NEAR(lastTop[1], 2 * (0.5 / 3 + 0.5), 1e-5);
}

TEST(HeightMesh, UniformOrSingleLayerImagesGiveAFlatTopWithoutNaN)
{
    const cv::Mat flat(4, 5, CV_8UC1, cv::Scalar(77));
    for (const OrvaneMesh& mesh : {Mesh(flat, 5, 0.6, 0.25), Mesh(MakeRamp(5, 4), 1, 0.6, 0.25)}) {
        for (size_t v = 0; v < mesh.vertices.size(); v += 2) {
            ASSERT_TRUE(std::isfinite(mesh.vertices[v][0]));
            EXPECT_NEAR(mesh.vertices[v][2], 0.85, 1e-6);
        }
        ExpectClosedAndOutward(mesh);
    }
}

TEST(HeightMesh, SmallBoxAndDegenerateImages)
{
    const OrvaneMesh box = Mesh(MakeRamp(2, 2));
    EXPECT_EQ(box.vertices.size(), 8u);
    EXPECT_EQ(box.faces.size(), 12u);

    const OrvaneMesh row = Mesh(MakeRamp(4, 1));
    EXPECT_EQ(row.vertices.size(), 8u);
    EXPECT_EQ(row.faces.size(), 12u) << "two opposite wall strips along the single row";
    ExpectClosedAndOutward(row, false, false);

    EXPECT_TRUE(Mesh(cv::Mat()).vertices.empty());
    EXPECT_TRUE(Mesh(cv::Mat()).faces.empty());
}

TEST(HeightMesh, SamePictureGivesIdenticalMeshes)
{
    cv::Mat noise(20, 30, CV_8UC1);
    cv::randu(noise, 0, 256);
    PhotoMeshCreater mesher(nullptr);
    const OrvaneMesh a = mesher.CreateMeshByHeightMap(noise, 0.1, 0.4, 10, 0.3, 0.0, false);
    const OrvaneMesh b = PhotoMeshCreater(mesher).CreateMeshByHeightMap(noise.clone(), 0.1, 0.4, 10, 0.3, 0.0, false);
    ASSERT_EQ(a.vertices.size(), b.vertices.size());
    EXPECT_EQ(std::memcmp(a.vertices.data(), b.vertices.data(), a.vertices.size() * 12), 0);
    EXPECT_TRUE(a.faces == b.faces);
}
