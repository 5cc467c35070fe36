#include "PhotosRelief.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include <opencv2/imgproc.hpp>

#include "ImageInput.h"
#include "PhotoMeshCreater.h"

namespace Orvanes {

PhotosRelief::PhotosRelief(std::string path, double width, double height, double pixelSizeArg,
                           PhotosProgressBar* progressBar, std::vector<LayerEntry> paletteArg)
    : imagePath(std::move(path)), physicalHeight(height), physicalWidth(width), pixelSize(pixelSizeArg)
{
    sourceImage = detail::ReadColour(imagePath, "PhotosRelief", "photo");
    Init(width, height, pixelSizeArg, progressBar, std::move(paletteArg));
}

PhotosRelief::PhotosRelief(cv::Mat encoded, double width, double height, double pixelSizeArg,
                           PhotosProgressBar* progressBar, std::vector<LayerEntry> paletteArg)
    : physicalHeight(height), physicalWidth(width), pixelSize(pixelSizeArg)
{
    sourceImage = detail::DecodeColour(encoded, "PhotosRelief", "photo");
    Init(width, height, pixelSizeArg, progressBar, std::move(paletteArg));
}

void PhotosRelief::Init(double width, double height, double /*pixelSize*/, PhotosProgressBar* progressBar,
                        std::vector<LayerEntry> paletteArg)
{
    progress = progressBar;
    palette = std::move(paletteArg);
    // Blue, then green, then red; opacity takes no part, so equal colours keep no fixed order.
    // A host may pass NaN; it sorts after every number so the order stays a strict weak
    // ordering, without which the sort itself is undefined.
    auto less = [](float x, float y) { return !std::isnan(x) && (std::isnan(y) || x < y); };
    std::sort(palette.begin(), palette.end(), [&less](const LayerEntry& a, const LayerEntry& b) {
        for (int k = 0; k < 2; ++k) {
            if (less(a[k], b[k])) return true;
            if (less(b[k], a[k])) return false;
        }
        return less(a[2], b[2]);
    });
    widthPx = detail::PixelCount(width, pixelSize, 1, "PhotosRelief", "width");
    heightPx = detail::PixelCount(height, pixelSize, 1, "PhotosRelief", "height");
    Resample();
    greyImage = HistNormalization(greyImage, 0.0, 255.0);
    cv::minMaxLoc(greyImage, &greyMin, &greyMax);
}

void PhotosRelief::Resample()
{
    // Fresh images, never written in place: copies of this object share the old buffers.
    cv::Mat colour, grey;
    cv::resize(sourceImage, colour, cv::Size(widthPx, heightPx), 0.0, 0.0, cv::INTER_LINEAR);
    colourImage = colour;
    cv::cvtColor(colourImage, grey, cv::COLOR_BGR2GRAY);
    greyImage = grey;
    cv::minMaxLoc(greyImage, &greyMin, &greyMax);
}

cv::Mat PhotosRelief::HistNormalization(cv::Mat source, double low, double high) const
{
    double minValue = 0.0, maxValue = 0.0;
    cv::minMaxLoc(source, &minValue, &maxValue);
    // A uniform image has no range to stretch; it stays as it is.
    if (!(maxValue > minValue)) return source.clone();
    const double factor = (high - low) / (maxValue - minValue);
    cv::Mat stretched;
    source.convertTo(stretched, source.type(), factor, low - minValue * factor);
    return stretched;
}

OrvaneMesh PhotosRelief::GetMesh(int startLevel, int endLevel, double levelHeight, double baseOffset)
{
    PhotoMeshCreater mesher(progress);
    return mesher.CreateMeshByHeightMap(greyImage, levelHeight, pixelSize, endLevel - startLevel,
                                        startLevel * levelHeight + baseOffset, 0.0, false);
}

}  // namespace Orvanes
