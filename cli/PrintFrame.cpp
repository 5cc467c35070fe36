#include "PrintFrame.h"

#include <algorithm>
#include <limits>
#include <utility>

#include <orvane/MeshMerging.h>

namespace orvane_cli {

void PreparePrint(const std::vector<Orvanes::OrvaneMesh*>& meshes, bool exact, ViewedFrom side)
{
    if (exact) return;
    for (Orvanes::OrvaneMesh* mesh : meshes) *mesh = Orvanes::MergeCoplanarFaces(*mesh);
    // Merged meshes hold only vertices their faces use, so the extremes are the solid's.
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    float smallestX = kInfinity, largestX = -kInfinity, largestY = -kInfinity, lowestZ = kInfinity;
    for (const Orvanes::OrvaneMesh* mesh : meshes)
        for (const Eigen::Vector3f& v : mesh->vertices) {
            smallestX = std::min(smallestX, v[0]);
            largestX = std::max(largestX, v[0]);
            largestY = std::max(largestY, v[1]);
            lowestZ = std::min(lowestZ, v[2]);
        }
    // Image columns run toward -x and rows toward +y. From above, a half turn about z reads them
    // right; from below, the picture is seen mirrored, so only the rows turn: a mirror image,
    // whose triangles are wound the other way to keep facing outward.
    const bool fromBelow = side == ViewedFrom::kBelow;
    for (Orvanes::OrvaneMesh* mesh : meshes) {
        for (Eigen::Vector3f& v : mesh->vertices)
            v = Eigen::Vector3f(fromBelow ? v[0] - smallestX : largestX - v[0], largestY - v[1], v[2] - lowestZ);
        if (fromBelow)
            for (auto& face : mesh->faces) std::swap(face[1], face[2]);
    }
}

std::vector<Orvanes::OrvaneMesh*> Pointers(std::vector<Orvanes::OrvaneMesh>& meshes)
{
    std::vector<Orvanes::OrvaneMesh*> pointers;
    for (Orvanes::OrvaneMesh& mesh : meshes) pointers.push_back(&mesh);
    return pointers;
}

}  // namespace orvane_cli
