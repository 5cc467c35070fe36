#include "PhotosRelief.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
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
    // Everything is derived first and stored last, so a refused size leaves the object as it was.
    const int cols = detail::PixelCount(width, pixelSize, 1, "PhotosRelief", "width");
    const int rows = detail::PixelCount(height, pixelSize, 1, "PhotosRelief", "height");
    SortPalette(paletteArg);
    Resample(cols, rows, true);
    palette = std::move(paletteArg);
    progress = progressBar;
}

void PhotosRelief::SortPalette(std::vector<LayerEntry>& palette)
{
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
}

LayerEntry PhotosRelief::BaseColour(std::vector<LayerEntry> palette)
{
    if (palette.empty()) throw std::invalid_argument("BaseColour: the palette holds no colours");
    SortPalette(palette);
    return palette.front();
}

int PhotosRelief::LevelGreyStep(double low, double high, int levelCount)
{
    return levelCount > 0 ? static_cast<int>(high - low) / levelCount : 0;
}

double PhotosRelief::LevelThreshold(double low, double high, int levelCount, int level)
{
    return static_cast<double>(level) * LevelGreyStep(low, high, levelCount) + low;
}

void PhotosRelief::Resample(int cols, int rows, bool stretch)
{
    // Fresh images, never written in place: copies of this object share the old buffers. The
    // members change only once every step has succeeded.
    cv::Mat colour, grey;
    cv::resize(sourceImage, colour, cv::Size(cols, rows), 0.0, 0.0, cv::INTER_LINEAR);
    cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
    if (stretch) grey = HistNormalization(grey, 0.0, 255.0);
    double low = 0.0, high = 0.0;
    cv::minMaxLoc(grey, &low, &high);
    widthPx = cols;
    heightPx = rows;
    colourImage = colour;
    greyImage = grey;
    greyMin = low;
    greyMax = high;
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
    const long long levelCount = static_cast<long long>(endLevel) - startLevel;
    if (levelCount > std::numeric_limits<int>::max() || levelCount < std::numeric_limits<int>::min())
        throw std::invalid_argument("GetMesh: levels " + std::to_string(startLevel) + " to " + std::to_string(endLevel) +
                                    " span more than an int counts");
    PhotoMeshCreater mesher(progress);
    return mesher.CreateMeshByHeightMap(greyImage, levelHeight, pixelSize, static_cast<int>(levelCount),
                                        startLevel * levelHeight + baseOffset, 0.0, false);
}

}  // namespace Orvanes
