#include "ColourCard.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace Orvanes {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr uint8_t kWhiteMaterial = 3;

// The mark is an L in the top-left corner of the white ring's middle line; with the black
// patch beside it no turn or mirror image of the card shows the same dark cells.
constexpr int kMiddleLine = ColourCard::kBorderCells + ColourCard::kWhiteRingCells / 2;
constexpr int kBlackPatchColumn = 8;

bool IsMark(int row, int column)
{
    return (row == kMiddleLine && column >= kMiddleLine && column <= kMiddleLine + 2) ||
           (column == kMiddleLine && row > kMiddleLine && row <= kMiddleLine + 2);
}

double Luma(const cv::Vec3b& bgr)
{
    return 0.114 * bgr[0] + 0.587 * bgr[1] + 0.299 * bgr[2];
}

void Require(bool holds, const std::string& what)
{
    if (!holds) throw std::invalid_argument("SimulateCardPhoto: " + what);
}

}  // namespace

ColourCard::Part ColourCard::PartAt(int row, int column)
{
    if (row < 0 || row >= kRows || column < 0 || column >= kColumns)
        throw std::out_of_range("ColourCard::PartAt: position (" + std::to_string(row) + ", " + std::to_string(column) +
                                ") lies outside the " + std::to_string(kRows) + " x " + std::to_string(kColumns) +
                                " card");
    const int ring = std::min({row, column, kRows - 1 - row, kColumns - 1 - column});
    if (ring < kBorderCells) return Part::kBorder;
    if (ring >= kFrameCells) return Part::kGrid;
    if (IsMark(row, column)) return Part::kMark;
    if (row == kMiddleLine && column >= kBlackPatchColumn && column < kBlackPatchColumn + kBlackPatchCells)
        return Part::kBlack;
    return Part::kWhite;
}

cv::Rect2d ColourCard::CellArea(int row, int column, double cellSize)
{
    PartAt(row, column);  // refuses a position off the card
    return {column * cellSize, row * cellSize, cellSize, cellSize};
}

std::array<uint8_t, 6> ColourCard::DarkestStack(const CardMaterials& materials)
{
    // The light model multiplies, so the order of the layers does not change the colour:
    // the 84 multisets of six labels are every colour the materials make.
    std::array<uint8_t, 6> best{}, stack{};
    double bestLuma = 1e9;
    for (int a = 0; a < 4; ++a)
        for (int b = a; b < 4; ++b)
            for (int c = b; c < 4; ++c)
                for (int d = c; d < 4; ++d)
                    for (int e = d; e < 4; ++e)
                        for (int f = e; f < 4; ++f) {
                            stack = {uint8_t(a), uint8_t(b), uint8_t(c), uint8_t(d), uint8_t(e), uint8_t(f)};
                            const double luma = Luma(TransmittedColour(stack, materials));
                            if (luma < bestLuma) bestLuma = luma, best = stack;
                        }
    return best;
}

std::array<uint8_t, 6> ColourCard::Stack(int row, int column, const CardMaterials& materials)
{
    switch (PartAt(row, column)) {
    case Part::kGrid:
        return PhotosTranslucent::CellLayers({row - kFrameCells, column - kFrameCells});
    case Part::kWhite:
        return {kWhiteMaterial, kWhiteMaterial, kWhiteMaterial, kWhiteMaterial, kWhiteMaterial, kWhiteMaterial};
    default:
        return DarkestStack(materials);
    }
}

cv::Mat ColourCard::Voxels(const CardMaterials& materials)
{
    const std::array<uint8_t, 6> dark = DarkestStack(materials);
    cv::Mat voxels(kRows, kColumns, CV_8UC(kLayerCount));
    for (int row = 0; row < kRows; ++row) {
        uint8_t* cells = voxels.ptr<uint8_t>(row);
        for (int column = 0; column < kColumns; ++column) {
            const Part part = PartAt(row, column);
            const std::array<uint8_t, 6> stack =
                part == Part::kGrid || part == Part::kWhite ? Stack(row, column, materials) : dark;
            std::copy(stack.begin(), stack.end(), cells + column * kLayerCount);
        }
    }
    return voxels;
}

cv::Vec3b ColourCard::TransmittedColour(const std::array<uint8_t, 6>& stack, const CardMaterials& materials)
{
    cv::Vec3d light(1.0, 1.0, 1.0);
    for (const uint8_t label : stack) {
        const LayerEntry& m = materials.at(label);
        const double opacity = m[3];
        for (int c = 0; c < 3; ++c) light[c] *= (1.0 - opacity) + opacity * m[c] / 255.0;
    }
    return {cv::saturate_cast<uint8_t>(light[0] * 255.0), cv::saturate_cast<uint8_t>(light[1] * 255.0),
            cv::saturate_cast<uint8_t>(light[2] * 255.0)};
}

