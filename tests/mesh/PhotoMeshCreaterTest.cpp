// The voxel mesher against a plain point-by-point mesher, its progress and refusals; the height-map mesher.
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <numeric>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "MeshChecks.h"
#include "MeshRotation.h"
#include "PhotoMeshCreater.h"
#include "TestImages.h"

using Orvanes::OrvaneMesh;
using Orvanes::PhotoMeshCreater;
using namespace orvane_test;

namespace {

OrvaneMesh Mesh(const cv::Mat& heights, int layerCount = 5, double baseHeight = 0.6, double zOffset = 0, bool invert = false)
{
    return PhotoMeshCreater(nullptr).CreateMeshByHeightMap(heights, 0.2, 0.5, layerCount, baseHeight, zOffset, invert);
}

// The voxel mesher by definition, its lattice in a std::map: every lattice point on the shell or next to a voxel of
// the label gets a vertex, in lattice order; each voxel of the label writes both triangles of each side it exposes.
OrvaneMesh ReferenceMesh(const cv::Mat& grid, double voxelSize, double layerHeight, double lastLayerHeight, int label)
{
    const int rows = grid.rows, cols = grid.cols, cn = grid.channels();
    auto holds = [&](int j, int i, int k) { return grid.data[j * grid.step[0] + i * grid.step[1] + k] == label; };
    std::map<std::array<int, 3>, int32_t> index;  // row, column, level
    OrvaneMesh mesh;
    for (int i = 0; i <= cols; ++i)
        for (int j = 0; j <= rows; ++j)
            for (int k = 0; k <= cn; ++k) {
                bool used = i == 0 || i >= cols - 1 || j == 0 || j >= rows - 1 || k == 0 || k >= cn - 1;
                for (int dj = -1; !used && dj <= 0; ++dj)
                    for (int di = -1; !used && di <= 0; ++di)
                        for (int dk = -1; !used && dk <= 0; ++dk) used = holds(j + dj, i + di, k + dk);
                if (!used) continue;
                index[{j, i, k}] = static_cast<int32_t>(mesh.vertices.size());
                const float z = float(k < cn ? k * layerHeight : (cn - 1) * layerHeight + lastLayerHeight);
                const Eigen::Vector3f point(float(i * voxelSize), float(j * voxelSize), z);
                mesh.vertices.push_back(Orvanes::detail::MeshTurn() * point);
            }
    for (int i = 0; i < cols; ++i)
        for (int j = 0; j < rows; ++j)
            for (int k = 0; k < cn; ++k) {
                if (!holds(j, i, k)) continue;
                const bool open[6] = {i == 0 || !holds(j, i - 1, k),      i + 1 >= cols || !holds(j, i + 1, k),
                                      j == 0 || !holds(j - 1, i, k),      j + 1 >= rows || !holds(j + 1, i, k),
                                      k + 1 >= cn || !holds(j, i, k + 1), k == 0 || !holds(j, i, k - 1)};
                auto p = [&](int a, int b, int c) { return index.at({j + b, i + a, k + c}); };
                const int32_t sides[6][6] = {
                    {p(0, 1, 1), p(0, 1, 0), p(0, 0, 0), p(0, 0, 1), p(0, 1, 1), p(0, 0, 0)},
                    {p(1, 1, 0), p(1, 1, 1), p(1, 0, 1), p(1, 0, 0), p(1, 1, 0), p(1, 0, 1)},
                    {p(0, 0, 1), p(0, 0, 0), p(1, 0, 0), p(1, 0, 1), p(0, 0, 1), p(1, 0, 0)},
                    {p(1, 1, 1), p(1, 1, 0), p(0, 1, 0), p(0, 1, 1), p(1, 1, 1), p(0, 1, 0)},
                    {p(1, 1, 1), p(0, 1, 1), p(0, 0, 1), p(1, 0, 1), p(1, 1, 1), p(0, 0, 1)},
                    {p(0, 1, 0), p(1, 1, 0), p(1, 0, 0), p(0, 0, 0), p(0, 1, 0), p(1, 0, 0)}};
                for (int s = 0; s < 6; ++s)
                    for (int t = 0; open[s] && t < 6; t += 3) mesh.faces.emplace_back(sides[s][t], sides[s][t + 1], sides[s][t + 2]);
            }
    return mesh;
}

}  // namespace

