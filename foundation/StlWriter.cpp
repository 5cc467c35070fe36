#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "PhotosBase.h"

namespace Orvanes {
namespace {

constexpr size_t kStlHeaderBytes = 80;
constexpr size_t kStlFacetBytes = 50;

// Binary STL is little-endian; so is every machine this library targets, which lets the
// floats go out with plain copies.
static_assert(sizeof(float) == 4, "binary STL stores IEEE single-precision floats");

}  // namespace

const char* PhotosBase::GetSTLStream(OrvaneMesh mesh, int& size) const
{
    const size_t faceCount = mesh.faces.size();
    const unsigned long long total = kStlHeaderBytes + 4 + kStlFacetBytes * static_cast<unsigned long long>(faceCount);
    if (total > static_cast<unsigned long long>(std::numeric_limits<int32_t>::max()))
        throw std::length_error("GetSTLStream: " + std::to_string(faceCount) +
                                " triangles need " + std::to_string(total) +
                                " bytes, more than a 32-bit signed size can report");
    size = static_cast<int>(total);

    // Every byte is written below, so the block needs no zero fill first.
    char* block = new char[total];
    std::memset(block, ' ', kStlHeaderBytes);
    block[1] = 0;
    block[2] = 0;
    const uint32_t count = static_cast<uint32_t>(faceCount);
    std::memcpy(block + kStlHeaderBytes, &count, 4);

    char* out = block + kStlHeaderBytes + 4;
    const Eigen::Vector3f* vertices = mesh.vertices.data();
    for (const auto& face : mesh.faces) {
        const Eigen::Vector3f& a = vertices[face[0]];
        const Eigen::Vector3f& b = vertices[face[1]];
        const Eigen::Vector3f& c = vertices[face[2]];
        const float ex = b[0] - a[0], ey = b[1] - a[1], ez = b[2] - a[2];
        const float fx = c[0] - b[0], fy = c[1] - b[1], fz = c[2] - b[2];
        float record[12];
        float nx = ey * fz - ez * fy;
        float ny = ez * fx - ex * fz;
        float nz = ex * fy - ey * fx;
        const float s = nx * nx + (ny * ny + nz * nz);
        if (s > 0.0f) {
            const float length = std::sqrt(s);
            nx /= length;
            ny /= length;
            nz /= length;
        }
        record[0] = nx;
        record[1] = ny;
        record[2] = nz;
        std::memcpy(record + 3, a.data(), 12);
        std::memcpy(record + 6, b.data(), 12);
        std::memcpy(record + 9, c.data(), 12);
        std::memcpy(out, record, 48);
        out[48] = 0;
        out[49] = 0;
        out += kStlFacetBytes;
    }
    return block;
}

}  // namespace Orvanes
