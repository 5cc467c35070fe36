#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

#include <Eigen/Geometry>
#include <opencv2/core.hpp>

#include "MeshRotation.h"
#include "PhotoMeshCreater.h"

namespace Orvanes {

void PhotoMeshCreater::VertexIndex::Clear()
{
    rowCount = colCount = levelCount = 0;
    used.clear();
    before.clear();
}

PhotoMeshCreater::PhotoMeshCreater(PhotosProgressBar* progressBar) : progress(progressBar) {}
PhotoMeshCreater::PhotoMeshCreater(const PhotoMeshCreater& other) = default;
PhotoMeshCreater::PhotoMeshCreater(PhotoMeshCreater&& other) noexcept
    : vertexIndex(std::move(other.vertexIndex)), progress(other.progress)
{
    other.vertexIndex.Clear();
}

PhotoMeshCreater& PhotoMeshCreater::operator=(const PhotoMeshCreater& other)
{
    if (this != &other) vertexIndex = other.vertexIndex;
    progress = other.progress;
    return *this;
}

PhotoMeshCreater& PhotoMeshCreater::operator=(PhotoMeshCreater&& other) noexcept
{
    if (this != &other) {
        vertexIndex.Clear();
        std::swap(vertexIndex, other.vertexIndex);
    }
    progress = other.progress;
    return *this;
}

PhotoMeshCreater::~PhotoMeshCreater() = default;

void PhotoMeshCreater::LowerHeightMapTops(OrvaneMesh& mesh, const cv::Mat& keep, double height)
{
    if (keep.empty()) return;
    CV_Assert(keep.type() == CV_8UC1 && keep.dims == 2);
    if (mesh.vertices.size() != 2 * keep.total())
        throw std::invalid_argument("LowerHeightMapTops: " + std::to_string(mesh.vertices.size()) +
                                    " vertices are not two per pixel of " + std::to_string(keep.cols) + " x " +
                                    std::to_string(keep.rows));
    // Top and bottom of a pixel differ along the turned z axis only.
    const Eigen::Vector3f up = detail::MeshTurn() * Eigen::Vector3f(0.0f, 0.0f, -static_cast<float>(height));
    Eigen::Vector3f* vertex = mesh.vertices.data();
    for (int r = 0; r < keep.rows; ++r) {
        const uint8_t* kept = keep.ptr<uint8_t>(r);
        for (int c = 0; c < keep.cols; ++c, vertex += 2)
            if (kept[c] == 0) vertex[0] = vertex[1] + up;
    }
}

OrvaneMesh PhotoMeshCreater::CreateMeshByHeightMap(cv::Mat heightMap, double layerHeight, double pixelSize,
                                                    int layerCount, double baseHeight, double zOffset,
                                                    bool invert)
{
    vertexIndex.Clear();
    OrvaneMesh mesh;
    const int rows = heightMap.rows, cols = heightMap.cols;
    if (heightMap.empty() || rows <= 0 || cols <= 0) return mesh;
    CV_Assert(heightMap.type() == CV_8UC1 && heightMap.dims == 2);
    const size_t pixelCount = static_cast<size_t>(rows) * static_cast<size_t>(cols);
    if (2 * pixelCount > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw std::length_error("CreateMeshByHeightMap: " + std::to_string(cols) + " x " + std::to_string(rows) +
                                " pixels need more vertices than 32-bit indices reach");

    double minValue = 0.0, maxValue = 0.0;
    cv::minMaxLoc(heightMap, &minValue, &maxValue);
    // A uniform image has no height range to spread; it becomes a flat top at baseHeight
    // instead of the NaN heights the division would give.
    const double scale = maxValue > minValue
                             ? (static_cast<double>(layerCount) - 1.0) * layerHeight / (maxValue - minValue)
                             : 0.0;
    const double sx = pixelSize / static_cast<double>(static_cast<float>(cols)) + pixelSize;
    const double sy = pixelSize / static_cast<double>(static_cast<float>(rows)) + pixelSize;
    const float bottom = static_cast<float>(-zOffset);
    const Eigen::Matrix3f& turn = detail::MeshTurn();

    // Counts follow from the grid, so one reservation covers the whole mesh.
    mesh.vertices.resize(2 * pixelCount);
    mesh.faces.reserve(4 * static_cast<size_t>(rows - 1) * static_cast<size_t>(cols - 1) +
                       4 * static_cast<size_t>(rows - 1) + 4 * static_cast<size_t>(cols - 1));

    // Every byte value maps to one height, so the per-pixel work is a table lookup.
    float topOf[256];
    for (int value = 0; value < 256; ++value) {
        const double diff = invert ? maxValue - value : value - minValue;
        const auto q = static_cast<uint8_t>(static_cast<int>(diff));
        const float negated = -static_cast<float>(q);
        topOf[value] = static_cast<float>(static_cast<double>(negated) * scale - baseHeight - zOffset);
    }

    Eigen::Vector3f* out = mesh.vertices.data();
    using Face = Eigen::Matrix<int32_t, 3, 1>;
    for (int r = 0; r < rows; ++r) {
        const uint8_t* heights = heightMap.ptr<uint8_t>(r);
        const float y = static_cast<float>(static_cast<double>(static_cast<float>(r)) * sy);
        for (int c = 0; c < cols; ++c) {
            const float x = static_cast<float>(static_cast<double>(static_cast<float>(c)) * sx);
            *out++ = turn * Eigen::Vector3f(x, y, topOf[heights[c]]);
            *out++ = turn * Eigen::Vector3f(x, y, bottom);
            if (r < rows - 1 && c < cols - 1) {
                const int32_t a = 2 * ((r + 1) * cols + c);
                const int32_t b = 2 * (r * cols + c);
                const int32_t cc = b + 2;
                mesh.faces.emplace_back(a, cc, b);
                mesh.faces.emplace_back(a + 2, cc, a);
                mesh.faces.emplace_back(b + 1, cc + 1, a + 1);
                mesh.faces.emplace_back(a + 1, cc + 1, a + 3);
            }
        }
    }

    // The top vertex of pixel (r, c) is 2 * (r * cols + c): the walls index by arithmetic.
    auto top = [cols](int c, int r) { return static_cast<int32_t>(2 * (r * cols + c)); };
    for (int r = 0; r + 1 < rows; ++r) {
        const int32_t t0 = top(0, r), t1 = top(0, r + 1);
        const int32_t u0 = top(cols - 1, r), u1 = top(cols - 1, r + 1);
        mesh.faces.push_back(Face(t0, t0 + 1, t1));
        mesh.faces.push_back(Face(t1, t0 + 1, t1 + 1));
        mesh.faces.push_back(Face(u1, u0 + 1, u0));
        mesh.faces.push_back(Face(u1 + 1, u0 + 1, u1));
    }
    for (int c = 0; c + 1 < cols; ++c) {
        const int32_t v0 = top(c, 0), v1 = top(c + 1, 0);
        const int32_t w0 = top(c, rows - 1), w1 = top(c + 1, rows - 1);
        mesh.faces.push_back(Face(v1, v0 + 1, v0));
        mesh.faces.push_back(Face(v1 + 1, v0 + 1, v1));
        mesh.faces.push_back(Face(w0, w0 + 1, w1));
        mesh.faces.push_back(Face(w1, w0 + 1, w1 + 1));
    }
    return mesh;
}

}  // namespace Orvanes
