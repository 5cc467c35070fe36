// Merged meshes hold the same solid as the meshers' own: same volume, same inside at every voxel
// centre, closed, every edge shared by exactly two triangles, no vertex inside another's edge.
#include <algorithm>
#include <array>
#include <map>
#include <numeric>
#include <random>
#include <stdexcept>
#include <vector>

#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include "MeshChecks.h"
#include "MeshMerging.h"
#include "PhotoMeshCreater.h"

using Orvanes::MergeCoplanarFaces;
using Orvanes::OrvaneMesh;
using Orvanes::PhotoMeshCreater;

namespace {

// Whether point lies inside the mesh: crossings of a ray along a direction no lattice edge has.
bool Inside(const OrvaneMesh& mesh, const Eigen::Vector3d& point)
{
    const Eigen::Vector3d dir = Eigen::Vector3d(0.0123, 0.0321, 1.0).normalized();
    int crossings = 0;
    for (const auto& f : mesh.faces) {
        const Eigen::Vector3d a = mesh.vertices[size_t(f[0])].cast<double>(), b = mesh.vertices[size_t(f[1])].cast<double>(),
                              c = mesh.vertices[size_t(f[2])].cast<double>();
        const Eigen::Vector3d e1 = b - a, e2 = c - a, h = dir.cross(e2);
        const double det = e1.dot(h);
        if (std::abs(det) < 1e-12) continue;
        const Eigen::Vector3d s = point - a;
        const double u = s.dot(h) / det, v = dir.dot(s.cross(e1)) / det;
        if (u < 0 || v < 0 || u + v > 1 || e2.dot(s.cross(e1)) / det <= 0) continue;
        ++crossings;
    }
    return crossings % 2 == 1;
}

// No vertex lies inside an edge of the mesh (strictly between its ends, on the segment).
void ExpectNoTJunctions(const OrvaneMesh& mesh)
{
    for (const auto& f : mesh.faces)
        for (int k = 0; k < 3; ++k) {
            const Eigen::Vector3d a = mesh.vertices[size_t(f[k])].cast<double>(), b = mesh.vertices[size_t(f[(k + 1) % 3])].cast<double>();
            for (const auto& v : mesh.vertices) {
                const Eigen::Vector3d p = v.cast<double>();
                const double t = (p - a).dot(b - a) / (b - a).squaredNorm();
                ASSERT_FALSE(t > 1e-9 && t < 1 - 1e-9 && (a + t * (b - a) - p).norm() < 1e-7)
                    << "vertex (" << p.transpose() << ") inside edge (" << a.transpose() << ") - (" << b.transpose() << ")";
            }
        }
}

// Read as STL (by coordinates, pairing triangles at an edge in file order), every edge pairs a
// triangle with one that runs it the other way.
void ExpectPairsInFileOrder(const OrvaneMesh& mesh)
{
    std::map<std::array<float, 6>, std::vector<bool>> uses;  // edge ends, lower first; forward or not
    for (const auto& f : mesh.faces)
        for (int k = 0; k < 3; ++k) {
            const auto& a = mesh.vertices[size_t(f[k])];
            const auto& b = mesh.vertices[size_t(f[(k + 1) % 3])];
            const std::array<float, 3> p{a[0], a[1], a[2]}, q{b[0], b[1], b[2]};
            const bool forward = p < q;
            const auto& lo = forward ? p : q;
            const auto& hi = forward ? q : p;
            uses[{lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]}].push_back(forward);
        }
    for (const auto& [edge, directions] : uses)
        for (size_t k = 0; k + 1 < directions.size(); k += 2) EXPECT_NE(directions[k], directions[k + 1]);
}

