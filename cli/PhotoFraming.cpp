#include "PhotoFraming.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace orvane_cli {

namespace {

// Alpha below half is transparent, as is mask grey below half.
constexpr double kHalf = 128.0;

cv::Rect ReadCrop(const Arguments& args, cv::Size photo)
{
    if (!args.Has("crop")) return cv::Rect(cv::Point(), photo);
    const std::string text = args.Text("crop", "");
    std::vector<int> numbers;
    std::istringstream words(text);
    for (std::string word; std::getline(words, word, ',');) {
        const double value = ParseNumber(word, "--crop " + text + ": each of X,Y,W,H");
        if (value != std::floor(value) || value < 0 || value > 1e9)
            throw UsageError("--crop " + text + ": X,Y,W,H are whole photo pixels");
        numbers.push_back(static_cast<int>(value));
    }
    if (numbers.size() != 4) throw UsageError("--crop " + text + " needs four numbers, X,Y,W,H in photo pixels");
    const cv::Rect crop(numbers[0], numbers[1], numbers[2], numbers[3]);
    if (crop.width < 1 || crop.height < 1 || crop.x + double(crop.width) > photo.width ||
        crop.y + double(crop.height) > photo.height)
        throw UsageError("--crop " + text + " does not lie inside the photo of " + std::to_string(photo.width) +
                         " x " + std::to_string(photo.height) + " pixels");
    return crop;
}

// Alpha of a photo that has it, as 8-bit; empty otherwise. JPEG has none and skips a decode.
cv::Mat ReadAlpha(const ImageFile& photo)
{
    if (photo.bytes.total() >= 2 && photo.bytes.data[0] == 0xFF && photo.bytes.data[1] == 0xD8) return cv::Mat();
    const cv::Mat image = cv::imdecode(photo.bytes, cv::IMREAD_UNCHANGED);
    if (image.channels() != 4 || image.size() != photo.size) return cv::Mat();
    cv::Mat alpha;
    cv::extractChannel(image, alpha, 3);
    if (alpha.depth() != CV_8U) alpha.convertTo(alpha, CV_8U, 255.0 / (alpha.depth() == CV_16U ? 65535.0 : 1.0));
    return alpha;
}

// Every left-out pixel takes the colour of the nearest kept one, so the background neither
// widens the grey range the relief spreads its levels over nor adds colours to match.
void FillLeftOut(cv::Mat& colour, const cv::Mat& keep)
{
    cv::Mat leftOut = keep == 0, distance, nearest;
    cv::distanceTransform(leftOut, distance, nearest, cv::DIST_L2, cv::DIST_MASK_5, cv::DIST_LABEL_PIXEL);
    std::vector<cv::Vec3b> colourOf;
    for (int r = 0; r < keep.rows; ++r)
        for (int c = 0; c < keep.cols; ++c) {
            if (keep.at<uint8_t>(r, c) == 0) continue;
            const auto label = static_cast<size_t>(nearest.at<int>(r, c));
            if (colourOf.size() <= label) colourOf.resize(label + 1);
            colourOf[label] = colour.at<cv::Vec3b>(r, c);
        }
    for (int r = 0; r < keep.rows; ++r)
        for (int c = 0; c < keep.cols; ++c)
            if (keep.at<uint8_t>(r, c) == 0) colour.at<cv::Vec3b>(r, c) = colourOf[static_cast<size_t>(nearest.at<int>(r, c))];
}

}  // namespace

std::vector<OptionSpec> FramingOptions()
{
    return {
        {"fit", "HOW", "when --width and --height give another aspect ratio than the photo's: crop (centred, "
                       "default), pad (the margins are background) or stretch"},
        {"crop", "X,Y,W,H", "print only this part of the photo, in photo pixels from its top left"},
        {"mask", "FILE", "a grey image of the photo's size: black leaves the area out (see --background)"},
        {"background", "HOW", "cut: transparent or masked areas get nothing above the base (the default when there "
                              "are any); keep: print them like the rest"},
    };
}