TEST(VoxelMesh, MatchesThePointByPointMesherOnRandomGridsAndStridedViews)
{
    cv::theRNG().state = 20240611;
    // Rows, columns, layers. No rows (all shell); single rows, columns, layers; lattice columns straddling a word
    // (31..33, 62, 63) or longer (64, 70). Grids grow and shrink in turn: a reused mesher must forget the last grid.
    const std::array<int, 3> shapes[] = {{0, 5, 2}, {1, 1, 1}, {1, 5, 3}, {6, 1, 2}, {4, 5, 1}, {7, 6, 5}, {5, 4, 31},
                                         {3, 5, 32}, {4, 3, 33}, {3, 4, 62}, {4, 3, 63}, {3, 4, 64}, {4, 3, 70}};
    PhotoMeshCreater mesher(nullptr);
    for (const auto& [rows, cols, cn] : shapes)
        for (bool strided : {false, true}) {
            // Labels 0..2 at random; a strided view sits in bytes of label 1, so reading past its rows shows.
            cv::Mat bytes(rows + 3 * strided, (cols + 4 * strided) * cn, CV_8UC1, cv::Scalar(1));
            cv::Mat flat = bytes(cv::Rect(2 * strided * cn, strided, cols * cn, rows));
            if (!flat.empty()) cv::randu(flat, 0, 3);
            const cv::Mat grid = rows ? flat.reshape(cn) : cv::Mat(0, cols, CV_8UC(cn));
            PhotoMeshCreater copy(mesher);  // carries the previous grid's table along
            double volume = 0.0;
            // Labels 7, -1, 255 and 256 are absent: only the shell vertices remain.
            for (int label : {0, 1, 2, 7, -1, 255, 256}) {
                SCOPED_TRACE(testing::Message() << rows << "x" << cols << "x" << cn << " strided " << strided << " label " << label);
                const OrvaneMesh mesh = (label % 2 ? copy : mesher).CreateMeshFromVox(grid, 0.4, 0.1, 0.25, label, 0, 100);
                const OrvaneMesh expected = ReferenceMesh(grid, 0.4, 0.1, 0.25, label);
                EXPECT_TRUE(mesh.vertices == expected.vertices && mesh.faces == expected.faces);
                ExpectClosedAndOutward(mesh, /*strict=*/false);
                volume += orvane_test::SixVolume(mesh) / 6.0;
            }
            // The labels tile the block; the last layer is the thicker one.
            const double block = rows * cols * 0.4 * 0.4 * ((cn - 1) * 0.1 + 0.25);
            EXPECT_NEAR(volume, block, 1e-5 * block) << "float vertices, sums in double";
        }
}

TEST(VoxelMesh, SingleVoxelIsABoxAsThickAsTheLastLayerPlacedByTheTurnAndOversizedGridsAreRefused)
{
    PhotoMeshCreater mesher(nullptr);
    const OrvaneMesh mesh = mesher.CreateMeshFromVox(cv::Mat(1, 1, CV_8UC1, cv::Scalar(3)), 0.5, 0.1, 0.3, 3, 0, 100);
    ASSERT_EQ(cv::Size(int(mesh.vertices.size()), int(mesh.faces.size())), cv::Size(8, 12)) << "vertices, faces";
    ExpectClosedAndOutward(mesh);
    // The turn sends x and z negative: the box spans x in [-0.5, 0], y in [0, 0.5], z in [-0.3, 0].
    const Eigen::Map<const Eigen::Matrix<float, 3, 8>> corners(mesh.vertices[0].data());
    EXPECT_LT((corners.rowwise().minCoeff() - Eigen::Vector3f(-0.5f, 0.0f, -0.3f)).norm(), 1e-6) << corners;
    EXPECT_LT((corners.rowwise().maxCoeff() - Eigen::Vector3f(0.0f, 0.5f, 0.0f)).norm(), 1e-6) << corners;
    EXPECT_NEAR(orvane_test::SixVolume(mesh) / 6.0, 0.5 * 0.5 * 0.3, 1e-7);

    EXPECT_THROW(mesher.CreateMeshFromVox(cv::Mat(2, 2, CV_16UC3), 1.0, 1.0, 1.0, 0, 0, 100), cv::Exception);
    // 2^31 - 1 rows, no columns, no bytes: level 0's lattice plane alone has 2^31 points, beyond a 32-bit index.
    const cv::Mat tall(std::numeric_limits<int>::max(), 0, CV_8UC1);
    EXPECT_THROW(mesher.CreateMeshFromVox(tall, 1.0, 1.0, 1.0, 0, 0, 100), std::length_error);
}

