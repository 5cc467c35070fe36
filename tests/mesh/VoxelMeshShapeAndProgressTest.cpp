// Voxel meshes checked by geometry (boxes, shells, volumes) and the progress the mesher sends.
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "MeshChecks.h"
#include "RecordingProgress.h"
#include "PhotoMeshCreater.h"

using Orvanes::OrvaneMesh;
using orvane_test::RecordingProgress;
using Orvanes::PhotoMeshCreater;
using orvane_test::ExpectClosedAndOutward;
using orvane_test::SixVolume;

namespace {

std::vector<int> Range(int first, int last)
{
    std::vector<int> values;
    for (int v = first; v <= last; ++v) values.push_back(v);
    return values;
}

// Every lattice point on the shell: i = 0 or >= cols - 1, likewise for rows and levels.
size_t ShellPointCount(int rows, int cols, int cn)
{
    auto inner = [](int n) { return static_cast<size_t>(std::max(n - 2, 0)); };
    return size_t(cols + 1) * size_t(rows + 1) * size_t(cn + 1) - inner(cols) * inner(rows) * inner(cn);
}

}  // namespace

TEST(VoxelMesh, SingleVoxelIsABoxAsThickAsTheLastLayer)
{
    const cv::Mat grid(1, 1, CV_8UC1, cv::Scalar(3));
    const OrvaneMesh mesh = PhotoMeshCreater(nullptr).CreateMeshFromVox(grid, 0.5, 0.1, 0.3, 3, 0, 100);
    ASSERT_EQ(mesh.vertices.size(), 8u);
    ASSERT_EQ(mesh.faces.size(), 12u);
    ExpectClosedAndOutward(mesh);
    // The turn sends x and z negative: the box spans x in [-0.5, 0], y in [0, 0.5], z in [-0.3, 0].
    Eigen::Vector3f low = mesh.vertices[0], high = mesh.vertices[0];
    for (const auto& v : mesh.vertices) {
        low = low.cwiseMin(v);
        high = high.cwiseMax(v);
    }
    EXPECT_NEAR(low[0], -0.5f, 1e-6f);
    EXPECT_NEAR(high[0], 0.0f, 1e-6f);
    EXPECT_NEAR(low[1], 0.0f, 1e-6f);
    EXPECT_NEAR(high[1], 0.5f, 1e-6f);
    EXPECT_NEAR(low[2], -0.3f, 1e-6f);
    EXPECT_NEAR(high[2], 0.0f, 1e-6f);
    EXPECT_NEAR(SixVolume(mesh) / 6.0, 0.5 * 0.5 * 0.3, 1e-7);
}

TEST(VoxelMesh, AbsentLabelGivesOnlyTheShellVertices)
{
    const cv::Mat grid = cv::Mat(6, 7 * 5, CV_8UC1, cv::Scalar(1)).reshape(5);
    for (int label : {0, 2, 255, 256, -1}) {
        const OrvaneMesh mesh = PhotoMeshCreater(nullptr).CreateMeshFromVox(grid, 1.0, 1.0, 1.0, label, 0, 100);
        EXPECT_EQ(mesh.vertices.size(), ShellPointCount(6, 7, 5)) << label;
        EXPECT_TRUE(mesh.faces.empty()) << label;
    }
    // A grid without rows is all shell as well.
    const OrvaneMesh flat = PhotoMeshCreater(nullptr).CreateMeshFromVox(cv::Mat(0, 5, CV_8UC2), 1.0, 1.0, 1.0, 0, 0, 9);
    EXPECT_EQ(flat.vertices.size(), ShellPointCount(0, 5, 2));
    EXPECT_TRUE(flat.faces.empty());
}

TEST(VoxelMesh, AllLabelsTogetherFillTheGrid)
{
    // Labels 0..2 at random in a grid with unequal layers: each label's mesh is closed and
    // outward, and their volumes add up to the whole block.
    cv::theRNG().state = 77;
    cv::Mat bytes(9, 11 * 6, CV_8UC1);
    cv::randu(bytes, 0, 3);
    const cv::Mat grid = bytes.reshape(6);
    const double voxelSize = 0.25, layerHeight = 0.1, lastLayerHeight = 0.4;
    PhotoMeshCreater mesher(nullptr);
    double volume = 0.0;
    for (int label = 0; label < 3; ++label) {
        const OrvaneMesh mesh = mesher.CreateMeshFromVox(grid, voxelSize, layerHeight, lastLayerHeight, label, 0, 100);
        ExpectClosedAndOutward(mesh, /*strict=*/false);
        volume += SixVolume(mesh) / 6.0;
    }
    const double block = 9 * 11 * voxelSize * voxelSize * (5 * layerHeight + lastLayerHeight);
    EXPECT_NEAR(volume, block, 1e-5 * block);  // float vertices, sums in double
}

TEST(VoxelMesh, ReportsRisingValuesThroughBothPasses)
{
    RecordingProgress progress;
    const cv::Mat grid(4, 10, CV_8UC(3), cv::Scalar::all(1));
    PhotoMeshCreater(&progress).CreateMeshFromVox(grid, 1.0, 1.0, 1.0, 1, 0, 20);
    // Vertex pass after each of the 11 lattice planes: 0 (already counted as sent), 1 .. 10;
    // face pass after each of the 10 grid columns: 10 (not repeated), 11 .. 19. The end value
    // is left to the caller.
    EXPECT_EQ(progress.values, Range(1, 19));

    progress.values.clear();
    PhotoMeshCreater(&progress).CreateMeshFromVox(grid, 1.0, 1.0, 1.0, 1, 33, 66);
    ASSERT_FALSE(progress.values.empty());
    EXPECT_GT(progress.values.front(), 33);
    EXPECT_LT(progress.values.back(), 66);
    for (size_t v = 1; v < progress.values.size(); ++v) EXPECT_GT(progress.values[v], progress.values[v - 1]);
}

TEST(VoxelMesh, SendsNothingWithoutColumnsOrWithAnEmptySpan)
{
    RecordingProgress progress;
    PhotoMeshCreater mesher(&progress);
    const OrvaneMesh empty = mesher.CreateMeshFromVox(cv::Mat(), 1.0, 1.0, 1.0, 0, 0, 100);
    EXPECT_TRUE(empty.faces.empty());
    mesher.CreateMeshFromVox(cv::Mat(3, 3, CV_8UC2, cv::Scalar::all(0)), 1.0, 1.0, 1.0, 0, 40, 40);
    mesher.CreateMeshFromVox(cv::Mat(3, 3, CV_8UC2, cv::Scalar::all(0)), 1.0, 1.0, 1.0, 0, 60, 10);
    EXPECT_TRUE(progress.values.empty());
}

TEST(VoxelMesh, RejectsGridsThatAreNotBytes)
{
    EXPECT_THROW(PhotoMeshCreater(nullptr).CreateMeshFromVox(cv::Mat(2, 2, CV_16UC3, cv::Scalar::all(0)), 1.0, 1.0,
                                                             1.0, 0, 0, 100),
                 cv::Exception);
}

TEST(VoxelMesh, RefusesLatticesBeyondThirtyTwoBitIndices)
{
    // No columns and 2^31 - 1 rows: the lattice plane at level 0 alone has 2^31 shell points,
    // one more than a signed 32-bit index can number. The grid holds no bytes at all.
    const cv::Mat tall(std::numeric_limits<int>::max(), 0, CV_8UC1);
    EXPECT_THROW(PhotoMeshCreater(nullptr).CreateMeshFromVox(tall, 1.0, 1.0, 1.0, 0, 0, 100), std::length_error);
}