// Merged keeps the solid of original: checks common to both meshers. newPoints: vertices that
// are not the input's (the middles of edges two sheets would otherwise both run along).
void ExpectSameSolid(const OrvaneMesh& original, const OrvaneMesh& merged, size_t newPoints = 0)
{
    orvane_test::ExpectClosedAndOutward(merged, true, !original.faces.empty());
    ExpectNoTJunctions(merged);
    ExpectPairsInFileOrder(merged);
    EXPECT_NEAR(orvane_test::SixVolume(merged), orvane_test::SixVolume(original), 1e-5 * std::abs(orvane_test::SixVolume(original)) + 1e-9);
    std::vector<std::array<float, 3>> before, after;
    for (const auto& v : original.vertices) before.push_back({v[0], v[1], v[2]});
    for (const auto& v : merged.vertices) after.push_back({v[0] + 0.0f, v[1] + 0.0f, v[2] + 0.0f});
    std::sort(before.begin(), before.end());
    EXPECT_EQ(size_t(std::count_if(after.begin(), after.end(), [&](const auto& v) { return !std::binary_search(before.begin(), before.end(), v); })),
              newPoints);
}

// Lattice points where the solid of label turns, the only ones a merged mesh needs a vertex at:
// around every other point the eight voxels repeat along some axis with a cross-section that is
// empty, full, half (a flat face) or one or three cells (a straight crease). Second: those plus
// the points along straight edges two solids touch at (two diagonal cells), where a merged mesh
// may keep a vertex it had to part the solids.
std::pair<size_t, size_t> TurningPoints(const cv::Mat& grid, int label)
{
    const int rows = grid.rows, cols = grid.cols, levels = grid.channels();
    auto in = [&](int j, int i, int k) {
        return j >= 0 && i >= 0 && k >= 0 && j < rows && i < cols && k < levels && grid.ptr<uint8_t>(j)[i * levels + k] == label;
    };
    std::pair<size_t, size_t> count{0, 0};
    for (int j = 0; j <= rows; ++j)
        for (int i = 0; i <= cols; ++i)
            for (int k = 0; k <= levels; ++k) {
                bool cube[8];  // bit 2: row, bit 1: column, bit 0: level
                for (int b = 0; b < 8; ++b) cube[b] = in(j - 1 + (b >> 2), i - 1 + (b >> 1 & 1), k - 1 + (b & 1));
                bool plain = false, touching = false;
                for (const int step : {1, 2, 4}) {
                    const int s1 = step == 1 ? 2 : 1, s2 = step == 4 ? 2 : 4;
                    bool repeats = true;
                    for (int b = 0; b < 8; ++b) repeats = repeats && cube[b] == cube[b ^ step];
                    const bool diagonal = cube[0] == cube[s1 | s2] && cube[s1] == cube[s2] && cube[0] != cube[s1];
                    plain = plain || (repeats && !diagonal);
                    touching = touching || (repeats && diagonal);
                }
                count.first += !plain && !touching;
                count.second += !plain;
            }
    return count;
}

OrvaneMesh VoxelMesh(const cv::Mat& grid, int label)
{
    return PhotoMeshCreater(nullptr).CreateMeshFromVox(grid, 0.4, 0.1, 0.3, label, 0, 100);
}

}  // namespace

TEST(MeshMerging, VoxelSolidsKeepEveryVoxelAndTheirVolumeInAnyFaceOrder)
{
    std::mt19937 random(7);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        const int rows = 3 + round, cols = 4 + round % 3, levels = 2 + round % 4;
        cv::Mat grid(rows, cols, CV_8UC(levels));
        // Few labels, blobs of several voxels: flat areas to merge, and solids that touch along
        // edges and at corners only.
        for (int j = 0; j < rows; ++j)
            for (int i = 0; i < cols; ++i)
                for (int k = 0; k < levels; ++k) grid.ptr<uint8_t>(j)[i * levels + k] = uint8_t(((i / 2 + j / 2 + k) % 3 + random() % 4 / 3) % 3);
        for (int label = 0; label < 3; ++label) {
            const OrvaneMesh voxels = VoxelMesh(grid, label);
            const OrvaneMesh merged = MergeCoplanarFaces(voxels);
            ExpectSameSolid(voxels, merged);
            std::vector<std::array<float, 3>> points;
            for (const auto& v : merged.vertices) points.push_back({v[0], v[1], v[2]});
            std::sort(points.begin(), points.end());
            const size_t distinct = size_t(std::unique(points.begin(), points.end()) - points.begin());
            const auto [turning, orTouching] = TurningPoints(grid, label);
            EXPECT_GE(distinct, turning);
            EXPECT_LE(distinct, orTouching);
            for (int j = 0; j < rows; ++j)
                for (int i = 0; i < cols; ++i)
                    for (int k = 0; k < levels; ++k) {
                        // The turn sends column i to x = -(i + 0.5) 0.4 and level k below z = 0.
                        const double z = k + 1 < levels ? -(k + 0.5) * 0.1 : -((levels - 1) * 0.1 + 0.15);
                        EXPECT_EQ(Inside(merged, {-(i + 0.5) * 0.4, (j + 0.5) * 0.4, z}), grid.ptr<uint8_t>(j)[i * levels + k] == label)
                            << "voxel " << j << ", " << i << ", " << k << " of label " << label;
                    }
            // Shuffled faces pair their halves without the writer's order.
            OrvaneMesh shuffled = voxels;
            std::shuffle(shuffled.faces.begin(), shuffled.faces.end(), random);
            const OrvaneMesh again = MergeCoplanarFaces(shuffled);
            ExpectSameSolid(voxels, again);
            EXPECT_EQ(again.faces.size(), merged.faces.size());
        }
    }
}

