#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include <opencv2/imgproc.hpp>

#include "CardMatching.h"
#include "NULLProgressBar.h"
#include "PhotoMeshCreater.h"
#include "PhotosTranslucent.h"
#include "VoxelMasking.h"

namespace Orvanes {

namespace {

constexpr int kLayerCount = 6;
constexpr uint8_t kNoMaterial = 255;

// The body's layers from the thinnest to the thickest place.
int BodyLayerCount(int minLayers, int maxLayers)
{
    const long long layerCount = static_cast<long long>(maxLayers) - minLayers + 1;
    if (layerCount > std::numeric_limits<int>::max() || layerCount < std::numeric_limits<int>::min())
        throw std::invalid_argument("PhotosTranslucent::GetMeshes: " + std::to_string(minLayers) + " to " +
                                    std::to_string(maxLayers) + " layers span more than an int counts");
    return static_cast<int>(layerCount);
}

}  // namespace

std::array<uint8_t, 6> PhotosTranslucent::CellLayers(CardCell cell)
{
    if (cell.row < 0 || cell.row > 15 || cell.column < 0 || cell.column > 63)
        throw std::out_of_range("PhotosTranslucent::CellLayers: cell (" + std::to_string(cell.row) + ", " +
                                std::to_string(cell.column) + ") lies outside the 16 x 64 card");
    // Column and row spell the first five layers in base 4; the top layer is always white.
    const int r = cell.row, c = cell.column;
    return {static_cast<uint8_t>(c % 4),       static_cast<uint8_t>(c / 4 % 4), static_cast<uint8_t>(r % 4),
            static_cast<uint8_t>(r / 4 % 4),   static_cast<uint8_t>(c / 16 % 4), uint8_t{3}};
}

cv::Mat PhotosTranslucent::GetCMYKTVox() const
{
    CV_Assert(matchedImage.type() == CV_8UC3 && matchedImage.size() == quantizedImage.size());
    CV_Assert(matchedColours.empty() || static_cast<size_t>(matchedColours.rows) == cardMatches.size());
    cv::Mat grid(quantizedImage.rows, quantizedImage.cols, CV_8UC(kLayerCount));
    // Six channels are more than a scalar fill covers; the fresh grid is one continuous block.
    if (!grid.empty()) std::memset(grid.data, kNoMaterial, grid.total() * grid.elemSize());

    std::vector<std::array<uint8_t, 6>> stacks;
    stacks.reserve(cardMatches.size());
    for (const CardCell& cell : cardMatches) stacks.push_back(CellLayers(cell));
    const detail::PaletteLookup lookup(matchedColours);
    for (int y = 0; y < grid.rows; ++y) {
        const uint8_t* matched = matchedImage.ptr<uint8_t>(y);
        uint8_t* out = grid.ptr<uint8_t>(y);
        for (int x = 0; x < grid.cols; ++x, matched += 3, out += kLayerCount) {
            const int entry = lookup.Find(matched);
            if (entry >= 0) std::memcpy(out, stacks[static_cast<size_t>(entry)].data(), kLayerCount);
        }
    }
    return grid;
}

std::vector<OrvaneMesh> PhotosTranslucent::GetMeshes(int minLayers, int maxLayers, double layerHeight,
                                                     double lastLayerHeight)
{
    return GetMeshes(minLayers, maxLayers, layerHeight, lastLayerHeight, cv::Mat());
}

std::vector<OrvaneMesh> PhotosTranslucent::GetMeshes(int minLayers, int maxLayers, double layerHeight,
                                                     double lastLayerHeight, const cv::Mat& keep)
{
    RequirePhotograph("GetMeshes");
    BodyLayerCount(minLayers, maxLayers);
    cv::Mat grid = VoxelGrid(keep);
    std::vector<OrvaneMesh> meshes;
    meshes.reserve(5);
    PhotoMeshCreater mesher(progress);
    for (int label = 0; label < 4; ++label) {
        meshes.push_back(mesher.CreateMeshFromVox(grid, pixelSize, layerHeight, lastLayerHeight, label, 20 * label,
                                                  20 * label + 20));
        detail::Report(progress, 20 * label + 20);
    }
    meshes.push_back(BodyMesh(minLayers, maxLayers, layerHeight, keep));
    detail::Report(progress, 100);
    return meshes;
}

cv::Mat PhotosTranslucent::VoxelGrid(const cv::Mat& keep) const
{
    RequirePhotograph("GetMeshes");
    cv::Mat grid = GetCMYKTVox();
    detail::EmptyLeftOut(grid, keep, kLayerCount, kNoMaterial, "PhotosTranslucent::GetMeshes");
    return grid;
}

OrvaneMesh PhotosTranslucent::BodyMesh(int minLayers, int maxLayers, double layerHeight, const cv::Mat& keep) const
{
    RequirePhotograph("GetMeshes");
    const int layerCount = BodyLayerCount(minLayers, maxLayers);
    const double baseHeight = static_cast<double>(static_cast<long long>(minLayers) - kLayerCount) * layerHeight;
    // The body follows the grey of the preview: darker pixels stand higher behind the colour.
    cv::Mat bgr, grey;
    cv::cvtColor(matchedImage, bgr, cv::COLOR_HSV2BGR_FULL);
    cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
    OrvaneMesh body = PhotoMeshCreater(progress).CreateMeshByHeightMap(grey, layerHeight, pixelSize, layerCount,
                                                                      baseHeight, 0.0, true);
    PhotoMeshCreater::LowerHeightMapTops(body, keep, layerHeight);
    return body;
}

}  // namespace Orvanes
