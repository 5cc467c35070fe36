#include <cmath>
#include <cstring>

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

}  // namespace

TEST(HeightMesh, IsClosedAndFacesOutwardForEveryShapeAndRepeatsItselfExactly)
{
    cv::Mat noise(13, 9, CV_8UC1);
    cv::randu(noise, 0, 256);
    const cv::Mat shapes[] = {MakeRamp(2, 2), MakeRamp(5, 2), MakeRamp(2, 7), MakeRamp(31, 17), noise,
                              noise(cv::Rect(1, 2, 6, 5))};
    PhotoMeshCreater mesher(nullptr);
    for (const cv::Mat& heights : shapes) {
        SCOPED_TRACE(testing::Message() << heights.cols << "x" << heights.rows);
        const size_t cellRows = heights.rows - 1, cellCols = heights.cols - 1;
        for (bool invert : {false, true}) {
            const OrvaneMesh mesh = mesher.CreateMeshByHeightMap(heights, 0.2, 0.5, 5, 0.6, 1.5, invert);
            EXPECT_EQ(mesh.vertices.size(), 2 * heights.total());
            // Two triangles per cell on top and below, two per border edge on the walls: a
            // 2 x 2 image is a 12-triangle box.
            EXPECT_EQ(mesh.faces.size(), 4 * cellRows * cellCols + 4 * cellRows + 4 * cellCols);
            ExpectClosedAndOutward(mesh);
            // A copy of the used mesher and a copy of the picture give the same bytes.
            const OrvaneMesh again = PhotoMeshCreater(mesher).CreateMeshByHeightMap(heights.clone(), 0.2, 0.5, 5,
                                                                                      0.6, 1.5, invert);
            ASSERT_EQ(again.vertices.size(), mesh.vertices.size());
            EXPECT_EQ(std::memcmp(again.vertices.data(), mesh.vertices.data(), mesh.vertices.size() * 12), 0);
            EXPECT_TRUE(again.faces == mesh.faces);
        }
    }
}

TEST(HeightMesh, TopsSpanTheLayersAboveTheBaseAndTheGridRunsTowardNegativeXAndPositiveY)
{
    const cv::Mat ramp = MakeRamp(6, 3);
    const OrvaneMesh mesh = Mesh(ramp, 5, 0.6, 1.0), inverted = Mesh(ramp, 5, 0.6, 1.0, true);
    // Vertices come per pixel in row-major order, top then bottom.
    auto top = [](const OrvaneMesh& m, int r, int c) { return m.vertices[2 * size_t(r * 6 + c)]; };
    // Single precision over a few units: 1e-5 covers rounding, not a misplaced level.
    const double low = 0.6 + 1.0, high = 4 * 0.2 + 0.6 + 1.0;
    EXPECT_NEAR(top(mesh, 1, 0)[2], low, 1e-5);
    EXPECT_NEAR(top(mesh, 1, 5)[2], high, 1e-5);
    EXPECT_NEAR(top(inverted, 1, 0)[2], high, 1e-5);
    EXPECT_NEAR(top(inverted, 1, 5)[2], low, 1e-5);
    EXPECT_NEAR(mesh.vertices[1][2], 1.0, 1e-6) << "bottom lies on zOffset";

    EXPECT_NEAR(top(mesh, 0, 0)[0], 0.0f, 1e-6) << "only the turn's rounding residue times z";
    EXPECT_EQ(top(mesh, 0, 0)[1], 0.0f);
    // The spacing is pixelSize * (1 + 1 / count), so the grid spans just under count pixels.
    EXPECT_NEAR(top(mesh, 2, 5)[0], -5 * (0.5 / 6 + 0.5), 1e-5);
    EXPECT_NEAR(top(mesh, 2, 5)[1], 2 * (0.5 / 3 + 0.5), 1e-5);
}

TEST(HeightMesh, FlatAndDegenerateImagesGiveFiniteClosedMeshes)
{
    // No height span, from a uniform image or a single layer: a flat top at base + zOffset, no NaN.
    for (const OrvaneMesh& mesh :
         {Mesh(cv::Mat(4, 5, CV_8UC1, cv::Scalar(77)), 5, 0.6, 0.25), Mesh(MakeRamp(5, 4), 1, 0.6, 0.25)}) {
        for (size_t v = 0; v < mesh.vertices.size(); v += 2) {
            ASSERT_TRUE(std::isfinite(mesh.vertices[v][0]));
            EXPECT_NEAR(mesh.vertices[v][2], 0.85, 1e-6);
        }
        ExpectClosedAndOutward(mesh);
    }
    // A single row is two opposite wall strips: closed, but enclosing nothing.
    const OrvaneMesh row = Mesh(MakeRamp(4, 1));
    EXPECT_EQ(row.vertices.size(), 8u);
    EXPECT_EQ(row.faces.size(), 12u);
    ExpectClosedAndOutward(row, false, false);
    EXPECT_THROW(Mesh(cv::Mat(3, 3, CV_8UC3, cv::Scalar::all(9))), cv::Exception) << "not a grey height map";
    const OrvaneMesh none = Mesh(cv::Mat());
    EXPECT_TRUE(none.vertices.empty() && none.faces.empty());
}
