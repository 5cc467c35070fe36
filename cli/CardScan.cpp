#include "CardScan.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <stdexcept>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <orvane/ColourCard.h>

namespace orvane_cli {

namespace {

std::string Fixed(double value, int digits)
{
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(digits);
    text << value;
    return text.str();
}

// Below this many pixels a cell a JPEG's compression blurs colours across cells and rounds the
// white ring's level: simulated photos of quality 70 to 89 read within CIEDE2000 2 from 24 pixels
// a cell, and 32 leaves room for what a phone adds (sharpening, noise reduction).
constexpr double kJpegCellPixels = 32.0;

}  // namespace

ScannedCard ScanCard(const ImageFile& file, const std::string& path, const Orvanes::CardFinderOptions& options)
{
    ScannedCard scanned;
    scanned.photo = cv::imdecode(file.bytes, cv::IMREAD_COLOR);
    if (scanned.photo.empty()) throw std::runtime_error("the card '" + Printable(path) + "' could not be decoded");
    try {
        scanned.found = Orvanes::FindCard(scanned.photo, options);
    } catch (const Orvanes::CardNotFound& e) {
        // The library's message says what is missing; the tool adds the two likely slips.
        throw std::runtime_error("the card '" + Printable(path) + "': " + e.what() +
                                 "; is the card's photo given first, or is it already cropped (--card-as-is)?");
    }
    const uint8_t* start = file.bytes.ptr<uint8_t>();
    const bool isJpeg = file.bytes.total() >= 2 && start[0] == 0xFF && start[1] == 0xD8;
    if (isJpeg && scanned.found.cellPixels < kJpegCellPixels)
        scanned.found.warnings.push_back("the card's cells are " + Fixed(scanned.found.cellPixels, 1) +
                                         " pixels wide in a JPEG: from about 32 its colours read within CIEDE2000 2 "
                                         "(photograph it closer, or save it as PNG)");
    return scanned;
}

void ReportScan(const Orvanes::FoundCard& found)
{
    std::fprintf(stderr, "orvane: card found: turned %d degrees%s, confidence %s, %s pixels a cell%s\n",
                 found.rotation, found.mirrored ? ", mirrored (seen from its other side)" : "",
                 Fixed(found.confidence, 2).c_str(), Fixed(found.cellPixels, 1).c_str(),
                 found.whiteBalanced ? ", light evened out" : "");
    for (const std::string& warning : found.warnings) std::fprintf(stderr, "orvane: warning: %s\n", warning.c_str());
}

void JsonScan(Json& json, const Orvanes::FoundCard& found)
{
    json["rotation"] = found.rotation;
    json["mirrored"] = found.mirrored;
    json["confidence"] = found.confidence;
    json["cell_pixels"] = found.cellPixels;
    json["white_balanced"] = found.whiteBalanced;
    Json& corners = json["corners"] = Json::array();
    for (const cv::Point2d& corner : found.corners) corners.push_back({corner.x, corner.y});
    json["warnings"] = found.warnings;
}

cv::Mat DrawScan(const cv::Mat& photo, const Orvanes::FoundCard& found)
{
    using Card = Orvanes::ColourCard;
    const double scale = std::min(1.0, 2000.0 / std::max(photo.cols, photo.rows));
    cv::Mat image;
    if (scale < 1.0)
        cv::resize(photo, image, cv::Size(), scale, scale, cv::INTER_AREA);
    else
        image = photo.clone();
    const auto at = [&](double x, double y) {
        const cv::Vec3d p = found.cardToPhoto * cv::Vec3d(x, y, 1.0);
        // Shifted by 4 fractional bits: lines fall between pixels as the cells do.
        return cv::Point(cvRound(((p[0] / p[2] + 0.5) * scale - 0.5) * 16),
                         cvRound(((p[1] / p[2] + 0.5) * scale - 0.5) * 16));
    };
    const int thin = std::max(1, std::max(image.cols, image.rows) / 1000);
    const cv::Scalar grid(0, 200, 0), outline(0, 0, 255);
    const int first = Card::kFrameCells, lastColumn = Card::kColumns - first, lastRow = Card::kRows - first;
    for (int column = first; column <= lastColumn; ++column)
        cv::line(image, at(column, first), at(column, lastRow), grid, thin, cv::LINE_AA, 4);
    for (int row = first; row <= lastRow; ++row)
        cv::line(image, at(first, row), at(lastColumn, row), grid, thin, cv::LINE_AA, 4);
    const cv::Point corners[4] = {at(0, 0), at(Card::kColumns, 0), at(Card::kColumns, Card::kRows), at(0, Card::kRows)};
    for (int k = 0; k < 4; ++k) cv::line(image, corners[k], corners[(k + 1) % 4], outline, 2 * thin, cv::LINE_AA, 4);
    // The top-left corner, where cell (0, 0) starts, ringed: a wrong turn shows at a glance.
    cv::circle(image, at(Card::kFrameCells, Card::kFrameCells), 8 * thin * 16, outline, 2 * thin, cv::LINE_AA, 4);
    return image;
}

}  // namespace orvane_cli