TEST(VoxelMesh, ReportsEveryStepOfBothPassesWithinItsSpanAndNothingWithoutColumnsOrSpan)
{
    orvane_test::RecordingProgress progress;
    PhotoMeshCreater mesher(&progress);
    for (int begin : {0, 20}) {
        progress.values.clear();
        mesher.CreateMeshFromVox(cv::Mat(4, 10, CV_8UC3, cv::Scalar::all(1)), 1, 1, 1, 1, begin, begin + 20);
        // Vertex pass after each of the 11 lattice planes: 0 (counted as sent), 1 .. 10; face pass after each
        // of the 10 grid columns: 10 (not repeated), 11 .. 19. The end value is left to the caller.
        std::vector<int> expected(19);
        std::iota(expected.begin(), expected.end(), begin + 1);
        EXPECT_EQ(progress.values, expected);
    }
    progress.values.clear();
    EXPECT_TRUE(mesher.CreateMeshFromVox(cv::Mat(), 1.0, 1.0, 1.0, 0, 0, 100).faces.empty());
    for (int end : {40, 10}) mesher.CreateMeshFromVox(cv::Mat(3, 3, CV_8UC2, cv::Scalar::all(0)), 1, 1, 1, 0, 40, end);
    EXPECT_TRUE(progress.values.empty());
}

TEST(HeightMesh, IsClosedAndFacesOutwardWithTwoTrianglesPerCellAndTwoPerBorderEdge)
{
    cv::Mat noise(13, 9, CV_8UC1);
    cv::randu(noise, 0, 256);
    for (const cv::Mat& heights : {MakeRamp(2, 2), MakeRamp(5, 2), MakeRamp(2, 7), MakeRamp(31, 17), noise,
                                   noise(cv::Rect(1, 2, 6, 5)), MakeRamp(4, 1)})
        for (bool invert : {false, true}) {
            SCOPED_TRACE(testing::Message() << heights.cols << "x" << heights.rows << " invert " << invert);
            const OrvaneMesh mesh = Mesh(heights, 5, 0.6, 1.5, invert);
            const int n = int(heights.total());  // 4 (r - 1)(c - 1) + 4 (r - 1) + 4 (c - 1) = 4 r c - 4 triangles
            EXPECT_EQ(cv::Vec2i(int(mesh.vertices.size()), int(mesh.faces.size())), cv::Vec2i(2 * n, 4 * n - 4));
            // A single row is two opposite wall strips: closed, but enclosing nothing.
            ExpectClosedAndOutward(mesh, heights.rows > 1, heights.rows > 1);
        }
}

TEST(HeightMesh, TopsSpanTheLayersAboveTheBaseOrLieFlatWithoutSpanAndTheGridRunsTowardNegativeXAndPositiveY)
{
    // The ramp lifted off 0: heights count from the darkest grey, not from 0.
    const cv::Mat ramp = MakeRamp(6, 3) / 2 + 100;
    const OrvaneMesh mesh = Mesh(ramp, 5, 0.6, 1.0), inverted = Mesh(ramp, 5, 0.6, 1.0, true);
    // Per pixel in row-major order, top then bottom (on zOffset 1); tops from base + zOffset 1.6 four layers up to 2.4.
    auto top = [](const OrvaneMesh& m, int r, int c) { return m.vertices[2 * size_t(r * 6 + c)]; };
    const cv::Vec<double, 5> z(top(mesh, 1, 0)[2], top(mesh, 1, 5)[2], top(inverted, 1, 0)[2], top(inverted, 1, 5)[2],
                               mesh.vertices[1][2]);
    EXPECT_LT(cv::norm(z - cv::Vec<double, 5>(1.6, 2.4, 2.4, 1.6, 1.0)), 1e-5) << z;  // float rounding only
    // The spacing is pixelSize * (1 + 1 / count), so the grid spans just under count pixels from the origin.
    const cv::Vec4d xy(top(mesh, 0, 0)[0], top(mesh, 0, 0)[1], top(mesh, 2, 5)[0], top(mesh, 2, 5)[1]);
    EXPECT_LT(cv::norm(xy - cv::Vec4d(0, 0, -5 * (0.5 / 6 + 0.5), 2 * (0.5 / 3 + 0.5))), 1e-5) << xy;

    // No height span, from a uniform image or a single layer: a flat top at base + zOffset, no NaN.
    for (const OrvaneMesh& flat :
         {Mesh(cv::Mat(4, 5, CV_8UC1, cv::Scalar(77)), 5, 0.6, 0.25), Mesh(MakeRamp(5, 4), 1, 0.6, 0.25)}) {
        for (size_t v = 0; v < flat.vertices.size(); v += 2)
            EXPECT_TRUE(flat.vertices[v].allFinite() && std::abs(flat.vertices[v][2] - 0.85f) < 1e-6f) << v;
        ExpectClosedAndOutward(flat);
    }
    EXPECT_THROW(Mesh(cv::Mat(3, 3, CV_8UC3, cv::Scalar::all(9))), cv::Exception) << "not a grey height map";
    EXPECT_EQ(Mesh(cv::Mat()).vertices.size() + Mesh(cv::Mat()).faces.size(), 0u);
}
