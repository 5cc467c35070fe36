#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include "NULLProgressBar.h"
#include "PhotoMeshCreater.h"
#include "PhotosRelief.h"
#include "VoxelMasking.h"

namespace Orvanes {

namespace {

// Voxel labels are bytes: palette positions 0..P-1, then P for a level whose colour is not in
// the palette and P + 1 for empty space. Beyond 254 entries the last two would collide with
// palette labels and silently merge colours.
constexpr size_t kMaxPaletteSize = 254;

int PaletteLabel(const std::vector<LayerEntry>& palette, const LayerEntry& colour)
{
    for (size_t p = 0; p < palette.size(); ++p)
        if (palette[p] == colour) return static_cast<int>(p);
    return static_cast<int>(palette.size());
}

void CheckVoxelRequest(cv::Size size, size_t paletteSize, int baseCount, const cv::Mat& keep)
{
    if (!keep.empty() && (keep.type() != CV_8UC1 || keep.size() != size))
        throw std::invalid_argument("GetVoxMeshes: the keep mask is not one 8-bit channel of the working size " +
                                    std::to_string(size.width) + " x " + std::to_string(size.height));
    if (paletteSize > kMaxPaletteSize)
        throw std::invalid_argument("GetVoxMeshes: a palette of " + std::to_string(paletteSize) +
                                    " colours exceeds the limit of " + std::to_string(kMaxPaletteSize) +
                                    " that byte voxel labels can tell apart");
    if (baseCount < 0)
        throw std::invalid_argument("GetVoxMeshes: base count " + std::to_string(baseCount) +
                                    " is below the minimum of 0");
}

// Channel 0 is the top level: the relief levels come before the base levels.
cv::Mat LeftOutEmptied(cv::Mat grid, const cv::Mat& keep, int baseCount, size_t paletteSize)
{
    if (!grid.empty())
        detail::EmptyLeftOut(grid, keep, grid.channels() - baseCount, static_cast<uint8_t>(paletteSize + 1),
                             "GetVoxMeshes");
    return grid;
}

}  // namespace

// The planes take the size of the current grey image, not of the last preview: the grid then
// exists before any preview and equals what a current preview would give.
cv::Mat PhotosRelief::GetReliefVox(const std::vector<LayerEntry>& stack, int baseCount) const
{
    CV_Assert(baseCount >= 0);
    const long long stackSize = static_cast<long long>(stack.size());
    const long long reliefCount = stackSize > baseCount ? stackSize - baseCount : 0;
    const long long planeCount = reliefCount + baseCount;
    if (planeCount > CV_CN_MAX)
        CV_Error(cv::Error::StsOutOfRange, "GetVoxMeshes: " + std::to_string(planeCount) +
                                               " levels exceed the " + std::to_string(CV_CN_MAX) +
                                               " channels of a voxel grid");
    if (planeCount == 0) return cv::Mat();

    const int levels = static_cast<int>(reliefCount);
    const int paletteSize = static_cast<int>(palette.size());
    const cv::Size size = greyImage.size();
    const cv::Scalar empty(cv::saturate_cast<uchar>(paletteSize + 1));

    std::vector<cv::Mat> planes;
    planes.reserve(static_cast<size_t>(planeCount));
    cv::Mat mask;
    // Channel 0 is the top level (the last stack entry); each level's threshold is one step
    // below the one above it, so the filled voxels of a pixel form one column from the bottom.
    for (int i = 0; i < levels; ++i) {
        const size_t entry = static_cast<size_t>(stackSize - 1 - i);
        const double threshold = LevelThreshold(greyMin, greyMax, levels, levels - 1 - i);
        cv::inRange(greyImage, cv::Scalar(threshold), cv::Scalar(256.0), mask);
        cv::Mat plane(size, CV_8UC1, empty);
        plane.setTo(cv::Scalar(cv::saturate_cast<uchar>(PaletteLabel(palette, stack[entry]))), mask);
        planes.push_back(plane);
    }
    // Base levels are printed in the first palette colour whatever the stack says for them.
    for (int b = 0; b < baseCount; ++b)
        planes.push_back(cv::Mat::zeros(size, CV_8UC1));

    cv::Mat grid;
    cv::merge(planes, grid);
    return grid;
}

void PhotosRelief::GetVoxMeshes(const std::vector<LayerEntry>& stack, double layerHeight,
                                double bottomLayerHeight, int baseCount, double voxelSize,
                                std::vector<OrvaneMesh>& meshes, std::vector<LayerEntry>& colours)
{
    GetVoxMeshes(stack, layerHeight, bottomLayerHeight, baseCount, voxelSize, cv::Mat(), meshes, colours);
}

cv::Mat PhotosRelief::VoxelGrid(const std::vector<LayerEntry>& stack, int baseCount, const cv::Mat& keep) const
{
    CheckVoxelRequest(greyImage.size(), palette.size(), baseCount, keep);
    return LeftOutEmptied(GetReliefVox(stack, baseCount), keep, baseCount, palette.size());
}

void PhotosRelief::GetVoxMeshes(const std::vector<LayerEntry>& stack, double layerHeight, double bottomLayerHeight,
                                int baseCount, double voxelSize, const cv::Mat& keep,
                                std::vector<OrvaneMesh>& meshes, std::vector<LayerEntry>& colours)
{
    CheckVoxelRequest(greyImage.size(), palette.size(), baseCount, keep);
    meshes.clear();
    colours.clear();

    const cv::Mat grid = LeftOutEmptied(GetReliefVox(stack, baseCount), keep, baseCount, palette.size());
    // One mesher for all colours: its vertex table keeps its capacity from colour to colour.
    PhotoMeshCreater mesher(progress);
    const size_t paletteSize = palette.size();
    for (size_t i = 0; i < paletteSize; ++i) {
        const double count = static_cast<double>(paletteSize);
        const int begin = static_cast<int>(static_cast<double>(i) / count * 100.0);
        const int end = static_cast<int>(static_cast<double>(i + 1) / count * 100.0);
        // An empty stack with no base levels leaves nothing to mesh, though the colours still
        // count toward progress.
        OrvaneMesh mesh;
        if (!grid.empty())
            mesh = mesher.CreateMeshFromVox(grid, voxelSize, layerHeight, bottomLayerHeight, static_cast<int>(i),
                                            begin, end);
        detail::Report(progress, end);
        if (!mesh.vertices.empty()) {
            meshes.push_back(std::move(mesh));
            colours.push_back(palette[i]);
        }
    }
}

}  // namespace Orvanes
