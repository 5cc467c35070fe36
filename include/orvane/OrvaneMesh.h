// The triangle mesh record every mesher produces, and the progress interface hosts implement.
#pragma once
#include <cstdint>
#include <vector>

#include <Eigen/Core>

#include "OrvaneExport.h"

namespace Orvanes {

// An indexed triangle set. vertices: three 32-bit floats each, in the host's length unit.
// faces: three 32-bit signed indices into vertices, wound counter-clockwise seen from outside
// (the right-hand rule gives the outward normal). Unreferenced vertices may exist.
struct OrvaneMesh {
    std::vector<Eigen::Vector3f> vertices;
    std::vector<Eigen::Matrix<int32_t, 3, 1>> faces;
};

// Receives whole percentages (0..100) of the running operation, synchronously, on the thread
// that called that operation. An exception thrown from SetProgress ends the operation and
// reaches its caller unchanged.
class ORVANE_EXPORT PhotosProgressBar {
public:
    PhotosProgressBar() = default;
    PhotosProgressBar(const PhotosProgressBar&) = default;
    PhotosProgressBar(PhotosProgressBar&&) = default;
    PhotosProgressBar& operator=(const PhotosProgressBar&) = default;
    PhotosProgressBar& operator=(PhotosProgressBar&&) = default;
    // Virtual because the flat facades delete the reporter they were handed through this base.
    virtual ~PhotosProgressBar();

    virtual void SetProgress(int percent) = 0;
};

}  // namespace Orvanes
