// Both meshers on small grids, each result merged. Beyond memory errors this target checks
// what every caller relies on: the meshes and their merged forms are closed, every edge
// joining exactly two triangles wound against each other.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>

#include <orvane/MeshMerging.h>
#include <orvane/PhotoMeshCreater.h>

#include "FuzzInput.h"

using namespace Orvanes;

namespace {

bool Closed(const OrvaneMesh& mesh)
{
    std::map<std::pair<int, int>, int> directed;
    for (const auto& face : mesh.faces)
        for (int k = 0; k < 3; ++k) ++directed[{face[k], face[(k + 1) % 3]}];
    for (const auto& [edge, count] : directed) {
        const auto back = directed.find({edge.second, edge.first});
        if (count != 1 || back == directed.end() || back->second != 1) return false;
    }
    return true;
}

void Require(bool holds, const char* what)
{
    if (holds) return;
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}

bool Sane(double value) { return std::isfinite(value) && value >= 0.01; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    orvane_fuzz::FuzzInput in(data, size);
    PhotoMeshCreater mesher(nullptr);

    const int rows = in.Int(1, 12), cols = in.Int(1, 12);
    const double layerHeight = in.Number(0.05, 1), pixelSize = in.Number(0.1, 2), baseHeight = in.Number(0, 2);
    const int layerCount = in.Count(1, 32);
    const bool invert = in.Byte() & 1;
    cv::Mat heightMap(rows, cols, CV_8UC1);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) heightMap.at<uint8_t>(r, c) = in.Byte();
    try {
        const OrvaneMesh body = mesher.CreateMeshByHeightMap(heightMap, layerHeight, pixelSize, layerCount, baseHeight,
                                                             0.0, invert);
        // Points stand at pixel centres: a single row or column is a solid of no width. Tops a
        // million times higher than a pixel is wide are outside what the merge keeps closed.
        const bool sane = Sane(layerHeight) && Sane(pixelSize) && Sane(baseHeight) && layerCount >= 2 &&
                          layerCount <= 1000 && rows > 1 && cols > 1;
        if (sane) {
            Require(Closed(body), "height-map body not closed");
            Require(Closed(MergeCoplanarFaces(body)), "merged height-map body not closed");
        }
        // The body merges along its grid; with its layout hidden (an unused vertex) it goes the
        // general way, and the two must agree byte for byte, sane or not.
        OrvaneMesh hidden = body;
        hidden.vertices.emplace_back(0.0f, 0.0f, 0.0f);
        const OrvaneMesh alongGrid = MergeCoplanarFaces(body), general = MergeCoplanarFaces(hidden);
        Require(alongGrid.faces == general.faces && alongGrid.vertices == general.vertices,
                "height-map body merged along its grid differs from the general merge");
    } catch (const std::exception&) {
    }

    const int voxelRows = in.Int(1, 8), voxelCols = in.Int(1, 8), layers = in.Int(1, 6);
    const int label = in.Int(0, 2);
    const double voxelSize = in.Number(0.1, 2), voxelLayer = in.Number(0.05, 1), lastLayer = in.Number(0.05, 1);
    cv::Mat voxels(voxelRows, voxelCols, CV_8UC(layers));
    for (int r = 0; r < voxelRows; ++r)
        for (int c = 0; c < voxelCols; ++c)
            for (int k = 0; k < layers; ++k) voxels.ptr<uint8_t>(r, c)[k] = in.Byte() % 3;
    try {
        const OrvaneMesh solid = mesher.CreateMeshFromVox(voxels, voxelSize, voxelLayer, lastLayer, label, 0, 100);
        if (Sane(voxelSize) && Sane(voxelLayer) && Sane(lastLayer))
            Require(Closed(MergeCoplanarFaces(solid)), "merged voxel mesh not closed");
    } catch (const std::exception&) {
    }
    return 0;
}
