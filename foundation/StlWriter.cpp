#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

#include "PhotosBase.h"
#include "StlFacets.h"

namespace Orvanes {
namespace {

constexpr size_t kStlHeaderBytes = 80;
constexpr size_t kStlFacetBytes = 50;

// Binary STL is little-endian; so is every machine this library targets, which lets the
// floats go out with plain copies.
static_assert(sizeof(float) == 4, "binary STL stores IEEE single-precision floats");
#if defined(__BYTE_ORDER__)
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the writer copies floats as little-endian bytes");
#endif

}  // namespace

void WriteStlHeader(size_t faceCount, char* out)
{
    std::memset(out, ' ', kStlHeaderBytes);
    out[1] = 0;
    out[2] = 0;
    const uint32_t count = static_cast<uint32_t>(faceCount);
    std::memcpy(out + kStlHeaderBytes, &count, 4);
}

void WriteStlFacets(const OrvaneMesh& mesh, size_t first, size_t last, char* out)
{
    if (first > last || last > mesh.faces.size())
        throw std::invalid_argument("WriteStlFacets: faces " + std::to_string(first) + " to " + std::to_string(last) +
                                    " of " + std::to_string(mesh.faces.size()));
    const auto vertexCount = static_cast<uint32_t>(std::min<size_t>(mesh.vertices.size(), UINT32_MAX));
    const Eigen::Vector3f* vertices = mesh.vertices.data();
    for (size_t k = first; k < last; ++k) {
        const auto& face = mesh.faces[k];
        // One unsigned comparison per corner rejects negative indices as well.
        if (static_cast<uint32_t>(face[0]) >= vertexCount || static_cast<uint32_t>(face[1]) >= vertexCount ||
            static_cast<uint32_t>(face[2]) >= vertexCount)
            throw std::out_of_range("GetSTLStream: face (" + std::to_string(face[0]) + ", " + std::to_string(face[1]) +
                                    ", " + std::to_string(face[2]) + ") indexes beyond the " +
                                    std::to_string(mesh.vertices.size()) + " vertices");
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
}

const char* PhotosBase::GetSTLStream(OrvaneMesh mesh, int& size) const
{
    const size_t faceCount = mesh.faces.size();
    const unsigned long long total = kStlHeaderBytes + 4 + kStlFacetBytes * static_cast<unsigned long long>(faceCount);
    if (total > static_cast<unsigned long long>(std::numeric_limits<int32_t>::max()))
        throw std::length_error("GetSTLStream: " + std::to_string(faceCount) +
                                " triangles need " + std::to_string(total) +
                                " bytes, more than a 32-bit signed size can report");
    size = static_cast<int>(total);

    // Every byte is written below, so the block needs no zero fill first. The block is held
    // until the end so that a bad index found on the way releases it.
    std::unique_ptr<char[]> owned(new char[total]);
    char* block = owned.get();
    WriteStlHeader(faceCount, block);
    WriteStlFacets(mesh, 0, faceCount, block + kStlHeaderBytes + 4);
    return owned.release();
}

}  // namespace Orvanes