FramedPhoto FramePhoto(const Arguments& args, const ImageFile& photo, double defaultWidth, double defaultPixelSize)
{
    const std::string fit = args.Text("fit", "crop"), background = args.Text("background", "cut");
    if (fit != "crop" && fit != "pad" && fit != "stretch")
        throw UsageError("--fit must be crop, pad or stretch, not '" + fit + "'");
    if (background != "cut" && background != "keep")
        throw UsageError("--background must be cut or keep, not '" + background + "'");
    if (background == "keep" && args.Has("mask"))
        throw UsageError("--mask selects what to leave out; --background keep prints everything");
    const cv::Rect crop = ReadCrop(args, photo.size);

    cv::Mat keep;
    if (background == "cut") {
        const cv::Mat alpha = ReadAlpha(photo);
        if (!alpha.empty()) keep = alpha >= kHalf;
        if (args.Has("mask")) {
            const ImageFile maskFile = ReadImageFile(args.Text("mask", ""), "mask", false);
            if (maskFile.size != photo.size)
                throw UsageError("the mask is " + std::to_string(maskFile.size.width) + " x " +
                                 std::to_string(maskFile.size.height) + " pixels; the photo is " +
                                 std::to_string(photo.size.width) + " x " + std::to_string(photo.size.height));
            const cv::Mat grey = cv::imdecode(maskFile.bytes, cv::IMREAD_GRAYSCALE);
            const cv::Mat masked = grey >= kHalf;
            keep = keep.empty() ? masked : (keep & masked);
        }
        keep = keep.empty() ? keep : keep(crop);
    }

    // The print's size follows the chosen part; with both sides given, --fit settles the aspect.
    const PrintSize size = ResolvePrintSize(args, crop.size(), defaultWidth, defaultPixelSize);
    cv::Rect region = crop;
    cv::Size padded = crop.size();
    if (args.Has("width") && args.Has("height") && fit != "stretch") {
        const double aspect = double(size.cols) / size.rows;
        const int wide = static_cast<int>(std::lround(crop.height * aspect));
        const int tall = static_cast<int>(std::lround(crop.width / aspect));
        if (fit == "crop") {
            const cv::Size inner(std::clamp(wide, 1, crop.width), std::clamp(tall, 1, crop.height));
            region = cv::Rect(crop.x + (crop.width - inner.width) / 2, crop.y + (crop.height - inner.height) / 2,
                              inner.width, inner.height);
            if (!keep.empty()) keep = keep(cv::Rect(region.tl() - crop.tl(), inner));
            padded = inner;
        } else {
            padded = cv::Size(std::max(wide, crop.width), std::max(tall, crop.height));
        }
    }

    // Far beyond the photo's own detail the working image only costs time and memory: a tiny
    // photo would otherwise make gigabytes of mesh.
    if (size.cols > 16 * region.width || size.rows > 16 * region.height)
        throw UsageError("the working image of " + std::to_string(size.cols) + " x " + std::to_string(size.rows) +
                         " pixels would blow up " + std::to_string(region.width) + " x " +
                         std::to_string(region.height) + " photo pixels more than 16 times; use a larger --pixel-size");
    const cv::Point offset((padded.width - region.width) / 2, (padded.height - region.height) / 2);
    if (padded != region.size() && background == "cut") {
        if (keep.empty()) keep = cv::Mat(region.size(), CV_8U, cv::Scalar(255));
        cv::copyMakeBorder(keep, keep, offset.y, padded.height - region.height - offset.y, offset.x,
                           padded.width - region.width - offset.x, cv::BORDER_CONSTANT, cv::Scalar(0));
    }
    if (!keep.empty() && cv::countNonZero(keep) == 0)
        throw UsageError("the photo's transparency and the mask leave nothing to print");
    if (!keep.empty() && cv::countNonZero(keep) == static_cast<int>(keep.total())) keep.release();

    FramedPhoto framed{photo, keep, ""};
    if (size.cols > 4 * region.width || size.rows > 4 * region.height)
        framed.warning = "orvane: warning: the working image of " + std::to_string(size.cols) + " x " +
                         std::to_string(size.rows) + " pixels blows up " + std::to_string(region.width) + " x " +
                         std::to_string(region.height) + " photo pixels more than 4 times; a larger --pixel-size "
                         "loses nothing\n";
    if (keep.empty() && region.size() == photo.size && padded == photo.size) return framed;
    cv::Mat colour = cv::imdecode(photo.bytes, cv::IMREAD_COLOR)(region).clone();
    cv::copyMakeBorder(colour, colour, offset.y, padded.height - region.height - offset.y, offset.x,
                       padded.width - region.width - offset.x, cv::BORDER_REPLICATE);
    if (!keep.empty()) FillLeftOut(colour, keep);
    framed.photo = PngImageFile(colour);
    return framed;
}

cv::Mat WorkingKeep(const cv::Mat& keep, cv::Size working)
{
    if (keep.empty()) return cv::Mat();
    cv::Mat scaled;
    cv::resize(keep, scaled, working, 0.0, 0.0, cv::INTER_AREA);
    scaled = scaled >= kHalf;
    return cv::countNonZero(scaled) == static_cast<int>(scaled.total()) ? cv::Mat() : scaled;
}

cv::Mat PaintLeftOut(const cv::Mat& shown, const cv::Mat& keep)
{
    if (keep.empty()) return shown;
    cv::Mat preview = shown.clone();
    for (int r = 0; r < preview.rows; ++r)
        for (int c = 0; c < preview.cols; ++c)
            if (keep.at<uint8_t>(r, c) == 0)
                preview.at<cv::Vec3b>(r, c) = cv::Vec3b::all((r / 8 + c / 8) % 2 ? 204 : 255);
    return preview;
}

}  // namespace orvane_cli
