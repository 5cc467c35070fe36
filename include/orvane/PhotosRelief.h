// The layered colour relief: one photograph prepared as a grey height field, with a proposed
// colour stack, a top-view preview, one mesh per colour or one single-body mesh.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <Eigen/Core>
#include <opencv2/core.hpp>

#include "OrvaneExport.h"
#include "OrvaneMesh.h"
#include "PhotosBase.h"

namespace Orvanes {

// blue, green, red (0..255) and opacity: the share of light one printed layer stops.
// Two entries are the same colour only when all four floats compare equal.
using LayerEntry = Eigen::Matrix<float, 4, 1>;

class ORVANE_EXPORT PhotosRelief : public PhotosBase {
public:
    // Both constructors decode a 3-channel colour image (alpha dropped, grey expanded), then
    // Init. An unreadable file or undecodable buffer throws cv::Exception saying so.
    // width, height, pixelSize: physical lengths in the host's unit; the working image is
    // floor(width / pixelSize) x floor(height / pixelSize) pixels. progress: not owned; a
    // null reporter means no reports.
    PhotosRelief(std::string path, double width, double height, double pixelSize,
                 PhotosProgressBar* progress, std::vector<LayerEntry> palette);
    // encoded: a whole image file as bytes (any shape; read as one run of bytes).
    PhotosRelief(cv::Mat encoded, double width, double height, double pixelSize,
                 PhotosProgressBar* progress, std::vector<LayerEntry> palette);

    // Re-derives the working images from the decoded photograph at a new physical size with a
    // new palette. Works with the stored pixel size; the third argument is not used.
    void Init(double width, double height, double pixelSize, PhotosProgressBar* progress,
              std::vector<LayerEntry> palette);

    // Points this object (not its copies) at another reporter, changing nothing else; not owned.
    void SetProgressBar(PhotosProgressBar* reporter) { progress = reporter; }

    // The single-body relief: darkest pixel at startLevel * levelHeight + baseOffset, the
    // brightest at (endLevel - 1) * levelHeight + baseOffset, standing on z = 0.
    OrvaneMesh GetMesh(int startLevel, int endLevel, double levelHeight, double baseOffset);

    // Proposes a stack of layerCount entries, bottom first, from the grey levels at which the
    // picture's edges cluster. Prints the fit coefficients to standard output. Throws
    // std::invalid_argument, leaving stack as it was, for more than kMaxProposedLevels levels or
    // base levels.
    static constexpr int kMaxProposedLevels = 65536;
    void GetAutoLayerInfo(std::vector<LayerEntry>& stack, int baseCount, int layerCount);

    // Renders the top view of stack (bottom first; the first baseCount entries are not shown).
    // width, height: new physical size, 0 keeps that pixel count; pixelSize <= 0 keeps it.
    // Returns the BGR preview, which the object keeps as well.
    cv::Mat UpdatePreviewImage(const std::vector<LayerEntry>& stack, int baseCount, double width,
                               double height, double pixelSize);

    // One closed mesh per palette colour that the grid holds vertices for; colours[k] is the
    // palette entry of meshes[k]. Layers are layerHeight thick, the bottom one
    // bottomLayerHeight. Throws std::invalid_argument for a palette of more than 254 entries
    // or a negative baseCount, and cv::Exception for a stack of more than 512 levels.
    void GetVoxMeshes(const std::vector<LayerEntry>& stack, double layerHeight,
                      double bottomLayerHeight, int baseCount, double voxelSize,
                      std::vector<OrvaneMesh>& meshes, std::vector<LayerEntry>& colours);
    // The same with the relief levels left out wherever keep (8-bit, one channel, the working
    // size) is 0: only the base levels remain there. An empty keep keeps every pixel.
    void GetVoxMeshes(const std::vector<LayerEntry>& stack, double layerHeight, double bottomLayerHeight,
                      int baseCount, double voxelSize, const cv::Mat& keep, std::vector<OrvaneMesh>& meshes,
                      std::vector<LayerEntry>& colours);

    // The voxel grid GetVoxMeshes meshes (with the same keep), one byte per voxel: palette
    // position p where colour p prints, the palette size for a level whose colour is not in the
    // palette, the palette size + 1 for empty space; channel 0 is the top level. Mesh label p
    // with PhotoMeshCreater::CreateMeshFromVox, one mesher per thread, for what GetVoxMeshes
    // gives. Empty for an empty stack with no base levels; throws as GetVoxMeshes does.
    cv::Mat VoxelGrid(const std::vector<LayerEntry>& stack, int baseCount, const cv::Mat& keep) const;

    // The order a palette is kept in: blue, then green, then red ascending; opacity takes no
    // part, so entries of equal colour keep no fixed order; NaN sorts after every number.
    static void SortPalette(std::vector<LayerEntry>& palette);
    // The colour every base level is printed in: the first of the palette in that order.
    // Throws std::invalid_argument for an empty palette.
    static LayerEntry BaseColour(std::vector<LayerEntry> palette);

    // The grey step between levelCount relief levels over the grey range [low, high]: the span
    // truncated to whole grey values, divided by levelCount and truncated again; 0 when the
    // span is smaller than the level count or levelCount <= 0.
    static int LevelGreyStep(double low, double high, int levelCount);
    // The grey value from which relief level `level` (0 = lowest, levelCount - 1 = top) covers
    // a pixel: low + level * step. The preview shows on top, and the voxel grid fills up to,
    // the highest level whose threshold a pixel's grey value reaches.
    static double LevelThreshold(double low, double high, int levelCount, int level);

    // Read access for hosts and tests.
    const cv::Mat& SourceImage() const { return sourceImage; }
    const cv::Mat& ColourImage() const { return colourImage; }
    const cv::Mat& GreyImage() const { return greyImage; }
    const cv::Mat& PreviewImage() const { return previewImage; }
    const std::vector<LayerEntry>& Palette() const { return palette; }
    const std::string& ImagePath() const { return imagePath; }
    int WidthPx() const { return widthPx; }
    int HeightPx() const { return heightPx; }
    double PixelSize() const { return pixelSize; }
    double GreyMin() const { return greyMin; }
    double GreyMax() const { return greyMax; }

private:
    cv::Mat HistNormalization(cv::Mat source, double low, double high) const;
    cv::Mat GetReliefVox(const std::vector<LayerEntry>& stack, int baseCount) const;
    void Resample(int cols, int rows, bool stretch);

    std::string imagePath;
    double physicalHeight = 0.0;
    double physicalWidth = 0.0;
    int32_t widthPx = 0;
    int32_t heightPx = 0;
    double pixelSize = 0.0;
    cv::Mat sourceImage;
    cv::Mat colourImage;
    cv::Mat greyImage;
    double greyMin = 0.0;
    double greyMax = 0.0;
    std::vector<LayerEntry> palette;
    cv::Mat previewImage;
    PhotosProgressBar* progress = nullptr;
};

}  // namespace Orvanes
