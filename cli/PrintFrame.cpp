#include "PrintFrame.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <utility>

#include <orvane/MeshMerging.h>

#include "BothEnds.h"

namespace orvane_cli {

void PreparePrint(const std::vector<Orvanes::OrvaneMesh*>& meshes, bool exact, ViewedFrom side)
{
    if (exact) return;
    // Each mesh merges on its own, so the meshes share the cores (--threads), largest first so
    // that no core is left with a large one at the end; the result is the same in any order.
    std::vector<size_t> order(meshes.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return meshes[a]->faces.size() > meshes[b]->faces.size(); });
    OnCores(order.size(), [&](size_t k) { *meshes[order[k]] = Orvanes::MergeCoplanarFaces(*meshes[order[k]]); });
    PlacePrint(meshes, side);
}

void PlacePrint(const std::vector<Orvanes::OrvaneMesh*>& meshes, ViewedFrom side)
{
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

void FillPicture(Orvanes::OrvaneMesh& body, int cols, int rows, double pixelSize)
{
    if (body.vertices.empty() || cols < 2 || rows < 2) return;
    float smallestX = body.vertices[0][0], largestX = smallestX, smallestY = body.vertices[0][1], largestY = smallestY;
    for (const Eigen::Vector3f& v : body.vertices) {
        smallestX = std::min(smallestX, v[0]);
        largestX = std::max(largestX, v[0]);
        smallestY = std::min(smallestY, v[1]);
        largestY = std::max(largestY, v[1]);
    }
    // Columns run toward -x from x = 0 and rows toward +y from y = 0, as in the voxel meshes.
    const double width = cols * pixelSize, height = rows * pixelSize;
    const double scaleX = largestX > smallestX ? width / (double(largestX) - smallestX) : 1.0;
    const double scaleY = largestY > smallestY ? height / (double(largestY) - smallestY) : 1.0;
    for (Eigen::Vector3f& v : body.vertices) {
        v[0] = static_cast<float>((double(v[0]) - largestX) * scaleX);
        v[1] = static_cast<float>((double(v[1]) - smallestY) * scaleY);
    }
}

std::vector<Orvanes::OrvaneMesh*> Pointers(std::vector<Orvanes::OrvaneMesh>& meshes)
{
    std::vector<Orvanes::OrvaneMesh*> pointers;
    for (Orvanes::OrvaneMesh& mesh : meshes) pointers.push_back(&mesh);
    return pointers;
}

}  // namespace orvane_cli
