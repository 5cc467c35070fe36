// Closed, outward-oriented triangle meshes from a grey height map and from one label of a
// multi-layer voxel grid.
#pragma once
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "OrvaneExport.h"
#include "OrvaneMesh.h"
#include "PhotosBase.h"

namespace Orvanes {

// Both meshers lay image columns along x, rows along y and heights or layers along z, then
// turn every vertex by pi about the y axis (x and z change sign). A mesher is cheap: make
// one per request; it may serve several calls in a row.
class ORVANE_EXPORT PhotoMeshCreater : public PhotosBase {
public:
    // progress: not owned; only CreateMeshFromVox reports, and a null reporter means no reports.
    explicit PhotoMeshCreater(PhotosProgressBar* progress);
    PhotoMeshCreater(const PhotoMeshCreater& other);
    PhotoMeshCreater(PhotoMeshCreater&& other) noexcept;
    PhotoMeshCreater& operator=(const PhotoMeshCreater& other);
    PhotoMeshCreater& operator=(PhotoMeshCreater&& other) noexcept;
    ~PhotoMeshCreater();

    // heightMap: 8-bit single channel, read in place through its row stride. The solid
    // stands on z = zOffset; the lowest top point is baseHeight above it and the brightest
    // pixel (darkest with invert) (layerCount - 1) * layerHeight higher. A uniform image
    // gives a flat top at baseHeight + zOffset. Vertex order: per pixel in row-major order,
    // top then bottom vertex.
    OrvaneMesh CreateMeshByHeightMap(cv::Mat heightMap, double layerHeight, double pixelSize,
                                     int layerCount, double baseHeight, double zOffset, bool invert);

    // voxels: rows x cols elements of 8-bit bytes with one channel per layer; the mesh of
    // every voxel equal to label, closed and wound outward. Layer k lies layerHeight thick
    // except the last, which is lastLayerHeight thick. Reports progress rising from
    // progressBegin toward (never reaching) progressEnd.
    OrvaneMesh CreateMeshFromVox(cv::Mat voxels, double voxelSize, double layerHeight,
                                 double lastLayerHeight, int label, int progressBegin, int progressEnd);

    // Lowers the top of every pixel where keep is 0 to height above the bottom, in a mesh that
    // CreateMeshByHeightMap made from a picture of keep's size; the solid stays closed, so a
    // cut-out background keeps a plate of that height. keep: 8-bit single channel. Throws
    // std::invalid_argument when the mesh does not have two vertices per pixel of keep.
    static void LowerHeightMapTops(OrvaneMesh& mesh, const cv::Mat& keep, double height);

private:
    bool IsVertexUsed(const cv::Mat& voxels, int i, int j, int k, int label) const;

    // Lattice position (row, column, level) to vertex index for the last call. Vertices are
    // numbered in lattice order, so a position's index is the count of used positions before
    // it: one bit per position and the running count before each 64-bit word answer that with
    // one popcount, at a fraction of a byte per position. Height-map calls keep no table:
    // their indices are plain arithmetic on the pixel position.
    struct VertexIndex {
        int64_t rowCount = 0;    // lattice rows (grid rows + 1)
        int64_t colCount = 0;    // lattice columns (grid columns + 1)
        int64_t levelCount = 0;  // lattice levels (layers + 1)
        std::vector<uint64_t> used;
        std::vector<int32_t> before;
        void Clear();
    };

    VertexIndex vertexIndex;
    PhotosProgressBar* progress;
};

}  // namespace Orvanes
