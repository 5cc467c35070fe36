// A voxel box placed by the turn, the progress the mesher sends, and the grids it refuses.
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "MeshChecks.h"
#include "PhotoMeshCreater.h"
#include "RecordingProgress.h"

using Orvanes::OrvaneMesh;
using Orvanes::PhotoMeshCreater;
using orvane_test::ExpectClosedAndOutward;
using orvane_test::RecordingProgress;
using orvane_test::SixVolume;

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
    EXPECT_LT((low - Eigen::Vector3f(-0.5f, 0.0f, -0.3f)).norm(), 1e-6f) << low.transpose();
    EXPECT_LT((high - Eigen::Vector3f(0.0f, 0.5f, 0.0f)).norm(), 1e-6f) << high.transpose();
    EXPECT_NEAR(SixVolume(mesh) / 6.0, 0.5 * 0.5 * 0.3, 1e-7);
}

TEST(VoxelMesh, ReportsRisingValuesThroughBothPassesAndNothingWithoutColumnsOrSpan)
{
    RecordingProgress progress;
    const cv::Mat grid(4, 10, CV_8UC(3), cv::Scalar::all(1));
    PhotoMeshCreater(&progress).CreateMeshFromVox(grid, 1.0, 1.0, 1.0, 1, 0, 20);
    // Vertex pass after each of the 11 lattice planes: 0 (already counted as sent), 1 .. 10;
    // face pass after each of the 10 grid columns: 10 (not repeated), 11 .. 19. The end value
    // is left to the caller.
    std::vector<int> expected(19);
    for (int v = 0; v < 19; ++v) expected[v] = v + 1;
    EXPECT_EQ(progress.values, expected);

    progress.values.clear();
    PhotoMeshCreater(&progress).CreateMeshFromVox(grid, 1.0, 1.0, 1.0, 1, 33, 66);
    ASSERT_FALSE(progress.values.empty());
    EXPECT_GT(progress.values.front(), 33);
    EXPECT_LT(progress.values.back(), 66);
    for (size_t v = 1; v < progress.values.size(); ++v) EXPECT_GT(progress.values[v], progress.values[v - 1]);

    progress.values.clear();
    PhotoMeshCreater mesher(&progress);
    EXPECT_TRUE(mesher.CreateMeshFromVox(cv::Mat(), 1.0, 1.0, 1.0, 0, 0, 100).faces.empty());
    mesher.CreateMeshFromVox(cv::Mat(3, 3, CV_8UC2, cv::Scalar::all(0)), 1.0, 1.0, 1.0, 0, 40, 40);
    mesher.CreateMeshFromVox(cv::Mat(3, 3, CV_8UC2, cv::Scalar::all(0)), 1.0, 1.0, 1.0, 0, 60, 10);
    EXPECT_TRUE(progress.values.empty());
}

TEST(VoxelMesh, RejectsGridsOfWideElementsAndLatticesBeyondThirtyTwoBitIndices)
{
    PhotoMeshCreater mesher(nullptr);
    EXPECT_THROW(mesher.CreateMeshFromVox(cv::Mat(2, 2, CV_16UC3, cv::Scalar::all(0)), 1.0, 1.0, 1.0, 0, 0, 100),
                 cv::Exception);
    // No columns and 2^31 - 1 rows: the lattice plane at level 0 alone has 2^31 shell points,
    // one more than a signed 32-bit index can number. The grid holds no bytes at all.
    const cv::Mat tall(std::numeric_limits<int>::max(), 0, CV_8UC1);
    EXPECT_THROW(mesher.CreateMeshFromVox(tall, 1.0, 1.0, 1.0, 0, 0, 100), std::length_error);
}
