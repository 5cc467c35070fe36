// Mesh and STL properties shared by the test suites: closure, orientation, volume, facet count.
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

// Six times the signed volume; positive when the faces are wound outward.
inline double SixVolume(const Orvanes::OrvaneMesh& mesh)
{
    double sum = 0.0;
    auto p = [&](int32_t i) {
        const auto& v = mesh.vertices[static_cast<size_t>(i)];
        return cv::Vec3d(v[0], v[1], v[2]);
    };
    for (const auto& f : mesh.faces)
        sum += p(f[0]).dot(p(f[1]).cross(p(f[2])));
    return sum;
}

// Every directed edge is matched by as many uses in the reverse direction, so the surface is
// closed and consistently wound; voxel meshes may use an edge more than once, where two voxels
// touch only along that edge. strict additionally demands every edge be used exactly once;
// solid demands a positive enclosed volume (a flat, degenerate strip encloses none).
inline void ExpectClosedAndOutward(const Orvanes::OrvaneMesh& mesh, bool strict = true, bool solid = true)
{
    std::vector<std::pair<int32_t, int32_t>> edges;
    edges.reserve(mesh.faces.size() * 3);
    for (const auto& f : mesh.faces) {
        for (int k = 0; k < 3; ++k) {
            ASSERT_GE(f[k], 0);
            ASSERT_LT(static_cast<size_t>(f[k]), mesh.vertices.size());
            edges.emplace_back(f[k], f[(k + 1) % 3]);
        }
    }
    std::sort(edges.begin(), edges.end());
    if (strict) {
        EXPECT_EQ(std::adjacent_find(edges.begin(), edges.end()), edges.end()) << "edge used twice";
    }
    size_t unmatched = 0;
    for (size_t i = 0; i < edges.size();) {
        size_t j = i;
        while (j < edges.size() && edges[j] == edges[i]) ++j;
        const auto reverse = std::make_pair(edges[i].second, edges[i].first);
        const auto range = std::equal_range(edges.begin(), edges.end(), reverse);
        if (static_cast<size_t>(range.second - range.first) != j - i) ++unmatched;
        i = j;
    }
    EXPECT_EQ(unmatched, 0u) << "open or inconsistently wound edges";
    if (solid && !mesh.faces.empty()) {
        EXPECT_GT(SixVolume(mesh), 0.0) << "faces point inward";
    }
}

// The facet count a binary STL stream declares in bytes 80..83, after checking the stream
// holds exactly that many 50-byte facets behind its 84-byte head.
inline uint32_t StlFacetCount(const char* data, int64_t size)
{
    uint32_t count = 0;
    if (data != nullptr && size >= 84) std::memcpy(&count, data + 80, 4);
    EXPECT_EQ(size, 84 + 50 * int64_t(count)) << "not a complete binary STL";
    return count;
}

}  // namespace orvane_test
