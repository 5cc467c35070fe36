// The voxel mesher against a plain one-point-at-a-time mesher that keeps its lattice in a
// std::map: both must give the same vertices, bit for bit, and the same triangles; the meshes
// of all labels together fill the block.
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "MeshChecks.h"
#include "MeshRotation.h"
#include "PhotoMeshCreater.h"

using Orvanes::OrvaneMesh;
using Orvanes::PhotoMeshCreater;

namespace {

using Key = std::array<int, 3>;  // row, column, level

uint8_t VoxelAt(const cv::Mat& grid, int j, int i, int k)
{
    return grid.data[j * grid.step[0] + i * grid.step[1] + k];
}

// Straight from the definition: every lattice point on the outer shell or next to a voxel of
// the label gets a vertex, numbered in lattice order; every voxel of the label writes the two
// triangles of each side that borders another value or the outside.
OrvaneMesh ReferenceMesh(const cv::Mat& grid, double voxelSize, double layerHeight, double lastLayerHeight,
                         int label)
{
    const int rows = grid.rows, cols = grid.cols, cn = grid.channels();
    auto holds = [&](int j, int i, int k) { return VoxelAt(grid, j, i, k) == label; };
    std::map<Key, int32_t> index;
    OrvaneMesh mesh;
    for (int i = 0; i <= cols; ++i)
        for (int j = 0; j <= rows; ++j)
            for (int k = 0; k <= cn; ++k) {
                bool used = i == 0 || i >= cols - 1 || j == 0 || j >= rows - 1 || k == 0 || k >= cn - 1;
                for (int dj = -1; !used && dj <= 0; ++dj)
                    for (int di = -1; !used && di <= 0; ++di)
                        for (int dk = -1; !used && dk <= 0; ++dk)
                            used = holds(j + dj, i + di, k + dk);
                if (!used) continue;
                index[{j, i, k}] = static_cast<int32_t>(mesh.vertices.size());
                const double z = k < cn ? k * layerHeight : (cn - 1) * layerHeight + lastLayerHeight;
                mesh.vertices.push_back(Orvanes::detail::MeshTurn() *
                                        Eigen::Vector3f(static_cast<float>(i * voxelSize),
                                                        static_cast<float>(j * voxelSize), static_cast<float>(z)));
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
                    if (open[s]) {
                        mesh.faces.emplace_back(sides[s][0], sides[s][1], sides[s][2]);
                        mesh.faces.emplace_back(sides[s][3], sides[s][4], sides[s][5]);
                    }
            }
    return mesh;
}

void ExpectSameMesh(const OrvaneMesh& actual, const OrvaneMesh& expected)
{
    ASSERT_EQ(actual.vertices.size(), expected.vertices.size());
    EXPECT_EQ(0, std::memcmp(actual.vertices.data(), expected.vertices.data(), actual.vertices.size() * 12))
        << "vertex positions or order differ";
    EXPECT_TRUE(actual.faces == expected.faces) << "triangles differ";
}

// Labels 0..labelCount-1 drawn at random, so every label forms scattered, touching blobs.
cv::Mat RandomGrid(int rows, int cols, int cn, int labelCount)
{
    if (rows == 0) return cv::Mat(0, cols, CV_8UC(cn));
    cv::Mat bytes(rows, cols * cn, CV_8UC1);
    cv::randu(bytes, 0, labelCount);
    return bytes.reshape(cn);
}

}  // namespace

class VoxelMeshLatticeOrder : public testing::Test {
protected:
    void SetUp() override { cv::theRNG().state = 20240611; }
};

TEST_F(VoxelMeshLatticeOrder, MatchesThePointByPointMesherOnRandomGrids)
{
    struct Shape {
        int rows, cols, cn;
    };
    // No rows (all shell); single rows, columns and layers; word-straddling lattice columns
    // (cn 31..33, 62, 63); and lattice columns longer than a word (cn 64, 70). Grids grow and
    // shrink from one to the next, so a reused mesher must forget the previous grid.
    const Shape shapes[] = {{0, 5, 2},  {1, 1, 1},  {1, 5, 3},  {6, 1, 2},  {4, 5, 1},  {7, 6, 5}, {5, 4, 31},
                            {3, 5, 32}, {4, 3, 33}, {3, 4, 62}, {4, 3, 63}, {3, 4, 64}, {4, 3, 70}};
    PhotoMeshCreater mesher(nullptr);
    for (const Shape& shape : shapes) {
        const cv::Mat grid = RandomGrid(shape.rows, shape.cols, shape.cn, 3);
        PhotoMeshCreater copy(mesher);  // carries the previous grid's table along
        double volume = 0.0;
        // Labels 7, -1, 255 and 256 are absent: only the shell vertices remain.
        for (int label : {0, 1, 2, 7, -1, 255, 256}) {
            SCOPED_TRACE(testing::Message() << shape.rows << "x" << shape.cols << "x" << shape.cn << " label "
                                            << label);
            const OrvaneMesh mesh = (label % 2 ? copy : mesher).CreateMeshFromVox(grid, 0.4, 0.1, 0.25, label, 0, 100);
            ExpectSameMesh(mesh, ReferenceMesh(grid, 0.4, 0.1, 0.25, label));
            orvane_test::ExpectClosedAndOutward(mesh, /*strict=*/false);
            volume += orvane_test::SixVolume(mesh) / 6.0;
        }
        // The labels tile the block; the last layer is the thicker one.
        const double block = shape.rows * shape.cols * 0.4 * 0.4 * ((shape.cn - 1) * 0.1 + 0.25);
        EXPECT_NEAR(volume, block, 1e-5 * block) << "float vertices, sums in double";
    }
}

TEST_F(VoxelMeshLatticeOrder, ReadsAViewThroughItsRowStride)
{
    // The rows of a view are not contiguous, and the bytes around it hold the label, so
    // reading past the view would change the mesh.
    cv::Mat wide(12, 15, CV_8UC(4), cv::Scalar::all(1));
    cv::Mat view = wide(cv::Rect(3, 2, 9, 7));
    RandomGrid(7, 9, 4, 2).copyTo(view);
    for (int label : {0, 1})
        ExpectSameMesh(PhotoMeshCreater(nullptr).CreateMeshFromVox(view, 1.0, 0.5, 0.5, label, 0, 50),
                       ReferenceMesh(view, 1.0, 0.5, 0.5, label));
}
