#include "PhotosTranslucent.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <utility>

#include <opencv2/imgproc.hpp>

#include "CardMatching.h"
#include "ContrastCurve.h"
#include "ImageInput.h"
#include "NULLProgressBar.h"

namespace Orvanes {

namespace {

constexpr const char* kWho = "PhotosTranslucent";

struct WorkingPlan {
    bool resized = false;
    int cols = 0;
    int rows = 0;
    int paletteSize = 0;
};

// Checks a requested size against the photograph before anything is changed.
WorkingPlan PlanWorkingImage(const cv::Mat& source, double width, double height, double pixelSize)
{
    WorkingPlan plan;
    int widthCount = 0;
    if (width > 0.0) {
        plan.resized = true;
        plan.cols = widthCount = detail::PixelCount(width, pixelSize, 1, kWho, "width");
        plan.rows = detail::PixelCount(height, pixelSize, 1, kWho, "height");
    } else {
        // A non-positive width keeps the photograph whole, yet the palette still follows the
        // width's pixel count; that count only has to be a number an int holds.
        widthCount = detail::PixelCount(width, pixelSize, std::numeric_limits<int>::min(), kWho, "width");
        plan.cols = source.cols;
        plan.rows = source.rows;
    }
    // The square of a large count would overflow; from 16 on the palette is capped anyway.
    const long long magnitude = std::llabs(static_cast<long long>(widthCount));
    plan.paletteSize = magnitude >= 16 ? 256 : static_cast<int>(magnitude * magnitude);
    const long long pixelCount = static_cast<long long>(plan.cols) * plan.rows;
    if (plan.paletteSize < 1 || plan.paletteSize > pixelCount) {
        std::ostringstream text;
        text << kWho << ": width " << width << " at pixel size " << pixelSize << " asks for a palette of "
             << plan.paletteSize << " colours (the square of " << widthCount << " pixels, at most 256), but the "
             << plan.cols << " x " << plan.rows << " working image "
             << (plan.paletteSize < 1 ? "needs at least one" : "has fewer pixels than that");
        detail::ThrowImageError(text.str());
    }
    return plan;
}

}  // namespace

PhotosTranslucent::PhotosTranslucent(std::string cardPathArg, std::string photoPathArg, double width, double height,
                                     double pixelSizeArg, PhotosProgressBar* progressBar)
    : cardPath(std::move(cardPathArg)), photoPath(std::move(photoPathArg))
{
    sourceImage = detail::ReadColour(photoPath, kWho, "photograph");
    Init(detail::ReadColour(cardPath, kWho, "colour card"), width, height, pixelSizeArg, progressBar);
}

PhotosTranslucent::PhotosTranslucent(cv::Mat cardBytes, cv::Mat photoBytes, double width, double height,
                                     double pixelSizeArg, PhotosProgressBar* progressBar)
{
    sourceImage = detail::DecodeColour(photoBytes, kWho, "photograph");
    Init(detail::DecodeColour(cardBytes, kWho, "colour card"), width, height, pixelSizeArg, progressBar);
}

PhotosTranslucent::PhotosTranslucent(const PhotosTranslucent& other) = default;

PhotosTranslucent::PhotosTranslucent(PhotosTranslucent&& other) noexcept
    : PhotosBase(),
      quantizedImage(std::move(other.quantizedImage)),
      cardPath(std::move(other.cardPath)),
      photoPath(std::move(other.photoPath)),
      physicalWidth(other.physicalWidth),
      physicalHeight(other.physicalHeight),
      pixelSize(other.pixelSize),
      cardSamples(std::move(other.cardSamples)),
      cardSamplesHsv(std::move(other.cardSamplesHsv)),
      sourceImage(std::move(other.sourceImage)),
      quantPalette(std::move(other.quantPalette)),
      cardMatches(std::move(other.cardMatches)),
      matchedImage(std::move(other.matchedImage)),
      matchedColours(std::move(other.matchedColours)),
      contrast(other.contrast),
      brightness(other.brightness),
      progress(other.progress)
{
    // A moved-from string or vector is only "valid"; the source is promised empty.
    other.cardPath.clear();
    other.photoPath.clear();
    other.cardMatches.clear();
}

PhotosTranslucent& PhotosTranslucent::operator=(const PhotosTranslucent& other)
{
    // Copy first, so a failed string or vector copy leaves this object as it was.
    if (this != &other) *this = PhotosTranslucent(other);
    return *this;
}

PhotosTranslucent& PhotosTranslucent::operator=(PhotosTranslucent&& other) noexcept
{
    if (this != &other) {
        quantizedImage = std::move(other.quantizedImage);
        cardPath = std::move(other.cardPath);
        photoPath = std::move(other.photoPath);
        cardSamples = std::move(other.cardSamples);
        cardSamplesHsv = std::move(other.cardSamplesHsv);
        sourceImage = std::move(other.sourceImage);
        quantPalette = std::move(other.quantPalette);
        cardMatches = std::move(other.cardMatches);
        matchedImage = std::move(other.matchedImage);
        matchedColours = std::move(other.matchedColours);
        other.cardPath.clear();
        other.photoPath.clear();
        other.cardMatches.clear();
    }
    physicalWidth = other.physicalWidth;
    physicalHeight = other.physicalHeight;
    pixelSize = other.pixelSize;
    contrast = other.contrast;
    brightness = other.brightness;
    progress = other.progress;
    return *this;
}

PhotosTranslucent::~PhotosTranslucent() = default;

void PhotosTranslucent::RequirePhotograph(const char* operation) const
{
    if (sourceImage.empty())
        throw std::logic_error(std::string(kWho) + "::" + operation +
                               ": the object holds no photograph (it was moved from)");
}

void PhotosTranslucent::Init(cv::Mat card, double width, double height, double pixelSizeArg,
                             PhotosProgressBar* progressBar)
{
    RequirePhotograph("Init");
    if (card.empty()) detail::ThrowImageError(std::string(kWho) + "::Init: the colour card is empty");
    if (card.type() != CV_8UC3 || card.dims != 2)
        detail::ThrowImageError(std::string(kWho) + "::Init: the colour card must be 8-bit BGR with 3 channels, got " +
                                cv::typeToString(card.type()));

    // One pixel per cell, at the cell's centre rounded toward the top left. Cells are whole
    // pixels, so a card whose size is no multiple of 64 x 16 is read from its top-left part.
    const int cellCols = static_cast<int>(card.cols * 0.015625);
    const int cellRows = static_cast<int>(card.rows * 0.0625);
    cv::Mat samples(16, 64, CV_8UC3);
    for (int j = 0; j < 64; ++j) {
        const int x = static_cast<int>((j + 0.5) * cellCols);
        for (int i = 0; i < 16; ++i) {
            const int y = static_cast<int>((i + 0.5) * cellRows);
            samples.ptr<cv::Vec3b>(i)[j] = card.ptr<cv::Vec3b>(y)[x];
        }
    }
    cv::Mat samplesHsv;
    cv::cvtColor(samples, samplesHsv, cv::COLOR_BGR2HSV_FULL);

    Requantize(samples, samplesHsv, width, height, pixelSizeArg, progressBar);
    physicalWidth = width;
    physicalHeight = height;
    detail::Report(progress, 100);
}

cv::Mat PhotosTranslucent::Requantize(const cv::Mat& samples, const cv::Mat& samplesHsv, double width, double height,
                                      double pixelSizeArg, PhotosProgressBar* reporter)
{
    const WorkingPlan plan = PlanWorkingImage(sourceImage, width, height, pixelSizeArg);
    cv::Mat working = sourceImage;
    if (plan.resized)
        cv::resize(sourceImage, working, cv::Size(plan.cols, plan.rows), 0.0, 0.0, cv::INTER_LINEAR);
    detail::Report(reporter, 20);

    cv::Mat palette;
    const cv::Mat quantized = ColorQuantization(working, plan.paletteSize, palette);
    detail::Report(reporter, 80);

    // Rendered as the contrast overload would, but into locals: nothing is replaced until
    // every step that can fail is behind us.
    const cv::Mat adjusted = SetContrastBGR(palette, contrast, brightness);
    detail::PaletteMatch match = detail::MatchPalette(samplesHsv, quantized, palette, adjusted);
    cv::Mat preview;
    cv::cvtColor(match.matchedImage, preview, cv::COLOR_HSV2BGR_FULL);

    cardSamples = samples;
    cardSamplesHsv = samplesHsv;
    pixelSize = pixelSizeArg;
    progress = reporter;
    quantizedImage = quantized;
    quantPalette = palette;
    cardMatches = std::move(match.cardMatches);
    matchedColours = match.matchedColours;
    matchedImage = match.matchedImage;
    return preview;
}

cv::Mat PhotosTranslucent::UpdatePreviewImage(double width, double height, double pixelSizeArg)
{
    RequirePhotograph("UpdatePreviewImage");
    cv::Mat preview = Requantize(cardSamples, cardSamplesHsv, width, height, pixelSizeArg, progress);
    detail::Report(progress, 100);
    return preview;
}

cv::Mat PhotosTranslucent::UpdatePreviewImage(double contrastArg, double brightnessArg)
{
    RequirePhotograph("UpdatePreviewImage");
    if (!std::isfinite(contrastArg) || !std::isfinite(brightnessArg)) {
        std::ostringstream text;
        text << kWho << "::UpdatePreviewImage: contrast " << contrastArg << " and brightness " << brightnessArg
             << " must both be finite";
        throw std::invalid_argument(text.str());
    }
    // The curve's means are those of the palette, every colour counting once.
    cv::Mat preview = GetColorCardMatchingImage(SetContrastBGR(quantPalette, contrastArg, brightnessArg));
    contrast = contrastArg;
    brightness = brightnessArg;
    return preview;
}

cv::Mat PhotosTranslucent::AutoContrast(float& contrastOut, float& brightnessOut)
{
    RequirePhotograph("AutoContrast");
    return AutoContrast(sourceImage, contrastOut, brightnessOut);
}

cv::Mat PhotosTranslucent::AutoContrast(cv::Mat image, float& contrastOut, float& brightnessOut)
{
    // The photograph's means, saturations and pale count do not change between strengths.
    const detail::ContrastScorer scorer(image);
    const detail::ContrastSearch search =
        detail::SearchContrastStep([&scorer](double strength) { return scorer.Score(strength); }, progress);
    const double strength = search.bestStep * 0.05;
    cv::Mat preview = UpdatePreviewImage(strength, 0.0);
    contrastOut = static_cast<float>(strength);
    brightnessOut = 0.0f;
    detail::Report(progress, 100);
    return preview;
}

}  // namespace Orvanes