TEST(MeshMerging, BoxesBecomeTwelveTrianglesAndSolidsTouchingAtAnEdgeOrCornerGetTheirOwnVertices)
{
    cv::Mat block(3, 4, CV_8UC(5));
    block.setTo(1);
    EXPECT_EQ(MergeCoplanarFaces(VoxelMesh(block, 1)).faces.size(), 12u);
    // A smaller block centred on a larger one: sixteen corners, so 2 * 16 - 4 triangles, the
    // larger one's top a frame with no point but the eight corners of its outline and its hole.
    cv::Mat tiers(4, 4, CV_8UC(2));
    tiers.setTo(1);
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i)
            if (j % 3 == 0 || i % 3 == 0) tiers.ptr<uint8_t>(j)[2 * i + 1] = 0;
    EXPECT_EQ(MergeCoplanarFaces(VoxelMesh(tiers, 1)).faces.size(), 28u);
    const cv::Mat strip(1, 1500, CV_8UC1, cv::Scalar(1));  // more coordinates than the first tables hold
    const OrvaneMesh bar = MergeCoplanarFaces(VoxelMesh(strip, 1));
    EXPECT_EQ(bar.faces.size(), 12u);
    EXPECT_NEAR(orvane_test::SixVolume(bar), 6 * 1500 * 0.4 * 0.4 * 0.3, 1e-2);
    // Diagonal cubes in the middle layer, joined by L-shaped layers above and below: the edge they
    // touch along has both ends on one connected surface, so only a point inside it can part them.
    cv::Mat joined(2, 2, CV_8UC(3));
    joined.setTo(1);
    joined.ptr<uint8_t>(1)[0] = joined.ptr<uint8_t>(1)[1] = joined.ptr<uint8_t>(1)[2] = 0;  // row 1, column 0: empty
    joined.ptr<uint8_t>(0)[3 + 1] = 0;                                                    // row 0, column 1, layer 1
    ExpectSameSolid(VoxelMesh(joined, 1), MergeCoplanarFaces(VoxelMesh(joined, 1)), 2);
    for (const int levels : {1, 2}) {  // diagonal columns touch along an edge; diagonal cubes at a corner
        cv::Mat grid(2, 2, CV_8UC(levels));
        grid.setTo(0);
        grid.ptr<uint8_t>(0)[0] = grid.ptr<uint8_t>(1)[levels + levels - 1] = 1;
        const OrvaneMesh merged = MergeCoplanarFaces(VoxelMesh(grid, 1));
        ExpectSameSolid(VoxelMesh(grid, 1), merged);
        EXPECT_EQ(merged.vertices.size(), 16u) << levels;
        EXPECT_EQ(merged.faces.size(), 24u) << levels;
    }
}

