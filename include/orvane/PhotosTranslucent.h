// The translucent colour print: a photograph matched against a photographed colour card of
// 16 x 64 six-layer cells, printed as four material meshes and a backlit height-map body.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "OrvaneExport.h"
#include "OrvaneMesh.h"
#include "PhotosBase.h"

namespace Orvanes {

// A colour-card cell: row 0..15 from the top, column 0..63 from the left.
struct CardCell {
    int32_t row = 0;
    int32_t column = 0;
};

class ORVANE_EXPORT PhotosTranslucent : public PhotosBase {
public:
    // The card comes first, the photograph second. Both are decoded as 8-bit BGR; an
    // unreadable or undecodable image throws cv::Exception saying which. width, height,
    // pixelSize: physical lengths; the working image is floor(width / pixelSize) x
    // floor(height / pixelSize). progress: not owned; a null reporter means no reports.
    PhotosTranslucent(std::string cardPath, std::string photoPath, double width, double height,
                      double pixelSize, PhotosProgressBar* progress);
    // cardBytes, photoBytes: whole image files as bytes.
    PhotosTranslucent(cv::Mat cardBytes, cv::Mat photoBytes, double width, double height,
                      double pixelSize, PhotosProgressBar* progress);

    // Copies share pixel storage; paths, matches, numbers and the reporter are copied. A moved-from
    // object holds empty images, paths and matches (its numbers stay) and refuses every
    // operation with std::logic_error until it is assigned again.
    PhotosTranslucent(const PhotosTranslucent& other);
    PhotosTranslucent(PhotosTranslucent&& other) noexcept;
    PhotosTranslucent& operator=(const PhotosTranslucent& other);
    PhotosTranslucent& operator=(PhotosTranslucent&& other) noexcept;
    ~PhotosTranslucent();

    // Samples the card (8-bit BGR; anything else throws cv::Exception) and re-runs the preview
    // pipeline at the given size. A failure before the final report leaves the object as it was.
    void Init(cv::Mat card, double width, double height, double pixelSize, PhotosProgressBar* progress);

    // Points this object (not its copies) at another reporter, changing nothing else; not owned.
    void SetProgressBar(PhotosProgressBar* reporter) { progress = reporter; }

    // Searches the contrast strength on the full photograph, renders the preview with it and
    // brightness 0, and returns that preview (BGR). contrast and brightness receive the setting.
    cv::Mat AutoContrast(float& contrast, float& brightness);
    // Re-matches the palette with a new contrast setting (strength 0..1, pivot shift; both
    // finite, else std::invalid_argument); returns the BGR preview.
    cv::Mat UpdatePreviewImage(double contrast, double brightness);
    // Resamples and re-quantizes the photograph at a new size; returns the BGR preview. A width
    // of 0 or less keeps the photograph at full resolution; otherwise both pixel counts must be
    // at least 1 (std::invalid_argument). The palette has min(W * W, 256) colours for
    // W = floor(width / pixelSize); fewer working pixels than colours, or no colours at all,
    // throw cv::Exception. A failure before the final report leaves the object as it was.
    cv::Mat UpdatePreviewImage(double width, double height, double pixelSize);

    // Five meshes for the last preview: materials 0, 1, 2, 3 (six voxel layers, layerHeight
    // thick, the last lastLayerHeight), then the height-map body, minLayers thick overall
    // where the preview is brightest and maxLayers where it is darkest.
    std::vector<OrvaneMesh> GetMeshes(int minLayers, int maxLayers, double layerHeight,
                                      double lastLayerHeight);
    // The same with nothing printed wherever keep (8-bit, one channel, the working size) is 0
    // but a plate of the body one layerHeight thick, which holds the print together. An empty
    // keep keeps every pixel.
    std::vector<OrvaneMesh> GetMeshes(int minLayers, int maxLayers, double layerHeight, double lastLayerHeight,
                                      const cv::Mat& keep);

    // The parts of GetMeshes (with the same keep), for hosts that mesh them on threads of their
    // own: the voxel grid of the six layers (one byte per voxel, layer 0 first: material 0 to 3,
    // 255 for none), whose label k, meshed by PhotoMeshCreater::CreateMeshFromVox with
    // PixelSize(), layerHeight and lastLayerHeight, is GetMeshes' mesh k; and its body. Both
    // throw as GetMeshes does.
    cv::Mat VoxelGrid(const cv::Mat& keep) const;
    OrvaneMesh BodyMesh(int minLayers, int maxLayers, double layerHeight, const cv::Mat& keep) const;

    // The six material labels (layer 0 first; 0, 1, 2 colour materials, 3 white) that the card
    // prints in a cell: what a printed card holds there and what a matched pixel is printed with.
    static std::array<uint8_t, 6> CellLayers(CardCell cell);

    // Read access for hosts and tests.
    const cv::Mat& QuantizedImage() const { return quantizedImage; }
    const cv::Mat& QuantPalette() const { return quantPalette; }
    const cv::Mat& CardSamples() const { return cardSamples; }
    const cv::Mat& CardSamplesHsv() const { return cardSamplesHsv; }
    const cv::Mat& SourceImage() const { return sourceImage; }
    const cv::Mat& MatchedImage() const { return matchedImage; }
    const cv::Mat& MatchedColours() const { return matchedColours; }
    const std::vector<CardCell>& CardMatches() const { return cardMatches; }
    const std::string& CardPath() const { return cardPath; }
    const std::string& PhotoPath() const { return photoPath; }
    double PixelSize() const { return pixelSize; }
    double Contrast() const { return contrast; }
    double Brightness() const { return brightness; }

private:
    cv::Mat SetContrastBGR(cv::Mat image, double contrast, double brightness) const;
    cv::Mat AutoContrast(cv::Mat image, float& contrast, float& brightness);
    cv::Mat GetColorCardMatchingImage(cv::Mat adjustedPalette);
    cv::Mat GetCMYKTVox() const;
    // The sizing pipeline for a given card: computes everything first, then replaces the card
    // samples and the whole working state together.
    cv::Mat Requantize(const cv::Mat& samples, const cv::Mat& samplesHsv, double width, double height,
                       double pixelSize, PhotosProgressBar* reporter);
    void RequirePhotograph(const char* operation) const;

    cv::Mat quantizedImage;
    std::string cardPath;
    std::string photoPath;
    double physicalWidth = 0.0;
    double physicalHeight = 0.0;
    double pixelSize = 0.0;
    cv::Mat cardSamples;
    cv::Mat cardSamplesHsv;
    cv::Mat sourceImage;
    cv::Mat quantPalette;
    std::vector<CardCell> cardMatches;
    cv::Mat matchedImage;
    cv::Mat matchedColours;
    double contrast = 0.0;
    double brightness = 0.0;
    PhotosProgressBar* progress = nullptr;
};

}  // namespace Orvanes