cv::Vec3b ColourCard::WhiteReference(const CardMaterials& materials)
{
    return TransmittedColour({kWhiteMaterial, kWhiteMaterial, kWhiteMaterial, kWhiteMaterial, kWhiteMaterial,
                              kWhiteMaterial}, materials);
}

cv::Vec3b ColourCard::BlackReference(const CardMaterials& materials)
{
    return TransmittedColour(DarkestStack(materials), materials);
}

cv::Mat ColourCard::Render(const CardMaterials& materials, int cellPixels, bool whole)
{
    if (cellPixels < 1 || cellPixels > 1000)
        throw std::invalid_argument("ColourCard::Render: " + std::to_string(cellPixels) +
                                    " pixels a cell; 1 to 1000 are drawn");
    const int first = whole ? 0 : kFrameCells;
    const int rows = whole ? kRows : kGridRows, columns = whole ? kColumns : kGridColumns;
    const cv::Mat voxels = Voxels(materials);
    cv::Mat image(rows * cellPixels, columns * cellPixels, CV_8UC3);
    const cv::Point2d origin = CellArea(first, first, cellPixels).tl();
    for (int row = first; row < first + rows; ++row)
        for (int column = first; column < first + columns; ++column) {
            std::array<uint8_t, 6> stack;
            std::copy_n(voxels.ptr<uint8_t>(row) + column * kLayerCount, kLayerCount, stack.begin());
            const cv::Vec3b colour = TransmittedColour(stack, materials);
            const cv::Rect2d area = CellArea(row, column, cellPixels);
            image(cv::Rect(cv::Rect2d(area.tl() - origin, area.size())))
                .setTo(cv::Scalar(colour[0], colour[1], colour[2]));
        }
    return image;
}

CardPhotoSettings RandomCardPhotoSettings(uint64_t seed)
{
    // The image library's generator passes neighbouring seeds' likeness on to its first draws;
    // SplitMix64 spreads them first.
    uint64_t mixed = seed + 0x9E3779B97F4A7C15ull;
    mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9ull;
    mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBull;
    cv::RNG rng(mixed ^ (mixed >> 31));
    CardPhotoSettings s;
    s.quarterTurns = rng.uniform(0, 4);
    s.spinDegrees = rng.uniform(-10.0, 10.0);
    s.mirrored = rng.uniform(0, 2) == 1;
    s.tiltDegrees = rng.uniform(0.0, 30.0);
    s.tiltAxisDegrees = rng.uniform(0.0, 180.0);
    s.margin = rng.uniform(0.05, 0.4);
    s.placement = {rng.uniform(0.0, 1.0), rng.uniform(0.0, 1.0)};
    s.falloff = rng.uniform(0.0, 0.4);
    s.falloffDegrees = rng.uniform(0.0, 360.0);
    const double exposure = rng.uniform(0.8, 1.0);
    s.light = {exposure * rng.uniform(0.85, 1.0), exposure * rng.uniform(0.85, 1.0), exposure * rng.uniform(0.85, 1.0)};
    s.background = rng.uniform(10.0, 245.0);
    s.noiseSigma = rng.uniform(0.0, 4.0);
    s.jpegQuality = rng.uniform(0, 4) == 0 ? 0 : rng.uniform(70, 96);
    s.cellPixels = rng.uniform(16.0, 20.0);
    s.seed = seed;
    return s;
}