TEST(MeshMerging, HeightMapsMergeTheirFlatPartsAndKeepTheSlopes)
{
    cv::Mat heights(12, 15, CV_8U);
    for (int r = 0; r < heights.rows; ++r)
        for (int c = 0; c < heights.cols; ++c) heights.at<uint8_t>(r, c) = uint8_t(std::min(r, 6) / 3 * 60 + (c > 9 ? 50 : 0));
    for (const bool invert : {false, true}) {
        const OrvaneMesh body = PhotoMeshCreater(nullptr).CreateMeshByHeightMap(heights, 0.2, 0.5, 6, 0.6, 0.0, invert);
        const OrvaneMesh merged = MergeCoplanarFaces(body);
        ExpectSameSolid(body, merged);
        EXPECT_LT(merged.faces.size() * 3, body.faces.size());
    }
    const cv::Mat flat(5, 7, CV_8U, cv::Scalar(9));
    EXPECT_EQ(MergeCoplanarFaces(PhotoMeshCreater(nullptr).CreateMeshByHeightMap(flat, 0.2, 0.5, 6, 0.6, 0.0, false)).faces.size(), 12u);

    // The mesher's layout is merged along its grid; an unused vertex hides the layout, and the
    // result must not change by a byte. Plateaus, lone flat triangles, bodies without a base
    // (pixels as thin as nothing), lowered tops, and pixels so narrow beside the heights that
    // neighbouring columns fall on one lattice line (no grid then).
    std::mt19937 random(11);
    for (int trial = 0; trial < 50; ++trial) {
        cv::Mat grey(2 + trial % 9, 2 + trial % 13, CV_8U), keep(grey.size(), CV_8U);
        for (int r = 0; r < grey.rows; ++r)
            for (int c = 0; c < grey.cols; ++c) {
                grey.at<uint8_t>(r, c) = uint8_t((r / 2 + c / 3 + random() % 2) % 4 * 60);
                keep.at<uint8_t>(r, c) = random() % 5 ? 255 : 0;
            }
        const double base = trial % 3 ? 0.6 : 0.0;
        const double pixel = trial < 48 ? 0.5 : 1e-7;
        OrvaneMesh body = PhotoMeshCreater(nullptr).CreateMeshByHeightMap(grey, 0.2, pixel, 6, base, 0.3, trial % 2);
        if (trial % 4 == 3) PhotoMeshCreater::LowerHeightMapTops(body, keep, 0.4);
        OrvaneMesh hidden = body;
        hidden.vertices.emplace_back(0.0f, 0.0f, 0.0f);
        const OrvaneMesh merged = MergeCoplanarFaces(body), general = MergeCoplanarFaces(hidden);
        SCOPED_TRACE(trial);
        ASSERT_EQ(merged.faces, general.faces);
        ASSERT_EQ(merged.vertices, general.vertices);
        if (base > 0 && trial < 12) ExpectSameSolid(body, merged);
    }
}

// Bad indices and points are refused; hand-made faces merge onto the input's coordinates.
TEST(MeshMerging, RefusesBadFacesAndPointsAndMergesHandMadeFaces)
{
    EXPECT_TRUE(MergeCoplanarFaces(OrvaneMesh()).faces.empty());
    EXPECT_EQ(MergeCoplanarFaces(OrvaneMesh{{{0, 0, 0}, {1, 0, 0}, {0, 1, 1}}, {{0, 1, 2}}}).faces.size(), 1u);
    const OrvaneMesh overlapping{{{2, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 1}, {1, 0, 1}, {0, 0, 2}, {2, 0, 2}},
                                 {{3, 0, 7}, {3, 0, 6}, {3, 6, 5}, {7, 6, 0}, {1, 7, 6}}};
    for (const Eigen::Vector3f& v : MergeCoplanarFaces(overlapping).vertices)
        EXPECT_TRUE(v[1] == 0 && v[0] >= 0 && v[0] <= 2 && v[0] == std::floor(v[0]) && v[2] >= 0 && v[2] <= 2 &&
                    v[2] == std::floor(v[2])) << v.transpose();
    OrvaneMesh mesh = VoxelMesh(cv::Mat(1, 1, CV_8UC1, cv::Scalar(1)), 1);
    OrvaneMesh outside = mesh;
    outside.faces[3][1] = int32_t(mesh.vertices.size());
    EXPECT_THROW(MergeCoplanarFaces(outside), std::invalid_argument);
    outside.faces[3][1] = -1;
    EXPECT_THROW(MergeCoplanarFaces(outside), std::invalid_argument);
    mesh.vertices[mesh.faces[5][0]][2] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_THROW(MergeCoplanarFaces(mesh), std::invalid_argument);
}
