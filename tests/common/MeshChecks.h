// Mesh and STL properties shared by the test suites: closure, orientation, volume, facet count,
// and the progress the meshers and models report.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "OrvaneMesh.h"

namespace orvane_test {

// A reporter that keeps every value it is sent.
struct RecordingProgress : Orvanes::PhotosProgressBar {
    void SetProgress(int percent) override { values.push_back(percent); }
    std::vector<int> values;
};

// Six times the signed volume; positive when the faces are wound outward.
inline double SixVolume(const Orvanes::OrvaneMesh& mesh)
{
    double sum = 0.0;
    const auto p = [&](int32_t i) { const auto& v = mesh.vertices[size_t(i)]; return cv::Vec3d(v[0], v[1], v[2]); };
    for (const auto& f : mesh.faces) sum += p(f[0]).dot(p(f[1]).cross(p(f[2])));
    return sum;
}

// Every directed edge is matched by as many uses in the reverse direction, so the surface is
// closed and consistently wound; voxel meshes may use an edge more than once, where two voxels
// touch only along that edge. strict additionally demands every edge be used exactly once;
// solid demands a positive enclosed volume (a flat, degenerate strip encloses none).
inline void ExpectClosedAndOutward(const Orvanes::OrvaneMesh& mesh, bool strict = true, bool solid = true)
{
    std::vector<std::pair<int32_t, int32_t>> edges, reversed;
    for (const auto& f : mesh.faces)
        for (int k = 0; k < 3; ++k) {
            ASSERT_TRUE(f[k] >= 0 && static_cast<size_t>(f[k]) < mesh.vertices.size()) << f[k];
            edges.emplace_back(f[k], f[(k + 1) % 3]);
            reversed.emplace_back(f[(k + 1) % 3], f[k]);
        }
    std::sort(edges.begin(), edges.end());
    std::sort(reversed.begin(), reversed.end());
    EXPECT_TRUE(!strict || std::adjacent_find(edges.begin(), edges.end()) == edges.end()) << "edge used twice";
    EXPECT_TRUE(edges == reversed) << "open or inconsistently wound edges";
    EXPECT_TRUE(!solid || mesh.faces.empty() || SixVolume(mesh) > 0.0) << "faces point inward";
}

// The facet count in bytes 80..83 of a binary STL stream, once the stream holds just that many facets.
inline uint32_t StlFacetCount(const char* data, int64_t size)
{
    uint32_t count = 0;
    if (data != nullptr && size >= 84) std::memcpy(&count, data + 80, 4);
    EXPECT_EQ(size, 84 + 50 * int64_t(count)) << "not a complete binary STL";
    return count;
}

}  // namespace orvane_test