SimulatedCardPhoto SimulateCardPhoto(const CardMaterials& materials, const CardPhotoSettings& s)
{
    Require(s.cellPixels >= 4.0 && s.cellPixels <= 200.0, "cellPixels must lie between 4 and 200");
    Require(s.quarterTurns >= 0 && s.quarterTurns <= 3, "quarterTurns must lie between 0 and 3");
    Require(std::isfinite(s.spinDegrees) && std::isfinite(s.tiltAxisDegrees) && std::isfinite(s.falloffDegrees),
            "angles must be finite");
    Require(s.tiltDegrees >= 0.0 && s.tiltDegrees <= 60.0, "tiltDegrees must lie between 0 and 60");
    Require(s.margin >= 0.0 && s.margin <= 0.9, "margin must lie between 0 and 0.9");
    Require(s.frameAspect == 0.0 || (s.frameAspect >= 1.0 && s.frameAspect <= 4.0),
            "frameAspect must be 0 or lie between 1 and 4");
    Require(s.placement.x >= 0.0 && s.placement.x <= 1.0 && s.placement.y >= 0.0 && s.placement.y <= 1.0,
            "placement must lie between 0 and 1 each way");
    Require(s.falloff >= 0.0 && s.falloff <= 0.9, "falloff must lie between 0 and 0.9");
    for (int c = 0; c < 3; ++c) Require(s.light[c] >= 0.0 && s.light[c] <= 2.0, "light gains must lie between 0 and 2");
    Require(s.background >= 0.0 && s.background <= 255.0, "background must be a grey from 0 to 255");
    Require(s.noiseSigma >= 0.0 && s.noiseSigma <= 100.0, "noiseSigma must lie between 0 and 100");
    Require(s.jpegQuality >= 0 && s.jpegQuality <= 100, "jpegQuality must lie between 0 and 100");

    const double width = ColourCard::kColumns, height = ColourCard::kRows;
    // A camera two card widths away, its focal length making a cell at the centre cellPixels wide.
    const double distance = 2.0 * width;
    const double spin = s.spinDegrees * kPi / 180.0, tilt = s.tiltDegrees * kPi / 180.0;
    const cv::Vec3d axis(std::cos(s.tiltAxisDegrees * kPi / 180.0), std::sin(s.tiltAxisDegrees * kPi / 180.0), 0.0);
    std::array<cv::Point2d, 4> corners;
    const cv::Point2d cardCorners[4] = {{0, 0}, {width, 0}, {width, height}, {0, height}};
    for (int k = 0; k < 4; ++k) {
        const cv::Point2d p = cardCorners[k];
        double x = (s.mirrored ? width - p.x : p.x) - width / 2, y = p.y - height / 2;
        for (int turn = 0; turn < s.quarterTurns; ++turn) {  // whole turns stay exact
            const double oldX = x;
            x = -y;
            y = oldX;
        }
        if (spin != 0.0) {
            const double oldX = x;
            x = oldX * std::cos(spin) - y * std::sin(spin);
            y = oldX * std::sin(spin) + y * std::cos(spin);
        }
        if (tilt != 0.0) {
            // Rodrigues' rotation of (x, y, 0) about the axis in the card's plane, then the pinhole.
            const cv::Vec3d v(x, y, 0.0);
            const cv::Vec3d turned = v * std::cos(tilt) + axis.cross(v) * std::sin(tilt) +
                                     axis * axis.dot(v) * (1.0 - std::cos(tilt));
            const double scale = distance / (distance + turned[2]);
            x = turned[0] * scale;
            y = turned[1] * scale;
        }
        corners[static_cast<size_t>(k)] = {x * s.cellPixels, y * s.cellPixels};
    }
    double minX = corners[0].x, maxX = minX, minY = corners[0].y, maxY = minY;
    for (const cv::Point2d& c : corners) {
        minX = std::min(minX, c.x), maxX = std::max(maxX, c.x);
        minY = std::min(minY, c.y), maxY = std::max(maxY, c.y);
    }
    // A camera frame turned the way the card lies, with at least the margin each way.
    const bool landscape = maxX - minX >= maxY - minY;
    int cols = static_cast<int>(std::ceil((maxX - minX) / (1.0 - s.margin)));
    int rows = static_cast<int>(std::ceil((maxY - minY) / (1.0 - s.margin)));
    if (s.frameAspect > 0.0) {
        int& longer = landscape ? cols : rows;
        int& shorter = landscape ? rows : cols;
        longer = std::max(longer, static_cast<int>(std::ceil(shorter * s.frameAspect)));
        shorter = std::max(shorter, static_cast<int>(std::ceil(longer / s.frameAspect)));
    }
    // The card's bounding box starts on a pixel boundary, so an upright card covers whole pixels.
    const double left = std::floor((cols - (maxX - minX)) * s.placement.x) - 0.5 - minX;
    const double top = std::floor((rows - (maxY - minY)) * s.placement.y) - 0.5 - minY;
    std::vector<cv::Point2f> from, to;
    for (int k = 0; k < 4; ++k) {
        from.emplace_back(cardCorners[k]);
        to.emplace_back(corners[static_cast<size_t>(k)] + cv::Point2d(left, top));
    }
    SimulatedCardPhoto result;
    result.cardToPhoto = cv::Matx33d(cv::getPerspectiveTransform(from, to, cv::DECOMP_SVD));

    cv::Mat photo(rows, cols, CV_8UC3, cv::Scalar::all(std::round(s.background)));
    const bool upright = s.tiltDegrees == 0.0 && spin == 0.0 && s.cellPixels == std::floor(s.cellPixels);
    if (upright) {
        cv::Mat card = ColourCard::Render(materials, static_cast<int>(s.cellPixels), true);
        if (s.mirrored) cv::flip(card, card, 1);
        if (s.quarterTurns > 0) cv::rotate(card, card, s.quarterTurns - 1);  // ROTATE_90_CLOCKWISE is 0
        card.copyTo(photo(cv::Rect(static_cast<int>(left + minX + 0.5), static_cast<int>(top + minY + 0.5), card.cols,
                                   card.rows)));
    } else {
        // Drawn from a card of about the photo's resolution, so that cell edges blend as a lens
        // blends them, straight into the photo: pixels the card does not reach keep the background.
        // Only the card's bounding box is mapped.
        const int fine = static_cast<int>(std::ceil(s.cellPixels));
        const cv::Matx33d imageToCard(1.0 / fine, 0.0, 0.5 / fine, 0.0, 1.0 / fine, 0.5 / fine, 0.0, 0.0, 1.0);
        const cv::Rect box = cv::Rect(cv::Point(static_cast<int>(left + minX), static_cast<int>(top + minY)),
                                      cv::Point(static_cast<int>(std::ceil(left + maxX)) + 1,
                                                static_cast<int>(std::ceil(top + maxY)) + 1)) &
                             cv::Rect(0, 0, cols, rows);
        const cv::Matx33d intoBox(1.0, 0.0, -box.x, 0.0, 1.0, -box.y, 0.0, 0.0, 1.0);
        cv::Mat inBox = photo(box);
        cv::warpPerspective(ColourCard::Render(materials, fine, true), inBox,
                            cv::Mat(intoBox * result.cardToPhoto * imageToCard), box.size(), cv::INTER_LINEAR,
                            cv::BORDER_TRANSPARENT);
    }

    const bool lit = s.falloff > 0.0 || s.light != cv::Vec3d(1.0, 1.0, 1.0);
    if (lit || s.noiseSigma > 0.0) {
        // The light falls off linearly over the card's extent in its direction, and beyond it
        // stays as at the card's edges.
        const cv::Point2d direction(std::cos(s.falloffDegrees * kPi / 180.0), std::sin(s.falloffDegrees * kPi / 180.0));
        double nearest = 1e18, farthest = -1e18;
        for (const cv::Point2f& c : to) {
            nearest = std::min(nearest, direction.dot(c));
            farthest = std::max(farthest, direction.dot(c));
        }
        // A band of rows at a time, in buffers made once: the per-pixel work stays in the image
        // library, no photo-sized float image is allocated, and calls are few.
        constexpr int kBandRows = 64;
        cv::Mat acrossColumns(1, cols, CV_32F), acrossRows(rows, 1, CV_32F);
        const double extent = farthest - nearest;
        for (int x = 0; x < cols; ++x) acrossColumns.at<float>(x) = static_cast<float>((direction.x * x - nearest) / extent);
        for (int y = 0; y < rows; ++y) acrossRows.at<float>(y) = static_cast<float>(direction.y * y / extent);
        cv::Mat alongColumns, alongRows, along, gain, exposed, noise;
        cv::RNG rng(s.seed);
        for (int y = 0; y < rows; y += kBandRows) {
            const int bandRows = std::min(kBandRows, rows - y);
            cv::repeat(acrossColumns, bandRows, 1, alongColumns);
            cv::repeat(acrossRows.rowRange(y, y + bandRows), 1, cols, alongRows);
            cv::add(alongColumns, alongRows, along);
            cv::threshold(along, along, 1.0, 1.0, cv::THRESH_TRUNC);
            cv::threshold(along, along, 0.0, 0.0, cv::THRESH_TOZERO);
            along.convertTo(along, CV_32F, -s.falloff, 1.0);
            cv::cvtColor(along, gain, cv::COLOR_GRAY2BGR);
            cv::multiply(gain, cv::Scalar(s.light[0], s.light[1], s.light[2]), gain);
            cv::Mat band = photo.rowRange(y, y + bandRows);
            band.convertTo(exposed, CV_32F);
            cv::multiply(exposed, gain, exposed);
            if (s.noiseSigma > 0.0) {
                noise.create(exposed.size(), CV_32FC3);
                rng.fill(noise, cv::RNG::NORMAL, 0.0, s.noiseSigma);
                exposed += noise;
            }
            exposed.convertTo(band, CV_8U);
        }
    }
    if (s.jpegQuality > 0) {
        cv::imencode(".jpg", photo, result.encoded, {cv::IMWRITE_JPEG_QUALITY, s.jpegQuality});
        photo = cv::imdecode(result.encoded, cv::IMREAD_COLOR);
    }
    result.photo = photo;
    return result;
}

}  // namespace Orvanes
